// The value record of a point or an item: the cached value in the point's canonical type, its
// quality and its timestamp, and the conversions every reader and writer goes through.
#pragma once

#include "quality.h"

#include <oaidl.h>
#include <windows.h>

namespace values {

// A value record holds only VT_EMPTY, VT_R4 or VT_BOOL values, so it copies as plain bytes and a
// reader holding the record's lock never sees half of an update.
struct ValueRecord {
    VARIANT value{};  // vt == VT_EMPTY until the first store
    WORD quality = kQualityBad;
    FILETIME timestamp{};

    // A new record: empty value, quality BAD, stamped with the current time.
    static ValueRecord Fresh();
};

// Hands the cached value out in `requestedType` (VT_EMPTY: the canonical type). Any output may be
// null. A failed conversion returns its error and hands out quality BAD; the record is unchanged.
HRESULT GetValue(const ValueRecord& record, VARTYPE canonicalType, VARTYPE requestedType, VARIANT* value,
                 WORD* quality, FILETIME* timestamp);

// Stores whichever of value, quality and timestamp is given; the value is converted to the
// canonical type first, and a failed conversion stores nothing at all.
HRESULT StoreValue(ValueRecord& record, VARTYPE canonicalType, const VARIANT* value, const WORD* quality,
                   const FILETIME* timestamp);

// Sets the record out of service: empty value, quality 0x1C, timestamp kept.
void ResetOutOfService(ValueRecord& record);

// The timestamp as an OLE Automation date in whole seconds, UTC.
DATE TimestampAsDate(const FILETIME& timestamp);

}  // namespace values
