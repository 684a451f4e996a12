// IOPCBrowseServerAddressSpace of the server object: each client walks the tree from a browse
// position of its own. The position is kept as a node, so that it stays valid even where a node's
// item ID does not resolve back to it (a name holding '.').
#include "server/opc_server.h"

#include "addrspace/address_space.h"
#include "addrspace/hierarchical_browse.h"
#include "com/com_boundary.h"
#include "com/standard_enumerators.h"
#include "com/string_convert.h"
#include "com/task_memory.h"

using korvex::com::ComPtr;
using NodeNumber = COPCAddressSpaceMgt::NodeNumber;

namespace {

std::string Narrow(LPCWSTR text) { return text ? korvex::com::toNarrow(text) : std::string(); }

}  // namespace

HRESULT COPCServer::QueryOrganization(OPCNAMESPACETYPE* pNameSpaceType) try {
    if (pNameSpaceType == nullptr) return E_POINTER;
    *pNameSpaceType = OPC_NS_HIERARCHIAL;
    return S_OK;
} catch (...) {
    return korvex::com::ExceptionToHResult();
}

HRESULT COPCServer::ChangeBrowsePosition(OPCBROWSEDIRECTION dwBrowseDirection, LPCWSTR szString) try {
    const COPCAddressSpaceMgt& space = context_.addressSpace;
    if (context_.state.IsFailed() || !space.IsBuilt()) return E_FAIL;
    std::lock_guard guard(lock_);
    const NodeNumber position = browsePosition_ != 0 ? browsePosition_ : space.GetRoot();
    NodeNumber target = 0;
    switch (dwBrowseDirection) {
    case OPC_BROWSE_UP:
        target = space.GetParent(position);  // 0 at the root
        break;
    case OPC_BROWSE_DOWN: target = space.FindChild(position, Narrow(szString)); break;
    default:  // OPC_BROWSE_TO and anything else: an item ID, the empty one being the root
        target = space.ResolveItemId(Narrow(szString));
        break;
    }
    if (target == 0) return E_FAIL;
    browsePosition_ = target;
    return S_OK;
} catch (...) {
    return korvex::com::ExceptionToHResult();
}

HRESULT COPCServer::BrowseOPCItemIDs(OPCBROWSETYPE dwBrowseFilterType, LPCWSTR szFilterCriteria,
                                     VARTYPE vtDataTypeFilter, DWORD dwAccessRightsFilter,
                                     LPENUMSTRING* ppIEnumString) try {
    if (context_.state.IsFailed()) return E_FAIL;
    if (ppIEnumString == nullptr) return E_POINTER;
    *ppIEnumString = nullptr;
    const COPCAddressSpaceMgt& space = context_.addressSpace;
    if (!space.IsBuilt()) return E_FAIL;
    NodeNumber position = 0;
    {
        std::lock_guard guard(lock_);
        position = browsePosition_ != 0 ? browsePosition_ : space.GetRoot();
    }
    std::vector<std::wstring> found =
        browse::BrowseItemIds(space, position, dwBrowseFilterType, szFilterCriteria ? szFilterCriteria : L"",
                              vtDataTypeFilter, dwAccessRightsFilter);
    const bool any = !found.empty();
    ComPtr<korvex::com::StringEnumerator> names = korvex::com::make<korvex::com::StringEnumerator>(std::move(found));
    if (!names) return E_OUTOFMEMORY;
    *ppIEnumString = names.Detach();
    return any ? S_OK : S_FALSE;
} catch (...) {
    return korvex::com::ExceptionToHResult();
}

HRESULT COPCServer::GetItemID(LPWSTR szItemDataID, LPWSTR* szItemID) try {
    if (context_.state.IsFailed()) return E_FAIL;
    if (szItemID == nullptr) return E_POINTER;
    *szItemID = nullptr;
    const COPCAddressSpaceMgt& space = context_.addressSpace;
    if (!space.IsBuilt()) return E_FAIL;
    NodeNumber node = 0;
    {
        std::lock_guard guard(lock_);
        node = browsePosition_ != 0 ? browsePosition_ : space.GetRoot();
    }
    if (szItemDataID != nullptr && *szItemDataID != L'\0') {
        node = space.FindChild(node, korvex::com::toNarrow(szItemDataID));
        if (node == 0) return E_INVALIDARG;
    }
    std::string itemId;
    space.GetFullItemId(node, itemId);
    return korvex::com::taskStringCopy(korvex::com::toWide(itemId), szItemID);
} catch (...) {
    return korvex::com::ExceptionToHResult();
}

HRESULT COPCServer::BrowseAccessPaths(LPCWSTR /*szItemID*/, LPENUMSTRING* ppIEnumString) try {
    if (ppIEnumString == nullptr) return E_POINTER;
    *ppIEnumString = nullptr;
    return E_NOTIMPL;  // the server has no access paths
} catch (...) {
    return korvex::com::ExceptionToHResult();
}
