#include "value_record.h"

#include "coercion.h"

#include <oleauto.h>

namespace values {

ValueRecord ValueRecord::Fresh() {
    ValueRecord record;
    CoFileTimeNow(&record.timestamp);
    return record;
}

HRESULT GetValue(const ValueRecord& record, VARTYPE canonicalType, VARTYPE requestedType, VARIANT* value,
                 WORD* quality, FILETIME* timestamp) {
    if (quality) *quality = record.quality;
    if (timestamp) *timestamp = record.timestamp;
    if (!value) return S_OK;
    VariantInit(value);
    const HRESULT hr = ChangeType(*value, record.value, requestedType == VT_EMPTY ? canonicalType : requestedType);
    if (FAILED(hr) && quality) *quality = kQualityBad;
    return hr;
}

HRESULT StoreValue(ValueRecord& record, VARTYPE canonicalType, const VARIANT* value, const WORD* quality,
                   const FILETIME* timestamp) {
    if (value) {
        VARIANT converted;
        VariantInit(&converted);
        const HRESULT hr = ChangeType(converted, *value, canonicalType);
        if (FAILED(hr)) return hr;
        record.value = converted;  // VT_R4 or VT_BOOL: nothing to free
    }
    if (quality) record.quality = *quality;
    if (timestamp) record.timestamp = *timestamp;
    return S_OK;
}

void ResetOutOfService(ValueRecord& record) {
    VariantInit(&record.value);
    record.quality = kQualityOutOfService;
}

DATE TimestampAsDate(const FILETIME& timestamp) {
    SYSTEMTIME calendar;
    DATE date = 0;
    if (FileTimeToSystemTime(&timestamp, &calendar)) {
        calendar.wMilliseconds = 0;
        SystemTimeToVariantTime(&calendar, &date);
    }
    return date;
}

}  // namespace values
