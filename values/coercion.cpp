#include "coercion.h"

#include <oleauto.h>

namespace values {

HRESULT ChangeType(VARIANT& target, const VARIANT& source, VARTYPE type) {
    return VariantChangeTypeEx(&target, const_cast<VARIANT*>(&source), kConversionLocale, 0, type);
}

bool IsRequestedTypeAccepted(VARTYPE canonicalType, VARTYPE requestedType) {
    if (requestedType == VT_EMPTY) return true;
    // A zero of the canonical type converts to every scalar type and to nothing else.
    VARIANT zero;
    VariantInit(&zero);
    zero.vt = canonicalType;
    zero.dblVal = 0;
    VARIANT converted;
    VariantInit(&converted);
    const HRESULT hr = ChangeType(converted, zero, requestedType);
    VariantClear(&converted);
    return SUCCEEDED(hr);
}

}  // namespace values
