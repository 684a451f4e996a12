// IOPCItemMgt of the group: adding, validating, removing and changing items, and enumerating them.
// Every operation holds the group lock over its loop, so that none works on an item that a
// concurrent RemoveItems or the group's destruction takes away.
#include "group/opc_group.h"

#include "addrspace/address_space.h"
#include "com/com_boundary.h"
#include "com/string_convert.h"
#include "com/task_memory.h"
#include "group/item_attributes_enumerator.h"
#include "group/item_resolution.h"
#include "opcerror.h"
#include "values/coercion.h"

using korvex::com::ComPtr;
using korvex::com::ErrorArray;
using korvex::com::TaskArray;

HRESULT COPCGroup::ResolveItems(DWORD count, const OPCITEMDEF* definitions, bool add, OPCITEMRESULT** ppResults,
                                HRESULT** ppErrors) {
    if (const HRESULT gate = CheckGates(); FAILED(gate)) return gate;
    if (ppResults == nullptr || ppErrors == nullptr) return E_POINTER;
    if (count == 0 || definitions == nullptr) return E_INVALIDARG;
    *ppResults = nullptr;
    *ppErrors = nullptr;
    const COPCAddressSpaceMgt& space = context_.addressSpace;
    if (!space.IsBuilt()) return E_FAIL;
    TaskArray<OPCITEMRESULT> results;
    ErrorArray errors;
    if (FAILED(results.allocate(count)) || FAILED(errors.allocate(count))) return E_OUTOFMEMORY;

    std::unique_lock<std::recursive_mutex> guard;
    if (add) guard = std::unique_lock(lock_);
    for (DWORD i = 0; i < count; ++i) {
        const OPCITEMDEF& definition = definitions[i];
        ResolvedPoint resolved = ResolvePoint(space, definition.szItemID, KindAliases::apply);
        if (SUCCEEDED(resolved.error) &&
            !values::IsRequestedTypeAccepted(resolved.point->canonicalType(), definition.vtRequestedDataType))
            resolved.error = OPC_E_BADTYPE;
        errors[i] = resolved.error;
        if (FAILED(resolved.error)) continue;
        const PointDescriptor& descriptor = resolved.point->descriptor();
        results[i].vtCanonicalDataType = descriptor.canonicalType;
        results[i].dwAccessRights = descriptor.accessRights;
        if (!add) continue;
        GroupItem item;
        item.point = resolved.point;
        item.active = definition.bActive != FALSE;
        item.clientHandle = definition.hClient;
        item.requestedType = definition.vtRequestedDataType;
        items_.Append(std::move(item));
        results[i].hServer = resolved.point->serverHandle();
    }
    const HRESULT result = korvex::com::itemsResult(errors.items());
    *ppResults = results.release();
    *ppErrors = errors.release();
    return result;
}

HRESULT COPCGroup::AddItems(DWORD dwCount, OPCITEMDEF* pItemArray, OPCITEMRESULT** ppAddResults,
                            HRESULT** ppErrors) try {
    return ResolveItems(dwCount, pItemArray, true, ppAddResults, ppErrors);
} catch (...) {
    return korvex::com::ExceptionToHResult();
}

HRESULT COPCGroup::ValidateItems(DWORD dwCount, OPCITEMDEF* pItemArray, BOOL /*bBlobUpdate*/,
                                 OPCITEMRESULT** ppValidationResults, HRESULT** ppErrors) try {
    return ResolveItems(dwCount, pItemArray, false, ppValidationResults, ppErrors);
} catch (...) {
    return korvex::com::ExceptionToHResult();
}

template <class Apply>
HRESULT COPCGroup::ForEachHandle(DWORD count, const OPCHANDLE* handles, HRESULT** ppErrors, Apply apply) {
    if (const HRESULT gate = CheckGates(); FAILED(gate)) return gate;
    if (ppErrors == nullptr) return E_POINTER;
    if (count == 0 || handles == nullptr) return E_INVALIDARG;
    *ppErrors = nullptr;
    ErrorArray errors;
    if (FAILED(errors.allocate(count))) return E_OUTOFMEMORY;
    {
        std::lock_guard guard(lock_);
        for (DWORD i = 0; i < count; ++i) {
            GroupItem* item = items_.Find(handles[i]);
            errors[i] = item ? apply(*item, i) : OPC_E_INVALIDHANDLE;
        }
    }
    const HRESULT result = korvex::com::itemsResult(errors.items());
    *ppErrors = errors.release();
    return result;
}

