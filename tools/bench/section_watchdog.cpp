#include "section_watchdog.h"

#include <windows.h>

#include <cstdio>

namespace bench {

SectionWatchdog::SectionWatchdog(std::function<void()> onExpiry)
    : onExpiry_(std::move(onExpiry)), thread_([this] { Watch(); }) {}

SectionWatchdog::~SectionWatchdog() {
    {
        std::lock_guard guard(lock_);
        stopping_ = true;
    }
    changed_.notify_all();
    thread_.join();
}

void SectionWatchdog::Arm(const std::string& section, std::chrono::seconds limit) {
    {
        std::lock_guard guard(lock_);
        section_ = section;
        deadline_ = std::chrono::steady_clock::now() + limit;
    }
    changed_.notify_all();
}

void SectionWatchdog::Disarm() {
    std::lock_guard guard(lock_);
    deadline_ = std::chrono::steady_clock::time_point::max();
}

void SectionWatchdog::Watch() {
    std::unique_lock lock(lock_);
    for (;;) {
        if (stopping_) return;
        if (std::chrono::steady_clock::now() >= deadline_) break;
        if (deadline_ == std::chrono::steady_clock::time_point::max())
            changed_.wait(lock);
        else
            changed_.wait_until(lock, deadline_);
    }
    std::fprintf(stderr,
                 "korvex_bench: section %s did not finish in time: a call between processes never returned "
                 "(Wine loses one now and then under load); the run ends with what it measured\n",
                 section_.c_str());
    lock.unlock();
    onExpiry_();
    std::fflush(stdout);
    std::fflush(stderr);
    ExitProcess(3);
}

}  // namespace bench
