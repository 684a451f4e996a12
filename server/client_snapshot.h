// What the operator's view shows: the server's own figures and, per connected client, its name,
// groups and delivery. Copied under the registry, server and group locks in their order, each
// held only for the copy; nothing here calls a client or waits for one.
#pragma once

#include "group/opc_group.h"
#include "group/server_context.h"
#include "server/client_delivery.h"
#include "server/tick_times.h"

#include <windows.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace server {

struct ClientSnapshot {
    std::uint64_t number = 0;  // tells clients apart from one snapshot to the next
    std::wstring name;         // empty when the client gave none
    FILETIME connected{};
    std::vector<COPCGroup::Summary> groups;  // in the order they were added
    ClientDelivery::Activity delivery;

    // The items the update cycle scans for the client: active items of active groups.
    std::size_t ActiveItems() const;
};

struct ServerSnapshot {
    OPCSERVERSTATE status = OPC_STATUS_RUNNING;
    DWORD points = 0;  // published in the address space
    TickTimes tick;
    std::vector<ClientSnapshot> clients;  // in the order they connected
};

ServerSnapshot TakeSnapshot(const ServerContext& context);

enum class DeliveryState { Idle, Sending, Stalled, Unreachable };

// A call into a client that has run this long counts as stalled.
constexpr std::chrono::seconds kStalledAfter{2};

// Stalled while a call runs past kStalledAfter; unreachable when the last call failed in the
// transport (the client is gone or its apartment no longer answers); sending while a callback waits
// or is in a call; idle otherwise.
DeliveryState StateOf(const ClientDelivery::Activity& delivery);

}  // namespace server
