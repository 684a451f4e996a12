#include "addrspace/browse_filters.h"

#include "addrspace/match_pattern.h"
#include "opcda.h"
#include "values/coercion.h"

#include <oleauto.h>

namespace browse {

bool PassesNameFilter(std::wstring_view name, std::wstring_view filter) {
    return filter.empty() || MatchPattern(name, filter, true);
}

bool PassesLeafFilters(const COPCAddressSpaceMgt& space, COPCAddressSpaceMgt::NodeNumber leaf, VARTYPE dataType,
                       DWORD accessRights) {
    const COPCItem* point = space.FindPointByNodeId(space.GetNodeId(leaf));
    if (!point) return true;
    if (accessRights == OPC_READABLE && !point->descriptor().IsReadable()) return false;
    if (accessRights == OPC_WRITEABLE && !point->descriptor().IsWriteable()) return false;
    if (dataType == VT_EMPTY) return true;
    // Works on a copy: a point never read counts as zero of its canonical type.
    VARIANT canonical;
    VariantInit(&canonical);
    if (FAILED(values::ChangeType(canonical, point->Snapshot().value, point->canonicalType()))) return false;
    VARIANT converted;
    VariantInit(&converted);
    const bool accepted = SUCCEEDED(VariantChangeType(&converted, &canonical, 0, dataType));
    VariantClear(&converted);
    return accepted;
}

}  // namespace browse
