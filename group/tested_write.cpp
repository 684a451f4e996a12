#include "group/tested_write.h"

#include "com/variant.h"
#include "opcerror.h"
#include "values/coercion.h"

#include <oleauto.h>

HRESULT WriteTest(const PointDescriptor& point, VARIANT& value) {
    if (!point.IsWriteable()) return OPC_E_BADRIGHTS;
    VARIANT converted;
    VariantInit(&converted);
    if (FAILED(values::ChangeType(converted, value, point.canonicalType))) return OPC_E_BADTYPE;
    if (value.vt != point.canonicalType) {
        VariantClear(&value);
        value = converted;  // VT_R4 or VT_BOOL: owns nothing
        return OPC_S_CLAMP;
    }
    if (point.hasLimits) {
        VARIANT wide;
        VariantInit(&wide);
        if (SUCCEEDED(values::ChangeType(wide, value, VT_R8)) &&
            (wide.dblVal < point.lowLimit || wide.dblVal > point.highLimit))
            return OPC_E_RANGE;
    }
    return S_OK;
}

HRESULT TestAndWritePoint(const COPCAddressSpaceMgt& space, COPCItem& point, const VARIANT& value, const WORD* quality,
                          const FILETIME* timestamp) {
    // The test converts in place: it works on a copy of its own, so the caller's value (a BSTR,
    // say) is neither changed nor freed.
    korvex::com::Variant converted;
    if (FAILED(converted.copyFrom(value))) return E_OUTOFMEMORY;
    const HRESULT tested = WriteTest(point.descriptor(), converted.get());
    if (FAILED(tested)) return tested;
    if (!space.WritePoint(point, converted.get(), quality, timestamp)) return E_FAIL;
    return tested;
}
