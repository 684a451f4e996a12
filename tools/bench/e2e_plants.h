// The plants the end-to-end sections share, so that consecutive sections keep the processes up.
#pragma once

#include "plant_session.h"

namespace bench {

// 100,000 points, every one a clock that the simulator writes every 150 ms: every item changes at
// every 200 ms scan, at a phase to the scan that drifts, so a value waits anywhere from 0 to 150 ms
// for the scan that reports it.
inline constexpr BenchPlant kMovingPlant{100000, 1000, 150};
// 100,000 points, a tenth of them clocks written once a second.
inline constexpr BenchPlant kSteadyPlant{100000, 100, 1000};
// 1,000 points that do not move: the server's size without the plant.
inline constexpr BenchPlant kSmallPlant{1000, 0, 1000};

}  // namespace bench
