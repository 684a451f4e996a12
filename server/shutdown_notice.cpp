// The shutdown request to every connected client before the process ends by the user's decision.
#include "server/client_registry.h"
#include "server/opc_server.h"
#include "server/server_module.h"

#include <vector>

namespace server {

void NotifyShutdown(const wchar_t* reason) {
    if (reason == nullptr || *reason == L'\0') return;
    // The sinks are gathered under the registry lock (and each server's connection-point lock) and
    // called after every lock is released, in registry and subscription order.
    std::vector<korvex::com::ComPtr<IOPCShutdown>> sinks;
    {
        ClientRegistry& registry = ClientRegistry::Instance();
        std::lock_guard guard(registry.lock());
        for (COPCServer* server : registry.entries()) {
            for (auto& sink : server->shutdownSinks().Sinks()) sinks.push_back(std::move(sink));
        }
    }
    for (const auto& sink : sinks) sink->ShutdownRequest(reason);  // a failing sink stops nobody
}

}  // namespace server
