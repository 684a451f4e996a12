// The group's state, items, deadbands and sampling rates. Canned rules:
//   rates          a requested update rate under 10 ms becomes 10 (OPC_S_UNSUPPORTEDRATE); keep-alive
//                  times and sampling rates are rounded up to 100 ms / 10 ms (OPC_S_UNSUPPORTEDRATE)
//   names          empty: E_INVALIDARG; used by another group of the server: OPC_E_DUPLICATENAME
//   clones         CloneGroup with an empty name names the clone "组<its handle>"; clones are
//                  inactive and private and carry copies of the items
//   items          an item ID of the canned space; its canonical type is its value's; a result's
//                  blob is the definition's blob followed by the access path (UTF-16LE bytes)
//   deadbands      only for numeric items, 0 to 100
#include "canned_group.h"

#include "canned_space.h"
#include "conformance_protocol.h"
#include "opc_memory.h"

#include "com/task_memory.h"
#include "opcerror.h"

#include <algorithm>
#include <cstring>

namespace conformance {

using korvex::com::ComPtr;
using korvex::com::ErrorArray;
using korvex::com::TaskArray;
using korvex::com::taskStringCopy;

namespace {

bool supportedType(VARTYPE type) {
    switch (type) {
    case VT_EMPTY:
    case VT_I2:
    case VT_I4:
    case VT_I8:
    case VT_R4:
    case VT_R8:
    case VT_BOOL:
    case VT_DATE:
    case VT_BSTR:
    case VT_ARRAY | VT_BSTR:
    case VT_ARRAY | VT_R8:
        return true;
    default:
        return false;
    }
}

bool numeric(VARTYPE type) {
    return type == VT_I2 || type == VT_I4 || type == VT_I8 || type == VT_R4 || type == VT_R8;
}

DWORD roundUp(DWORD value, DWORD step) { return value == 0 ? step : (value + step - 1) / step * step; }

// IEnumOPCItemAttributes over a snapshot of the group's items.
struct AttributeItems {
    using Item = CannedGroup::Item;
    using Out = OPCITEMATTRIBUTES;
    static constexpr bool taskArray = true;

