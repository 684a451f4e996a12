// The properties of a point as clients receive them: the fixed English description of each
// property ID, the property item IDs, and OPCITEMPROPERTY records filled from a point item's
// property records. Shared by IOPCItemProperties and IOPCBrowse.
#pragma once

#include "addrspace/opc_item.h"
#include "opcda.h"

#include <string>
#include <string_view>

namespace properties {

// The description of a property ID, or null for an ID that has none.
const wchar_t* Description(DWORD id);
// A task-allocated copy of the description: OPC_E_INVALID_PID for an ID without one.
HRESULT DescribeProperty(DWORD id, LPWSTR* description);

// The value of one property of the point, taken from its descriptor or from `cache` (a snapshot of
// the point's cache, so that value, quality and timestamp are one reading), into a VT_EMPTY `value`.
HRESULT PropertyValue(const COPCItem& point, const values::ValueRecord& cache, const PropertyRecord& record,
                      VARIANT* value);

// The item ID of a property: the point's item ID, '.', the property's name (S1.analog.P1.Value).
std::string PropertyItemId(std::string_view pointItemId, const PropertyRecord& record);

// One OPCITEMPROPERTY (zero-filled on entry); on failure the caller frees what was filled.
HRESULT FillProperty(const COPCItem& point, const values::ValueRecord* cache, const PropertyRecord& record,
                     OPCITEMPROPERTY& property);

// Every property of the point in list order (values only when asked for). E_FAIL without a point.
HRESULT GetAllProperties(const COPCItem* point, bool withValues, OPCITEMPROPERTIES& result);
// One entry per requested ID in request order; an ID the point lacks gives an OPC_E_INVALID_PID
// entry and makes the record's own code S_FALSE. E_FAIL without a point or without IDs.
HRESULT GetSelectedProperties(const COPCItem* point, DWORD count, const DWORD* ids, bool withValues,
                              OPCITEMPROPERTIES& result);

// Frees what an OPCITEMPROPERTIES holds and zeroes it.
void ClearProperties(OPCITEMPROPERTIES& properties) noexcept;
struct ClearItemProperties {
    void operator()(OPCITEMPROPERTIES& properties) const noexcept { ClearProperties(properties); }
};

}  // namespace properties
