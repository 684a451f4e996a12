// The per-item checks that synchronous and asynchronous reads and writes share.
#pragma once

#include "group/opc_group.h"
#include "opcerror.h"

// The handle names an item of the group, and its point is readable.
inline HRESULT CheckReadable(const COPCGroup::ItemView& item) {
    if (!item.found) return OPC_E_INVALIDHANDLE;
    if (!item.point->descriptor().IsReadable()) return OPC_E_BADRIGHTS;
    return S_OK;
}

// The handle names an item of the group, and its point is writeable.
inline HRESULT CheckWriteable(const COPCGroup::ItemView& item) {
    if (!item.found) return OPC_E_INVALIDHANDLE;
    if (!item.point->descriptor().IsWriteable()) return OPC_E_BADRIGHTS;
    return S_OK;
}
