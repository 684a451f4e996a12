#include "group/tested_write.h"

#include "com/variant.h"
#include "opcerror.h"
#include "values/coercion.h"

#include <oleauto.h>

#include <cmath>

namespace {

bool IsNotANumberOrInfinite(const VARIANT& value) {
    switch (value.vt) {
    case VT_R4:
        return !std::isfinite(value.fltVal);
    case VT_R8:
        return !std::isfinite(value.dblVal);
    default:
        return false;
    }
}

}  // namespace

HRESULT WriteTest(const PointDescriptor& point, VARIANT& value) {
    if (!point.IsWriteable()) return OPC_E_BADRIGHTS;
    // In no range, whatever the point: a NaN would pass every limit comparison and reach the
    // runtime, and a breaker would read it as "on".
    if (IsNotANumberOrInfinite(value)) return OPC_E_RANGE;
    VARIANT converted;
    VariantInit(&converted);
    if (FAILED(values::ChangeType(converted, value, point.canonicalType))) return OPC_E_BADTYPE;
    if (IsNotANumberOrInfinite(converted)) return OPC_E_RANGE;  // "NaN" sent as text, say
    // The limits hold for the value the runtime would receive, whatever type the client sent.
    if (point.hasLimits) {
        VARIANT wide;
        VariantInit(&wide);
        if (FAILED(values::ChangeType(wide, converted, VT_R8)) ||
            !(wide.dblVal >= point.lowLimit && wide.dblVal <= point.highLimit))
            return OPC_E_RANGE;
    }
    if (value.vt == point.canonicalType) return S_OK;
    VariantClear(&value);
    value = converted;  // VT_R4 or VT_BOOL: owns nothing
    return OPC_S_CLAMP;
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
