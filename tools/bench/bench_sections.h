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

// Flat browse of every point; DA 3.0 browse of a 1,000-point kind branch page by page, beside a
// baseline that copies and searches the whole list for every page.
void RunBrowseBench(const Options& options);
// The update tick over 100,000 active items of 10 clients: CPU per tick when every point changes
// and when nothing does, beside a plain read-and-compare loop; database reads per tick.
void RunUpdateTickBench(const Options& options);

// The end-to-end sections: the simulator, the server program and this program as client(s), each
// process under Wine and every call through the proxy/stub; each figure beside the same work done
// by a canned server (transport_baseline.h). The plant options do not apply to them.
void RunTransportBench(const Options& options);
void RunE2eCallsBench(const Options& options);
void RunE2eChangesBench(const Options& options);
void RunE2eFanOutBench(const Options& options);
void RunE2eMemoryBench(const Options& options);
void RunE2eSteadyBench(const Options& options);

}  // namespace bench
