// Under load Wine now and then loses a call between processes, and its caller then waits for ever.
// The watchdog ends a run whose section has gone on far longer than it should: it says which
// section, hands what was measured so far to `onExpiry` (the report and the JSON), and ends the
// process; the programs it started are left to the wineserver's end.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace bench {

class SectionWatchdog {
public:
    explicit SectionWatchdog(std::function<void()> onExpiry);
    ~SectionWatchdog();

    void Arm(const std::string& section, std::chrono::seconds limit);
    void Disarm();

private:
    void Watch();

    std::function<void()> onExpiry_;
    std::mutex lock_;
    std::condition_variable changed_;
    std::string section_;
    std::chrono::steady_clock::time_point deadline_ = std::chrono::steady_clock::time_point::max();
    bool stopping_ = false;
    std::thread thread_;
};

}  // namespace bench
