#include "server/runtime_write_thread.h"

#include <objbase.h>

#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <thread>

namespace server {
namespace {

struct RuntimeWrites {
    std::mutex lock;
    std::condition_variable wake;  // a job queued, or stopping
    std::condition_variable idle;  // nothing queued or running, or the thread has ended
    std::deque<RuntimeWriteJob> queued;
    bool running = false;
    bool stopping = false;
    bool threadAlive = false;
    std::thread thread;
};

// Never destroyed: a thread left waiting for a hung runtime at stop may end after the process's
// static objects are gone.
RuntimeWrites& Writes() {
    static auto* const writes = new RuntimeWrites;
    return *writes;
}

void Run(RuntimeWrites& writes) {
    // The server process lives in the multithreaded apartment, and so does this thread.
    const HRESULT initialized = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    std::unique_lock lock(writes.lock);
    for (;;) {
        writes.wake.wait(lock, [&] { return writes.stopping || !writes.queued.empty(); });
        if (writes.stopping) break;
        RuntimeWriteJob job = std::move(writes.queued.front());
        writes.queued.pop_front();
        writes.running = true;
        lock.unlock();
        job(true);
        job = nullptr;  // what the job holds is let go of outside the lock
        lock.lock();
        writes.running = false;
        if (writes.queued.empty()) writes.idle.notify_all();
    }
    writes.threadAlive = false;
    writes.idle.notify_all();
    lock.unlock();
    if (SUCCEEDED(initialized)) CoUninitialize();
}

}  // namespace

bool QueueRuntimeWrite(RuntimeWriteJob job) noexcept {
    RuntimeWrites& writes = Writes();
    std::lock_guard guard(writes.lock);
    if (writes.stopping) return false;
    try {
        if (!writes.threadAlive) {
            writes.thread = std::thread(Run, std::ref(writes));
            writes.threadAlive = true;
        }
        writes.queued.push_back(std::move(job));
    } catch (const std::exception&) {  // memory exhausted, or no thread to be had
        return false;
    }
    writes.wake.notify_one();
    return true;
}

bool WaitForRuntimeWrites(std::chrono::milliseconds timeout) {
    RuntimeWrites& writes = Writes();
    std::unique_lock lock(writes.lock);
    return writes.idle.wait_for(lock, timeout, [&] {
        return (writes.queued.empty() && !writes.running) || (writes.stopping && !writes.threadAlive);
    });
}

void StopRuntimeWrites(std::chrono::milliseconds wait) {
    RuntimeWrites& writes = Writes();
    std::deque<RuntimeWriteJob> givenUp;
    std::thread thread;
    {
        std::unique_lock lock(writes.lock);
        writes.stopping = true;
        givenUp.swap(writes.queued);
        writes.wake.notify_one();
        const bool ended = writes.idle.wait_for(lock, wait, [&] { return !writes.threadAlive; });
        thread = std::move(writes.thread);
        if (!ended && thread.joinable()) thread.detach();
    }
    if (thread.joinable()) thread.join();
    for (RuntimeWriteJob& job : givenUp) job(false);
}

}  // namespace server
