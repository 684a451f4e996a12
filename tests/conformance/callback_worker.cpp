#include "callback_worker.h"

#include <objbase.h>

namespace conformance {

CallbackWorker& CallbackWorker::instance() {
    static CallbackWorker worker;
    return worker;
}

CallbackWorker::CallbackWorker() : thread_([this] { run(); }) {}

void CallbackWorker::post(std::function<void()> task) {
    {
        std::lock_guard lock(mutex_);
        tasks_.push_back(std::move(task));
    }
    changed_.notify_one();
}

void CallbackWorker::stop() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_one();
    if (thread_.joinable()) thread_.join();
}

void CallbackWorker::run() {
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [&] { return stopping_ || !tasks_.empty(); });
        if (tasks_.empty()) break;
        std::function<void()> task = std::move(tasks_.front());
        tasks_.pop_front();
        lock.unlock();
        task();
        task = nullptr;  // its references go before the next wait
        lock.lock();
    }
    lock.unlock();
    CoUninitialize();
}

}  // namespace conformance
