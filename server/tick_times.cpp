#include "server/tick_times.h"

#include "server/minute_window.h"

#include <mutex>

namespace server {
namespace {

struct Recorded {
    std::mutex lock;
    std::chrono::microseconds last{0};
    MinuteWindow worst;
};

Recorded& Times() {
    static Recorded times;
    return times;
}

}  // namespace

void RecordTickTime(std::chrono::steady_clock::time_point started, std::chrono::steady_clock::time_point ended) {
    const auto took = std::chrono::duration_cast<std::chrono::microseconds>(ended - started);
    Recorded& times = Times();
    std::lock_guard guard(times.lock);
    times.last = took;
    times.worst.Raise(WholeSeconds(ended), static_cast<std::uint64_t>(took.count()));
}

TickTimes ReadTickTimes() {
    Recorded& times = Times();
    const std::uint64_t now = WholeSeconds(std::chrono::steady_clock::now());
    std::lock_guard guard(times.lock);
    return {times.last, std::chrono::microseconds(times.worst.Max(now))};
}

}  // namespace server
