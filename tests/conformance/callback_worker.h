// The thread that makes the conformance server's callbacks: OPC servers call their clients'
// sinks from a thread of their own after the request has returned, never from inside it.
// Tasks run one after another in the order posted, in the multithreaded apartment, where the
// sink proxies that Advise received can be called directly.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace conformance {

class CallbackWorker {
public:
    static CallbackWorker& instance();
    ~CallbackWorker() { stop(); }

    void post(std::function<void()> task);
    // Runs what was posted, then ends the thread.
    void stop();

private:
    CallbackWorker();
    void run();

    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::function<void()>> tasks_;
    bool stopping_ = false;
    std::thread thread_;
};

}  // namespace conformance