    static HRESULT copy(const Item& item, OPCITEMATTRIBUTES& out) noexcept {
        out.bActive = item.active;
        out.hClient = item.clientHandle;
        out.hServer = item.serverHandle;
        out.dwAccessRights = OPC_READABLE | OPC_WRITEABLE;
        out.vtRequestedDataType = item.requestedType;
        out.vtCanonicalDataType = item.canonicalType;
        out.dwEUType = cannedEuType(item.itemId);
        if (FAILED(taskStringCopy(item.accessPath, &out.szAccessPath)) ||
            FAILED(taskStringCopy(item.itemId, &out.szItemID)))
            return E_OUTOFMEMORY;
        if (!item.blob.empty()) {
            out.pBlob = static_cast<BYTE*>(CoTaskMemAlloc(item.blob.size()));
            if (!out.pBlob) return E_OUTOFMEMORY;
            std::memcpy(out.pBlob, item.blob.data(), item.blob.size());
            out.dwBlobSize = static_cast<DWORD>(item.blob.size());
        }
        return cannedEuInfo(item.itemId, &out.vEUInfo);
    }
    static void destroy(OPCITEMATTRIBUTES& out) noexcept { FreeItemAttributes{}(out); }
};

}  // namespace

CannedGroup::CannedGroup(GroupOwner* owner, GroupState state)
    : owner_(owner), state_(std::move(state)),
      callbackPoint_(korvex::com::make<SingleConnectionPoint<IOPCDataCallback>>(this)) {}

void CannedGroup::finalRelease() noexcept {
    if (callbackPoint_) callbackPoint_->detach();
}

std::wstring CannedGroup::name() const {
    std::lock_guard lock(mutex_);
    return state_.name;
}

OPCHANDLE CannedGroup::serverHandle() const {
    std::lock_guard lock(mutex_);
    return state_.serverHandle;
}

bool CannedGroup::isPublic() const {
    std::lock_guard lock(mutex_);
    return public_;
}

void CannedGroup::orphan() {
    std::lock_guard lock(mutex_);
    owner_ = nullptr;
}

CannedGroup::Item* CannedGroup::findItem(OPCHANDLE serverHandle) {
    const auto found = items_.find(serverHandle);
    return found == items_.end() ? nullptr : &found->second;
}

// IOPCGroupStateMgt -------------------------------------------------------------------------------

HRESULT CannedGroup::GetState(DWORD* pUpdateRate, BOOL* pActive, LPWSTR* ppName, LONG* pTimeBias,
                              FLOAT* pPercentDeadband, DWORD* pLCID, OPCHANDLE* phClientGroup,
                              OPCHANDLE* phServerGroup) {
    std::lock_guard lock(mutex_);
    *pUpdateRate = state_.updateRate;
    *pActive = state_.active;
    *pTimeBias = state_.timeBias;
    *pPercentDeadband = state_.percentDeadband;
    *pLCID = state_.lcid;
    *phClientGroup = state_.clientHandle;
    *phServerGroup = state_.serverHandle;
    return taskStringCopy(state_.name, ppName);
}

HRESULT CannedGroup::SetState(DWORD* pRequestedUpdateRate, DWORD* pRevisedUpdateRate, BOOL* pActive,
                              LONG* pTimeBias, FLOAT* pPercentDeadband, DWORD* pLCID, OPCHANDLE* phClientGroup) {
    std::lock_guard lock(mutex_);
    if (pPercentDeadband && (*pPercentDeadband < 0 || *pPercentDeadband > 100)) return E_INVALIDARG;
    HRESULT hr = S_OK;
    if (pRequestedUpdateRate) {
        state_.updateRate = reviseRate(*pRequestedUpdateRate);
        if (state_.updateRate != *pRequestedUpdateRate) hr = OPC_S_UNSUPPORTEDRATE;
    }
    if (pActive) state_.active = *pActive;
    if (pTimeBias) state_.timeBias = *pTimeBias;
    if (pPercentDeadband) state_.percentDeadband = *pPercentDeadband;
    if (pLCID) state_.lcid = *pLCID;
    if (phClientGroup) state_.clientHandle = *phClientGroup;
    *pRevisedUpdateRate = state_.updateRate;
    return hr;
}

HRESULT CannedGroup::SetName(LPCWSTR szName) {
    if (!szName || !*szName) return E_INVALIDARG;
    GroupOwner* owner = nullptr;
    {
        std::lock_guard lock(mutex_);
        owner = owner_;
    }
    if (owner && owner->nameInUse(szName, this)) return OPC_E_DUPLICATENAME;
    std::lock_guard lock(mutex_);
    state_.name = szName;
    return S_OK;
}

HRESULT CannedGroup::CloneGroup(LPCWSTR szName, REFIID riid, LPUNKNOWN* ppUnk) {
    *ppUnk = nullptr;
    GroupOwner* owner = nullptr;
    {
        std::lock_guard lock(mutex_);
        owner = owner_;
    }
    if (!owner) return E_FAIL;
    const OPCHANDLE handle = owner->newGroupHandle();
    const std::wstring name = szName && *szName ? std::wstring(szName) : L"\u7ec4" + std::to_wstring(handle);
    if (owner->nameInUse(name, nullptr)) return OPC_E_DUPLICATENAME;

    GroupState state;
    {
        std::lock_guard lock(mutex_);
        state = state_;
    }
    state.name = name;
    state.serverHandle = handle;
    state.active = FALSE;
    ComPtr<CannedGroup> clone = korvex::com::make<CannedGroup>(owner, state);
    if (!clone) return E_OUTOFMEMORY;
    {
        std::lock_guard lock(mutex_);
        for (const auto& [serverHandle, item] : items_) {
            Item& copy = clone->items_[serverHandle];
            copy.accessPath = item.accessPath;
            copy.itemId = item.itemId;
            copy.active = item.active;
            copy.clientHandle = item.clientHandle;
            copy.serverHandle = item.serverHandle;
            copy.blob = item.blob;
            copy.requestedType = item.requestedType;
            copy.canonicalType = item.canonicalType;
            copy.quality = item.quality;
            copy.timestamp = item.timestamp;
            copy.deadband = item.deadband;
            copy.samplingRate = item.samplingRate;
            copy.bufferEnable = item.bufferEnable;
            if (const HRESULT hr = copy.value.copyFrom(item.value.get()); FAILED(hr)) return hr;
        }
        clone->lastItemHandle_ = lastItemHandle_;
    }
    if (const HRESULT hr = clone->QueryInterface(riid, reinterpret_cast<void**>(ppUnk)); FAILED(hr)) return hr;
    if (const HRESULT hr = owner->adopt(clone); FAILED(hr)) {
        (*ppUnk)->Release();
        *ppUnk = nullptr;
        return hr;
    }
    return S_OK;
}

HRESULT CannedGroup::SetKeepAlive(DWORD dwKeepAliveTime, DWORD* pdwRevisedKeepAliveTime) {
    std::lock_guard lock(mutex_);
    state_.keepAlive = dwKeepAliveTime == 0 ? 0 : roundUp(dwKeepAliveTime, 100);
    *pdwRevisedKeepAliveTime = state_.keepAlive;
    return state_.keepAlive == dwKeepAliveTime ? S_OK : OPC_S_UNSUPPORTEDRATE;
}

HRESULT CannedGroup::GetKeepAlive(DWORD* pdwKeepAliveTime) {
    std::lock_guard lock(mutex_);
    *pdwKeepAliveTime = state_.keepAlive;
    return S_OK;
}

// IOPCPublicGroupStateMgt -------------------------------------------------------------------------

HRESULT CannedGroup::GetState(BOOL* pPublic) {
    std::lock_guard lock(mutex_);
    *pPublic = public_;
    return S_OK;
}

HRESULT CannedGroup::MoveToPublic() {
    std::lock_guard lock(mutex_);
    if (public_) return OPC_E_PUBLIC;
    public_ = true;
    return S_OK;
}

// IOPCItemMgt -------------------------------------------------------------------------------------

HRESULT CannedGroup::checkDefinition(const OPCITEMDEF& definition, bool withBlob, OPCITEMRESULT& result,
                                     korvex::com::Variant& value) {
    if (!definition.szItemID) return OPC_E_INVALIDITEMID;
    if (const HRESULT hr = cannedValue(definition.szItemID, value.put()); FAILED(hr)) return hr;
    if (!supportedType(definition.vtRequestedDataType)) return OPC_E_BADTYPE;
    result.vtCanonicalDataType = value.type();
    result.dwAccessRights = OPC_READABLE | OPC_WRITEABLE;
    if (!withBlob) return S_OK;
    const std::size_t pathBytes = definition.szAccessPath ? std::wcslen(definition.szAccessPath) * 2 : 0;
    const std::size_t size = definition.dwBlobSize + pathBytes;
    if (size == 0) return S_OK;
    result.pBlob = static_cast<BYTE*>(CoTaskMemAlloc(size));
    if (!result.pBlob) return E_OUTOFMEMORY;
    if (definition.dwBlobSize) std::memcpy(result.pBlob, definition.pBlob, definition.dwBlobSize);
    if (pathBytes) std::memcpy(result.pBlob + definition.dwBlobSize, definition.szAccessPath, pathBytes);
    result.dwBlobSize = static_cast<DWORD>(size);
    return S_OK;
}

HRESULT CannedGroup::AddItems(DWORD dwCount, OPCITEMDEF* pItemArray, OPCITEMRESULT** ppAddResults,
                              HRESULT** ppErrors) {
    *ppAddResults = nullptr;
    *ppErrors = nullptr;
    if (dwCount == 0) return E_INVALIDARG;
    TaskArray<OPCITEMRESULT, FreeItemResult> results;
    ErrorArray errors;
    if (FAILED(results.allocate(dwCount)) || FAILED(errors.allocate(dwCount))) return E_OUTOFMEMORY;
    std::lock_guard lock(mutex_);
    for (DWORD i = 0; i < dwCount; ++i) {
        const OPCITEMDEF& definition = pItemArray[i];
        korvex::com::Variant value;
        errors[i] = checkDefinition(definition, true, results[i], value);
        if (FAILED(errors[i])) {
            FreeItemResult{}(results[i]);
            continue;
        }
        const OPCHANDLE handle = ++lastItemHandle_;
        results[i].hServer = handle;
        Item& item = items_[handle];
        item.accessPath = definition.szAccessPath ? definition.szAccessPath : L"";
        item.itemId = definition.szItemID;
        item.active = definition.bActive;
        item.clientHandle = definition.hClient;
        item.serverHandle = handle;
        item.blob.assign(definition.pBlob, definition.pBlob + definition.dwBlobSize);
        item.requestedType = definition.vtRequestedDataType;
        item.canonicalType = value.type();
        item.value = std::move(value);
        item.quality = kCannedQuality;
        item.timestamp = kCannedTimestamp;
    }
    const HRESULT hr = korvex::com::itemsResult(errors.items());
    *ppAddResults = results.release();
    *ppErrors = errors.release();
    return hr;
}

HRESULT CannedGroup::ValidateItems(DWORD dwCount, OPCITEMDEF* pItemArray, BOOL bBlobUpdate,
                                   OPCITEMRESULT** ppValidationResults, HRESULT** ppErrors) {
    *ppValidationResults = nullptr;
    *ppErrors = nullptr;
    if (dwCount == 0) return E_INVALIDARG;
    TaskArray<OPCITEMRESULT, FreeItemResult> results;
    ErrorArray errors;
    if (FAILED(results.allocate(dwCount)) || FAILED(errors.allocate(dwCount))) return E_OUTOFMEMORY;
    for (DWORD i = 0; i < dwCount; ++i) {
        korvex::com::Variant value;
        errors[i] = checkDefinition(pItemArray[i], bBlobUpdate, results[i], value);
        if (FAILED(errors[i])) FreeItemResult{}(results[i]);
    }
    const HRESULT hr = korvex::com::itemsResult(errors.items());
    *ppValidationResults = results.release();
    *ppErrors = errors.release();
    return hr;
}

namespace {

// Runs `each` for every handle and hands out the per-item codes: the pattern of every call
// that only changes items.
template <class Each>
HRESULT forEachHandle(DWORD count, HRESULT** ppErrors, Each each) {
    *ppErrors = nullptr;
    if (count == 0) return E_INVALIDARG;
    ErrorArray errors;
    if (FAILED(errors.allocate(count))) return E_OUTOFMEMORY;
    for (DWORD i = 0; i < count; ++i) errors[i] = each(i);
    const HRESULT hr = korvex::com::itemsResult(errors.items());
    *ppErrors = errors.release();
    return hr;
}

}  // namespace

HRESULT CannedGroup::RemoveItems(DWORD dwCount, OPCHANDLE* phServer, HRESULT** ppErrors) {
    std::lock_guard lock(mutex_);
    return forEachHandle(dwCount, ppErrors,
                         [&](DWORD i) { return items_.erase(phServer[i]) ? S_OK : OPC_E_INVALIDHANDLE; });
}

HRESULT CannedGroup::SetActiveState(DWORD dwCount, OPCHANDLE* phServer, BOOL bActive, HRESULT** ppErrors) {
    std::lock_guard lock(mutex_);
    return forEachHandle(dwCount, ppErrors, [&](DWORD i) {
        Item* item = findItem(phServer[i]);
        if (!item) return OPC_E_INVALIDHANDLE;
        item->active = bActive;
        return S_OK;
    });
}

HRESULT CannedGroup::SetClientHandles(DWORD dwCount, OPCHANDLE* phServer, OPCHANDLE* phClient, HRESULT** ppErrors) {
    std::lock_guard lock(mutex_);
    return forEachHandle(dwCount, ppErrors, [&](DWORD i) {
        Item* item = findItem(phServer[i]);
        if (!item) return OPC_E_INVALIDHANDLE;
        item->clientHandle = phClient[i];
        return S_OK;
    });
}

HRESULT CannedGroup::SetDatatypes(DWORD dwCount, OPCHANDLE* phServer, VARTYPE* pRequestedDatatypes,
                                  HRESULT** ppErrors) {
    std::lock_guard lock(mutex_);
    return forEachHandle(dwCount, ppErrors, [&](DWORD i) {
        Item* item = findItem(phServer[i]);
        if (!item) return OPC_E_INVALIDHANDLE;
        if (!supportedType(pRequestedDatatypes[i])) return OPC_E_BADTYPE;
        item->requestedType = pRequestedDatatypes[i];
        return S_OK;
    });
}

HRESULT CannedGroup::CreateEnumerator(REFIID riid, LPUNKNOWN* ppUnk) {
    *ppUnk = nullptr;
    if (riid != IID_IEnumOPCItemAttributes && riid != IID_IUnknown) return E_NOINTERFACE;
    std::vector<Item> snapshot;
    {
        std::lock_guard lock(mutex_);
        for (const auto& [handle, item] : items_) {
            Item& copy = snapshot.emplace_back();
            copy.accessPath = item.accessPath;
            copy.itemId = item.itemId;
            copy.active = item.active;
            copy.clientHandle = item.clientHandle;
            copy.serverHandle = item.serverHandle;
            copy.blob = item.blob;
            copy.requestedType = item.requestedType;
            copy.canonicalType = item.canonicalType;
        }
    }
    if (snapshot.empty()) return S_FALSE;
    using AttributeEnumerator = korvex::com::Enumerator<IEnumOPCItemAttributes, AttributeItems>;
    ComPtr<AttributeEnumerator> enumerator = korvex::com::make<AttributeEnumerator>(std::move(snapshot));
    if (!enumerator) return E_OUTOFMEMORY;
    return enumerator->QueryInterface(riid, reinterpret_cast<void**>(ppUnk));
}

// IOPCItemDeadbandMgt -----------------------------------------------------------------------------

HRESULT CannedGroup::SetItemDeadband(DWORD dwCount, OPCHANDLE* phServer, FLOAT* pPercentDeadband,
                                     HRESULT** ppErrors) {
    std::lock_guard lock(mutex_);
    return forEachHandle(dwCount, ppErrors, [&](DWORD i) {
        Item* item = findItem(phServer[i]);
        if (!item) return OPC_E_INVALIDHANDLE;
        if (!numeric(item->canonicalType)) return OPC_E_DEADBANDNOTSUPPORTED;
        if (pPercentDeadband[i] < 0 || pPercentDeadband[i] > 100) return E_INVALIDARG;
        item->deadband = pPercentDeadband[i];
        return S_OK;
    });
}

HRESULT CannedGroup::GetItemDeadband(DWORD dwCount, OPCHANDLE* phServer, FLOAT** ppPercentDeadband,
                                     HRESULT** ppErrors) {
    *ppPercentDeadband = nullptr;
    TaskArray<FLOAT> deadbands;
    if (FAILED(deadbands.allocate(dwCount))) return E_OUTOFMEMORY;
    std::lock_guard lock(mutex_);
    const HRESULT hr = forEachHandle(dwCount, ppErrors, [&](DWORD i) {
        Item* item = findItem(phServer[i]);
        if (!item) return OPC_E_INVALIDHANDLE;
        if (!numeric(item->canonicalType)) return OPC_E_DEADBANDNOTSUPPORTED;
        if (!item->deadband) return OPC_E_DEADBANDNOTSET;
        deadbands[i] = *item->deadband;
        return S_OK;
    });
    if (SUCCEEDED(hr)) *ppPercentDeadband = deadbands.release();
    return hr;
}

HRESULT CannedGroup::ClearItemDeadband(DWORD dwCount, OPCHANDLE* phServer, HRESULT** ppErrors) {
    std::lock_guard lock(mutex_);
    return forEachHandle(dwCount, ppErrors, [&](DWORD i) {
        Item* item = findItem(phServer[i]);
        if (!item) return OPC_E_INVALIDHANDLE;
        if (!numeric(item->canonicalType)) return OPC_E_DEADBANDNOTSUPPORTED;
        if (!item->deadband) return OPC_E_DEADBANDNOTSET;
        item->deadband.reset();
        return S_OK;
    });
}

// IOPCItemSamplingMgt -----------------------------------------------------------------------------

HRESULT CannedGroup::SetItemSamplingRate(DWORD dwCount, OPCHANDLE* phServer, DWORD* pdwRequestedSamplingRate,
                                         DWORD** ppdwRevisedSamplingRate, HRESULT** ppErrors) {
    *ppdwRevisedSamplingRate = nullptr;
    TaskArray<DWORD> revised;
    if (FAILED(revised.allocate(dwCount))) return E_OUTOFMEMORY;
    std::lock_guard lock(mutex_);
    const HRESULT hr = forEachHandle(dwCount, ppErrors, [&](DWORD i) {
        Item* item = findItem(phServer[i]);
        if (!item) return OPC_E_INVALIDHANDLE;
        item->samplingRate = roundUp(pdwRequestedSamplingRate[i], 10);
        revised[i] = *item->samplingRate;
        return revised[i] == pdwRequestedSamplingRate[i] ? S_OK : OPC_S_UNSUPPORTEDRATE;
    });
    if (SUCCEEDED(hr)) *ppdwRevisedSamplingRate = revised.release();
    return hr;
}

HRESULT CannedGroup::GetItemSamplingRate(DWORD dwCount, OPCHANDLE* phServer, DWORD** ppdwSamplingRate,
                                         HRESULT** ppErrors) {
    *ppdwSamplingRate = nullptr;
    TaskArray<DWORD> rates;
    if (FAILED(rates.allocate(dwCount))) return E_OUTOFMEMORY;
    std::lock_guard lock(mutex_);
    const HRESULT hr = forEachHandle(dwCount, ppErrors, [&](DWORD i) {
        Item* item = findItem(phServer[i]);
        if (!item) return OPC_E_INVALIDHANDLE;
        if (!item->samplingRate) return OPC_E_RATENOTSET;
        rates[i] = *item->samplingRate;
        return S_OK;
    });
    if (SUCCEEDED(hr)) *ppdwSamplingRate = rates.release();
    return hr;
}

HRESULT CannedGroup::ClearItemSamplingRate(DWORD dwCount, OPCHANDLE* phServer, HRESULT** ppErrors) {
    std::lock_guard lock(mutex_);
    return forEachHandle(dwCount, ppErrors, [&](DWORD i) {
        Item* item = findItem(phServer[i]);
        if (!item) return OPC_E_INVALIDHANDLE;
        if (!item->samplingRate) return OPC_E_RATENOTSET;
        item->samplingRate.reset();
        return S_OK;
    });
}

HRESULT CannedGroup::SetItemBufferEnable(DWORD dwCount, OPCHANDLE* phServer, BOOL* pbEnable, HRESULT** ppErrors) {
    std::lock_guard lock(mutex_);
    return forEachHandle(dwCount, ppErrors, [&](DWORD i) {
        Item* item = findItem(phServer[i]);
        if (!item) return OPC_E_INVALIDHANDLE;
        item->bufferEnable = pbEnable[i];
        return S_OK;
    });
}

HRESULT CannedGroup::GetItemBufferEnable(DWORD dwCount, OPCHANDLE* phServer, BOOL** ppbEnable, HRESULT** ppErrors) {
    *ppbEnable = nullptr;
    TaskArray<BOOL> enabled;
    if (FAILED(enabled.allocate(dwCount))) return E_OUTOFMEMORY;
    std::lock_guard lock(mutex_);
    const HRESULT hr = forEachHandle(dwCount, ppErrors, [&](DWORD i) {
        Item* item = findItem(phServer[i]);
        if (!item) return OPC_E_INVALIDHANDLE;
        enabled[i] = item->bufferEnable;
        return S_OK;
    });
    if (SUCCEEDED(hr)) *ppbEnable = enabled.release();
    return hr;
}

// IConnectionPointContainer -----------------------------------------------------------------------

HRESULT CannedGroup::EnumConnectionPoints(IEnumConnectionPoints** ppEnum) {
    auto enumerator = korvex::com::make<korvex::com::ConnectionPointEnumerator>(
        std::vector<ComPtr<IConnectionPoint>>{ComPtr<IConnectionPoint>(callbackPoint_.Get())});
    if (!enumerator) return E_OUTOFMEMORY;
    *ppEnum = enumerator.Detach();
    return S_OK;
}

HRESULT CannedGroup::FindConnectionPoint(REFIID riid, IConnectionPoint** ppCP) {
    *ppCP = nullptr;
    if (riid != IID_IOPCDataCallback) return CONNECT_E_NOCONNECTION;
    *ppCP = ComPtr<IConnectionPoint>(callbackPoint_.Get()).Detach();
    return S_OK;
}

}  // namespace conformance
