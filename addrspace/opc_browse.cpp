#include "addrspace/opc_browse.h"

#include "addrspace/browse_filters.h"
#include "addrspace/item_properties.h"
#include "com/string_convert.h"
#include "opcerror.h"

namespace browse {

using NodeNumber = COPCAddressSpaceMgt::NodeNumber;

void ClearBrowseElement(OPCBROWSEELEMENT& element) noexcept {
    CoTaskMemFree(element.szName);
    CoTaskMemFree(element.szItemID);
    properties::ClearProperties(element.ItemProperties);
    element = OPCBROWSEELEMENT{};
}

std::vector<NodeNumber> ChildrenList(const COPCAddressSpaceMgt& space, NodeNumber node, DWORD browseFilter,
                                     std::wstring_view elementNameFilter, std::wstring_view vendorFilter) {
    std::vector<NodeNumber> list;
    for (NodeNumber child = space.GetFirstChild(node); child != 0; child = space.GetNextSibling(child)) {
        const bool leaf = space.IsLeaf(child);
        if ((browseFilter == OPC_BROWSE_FILTER_BRANCHES && leaf) || (browseFilter == OPC_BROWSE_FILTER_ITEMS && !leaf))
            continue;
        if (!elementNameFilter.empty() || !vendorFilter.empty()) {
            const std::wstring name = korvex::com::toWide(space.GetNodeName(child));
            if (!PassesNameFilter(name, elementNameFilter) || !PassesNameFilter(name, vendorFilter)) continue;
        }
        list.push_back(child);
    }
    return list;
}

namespace {

HRESULT FillElement(const COPCAddressSpaceMgt& space, NodeNumber node, const BrowseRequest& request,
                    OPCBROWSEELEMENT& element) {
    std::string itemId;
    space.GetFullItemId(node, itemId);
    element.szName = korvex::com::taskStringCopy(korvex::com::toWide(space.GetNodeName(node))).release();
    element.szItemID = korvex::com::taskStringCopy(korvex::com::toWide(itemId)).release();
    if (!element.szName || !element.szItemID) return E_OUTOFMEMORY;
    if (!space.IsLeaf(node)) {
        element.dwFlagValue = space.GetFirstChild(node) != 0 ? OPC_BROWSE_HASCHILDREN : 0;
        element.ItemProperties.hrErrorID = OPC_E_UNKNOWNITEMID;
        return S_OK;
    }
    element.dwFlagValue = OPC_BROWSE_ISITEM;
    const bool asked = request.returnAllProperties || request.propertyCount > 0;
    if (!asked) return S_OK;
    const COPCItem* point = space.FindPointByNodeId(space.GetNodeId(node));
    if (!point) {
        // A kind branch without points has no properties; that is this element's matter alone.
        element.ItemProperties.hrErrorID = E_FAIL;
        return S_OK;
    }
    return request.returnAllProperties
               ? properties::GetAllProperties(point, request.returnPropertyValues, element.ItemProperties)
               : properties::GetSelectedProperties(point, request.propertyCount, request.propertyIds,
                                                   request.returnPropertyValues, element.ItemProperties);
}

}  // namespace

HRESULT Browse(const COPCAddressSpaceMgt& space, const BrowseRequest& request, BrowseResult& result) {
    std::string itemId;
    if (!request.itemId.empty() && !COPCAddressSpaceMgt::NarrowItemId(request.itemId, itemId)) return OPC_E_INVALIDITEMID;
    const NodeNumber node = space.ResolveItemId(itemId);
    if (node == 0) return OPC_E_UNKNOWNITEMID;

    BrowseContinuation& record = space.browseContinuation();
    BrowseContinuation::Keys keys{request.itemId, request.browseFilter, request.elementNameFilter,
                                  request.vendorFilter};
    BrowseContinuation::Page page;
    if (request.continuationPoint.empty()) {
        if (!record.TakeFirstPage(space, keys, request.maxElements, page)) {
            std::vector<NodeNumber> list =
                ChildrenList(space, node, request.browseFilter, request.elementNameFilter, request.vendorFilter);
            record.Replace(space, std::move(keys), std::move(list), request.maxElements, page);
        }
    } else if (!record.TakePage(space, keys, korvex::com::toNarrow(request.continuationPoint), request.maxElements,
                                page)) {
        return OPC_E_INVALIDCONTINUATIONPOINT;
    }

    if (FAILED(result.elements.allocate(page.nodes.size()))) return E_OUTOFMEMORY;
    for (std::size_t i = 0; i < page.nodes.size(); ++i)
        if (const HRESULT hr = FillElement(space, page.nodes[i], request, result.elements[i]); FAILED(hr)) return hr;
    result.continuationPoint = korvex::com::toWide(page.continuationPoint);
    return S_OK;
}

}  // namespace browse
