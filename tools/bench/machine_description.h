// What the figures were measured on: processor, cores, memory, Wine, the machine's load when the
// run began (the machine is shared; the ratios to same-run baselines are what compare across runs).
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace bench {

// Name and value pairs, in the order a reader wants them.
std::vector<std::pair<std::string, std::string>> DescribeMachine();

}  // namespace bench
