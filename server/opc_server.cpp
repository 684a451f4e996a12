#include "server/opc_server.h"

#include "com/com_boundary.h"
#include "group/opc_group.h"
#include "server/client_registry.h"
#include "server/runtime_write_thread.h"

#include <atomic>
#include <new>

using korvex::com::ComPtr;

namespace {

std::atomic<std::uint64_t> g_clientsConnected{0};

}  // namespace

COPCServer::COPCServer(const ServerContext& context) : context_(context), clientNumber_(++g_clientsConnected) {
    CoFileTimeNow(&connectTime_);
    groups_->SetLastUpdateTime(connectTime_);
}

void COPCServer::finalRelease() noexcept {
    // Every group goes with its server, whether its removal was pending or not: its clients are
    // cut off and the server's reference is given up, outside the server lock.
    for (GroupTable::Entry& entry : groups_->Close()) {
        entry.group->SetRemovePending(false);
        CoDisconnectObject(entry.group->identity(), 0);
        entry.group.Reset();
    }
    shutdown_.Clear();
    delivery_->Close();
    server::ClientRegistry::Instance().Remove(this);
}

void COPCServer::UpdateGroups(DWORD elapsed, CallbackOutbox& outbox) {
    std::lock_guard guard(groups_->lock());
    for (const GroupTable::Entry& entry : groups_->Snapshot()) {
        const std::size_t first = outbox.size();
        if (entry.group->Tick(elapsed, outbox) && !HandOverWrite(entry.group)) {
            entry.group->ExecuteHandedOverWrite(true, outbox);
        }
        for (std::size_t i = first; i < outbox.size(); ++i)
            outbox[i].serverGroupHandle = entry.group->serverGroupHandle();
    }
}

bool COPCServer::HandOverWrite(const ComPtr<COPCGroup>& group) noexcept {
    try {
        return server::QueueRuntimeWrite([group, delivery = delivery_](bool carryOut) {
            CallbackOutbox completion;
            group->ExecuteHandedOverWrite(carryOut, completion);
            delivery->Post(std::move(completion));
        });
    } catch (const std::bad_alloc&) {
        return false;
    }
}

HRESULT COPCServer::EnumConnectionPoints(IEnumConnectionPoints** ppEnum) try {
    return shutdown_.EnumerateAsOnlyPoint(ppEnum);
} catch (...) {
    return korvex::com::ExceptionToHResult();
}

HRESULT COPCServer::FindConnectionPoint(REFIID riid, IConnectionPoint** ppCP) try {
    return shutdown_.FindAsOnlyPoint(riid, ppCP);
} catch (...) {
    return korvex::com::ExceptionToHResult();
}

namespace server {

HRESULT CreateServer(const ServerContext& context, REFIID riid, void** object) {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    ComPtr<COPCServer> created = korvex::com::make<COPCServer>(context);
    if (!created) return E_OUTOFMEMORY;
    ClientRegistry::Instance().Add(created.Get());
    return created->QueryInterface(riid, object);
}

}  // namespace server
