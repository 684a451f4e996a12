#include "group/opc_group.h"

#include "addrspace/address_space.h"
#include "com/com_boundary.h"

using korvex::com::ComPtr;

namespace {

// The local offset from UTC in minutes, positive east of Greenwich (480 for UTC+8).
LONG LocalTimeBias() {
    TIME_ZONE_INFORMATION zone{};
    GetTimeZoneInformation(&zone);
    return -zone.Bias;
}

}  // namespace

COPCGroup::COPCGroup(const ServerContext& context, std::shared_ptr<GroupTable> table)
    : context_(context), table_(std::move(table)), serverGroupHandle_(context.state.NextGroupHandle()) {
    state_.timeBias = LocalTimeBias();
}

std::wstring COPCGroup::name() const {
    std::lock_guard guard(lock_);
    return state_.name;
}

COPCGroup::State COPCGroup::state() const {
    std::lock_guard guard(lock_);
    return state_;
}

COPCGroup::Summary COPCGroup::summary() const {
    std::lock_guard guard(lock_);
    return Summary{state_, items_.size(), items_.activeCount(), requests_.Count()};
}

void COPCGroup::SetInitialState(const State& state) {
    std::lock_guard guard(lock_);
    state_ = state;
}

void COPCGroup::SetRemovePending(bool pending) {
    std::lock_guard guard(lock_);
    removePending_ = pending;
}

bool COPCGroup::removePending() const {
    std::lock_guard guard(lock_);
    return removePending_;
}

HRESULT COPCGroup::CheckGates() const {
    if (context_.state.IsFailed() || removePending()) return E_FAIL;
    return S_OK;
}

void COPCGroup::releasedTo(ULONG remaining) noexcept {
    // The server's table holds one reference; when it is the last one and the group's removal is
    // pending, the client has let go and the group leaves the table (which destroys it).
    if (remaining != 1 || !removePending()) return;
    ComPtr<COPCGroup> last;
    {
        std::lock_guard guard(table_->lock());
        if (refCount() == 1 && table_->Lists(this)) last = table_->Remove(name());
    }
    // `last` releases the group, and with it this object, on leaving the scope.
}

void COPCGroup::finalRelease() noexcept {
    {
        std::lock_guard guard(lock_);
        items_ = GroupItems{};
    }
    // Queued requests go without a callback.
    requests_.Clear();
    dataCallbacks_.Clear();
}

HRESULT COPCGroup::EnumConnectionPoints(IEnumConnectionPoints** ppEnum) try {
    return dataCallbacks_.EnumerateAsOnlyPoint(ppEnum);
} catch (...) {
    return korvex::com::ExceptionToHResult();
}

HRESULT COPCGroup::FindConnectionPoint(REFIID riid, IConnectionPoint** ppCP) try {
    return dataCallbacks_.FindAsOnlyPoint(riid, ppCP);
} catch (...) {
    return korvex::com::ExceptionToHResult();
}
