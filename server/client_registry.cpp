#include "server/client_registry.h"

#include "server/server_module.h"

#include <algorithm>
#include <atomic>

namespace server {
namespace {

std::atomic<HWND> g_mainWindow{nullptr};

}  // namespace

HWND MainWindow() { return g_mainWindow; }

void SetMainWindow(HWND window) { g_mainWindow = window; }

ClientRegistry& ClientRegistry::Instance() {
    static ClientRegistry registry;
    return registry;
}

void ClientRegistry::Add(COPCServer* server) {
    std::lock_guard guard(lock_);
    servers_.push_back(server);
    // Posted, never sent: no client thread waits for the main thread.
    if (const HWND window = MainWindow()) PostMessageW(window, kClientCountMessage, 0, 0);
}

void ClientRegistry::Remove(COPCServer* server) {
    std::lock_guard guard(lock_);
    const auto found = std::find(servers_.begin(), servers_.end(), server);
    if (found == servers_.end()) return;
    servers_.erase(found);
    if (const HWND window = MainWindow()) PostMessageW(window, servers_.empty() ? WM_CLOSE : kClientCountMessage, 0, 0);
}

std::size_t ClientRegistry::Count() const {
    std::lock_guard guard(lock_);
    return servers_.size();
}

std::size_t ClientCount() { return ClientRegistry::Instance().Count(); }

}  // namespace server
