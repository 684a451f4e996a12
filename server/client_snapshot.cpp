#include "server/client_snapshot.h"

#include "addrspace/address_space.h"
#include "server/client_registry.h"
#include "server/opc_server.h"

#include <winerror.h>

namespace server {
namespace {

bool IsTransportFailure(HRESULT hr) {
    switch (hr) {
    case HRESULT_FROM_WIN32(RPC_S_SERVER_UNAVAILABLE):
    case HRESULT_FROM_WIN32(RPC_S_CALL_FAILED):
    case HRESULT_FROM_WIN32(RPC_S_CALL_FAILED_DNE):
    case RPC_E_DISCONNECTED:
    case RPC_E_SERVER_DIED:
    case RPC_E_SERVER_DIED_DNE:
    case CO_E_OBJNOTCONNECTED: return true;
    default: return false;
    }
}

}  // namespace

std::size_t ClientSnapshot::ActiveItems() const {
    std::size_t active = 0;
    for (const COPCGroup::Summary& group : groups)
        if (group.state.active) active += group.activeItems;
    return active;
}

ServerSnapshot TakeSnapshot(const ServerContext& context) {
    ServerSnapshot snapshot;
    snapshot.status = context.state.status();
    snapshot.points = context.addressSpace.GetPointCount();
    snapshot.tick = ReadTickTimes();
    ClientRegistry& registry = ClientRegistry::Instance();
    std::lock_guard registryGuard(registry.lock());
    snapshot.clients.reserve(registry.entries().size());
    for (COPCServer* server : registry.entries()) {
        ClientSnapshot& client = snapshot.clients.emplace_back();
        client.number = server->clientNumber();
        client.name = server->clientName();
        client.connected = server->connectTime();
        client.delivery = server->delivery()->activity();
        GroupTable& groups = server->groups();
        std::lock_guard serverGuard(groups.lock());
        for (const GroupTable::Entry& entry : groups.Snapshot()) client.groups.push_back(entry.group->summary());
    }
    return snapshot;
}

DeliveryState StateOf(const ClientDelivery::Activity& delivery) {
    if (delivery.inCall && delivery.callRunning >= kStalledAfter) return DeliveryState::Stalled;
    if (delivery.called && IsTransportFailure(delivery.lastCallResult)) return DeliveryState::Unreachable;
    if (delivery.inCall || delivery.pending > 0) return DeliveryState::Sending;
    return DeliveryState::Idle;
}

}  // namespace server
