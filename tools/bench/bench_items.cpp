#include "bench_items.h"

#include <cwchar>

namespace bench {

std::wstring BenchItemId(int point) {
    wchar_t id[48];
    std::swprintf(id, 48, L"Bench%03d.analog.P%03d", point / kPointsPerBenchStation, point % kPointsPerBenchStation);
    return id;
}

std::vector<std::wstring> BenchItemIds(int first, int count) {
    std::vector<std::wstring> ids;
    ids.reserve(static_cast<std::size_t>(count));
    for (int n = first; n < first + count; ++n) ids.push_back(BenchItemId(n));
    return ids;
}

}  // namespace bench
