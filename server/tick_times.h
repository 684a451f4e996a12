// How long the update ticks take, for the operator's view: the last one and the worst of the last
// minute. Recording costs the update thread one uncontended lock and two stores per tick.
#pragma once

#include <chrono>

namespace server {

struct TickTimes {
    std::chrono::microseconds last{0};
    std::chrono::microseconds worstLastMinute{0};
};

void RecordTickTime(std::chrono::steady_clock::time_point started, std::chrono::steady_clock::time_point ended);
TickTimes ReadTickTimes();

}  // namespace server
