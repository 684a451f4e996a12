// The benchmark's sections, one file each; main.cpp lists them and runs those asked for.
#pragma once

#include "bench_plant.h"

namespace bench {

struct Options {
    PlantShape shape;
};

// Address-space build, then ResolveItemId, FindPointByNodeId and ReadPointValue for every point,
// beside the naive baseline.
void RunAddressSpaceBench(const Options& options);

}  // namespace bench
