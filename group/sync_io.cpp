// IOPCSyncIO and IOPCSyncIO2 of the group: reads from the cache or the database, writes to the
// runtime. Items are looked up under the group lock; a database read or a write holds only the
// point's lock, never the group's, so a slow runtime delays no other group.
#include "group/opc_group.h"

#include "addrspace/address_space.h"
#include "com/com_boundary.h"
#include "com/task_memory.h"
#include "group/freshness.h"
#include "group/item_checks.h"
#include "group/max_age_read_results.h"
#include "group/tested_write.h"
#include "opcerror.h"

#include <unordered_map>

using korvex::com::ErrorArray;
using korvex::com::TaskArray;

namespace {

struct ClearItemState {
    void operator()(OPCITEMSTATE& state) const noexcept { VariantClear(&state.vDataValue); }
};

// The entry checks shared by the four calls; S_OK lets the call go on.
HRESULT CheckCall(const COPCAddressSpaceMgt& space, DWORD count, const OPCHANDLE* handles) {
    if (count == 0 || handles == nullptr) return E_INVALIDARG;
    if (space.GetPointCount() == 0) return E_FAIL;
    return S_OK;
}

}  // namespace

std::vector<COPCGroup::ItemView> COPCGroup::ViewItems(DWORD count, const OPCHANDLE* handles, bool& groupActive,
                                                      bool eachItemOnce) {
    std::vector<ItemView> views(count);
    std::unordered_map<OPCHANDLE, std::size_t> seen;  // per handle, how often it came before
    std::lock_guard guard(lock_);
    groupActive = state_.active != FALSE;
    for (DWORD i = 0; i < count; ++i) {
        const std::size_t occurrence = eachItemOnce ? seen[handles[i]]++ : 0;
        const GroupItem* item = items_.Find(handles[i], occurrence);
        if (!item) continue;
        views[i] =
            ItemView{true, item->point, item->clientHandle, item->requestedType, item->active, item->value, occurrence};
    }
    return views;
}

bool COPCGroup::DeviceRead(OPCHANDLE serverHandle, const ItemView& view, values::ValueRecord& reading,
                           bool onceThisTick) {
    if (!context_.addressSpace.ReadPointIntoCache(*view.point, reading, onceThisTick)) return false;
    // The point's lock is let go before the group's is taken: the update cycle takes them the
    // other way round.
    std::lock_guard guard(lock_);
    GroupItem* item = items_.Find(serverHandle, view.occurrence);
    if (item && item->point == view.point) item->value = reading;
    return true;
}

HRESULT COPCGroup::WriteItem(const ItemView& item, const VARIANT& value, const WORD* quality,
                             const FILETIME* timestamp) {
    return TestAndWritePoint(context_.addressSpace, *item.point, value, quality, timestamp);
}

HRESULT COPCGroup::Read(OPCDATASOURCE dwSource, DWORD dwCount, OPCHANDLE* phServer, OPCITEMSTATE** ppItemValues,
                        HRESULT** ppErrors) try {
    if (const HRESULT gate = CheckGates(); FAILED(gate)) return gate;
    if (ppItemValues == nullptr || ppErrors == nullptr) return E_POINTER;
    if (dwCount == 0) return E_INVALIDARG;
    *ppItemValues = nullptr;
    *ppErrors = nullptr;
    if (const HRESULT checked = CheckCall(context_.addressSpace, dwCount, phServer); FAILED(checked)) return checked;
    TaskArray<OPCITEMSTATE, ClearItemState> states;
    ErrorArray errors;
    if (FAILED(states.allocate(dwCount)) || FAILED(errors.allocate(dwCount))) return E_OUTOFMEMORY;

    bool groupActive = false;
    const std::vector<ItemView> views = ViewItems(dwCount, phServer, groupActive);
    for (DWORD i = 0; i < dwCount; ++i) {
        const ItemView& item = views[i];
        OPCITEMSTATE& state = states[i];
        if (const HRESULT checked = CheckReadable(item); FAILED(checked)) {
            errors[i] = checked;
            continue;
        }
        state.hClient = item.clientHandle;
        values::ValueRecord record = item.cache;
        if (dwSource != OPC_DS_CACHE && !DeviceRead(phServer[i], item, record)) {
            errors[i] = E_FAIL;
            continue;
        }
        errors[i] = values::GetValue(record, item.point->canonicalType(), item.requestedType, &state.vDataValue,
                                     &state.wQuality, &state.ftTimeStamp);
        if (dwSource == OPC_DS_CACHE && SUCCEEDED(errors[i]) && !(groupActive && item.active)) {
            errors[i] = S_FALSE;
            state.wQuality = values::kQualityOutOfService;
        }
    }
    HRESULT result = S_OK;
    for (const HRESULT e : errors.items()) result = (e == S_OK || e == OPC_S_CLAMP) ? result : S_FALSE;
    *ppItemValues = states.release();
    *ppErrors = errors.release();
    return result;
} catch (...) {
    return korvex::com::ExceptionToHResult();
}

