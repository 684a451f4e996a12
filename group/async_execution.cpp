// The execution of a group's queued asynchronous requests, one per tick, with the read and write
// procedures of the synchronous calls: reads in the update tick, writes, which wait for the runtime,
// handed on by the tick to be carried out off it. Items are looked up again by handle, so a request
// outlives the removal of its items; its outcome becomes one callback in the outbox.
#include "group/opc_group.h"

#include "addrspace/address_space.h"
#include "group/freshness.h"
#include "opcerror.h"

namespace {

using Operation = AsyncRequest::Operation;
using Source = AsyncRequest::Source;

bool IsWriteSuccess(HRESULT hr) { return hr == S_OK || hr == OPC_S_CLAMP; }

}  // namespace

GroupCallback COPCGroup::CallbackFor(GroupCallback::Kind kind, const AsyncRequest& request) {
    GroupCallback callback;
    callback.kind = kind;
    callback.sinks = dataCallbacks_.Sinks();
    callback.transactionId = request.transactionId;
    callback.clientGroupHandle = request.clientGroupHandle;
    return callback;
}

bool COPCGroup::ExecuteQueuedRequests(std::uint64_t lastQueued, CallbackOutbox& outbox) {
    // In queue order; a write ends the run, and the requests after it wait until it is done. A
    // write begins only as the tick's first request: its completion is sent from the write thread,
    // and must not overtake the callbacks this tick has gathered but not yet sent.
    bool first = true;
    while (AsyncRequest* request = requests_.Begin(lastQueued, first)) {
        first = false;
        if (request->operation == Operation::Write && !request->serverHandles.empty()) return true;
        std::optional<GroupCallback> callback;
        if (!request->serverHandles.empty()) callback = ExecuteRead(*request);
        requests_.End();
        if (callback && !callback->sinks.empty()) outbox.push_back(std::move(*callback));
    }
    return false;
}

void COPCGroup::ExecuteHandedOverWrite(bool carryOut, CallbackOutbox& outbox) {
    AsyncRequest* request = requests_.Executing();
    if (!request) return;
    std::optional<GroupCallback> callback;
    if (carryOut) callback = ExecuteWrite(*request);
    requests_.End();
    if (callback && !callback->sinks.empty()) {
        callback->serverGroupHandle = serverGroupHandle_;
        outbox.push_back(std::move(*callback));
    }
}

std::optional<GroupCallback> COPCGroup::ExecuteRead(const AsyncRequest& request) {
    if (request.cancelled) return CallbackFor(GroupCallback::Kind::CancelComplete, request);
    if (context_.addressSpace.GetPointCount() == 0) return std::nullopt;
    const bool refresh = request.operation == Operation::Refresh;
    bool groupActive = false;
    const std::size_t count = request.serverHandles.size();
    const std::vector<ItemView> views =
        ViewItems(static_cast<DWORD>(count), request.serverHandles.data(), groupActive, refresh);
    // A refresh of a group deactivated since the call has nothing to report.
    if (refresh && !groupActive) return std::nullopt;

    GroupCallback callback =
        CallbackFor(refresh ? GroupCallback::Kind::DataChange : GroupCallback::Kind::ReadComplete, request);
    callback.clientHandles.assign(count, 0);
    callback.values.resize(count);
    for (VARIANT& value : callback.values) VariantInit(&value);
    callback.qualities.assign(count, 0);
    callback.timestamps.assign(count, FILETIME{});
    callback.errors.assign(count, S_OK);
    FILETIME now;
    CoFileTimeNow(&now);
    for (std::size_t i = 0; i < count; ++i) {
        if (request.cancelled) return CallbackFor(GroupCallback::Kind::CancelComplete, request);
        const ItemView& item = views[i];
        HRESULT& error = callback.errors[i];
        if (!item.found) {
            error = E_FAIL;  // removed since the call
            callback.masterError = S_FALSE;
            continue;
        }
        callback.clientHandles[i] = item.clientHandle;
        if (!item.point->descriptor().IsReadable()) {
            error = OPC_E_BADRIGHTS;
            callback.masterError = S_FALSE;
            continue;
        }
        if (refresh && !item.active) {
            error = E_FAIL;  // deactivated since the call
            callback.masterError = S_FALSE;
            continue;
        }
        bool fromCache = request.source == Source::Cache;
        if (request.source == Source::ByMaxAge) {
            // A read of an inactive group or item has no cache worth serving.
            fromCache = (refresh || (groupActive && item.active)) &&
                        ServeFromCache(item.cache.timestamp, request.maxAges[i], now);
        }
        values::ValueRecord record = item.cache;
        if (!fromCache && !DeviceRead(request.serverHandles[i], item, record, true)) {
            error = E_FAIL;
        } else {
            error = values::GetValue(record, item.point->canonicalType(), item.requestedType, &callback.values[i],
                                     &callback.qualities[i], &callback.timestamps[i]);
        }
        if (FAILED(error)) callback.masterQuality = callback.masterError = S_FALSE;
    }
    if (refresh) table_->SetLastUpdateTime(now);
    return callback;
}

std::optional<GroupCallback> COPCGroup::ExecuteWrite(AsyncRequest& request) {
    if (request.cancelled) return CallbackFor(GroupCallback::Kind::CancelComplete, request);
    if (context_.addressSpace.GetPointCount() == 0) return std::nullopt;
    bool groupActive = false;
    const std::size_t count = request.serverHandles.size();
    const std::vector<ItemView> views = ViewItems(static_cast<DWORD>(count), request.serverHandles.data(), groupActive);

    GroupCallback callback = CallbackFor(GroupCallback::Kind::WriteComplete, request);
    callback.clientHandles.assign(count, 0);
    callback.errors.assign(count, S_OK);
    for (std::size_t i = 0; i < count; ++i) {
        if (request.cancelled) return CallbackFor(GroupCallback::Kind::CancelComplete, request);
        const ItemView& item = views[i];
        HRESULT& error = callback.errors[i];
        if (!item.found) {
            error = E_FAIL;  // removed since the call
        } else {
            callback.clientHandles[i] = item.clientHandle;
            OPCITEMVQT& write = request.writes[i];
            error = WriteItem(item, write.vDataValue, write.bQualitySpecified ? &write.wQuality : nullptr,
                              write.bTimeStampSpecified ? &write.ftTimeStamp : nullptr);
        }
        if (!IsWriteSuccess(error)) callback.masterError = S_FALSE;
    }
    return callback;
}
