// The update thread: one tick every base period, started with the program and joined at its end.
#include "addrspace/address_space.h"
#include "server/client_registry.h"
#include "server/opc_server.h"
#include "server/server_module.h"

#include <condition_variable>
#include <mutex>
#include <thread>

namespace server {
namespace {

std::mutex g_runLock;
std::condition_variable g_stopRequested;
bool g_running = false;
std::thread g_thread;

void UpdateLoop() {
    std::unique_lock lock(g_runLock);
    while (g_running) {
        // A tick starts one base period after the previous one ended; nothing makes up for the time
        // a tick takes.
        if (g_stopRequested.wait_for(lock, std::chrono::milliseconds(kBaseRate), [] { return !g_running; })) break;
        lock.unlock();
        RunUpdateTick();
        lock.lock();
    }
}

}  // namespace

void RunUpdateTick() {
    AddressSpace().ClearReadFlags();
    CallbackOutbox outbox;
    {
        ClientRegistry& registry = ClientRegistry::Instance();
        std::lock_guard guard(registry.lock());
        for (COPCServer* server : registry.entries()) server->UpdateGroups(kBaseRate, outbox);
    }
    // Every lock is released: a client may call the server from inside its callback.
    for (const GroupCallback& callback : outbox) callback.Send();
}

void StartUpdateThread() {
    std::lock_guard guard(g_runLock);
    if (g_running) return;
    g_running = true;
    g_thread = std::thread(UpdateLoop);
}

void StopUpdateThread() {
    {
        std::lock_guard guard(g_runLock);
        g_running = false;
    }
    g_stopRequested.notify_all();
    // Waits for a running tick to end, instead of a fixed pause after which it might still run.
    if (g_thread.joinable()) g_thread.join();
}

}  // namespace server