HRESULT COPCGroup::ReadMaxAge(DWORD dwCount, OPCHANDLE* phServer, DWORD* pdwMaxAge, VARIANT** ppvValues,
                              WORD** ppwQualities, FILETIME** ppftTimeStamps, HRESULT** ppErrors) try {
    if (const HRESULT gate = CheckGates(); FAILED(gate)) return gate;
    if (!ppvValues || !ppwQualities || !ppftTimeStamps || !ppErrors) return E_POINTER;
    if (dwCount == 0) return E_INVALIDARG;
    *ppvValues = nullptr;
    *ppwQualities = nullptr;
    *ppftTimeStamps = nullptr;
    *ppErrors = nullptr;
    if (pdwMaxAge == nullptr) return E_INVALIDARG;
    if (const HRESULT checked = CheckCall(context_.addressSpace, dwCount, phServer); FAILED(checked)) return checked;
    MaxAgeReadResults results;
    if (FAILED(results.Allocate(dwCount))) return E_OUTOFMEMORY;

    bool groupActive = false;
    const std::vector<ItemView> views = ViewItems(dwCount, phServer, groupActive);
    FILETIME now;
    CoFileTimeNow(&now);
    for (DWORD i = 0; i < dwCount; ++i) {
        const ItemView& item = views[i];
        HRESULT& error = results.errors[i];
        if (const HRESULT checked = CheckReadable(item); FAILED(checked)) {
            error = checked;
            continue;
        }
        // Inactive groups and items have no cache worth serving: they always read the device.
        const bool fromCache = groupActive && item.active && ServeFromCache(item.cache.timestamp, pdwMaxAge[i], now);
        values::ValueRecord record = item.cache;
        if (!fromCache && !DeviceRead(phServer[i], item, record)) {
            error = E_FAIL;
            continue;
        }
        error = values::GetValue(record, item.point->canonicalType(), item.requestedType, &results.values[i],
                                 &results.qualities[i], &results.timestamps[i]);
    }
    return results.HandOut(ppvValues, ppwQualities, ppftTimeStamps, ppErrors);
} catch (...) {
    return korvex::com::ExceptionToHResult();
}

HRESULT COPCGroup::Write(DWORD dwCount, OPCHANDLE* phServer, VARIANT* pItemValues, HRESULT** ppErrors) try {
    if (pItemValues == nullptr && dwCount != 0 && ppErrors != nullptr && SUCCEEDED(CheckGates())) return E_INVALIDARG;
    return WriteItems(dwCount, phServer, ppErrors, [pItemValues](DWORD i) {
        return WriteRequest{&pItemValues[i], nullptr, nullptr};
    });
} catch (...) {
    return korvex::com::ExceptionToHResult();
}

HRESULT COPCGroup::WriteVQT(DWORD dwCount, OPCHANDLE* phServer, OPCITEMVQT* pItemVQT, HRESULT** ppErrors) try {
    if (pItemVQT == nullptr && dwCount != 0 && ppErrors != nullptr && SUCCEEDED(CheckGates())) return E_INVALIDARG;
    return WriteItems(dwCount, phServer, ppErrors, [pItemVQT](DWORD i) {
        const OPCITEMVQT& vqt = pItemVQT[i];
        return WriteRequest{&vqt.vDataValue, vqt.bQualitySpecified ? &vqt.wQuality : nullptr,
                            vqt.bTimeStampSpecified ? &vqt.ftTimeStamp : nullptr};
    });
} catch (...) {
    return korvex::com::ExceptionToHResult();
}

template <class Request>
HRESULT COPCGroup::WriteItems(DWORD dwCount, OPCHANDLE* phServer, HRESULT** ppErrors, Request request) {
    if (const HRESULT gate = CheckGates(); FAILED(gate)) return gate;
    if (ppErrors == nullptr) return E_POINTER;
    if (dwCount == 0) return E_INVALIDARG;
    *ppErrors = nullptr;
    if (const HRESULT checked = CheckCall(context_.addressSpace, dwCount, phServer); FAILED(checked)) return checked;
    ErrorArray errors;
    if (FAILED(errors.allocate(dwCount))) return E_OUTOFMEMORY;
    bool groupActive = false;
    const std::vector<ItemView> views = ViewItems(dwCount, phServer, groupActive);
    for (DWORD i = 0; i < dwCount; ++i) {
        if (!views[i].found) {
            errors[i] = OPC_E_INVALIDHANDLE;
            continue;
        }
        const WriteRequest write = request(i);
        VARIANT value;
        VariantInit(&value);
        if (FAILED(VariantCopy(&value, const_cast<VARIANT*>(write.value)))) {
            errors[i] = E_OUTOFMEMORY;
            continue;
        }
        errors[i] = WriteItem(views[i], value, write.quality, write.timestamp);
        VariantClear(&value);
    }
    const HRESULT result = korvex::com::itemsResult(errors.items());
    *ppErrors = errors.release();
    return result;
}
