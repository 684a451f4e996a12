// From a client's item ID to a point: the syntax test, the kind aliases, resolution in the tree.
#pragma once

#include "addrspace/address_space.h"

#include <windows.h>

struct ResolvedPoint {
    HRESULT error = E_FAIL;
    COPCItem* point = nullptr;
};

enum class KindAliases { apply, ignore };

// OPC_E_INVALIDITEMID for an empty ID or one with a character other than ASCII letters, digits,
// '_' and '.'; OPC_E_UNKNOWNITEMID when it names nothing; E_FAIL when it names a branch. With the
// aliases, ".3." names the "analog" and ".4." the "switch" branch.
ResolvedPoint ResolvePoint(const COPCAddressSpaceMgt& space, LPCWSTR itemId, KindAliases aliases);
