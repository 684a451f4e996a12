// What IOPCBrowseServerAddressSpace::BrowseOPCItemIDs lists below a browse position.
#pragma once

#include "addrspace/address_space.h"

#include <string>
#include <string_view>
#include <vector>

namespace browse {

// OPC_FLAT: the full item IDs of every leaf below `position` that passes the name filter (matched
// against the full ID) and the leaf filters, in breadth-first order. Any other type: the names of
// the position's children (OPC_BRANCH: branches only, OPC_LEAF: leaves only) that pass the name
// filter, leaves also the leaf filters. Costs time linear in the nodes below the position.
std::vector<std::wstring> BrowseItemIds(const COPCAddressSpaceMgt& space, COPCAddressSpaceMgt::NodeNumber position,
                                        DWORD browseType, std::wstring_view filter, VARTYPE dataType,
                                        DWORD accessRights);

}  // namespace browse
