// IOPCItemProperties of the server object: the properties of one point, named by item ID. Values
// come from the point item (its descriptor and its cache); nothing here reads the database.
#include "server/opc_server.h"

#include "addrspace/address_space.h"
#include "addrspace/item_properties.h"
#include "com/com_boundary.h"
#include "com/string_convert.h"
#include "com/task_memory.h"
#include "group/item_resolution.h"
#include "opcerror.h"

using korvex::com::ErrorArray;
using korvex::com::TaskArray;

namespace {

// The point an IOPCItemProperties call names: E_INVALIDARG for an empty ID, then the codes of item
// resolution (OPC_E_INVALIDITEMID, OPC_E_UNKNOWNITEMID, E_FAIL for a branch).
ResolvedPoint ResolvePropertyOwner(const ServerContext& context, LPCWSTR itemId) {
    const COPCAddressSpaceMgt& space = context.addressSpace;
    if (context.state.IsFailed() || !space.IsBuilt()) return {E_FAIL, nullptr};
    if (itemId == nullptr || *itemId == L'\0') return {E_INVALIDARG, nullptr};
    return ResolvePoint(space, itemId, KindAliases::ignore);
}

}  // namespace

HRESULT COPCServer::QueryAvailableProperties(LPWSTR szItemID, DWORD* pdwCount, DWORD** ppPropertyIDs,
                                             LPWSTR** ppDescriptions, VARTYPE** ppvtDataTypes) try {
    if (!pdwCount || !ppPropertyIDs || !ppDescriptions || !ppvtDataTypes) return E_POINTER;
    *pdwCount = 0;
    *ppPropertyIDs = nullptr;
    *ppDescriptions = nullptr;
    *ppvtDataTypes = nullptr;
    const ResolvedPoint owner = ResolvePropertyOwner(context_, szItemID);
    if (FAILED(owner.error)) return owner.error;

    const auto records = owner.point->properties();
    TaskArray<DWORD> ids;
    TaskArray<LPWSTR, korvex::com::FreeTaskString> descriptions;
    TaskArray<VARTYPE> types;
    if (FAILED(ids.allocate(records.size())) || FAILED(descriptions.allocate(records.size())) ||
        FAILED(types.allocate(records.size())))
        return E_OUTOFMEMORY;
    for (std::size_t i = 0; i < records.size(); ++i) {
        ids[i] = records[i].id;
        types[i] = records[i].type;
        if (const HRESULT hr = properties::DescribeProperty(records[i].id, &descriptions[i]); FAILED(hr)) return hr;
    }
    *pdwCount = static_cast<DWORD>(records.size());
    *ppPropertyIDs = ids.release();
    *ppDescriptions = descriptions.release();
    *ppvtDataTypes = types.release();
    return S_OK;
} catch (...) {
    return korvex::com::ExceptionToHResult();
}

HRESULT COPCServer::GetItemProperties(LPWSTR szItemID, DWORD dwCount, DWORD* pdwPropertyIDs, VARIANT** ppvData,
                                      HRESULT** ppErrors) try {
    if (!ppvData || !ppErrors) return E_POINTER;
    if (dwCount == 0 || pdwPropertyIDs == nullptr) return E_INVALIDARG;
    *ppvData = nullptr;
    *ppErrors = nullptr;
    const ResolvedPoint owner = ResolvePropertyOwner(context_, szItemID);
    if (FAILED(owner.error)) return owner.error;

    TaskArray<VARIANT, korvex::com::ClearVariant> data;
    ErrorArray errors;
    if (FAILED(data.allocate(dwCount)) || FAILED(errors.allocate(dwCount))) return E_OUTOFMEMORY;
    const values::ValueRecord cache = owner.point->Snapshot();
    for (DWORD i = 0; i < dwCount; ++i) {
        const PropertyRecord* record = owner.point->FindProperty(pdwPropertyIDs[i]);
        errors[i] = record ? properties::PropertyValue(*owner.point, cache, *record, &data[i]) : OPC_E_INVALID_PID;
    }
    const HRESULT result = korvex::com::itemsResult(errors.items());
    *ppvData = data.release();
    *ppErrors = errors.release();
    return result;
} catch (...) {
    return korvex::com::ExceptionToHResult();
}

HRESULT COPCServer::LookupItemIDs(LPWSTR szItemID, DWORD dwCount, DWORD* pdwPropertyIDs, LPWSTR** ppszNewItemIDs,
                                  HRESULT** ppErrors) try {
    if (!ppszNewItemIDs || !ppErrors) return E_POINTER;
    if (dwCount == 0 || pdwPropertyIDs == nullptr) return E_INVALIDARG;
    *ppszNewItemIDs = nullptr;
    *ppErrors = nullptr;
    const ResolvedPoint owner = ResolvePropertyOwner(context_, szItemID);
    if (FAILED(owner.error)) return owner.error;

    TaskArray<LPWSTR, korvex::com::FreeTaskString> itemIds;
    ErrorArray errors;
    if (FAILED(itemIds.allocate(dwCount)) || FAILED(errors.allocate(dwCount))) return E_OUTOFMEMORY;
    // Built from the ID as the client spelled it, which came back unchanged from the code page.
    const std::string pointItemId = korvex::com::toNarrow(szItemID);
    for (DWORD i = 0; i < dwCount; ++i) {
        const PropertyRecord* record = owner.point->FindProperty(pdwPropertyIDs[i]);
        if (!record) {
            errors[i] = OPC_E_INVALID_PID;
            continue;
        }
        itemIds[i] = korvex::com::taskStringCopy(korvex::com::toWide(properties::PropertyItemId(pointItemId, *record)))
                         .release();
        errors[i] = itemIds[i] ? S_OK : E_OUTOFMEMORY;
    }
    const HRESULT result = korvex::com::itemsResult(errors.items());
    *ppszNewItemIDs = itemIds.release();
    *ppErrors = errors.release();
    return result;
} catch (...) {
    return korvex::com::ExceptionToHResult();
}
