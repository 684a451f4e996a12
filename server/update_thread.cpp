// The update thread: one tick every base period, started with the program and joined at its end.
#include "addrspace/address_space.h"
#include "server/client_delivery.h"
#include "server/client_registry.h"
#include "server/opc_server.h"
#include "server/runtime_write_thread.h"
#include "server/server_module.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace server {
namespace {

std::mutex g_runLock;
std::condition_variable g_stopRequested;
bool g_running = false;
std::thread g_thread;

// How long stopping waits for the deliveries that are inside a client's call.
constexpr std::chrono::milliseconds kStopWait{2000};

void UpdateLoop(const ServerContext context) {
    std::unique_lock lock(g_runLock);
    while (g_running) {
        // A tick starts one base period after the previous one ended; nothing makes up for the time
        // a tick takes.
        if (g_stopRequested.wait_for(lock, std::chrono::milliseconds(kBaseRate), [] { return !g_running; })) break;
        lock.unlock();
        RunUpdateTick(context);
        lock.lock();
    }
}

}  // namespace

void RunUpdateTick(const ServerContext& context) {
    context.addressSpace.BeginTick();
    // Each client's callbacks of this tick, to be handed to its delivery.
    struct ClientCallbacks {
        std::shared_ptr<ClientDelivery> delivery;
        CallbackOutbox callbacks;
    };
    std::vector<ClientCallbacks> tick;
    {
        ClientRegistry& registry = ClientRegistry::Instance();
        std::lock_guard guard(registry.lock());
        tick.reserve(registry.entries().size());
        for (COPCServer* server : registry.entries()) {
            CallbackOutbox outbox;
            server->UpdateGroups(kBaseRate, outbox);
            if (!outbox.empty()) tick.push_back({server->delivery(), std::move(outbox)});
        }
    }
    // Every lock is released; each client's own thread calls its sinks, so that a client that is
    // slow to return, or calls the server from inside its callback, holds up nobody else.
    for (ClientCallbacks& client : tick) client.delivery->Post(std::move(client.callbacks));
    // The runtime's end, noticed once: after this tick's data changes, which carry the
    // comm-failure quality, went to the clients' deliveries.
    if (!context.addressSpace.IsRuntimeAlive() && context.addressSpace.IsBuilt() &&
        context.state.status() == OPC_STATUS_RUNNING) {
        context.state.SetStatus(OPC_STATUS_COMM_FAULT);
        if (const HWND window = MainWindow()) PostMessageW(window, kRuntimeStoppedMessage, 0, 0);
    }
}

bool WaitForCallbackDeliveries(std::chrono::milliseconds timeout) {
    // A write's completion is posted when the write ends.
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    if (!WaitForRuntimeWrites(timeout)) return false;
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    return ClientDelivery::WaitAllIdle(std::max(left, std::chrono::milliseconds::zero()));
}

void StartUpdateThread(const ServerContext& context) {
    std::lock_guard guard(g_runLock);
    if (g_running) return;
    g_running = true;
    g_thread = std::thread(UpdateLoop, context);
}

void StopUpdateThread() {
    {
        std::lock_guard guard(g_runLock);
        g_running = false;
    }
    g_stopRequested.notify_all();
    // Waits for a running tick to end, instead of a fixed pause after which it might still run.
    if (g_thread.joinable()) g_thread.join();
    // A write still waiting for the runtime's window gets the same wait.
    StopRuntimeWrites(kStopWait);
    // Pending callbacks are dropped; a delivery still inside a client's call gets the stop wait to
    // return from it.
    ClientDelivery::StopAll(kStopWait);
}

}  // namespace server
