#include "com/module_lock.h"

#include <atomic>

namespace korvex::com {

namespace {
std::atomic<long> lockCount{0};
std::atomic<ModuleLock::ZeroCallback> zeroCallback{nullptr};
} // namespace

void ModuleLock::lock() noexcept {
    lockCount.fetch_add(1, std::memory_order_relaxed);
}

long ModuleLock::unlock() noexcept {
    const long remaining = lockCount.fetch_sub(1, std::memory_order_acq_rel) - 1;
    if (remaining == 0) {
        if (ZeroCallback callback = zeroCallback.load(std::memory_order_acquire)) {
            callback();
        }
    }
    return remaining;
}

long ModuleLock::count() noexcept {
    return lockCount.load(std::memory_order_acquire);
}

ModuleLock::ZeroCallback ModuleLock::onZero(ZeroCallback callback) noexcept {
    return zeroCallback.exchange(callback, std::memory_order_acq_rel);
}

} // namespace korvex::com
