#include "tools/simulator/analog_signal.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace sim {

AnalogSignal::AnalogSignal(SignalSpec spec, double lowLimit, double highLimit, std::uint32_t seed)
    : spec_(spec), lowLimit_(lowLimit), highLimit_(highLimit), random_(seed) {}

void AnalogSignal::restart(double base, Clock::time_point now) {
    base_ = base;
    start_ = now;
    walked_ = base;
    lastStep_ = now;
}

double AnalogSignal::valueAt(Clock::time_point now) {
    const double elapsed = std::chrono::duration<double>(now - start_).count();
    switch (spec_.kind) {
    case SignalKind::Constant: return base_;
    case SignalKind::Ramp:
        return base_ + spec_.amplitude * (elapsed / spec_.period - std::floor(elapsed / spec_.period));
    case SignalKind::Clock: return static_cast<double>(ClockStamp(now));
    case SignalKind::Sine:
        return base_ + spec_.amplitude * std::sin(2.0 * std::numbers::pi * elapsed / spec_.period);
    case SignalKind::RandomWalk: {
        const auto period =
            std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(spec_.period));
        std::uniform_real_distribution<double> step(-spec_.amplitude, spec_.amplitude);
        // One step per whole period since the last one; a very short period cannot make a tick slow.
        constexpr long long kMaxStepsPerTick = 1000;
        const long long due = period.count() > 0 ? (now - lastStep_) / period : kMaxStepsPerTick;
        for (long long i = 0; i < std::min(due, kMaxStepsPerTick); ++i) {
            walked_ += step(random_);
            if (highLimit_ > lowLimit_) walked_ = std::clamp(walked_, lowLimit_, highLimit_);
        }
        lastStep_ = due > kMaxStepsPerTick ? now : lastStep_ + due * period;
        return walked_;
    }
    }
    return base_;
}

}  // namespace sim
