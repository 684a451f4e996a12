// How a simulated analog value moves. Every signal starts from a base value that shows unchanged at
// the start: a ramp rises by `amplitude` over each period and falls back, a sine swings around the
// base, a random walk takes a step of up to `amplitude` once per period (kept within the point's
// limits when it has any). A value set from outside becomes the new base, so it shows at once and
// the movement continues from it. A clock is the time of the write itself (see ClockStamp), so that
// a client can tell how old a value is when it arrives.
#pragma once

#include "tools/simulator/clock_stamp.h"
#include "tools/simulator/plant_file.h"

#include <chrono>
#include <cstdint>
#include <random>

namespace sim {

class AnalogSignal {
public:
    AnalogSignal(SignalSpec spec, double lowLimit, double highLimit, std::uint32_t seed);

    void restart(double base, Clock::time_point now);
    double valueAt(Clock::time_point now);
    bool moves() const { return spec_.kind != SignalKind::Constant; }

private:
    SignalSpec spec_;
    double lowLimit_, highLimit_;
    std::mt19937 random_;
    double base_ = 0.0;
    Clock::time_point start_{};
    double walked_ = 0.0;
    Clock::time_point lastStep_{};
};

}  // namespace sim
