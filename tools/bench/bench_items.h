// The shape of the generated plants the end-to-end sections run on, and the item IDs of its points:
// stations "Bench000"... of 1,000 analog points "P000"... each. Point n is the (n % 1000)th point of
// station n / 1000, so that a client taking points [first, first + count) takes whole stations.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace bench {

constexpr int kPointsPerBenchStation = 1000;

std::wstring BenchItemId(int point);
// Item IDs of points [first, first + count).
std::vector<std::wstring> BenchItemIds(int first, int count);

}  // namespace bench
