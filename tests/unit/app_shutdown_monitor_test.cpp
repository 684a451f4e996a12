// The idle shutdown: WM_QUIT reaches the main thread only after the module lock count has stayed
// at zero, without new activity, for the whole idle time-out.
#include "app/shutdown_monitor.h"

#include "com/module_lock.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <functional>
#include <optional>

namespace {

using korvex::com::ModuleLock;

constexpr DWORD kIdle = 300;

// Milliseconds from `start` until WM_QUIT arrives in this thread's queue, or none within `limit`.
std::optional<ULONGLONG> WaitForQuit(ULONGLONG start, DWORD limit) {
    MSG message;
    while (GetTickCount64() - start < limit) {
        if (PeekMessageW(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) return GetTickCount64() - start;
        Sleep(10);
    }
    return std::nullopt;
}

TEST(ShutdownMonitor, QuitsOnlyAfterTheCountStayedZeroForTheIdleTimeout) {
    struct Case {
        const char* name;
        std::function<void()> activity;  // runs after the first fall to zero
        bool quits;
        ULONGLONG atLeast;  // ms after the first fall to zero
    };
    const Case cases[] = {
        {"nothing happens", [] {}, true, kIdle},
        {"lock and unlock again halfway", [] { Sleep(kIdle / 2); ModuleLock::lock(); ModuleLock::unlock(); }, true,
         kIdle / 2 + kIdle},
        {"a lock stays taken", [] { Sleep(kIdle / 2); ModuleLock::lock(); }, false, 0},
    };
    for (const Case& c : cases) {
        ASSERT_EQ(ModuleLock::count(), 0) << c.name;
        MSG stale;
        while (PeekMessageW(&stale, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {
        }
        {
            app::ShutdownMonitor monitor(GetCurrentThreadId(), kIdle, 0);
            ASSERT_TRUE(monitor.Start()) << c.name;
            ModuleLock::lock();
            const ULONGLONG start = GetTickCount64();
            ModuleLock::unlock();
            c.activity();
            const std::optional<ULONGLONG> quitAfter = WaitForQuit(start, 3 * kIdle + 500);
            EXPECT_EQ(quitAfter.has_value(), c.quits) << c.name;
            if (c.quits && quitAfter) {
                // The tick count moves in steps of up to 16 ms.
                EXPECT_GE(*quitAfter + 16, c.atLeast) << c.name;
                EXPECT_LT(*quitAfter, c.atLeast + 1000) << c.name;
            }
        }
        while (ModuleLock::count() > 0) ModuleLock::unlock();
    }
}

TEST(ShutdownMonitor, ZeroIdleTimeoutQuitsAtOnce) {
    app::ShutdownMonitor monitor(GetCurrentThreadId());
    ASSERT_TRUE(monitor.Start());
    EXPECT_EQ(monitor.Pause(), app::ShutdownMonitor::kPause);
    // What the main window does when it held the last lock.
    monitor.SetIdleTimeout(0);
    monitor.SetPause(0);
    EXPECT_EQ(monitor.Pause(), 0u);
    ModuleLock::lock();
    const ULONGLONG start = GetTickCount64();
    ModuleLock::unlock();
    const std::optional<ULONGLONG> quitAfter = WaitForQuit(start, 2000);
    ASSERT_TRUE(quitAfter.has_value());
    EXPECT_LT(*quitAfter, 500u);
}

TEST(ShutdownMonitor, AGoneMonitorNoLongerWatches) {
    {
        app::ShutdownMonitor monitor(GetCurrentThreadId(), 50, 0);
        ASSERT_TRUE(monitor.Start());
    }
    ModuleLock::lock();
    const ULONGLONG start = GetTickCount64();
    ModuleLock::unlock();  // must not reach the destroyed monitor
    EXPECT_FALSE(WaitForQuit(start, 300).has_value());
}

}  // namespace