HRESULT COPCGroup::RemoveItems(DWORD dwCount, OPCHANDLE* phServer, HRESULT** ppErrors) try {
    // Queued asynchronous requests keep their handles: they look the items up again when they run.
    return ForEachHandle(dwCount, phServer, ppErrors, [this](GroupItem& item, DWORD) {
        items_.Remove(item.serverHandle());
        return S_OK;
    });
} catch (...) {
    return korvex::com::ExceptionToHResult();
}

HRESULT COPCGroup::SetActiveState(DWORD dwCount, OPCHANDLE* phServer, BOOL bActive, HRESULT** ppErrors) try {
    return ForEachHandle(dwCount, phServer, ppErrors, [this, bActive](GroupItem& item, DWORD) {
        // A deactivated item is emptied, so the next update after reactivation reports it.
        if (item.active && !bActive) values::ResetOutOfService(item.value);
        items_.SetActive(item, bActive != FALSE);
        return S_OK;
    });
} catch (...) {
    return korvex::com::ExceptionToHResult();
}

HRESULT COPCGroup::SetClientHandles(DWORD dwCount, OPCHANDLE* phServer, OPCHANDLE* phClient, HRESULT** ppErrors) try {
    if (phClient == nullptr && dwCount != 0 && phServer != nullptr) return E_INVALIDARG;
    return ForEachHandle(dwCount, phServer, ppErrors, [phClient](GroupItem& item, DWORD i) {
        item.clientHandle = phClient[i];
        return S_OK;
    });
} catch (...) {
    return korvex::com::ExceptionToHResult();
}

HRESULT COPCGroup::SetDatatypes(DWORD dwCount, OPCHANDLE* phServer, VARTYPE* pRequestedDatatypes,
                                HRESULT** ppErrors) try {
    if (pRequestedDatatypes == nullptr && dwCount != 0 && phServer != nullptr) return E_INVALIDARG;
    return ForEachHandle(dwCount, phServer, ppErrors, [pRequestedDatatypes](GroupItem& item, DWORD i) {
        if (!values::IsRequestedTypeAccepted(item.point->canonicalType(), pRequestedDatatypes[i])) return OPC_E_BADTYPE;
        item.requestedType = pRequestedDatatypes[i];
        return S_OK;
    });
} catch (...) {
    return korvex::com::ExceptionToHResult();
}

HRESULT COPCGroup::CreateEnumerator(REFIID riid, LPUNKNOWN* ppUnk) try {
    if (const HRESULT gate = CheckGates(); FAILED(gate)) return gate;
    if (ppUnk == nullptr) return E_POINTER;
    *ppUnk = nullptr;
    if (riid != IID_IEnumOPCItemAttributes) return E_INVALIDARG;
    std::vector<ItemAttributes> snapshot;
    {
        std::lock_guard guard(lock_);
        snapshot.reserve(items_.size());
        for (const GroupItem& item : items_.list()) {
            const PointDescriptor& descriptor = item.point->descriptor();
            snapshot.push_back(ItemAttributes{L"", korvex::com::toWide(item.point->itemId()),
                                              item.active ? TRUE : FALSE, item.clientHandle, item.serverHandle(),
                                              descriptor.accessRights, item.requestedType, descriptor.canonicalType});
        }
    }
    if (snapshot.empty()) return S_FALSE;
    ComPtr<ItemAttributesEnumerator> enumerator = korvex::com::make<ItemAttributesEnumerator>(std::move(snapshot));
    if (!enumerator) return E_OUTOFMEMORY;
    return enumerator->QueryInterface(riid, reinterpret_cast<void**>(ppUnk));
} catch (...) {
    return korvex::com::ExceptionToHResult();
}
