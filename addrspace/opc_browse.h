// IOPCBrowse::Browse over the address space: the children of a node, filtered, handed out page by
// page through the process-wide continuation record, with their properties on request.
#pragma once

#include "addrspace/address_space.h"
#include "com/task_memory.h"
#include "opcda.h"

#include <string>
#include <string_view>
#include <vector>

namespace browse {

struct BrowseRequest {
    std::wstring itemId;  // empty: the root
    std::wstring continuationPoint;
    DWORD maxElements = 0;  // 0: no limit
    DWORD browseFilter = OPC_BROWSE_FILTER_ALL;
    std::wstring elementNameFilter;
    std::wstring vendorFilter;
    bool returnAllProperties = false;
    bool returnPropertyValues = false;
    DWORD propertyCount = 0;
    const DWORD* propertyIds = nullptr;
};

void ClearBrowseElement(OPCBROWSEELEMENT& element) noexcept;
struct ClearBrowseElements {
    void operator()(OPCBROWSEELEMENT& element) const noexcept { ClearBrowseElement(element); }
};

struct BrowseResult {
    korvex::com::TaskArray<OPCBROWSEELEMENT, ClearBrowseElements> elements;
    std::wstring continuationPoint;  // empty when nothing remains
};

// OPC_E_INVALIDITEMID for an ID outside the item-ID syntax, OPC_E_UNKNOWNITEMID for one that names
// nothing, OPC_E_INVALIDCONTINUATIONPOINT for a stale or foreign continuation point,
// E_OUTOFMEMORY; S_OK otherwise (also with no elements).
HRESULT Browse(const COPCAddressSpaceMgt& space, const BrowseRequest& request, BrowseResult& result);

// The children list of a node for the element filter and the two name filters, in sibling order.
std::vector<COPCAddressSpaceMgt::NodeNumber> ChildrenList(const COPCAddressSpaceMgt& space,
                                                          COPCAddressSpaceMgt::NodeNumber node, DWORD browseFilter,
                                                          std::wstring_view elementNameFilter,
                                                          std::wstring_view vendorFilter);

}  // namespace browse
