#include "group/write_test.h"

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
        if (SUCCEEDED(values::ChangeType(wide, value, VT_R8)) && (wide.dblVal < point.lowLimit || wide.dblVal > point.highLimit))
            return OPC_E_RANGE;
    }
    return S_OK;
}
