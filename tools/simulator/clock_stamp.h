// The value of a clock signal: the time of the write as a value a 4-byte float holds exactly, so
// that it survives the server's conversion to the point's type. The steady clock is the performance
// counter, which every process of the machine shares: a client subtracts the stamp from its own
// ClockStamp(Clock::now()) to see how old a value is when it arrives.
#pragma once

#include <chrono>
#include <cstdint>

namespace sim {

using Clock = std::chrono::steady_clock;

// Tenths of a millisecond, modulo 1,000,000 (100 s).
constexpr std::int64_t kClockStampModulus = 1'000'000;

inline std::int64_t ClockStamp(Clock::time_point time) {
    using Tenths = std::chrono::duration<std::int64_t, std::ratio<1, 10000>>;
    return std::chrono::duration_cast<Tenths>(time.time_since_epoch()).count() % kClockStampModulus;
}

// How long ago, in tenths of a millisecond, a stamp taken less than 100 s before `now` was taken.
inline std::int64_t ClockStampAge(std::int64_t stamp, Clock::time_point now) {
    return (ClockStamp(now) - stamp + kClockStampModulus) % kClockStampModulus;
}

}  // namespace sim
