// The shutdown request to every connected client before the process ends by the user's decision.
//
// The requests go out in registry and subscription order on a thread of their own, so that a client
// that does not return from its request holds up the exit only a bounded time: when a request has
// not returned after the wait, the rest go out on a new thread and the stuck one is left behind
// (it owns all it uses).
#include "server/client_registry.h"
#include "server/opc_server.h"
#include "server/server_module.h"

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

namespace server {
namespace {

using korvex::com::ComPtr;

constexpr std::chrono::milliseconds kShutdownRequestWait{2000};

struct ShutdownNotice {
    std::mutex lock;
    std::condition_variable progressed;
    const std::vector<ComPtr<IOPCShutdown>> sinks;
    const std::wstring reason;
    std::size_t next = 0;     // the next sink to call
    unsigned generation = 0;  // the calling thread that may go on; the others were left behind

    ShutdownNotice(std::vector<ComPtr<IOPCShutdown>> sinks, std::wstring reason)
        : sinks(std::move(sinks)), reason(std::move(reason)) {}
};

void CallInOrder(const std::shared_ptr<ShutdownNotice>& notice, unsigned generation) {
    const HRESULT initialized = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    std::unique_lock lock(notice->lock);
    while (notice->generation == generation && notice->next < notice->sinks.size()) {
        IOPCShutdown* const sink = notice->sinks[notice->next].Get();  // the notice keeps it
        lock.unlock();
        sink->ShutdownRequest(notice->reason.c_str());  // a failing sink stops nobody
        lock.lock();
        if (notice->generation != generation) break;
        ++notice->next;
        notice->progressed.notify_all();
    }
    lock.unlock();
    if (SUCCEEDED(initialized)) CoUninitialize();
}

}  // namespace

void NotifyShutdown(const wchar_t* reason) {
    if (reason == nullptr || *reason == L'\0') return;
    // The sinks are gathered under the registry lock (and each server's connection-point lock) and
    // called after every lock is released.
    std::vector<ComPtr<IOPCShutdown>> sinks;
    {
        ClientRegistry& registry = ClientRegistry::Instance();
        std::lock_guard guard(registry.lock());
        for (COPCServer* server : registry.entries()) {
            for (auto& sink : server->shutdownSinks().Sinks()) sinks.push_back(std::move(sink));
        }
    }
    if (sinks.empty()) return;
    const auto notice = std::make_shared<ShutdownNotice>(std::move(sinks), reason);
    std::unique_lock lock(notice->lock);
    std::thread caller;
    while (notice->next < notice->sinks.size()) {
        try {
            caller = std::thread(CallInOrder, notice, notice->generation);
        } catch (const std::system_error&) {
            return;  // no thread to be had: the clients learn of the end when their calls fail
        }
        std::size_t calling = notice->next;
        while (notice->progressed.wait_for(lock, kShutdownRequestWait, [&] { return notice->next != calling; })) {
            calling = notice->next;
            if (calling == notice->sinks.size()) break;
        }
        if (notice->next == notice->sinks.size()) break;
        // Stuck in the client's call: the next thread goes on after it.
        ++notice->generation;
        ++notice->next;
        caller.detach();
    }
    lock.unlock();
    if (caller.joinable()) caller.join();
}

}  // namespace server
