#include "addrspace/hierarchical_browse.h"

#include "addrspace/browse_filters.h"
#include "com/string_convert.h"
#include "opcda.h"

namespace browse {

std::vector<std::wstring> BrowseItemIds(const COPCAddressSpaceMgt& space, COPCAddressSpaceMgt::NodeNumber position,
                                        DWORD browseType, std::wstring_view filter, VARTYPE dataType,
                                        DWORD accessRights) {
    using NodeNumber = COPCAddressSpaceMgt::NodeNumber;
    std::vector<std::wstring> found;
    if (browseType == OPC_FLAT) {
        // The queue only grows; a read index walks it, so every branch is visited once.
        std::vector<NodeNumber> branches{position};
        std::string itemId;
        for (std::size_t next = 0; next < branches.size(); ++next) {
            for (NodeNumber child = space.GetFirstChild(branches[next]); child != 0; child = space.GetNextSibling(child)) {
                if (!space.IsLeaf(child)) {
                    branches.push_back(child);
                    continue;
                }
                space.GetFullItemId(child, itemId);
                std::wstring wide = korvex::com::toWide(itemId);
                if (PassesNameFilter(wide, filter) && PassesLeafFilters(space, child, dataType, accessRights))
                    found.push_back(std::move(wide));
            }
        }
        return found;
    }
    for (NodeNumber child = space.GetFirstChild(position); child != 0; child = space.GetNextSibling(child)) {
        const bool leaf = space.IsLeaf(child);
        if ((browseType == OPC_BRANCH && leaf) || (browseType == OPC_LEAF && !leaf)) continue;
        std::wstring name = korvex::com::toWide(space.GetNodeName(child));
        if (!PassesNameFilter(name, filter)) continue;
        if (leaf && !PassesLeafFilters(space, child, dataType, accessRights)) continue;
        found.push_back(std::move(name));
    }
    return found;
}

}  // namespace browse
