// Variant coercion as every conversion of the server does it: the platform's own, with a fixed
// locale, so that number texts parse the same whatever the machine's regional settings.
#pragma once

#include <oaidl.h>

namespace values {

// The locale of every conversion (English, United States: '.' is the decimal separator).
constexpr LCID kConversionLocale = 0x0409;

HRESULT ChangeType(VARIANT& target, const VARIANT& source, VARTYPE type);

// Whether an item of the canonical type can be handed out in `requestedType` (VT_EMPTY: yes).
bool IsRequestedTypeAccepted(VARTYPE canonicalType, VARTYPE requestedType);

}  // namespace values
