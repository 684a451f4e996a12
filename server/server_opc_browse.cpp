// IOPCBrowse of the server object: DA 3.0 browsing of any node by item ID, paged through the
// process-wide continuation record, and the properties of many items at once.
#include "server/opc_server.h"

#include "addrspace/address_space.h"
#include "addrspace/item_properties.h"
#include "addrspace/opc_browse.h"
#include "com/com_boundary.h"
#include "com/string_convert.h"
#include "com/task_memory.h"
#include "opcerror.h"

using korvex::com::TaskArray;

namespace {

std::wstring Text(LPCWSTR text) { return text ? std::wstring(text) : std::wstring(); }

}  // namespace

HRESULT COPCServer::GetProperties(DWORD dwItemCount, LPWSTR* pszItemIDs, BOOL bReturnPropertyValues,
                                  DWORD dwPropertyCount, DWORD* pdwPropertyIDs,
                                  OPCITEMPROPERTIES** ppItemProperties) try {
    if (context_.state.IsFailed()) return E_FAIL;
    if (ppItemProperties == nullptr || pszItemIDs == nullptr) return E_POINTER;
    *ppItemProperties = nullptr;
    if (dwItemCount == 0 || (dwPropertyCount > 0 && pdwPropertyIDs == nullptr)) return E_INVALIDARG;
    const COPCAddressSpaceMgt& space = context_.addressSpace;
    if (!space.IsBuilt()) return E_FAIL;

    TaskArray<OPCITEMPROPERTIES, properties::ClearItemProperties> records;
    if (FAILED(records.allocate(dwItemCount))) return E_OUTOFMEMORY;
    const bool withValues = bReturnPropertyValues != FALSE;
    for (DWORD i = 0; i < dwItemCount; ++i) {
        OPCITEMPROPERTIES& record = records[i];
        std::string itemId;
        if (pszItemIDs[i] == nullptr || !COPCAddressSpaceMgt::NarrowItemId(pszItemIDs[i], itemId)) {
            record.hrErrorID = OPC_E_INVALIDITEMID;
            continue;
        }
        const DWORD nodeId = space.GetNodeId(space.ResolveItemId(itemId));
        if (nodeId == 0) {
            record.hrErrorID = OPC_E_UNKNOWNITEMID;
            continue;
        }
        const COPCItem* point = space.FindPointByNodeId(nodeId);
        if (!point) {
            // A station or kind branch has no properties: its record says so, the others stand.
            record.hrErrorID = E_FAIL;
            continue;
        }
        const HRESULT built = dwPropertyCount > 0 ? properties::GetSelectedProperties(
                                                        point, dwPropertyCount, pdwPropertyIDs, withValues, record)
                                                  : properties::GetAllProperties(point, withValues, record);
        if (FAILED(built)) return built;
    }
    // As everywhere else: S_FALSE when any record failed.
    bool anyFailed = false;
    for (DWORD i = 0; i < dwItemCount; ++i) anyFailed = anyFailed || FAILED(records[i].hrErrorID);
    *ppItemProperties = records.release();
    return anyFailed ? S_FALSE : S_OK;
} catch (...) {
    return korvex::com::ExceptionToHResult();
}

HRESULT COPCServer::Browse(LPWSTR szItemID, LPWSTR* pszContinuationPoint, DWORD dwMaxElementsReturned,
                           OPCBROWSEFILTER dwBrowseFilter, LPWSTR szElementNameFilter, LPWSTR szVendorFilter,
                           BOOL bReturnAllProperties, BOOL bReturnPropertyValues, DWORD dwPropertyCount,
                           DWORD* pdwPropertyIDs, BOOL* pbMoreElements, DWORD* pdwCount,
                           OPCBROWSEELEMENT** ppBrowseElements) try {
    if (context_.state.IsFailed()) return E_FAIL;
    if (!pszContinuationPoint || !pbMoreElements || !pdwCount || !ppBrowseElements) return E_POINTER;
    *pbMoreElements = FALSE;
    *pdwCount = 0;
    *ppBrowseElements = nullptr;
    const COPCAddressSpaceMgt& space = context_.addressSpace;
    if (!space.IsBuilt()) return E_FAIL;
    if (!bReturnAllProperties && dwPropertyCount > 0 && pdwPropertyIDs == nullptr) return E_INVALIDARG;

    browse::BrowseRequest request;
    request.itemId = Text(szItemID);
    request.continuationPoint = Text(*pszContinuationPoint);
    request.maxElements = dwMaxElementsReturned;
    request.browseFilter = dwBrowseFilter;
    request.elementNameFilter = Text(szElementNameFilter);
    request.vendorFilter = Text(szVendorFilter);
    request.returnAllProperties = bReturnAllProperties != FALSE;
    request.returnPropertyValues = bReturnPropertyValues != FALSE;
    request.propertyCount = dwPropertyCount;
    request.propertyIds = pdwPropertyIDs;
    browse::BrowseResult result;
    if (const HRESULT hr = browse::Browse(space, request, result); FAILED(hr)) return hr;

    // The returned point is always a new string, the empty one included.
    korvex::com::TaskString continuation = korvex::com::taskStringCopy(result.continuationPoint);
    if (!continuation) return E_OUTOFMEMORY;
    CoTaskMemFree(*pszContinuationPoint);
    *pszContinuationPoint = continuation.release();
    *pbMoreElements = result.continuationPoint.empty() ? FALSE : TRUE;
    *pdwCount = static_cast<DWORD>(result.elements.size());
    *ppBrowseElements = result.elements.release();
    return S_OK;
} catch (...) {
    return korvex::com::ExceptionToHResult();
}
