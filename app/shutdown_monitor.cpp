#include "app/shutdown_monitor.h"

#include "com/module_lock.h"

#include <objbase.h>

namespace app {
namespace {

// The module lock's callback is a plain function: it finds the monitor here.
std::atomic<ShutdownMonitor*> g_monitor{nullptr};

}  // namespace

ShutdownMonitor::ShutdownMonitor(DWORD mainThreadId, DWORD idleTimeout, DWORD pause)
    : mainThreadId_(mainThreadId), idleTimeout_(idleTimeout), pause_(pause) {}

ShutdownMonitor::~ShutdownMonitor() {
    if (g_monitor.load() == this) {
        korvex::com::ModuleLock::onZero(nullptr);
        g_monitor.store(nullptr);
    }
    if (thread_.joinable()) {
        SetEvent(stop_.get());
        thread_.join();
    }
}

bool ShutdownMonitor::Start() {
    lockCountZero_.reset(CreateEventW(nullptr, FALSE, FALSE, nullptr));
    stop_.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!lockCountZero_ || !stop_) return false;
    try {
        thread_ = std::thread([this] { Run(); });
    } catch (const std::system_error&) {
        return false;
    }
    g_monitor.store(this);
    korvex::com::ModuleLock::onZero(&ShutdownMonitor::OnLockCountZero);
    return true;
}

void ShutdownMonitor::OnLockCountZero() noexcept {
    if (ShutdownMonitor* monitor = g_monitor.load()) {
        monitor->activity_.store(true);
        SetEvent(monitor->lockCountZero_.get());
    }
}

void ShutdownMonitor::Run() {
    const HANDLE waitForZero[] = {stop_.get(), lockCountZero_.get()};
    for (;;) {
        if (WaitForMultipleObjects(2, waitForZero, FALSE, INFINITE) != WAIT_OBJECT_0 + 1) return;
        // Wait until the count has stayed at zero for a whole time-out: every new fall to zero
        // starts the wait again.
        DWORD waited;
        do {
            activity_.store(false);
            waited = WaitForMultipleObjects(2, waitForZero, FALSE, idleTimeout_.load());
            if (waited == WAIT_OBJECT_0) return;
        } while (waited == WAIT_OBJECT_0 + 1);

        if (!activity_.load() && korvex::com::ModuleLock::count() == 0) {
            // No new activations while the decision is made; one that slipped in before keeps the
            // server up, and the class objects serve again.
            CoSuspendClassObjects();
            if (korvex::com::ModuleLock::count() == 0) {
                PostThreadMessageW(mainThreadId_, WM_QUIT, 0, 0);
                return;
            }
            CoResumeClassObjects();
        }
    }
}

}  // namespace app
