// Ends an out-of-process COM server that nobody uses any more: when the module lock count has
// fallen to zero and stays there, with no new activity, for the idle time-out, the monitor posts
// WM_QUIT to the main thread.
#pragma once

#include "com/unique_any.h"

#include <windows.h>

#include <atomic>
#include <thread>

namespace app {

class ShutdownMonitor {
public:
    static constexpr DWORD kIdleTimeout = 5000;
    // How long the exit waits after the message loop for releases still under way.
    static constexpr DWORD kPause = 1000;

    // `mainThreadId` receives the WM_QUIT.
    explicit ShutdownMonitor(DWORD mainThreadId, DWORD idleTimeout = kIdleTimeout, DWORD pause = kPause);
    // Stops watching. Only one monitor watches the module lock at a time.
    ~ShutdownMonitor();
    ShutdownMonitor(const ShutdownMonitor&) = delete;
    ShutdownMonitor& operator=(const ShutdownMonitor&) = delete;

    // Starts the monitor thread; false when its event or thread cannot be created, and the
    // process then runs without it.
    bool Start();

    void SetIdleTimeout(DWORD milliseconds) { idleTimeout_.store(milliseconds); }
    void SetPause(DWORD milliseconds) { pause_.store(milliseconds); }
    DWORD Pause() const { return pause_.load(); }

private:
    static void OnLockCountZero() noexcept;
    void Run();

    DWORD mainThreadId_;
    std::atomic<DWORD> idleTimeout_;
    std::atomic<DWORD> pause_;
    // Set when the count falls to zero, cleared at the start of each idle wait: a lock taken and
    // given back during the wait keeps the process up for another time-out.
    std::atomic<bool> activity_{false};
    korvex::com::UniqueHandle lockCountZero_;  // auto-reset
    korvex::com::UniqueHandle stop_;
    std::thread thread_;
};

}  // namespace app
