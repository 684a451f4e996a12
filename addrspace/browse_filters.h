// The filters of both browse interfaces: the name filter (the OPC wildcards, case-sensitive) and
// the leaf filters of hierarchical browsing (data type, access rights).
#pragma once

#include "addrspace/address_space.h"

#include <string_view>

namespace browse {

// An empty filter lets every name pass; no filter is ever rejected as malformed.
bool PassesNameFilter(std::wstring_view name, std::wstring_view filter);

// A leaf with a point item passes when its cached value, taken in the point's canonical type (a
// point never read counts as zero), converts to `dataType` (VT_EMPTY: no test), and when it has the
// rights `accessRights` asks for (OPC_READABLE or OPC_WRITEABLE; any other value: no test). A leaf
// without a point item (an empty kind branch) passes.
bool PassesLeafFilters(const COPCAddressSpaceMgt& space, COPCAddressSpaceMgt::NodeNumber leaf, VARTYPE dataType,
                       DWORD accessRights);

}  // namespace browse
