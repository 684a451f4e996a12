#include "addrspace/item_properties.h"

#include "com/string_convert.h"
#include "com/task_memory.h"
#include "opcerror.h"

#include <oleauto.h>

using korvex::com::TaskArray;

namespace properties {
namespace {

struct Described {
    DWORD id;
    const wchar_t* text;
};

constexpr Described kDescriptions[] = {
    {OPC_PROPERTY_DATATYPE, L"Item Canonical Data Type"},
    {OPC_PROPERTY_VALUE, L"Item Value"},
    {OPC_PROPERTY_QUALITY, L"Item Quality"},
    {OPC_PROPERTY_TIMESTAMP, L"Item Timestamp"},
    {OPC_PROPERTY_ACCESS_RIGHTS, L"Item Access Rights"},
    {OPC_PROPERTY_SCAN_RATE, L"Server Scan Rate"},
    {OPC_PROPERTY_EU_TYPE, L"Item EU Type"},
    {OPC_PROPERTY_EU_INFO, L"Item EU Info"},
    {OPC_PROPERTY_EU_UNITS, L"EU Units"},
    {OPC_PROPERTY_DESCRIPTION, L"Item Description"},
    {OPC_PROPERTY_HIGH_EU, L"High EU"},
    {OPC_PROPERTY_LOW_EU, L"Low EU"},
    {OPC_PROPERTY_HIGH_IR, L"High Instrument Range"},
    {OPC_PROPERTY_LOW_IR, L"Low Instrument Range"},
    {OPC_PROPERTY_CLOSE_LABEL, L"Contact Close Label"},
    {OPC_PROPERTY_OPEN_LABEL, L"Contact Open Label"},
    {OPC_PROPERTY_TIMEZONE, L"Item Timezone"},
};

void ClearProperty(OPCITEMPROPERTY& property) noexcept {
    CoTaskMemFree(property.szItemID);
    CoTaskMemFree(property.szDescription);
    VariantClear(&property.vValue);
    property = OPCITEMPROPERTY{};
}

struct ClearPropertyEntry {
    void operator()(OPCITEMPROPERTY& property) const noexcept { ClearProperty(property); }
};

HRESULT Text(std::string_view text, VARIANT* value) {
    const std::wstring wide = korvex::com::toWide(text);
    value->bstrVal = SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
    if (!value->bstrVal) return E_OUTOFMEMORY;
    value->vt = VT_BSTR;
    return S_OK;
}

values::ValueRecord CacheFor(const COPCItem& point, bool withValues) {
    return withValues ? point.Snapshot() : values::ValueRecord{};
}

}  // namespace

const wchar_t* Description(DWORD id) {
    for (const Described& d : kDescriptions)
        if (d.id == id) return d.text;
    return nullptr;
}

HRESULT DescribeProperty(DWORD id, LPWSTR* description) {
    const wchar_t* text = Description(id);
    if (!text) return OPC_E_INVALID_PID;
    return korvex::com::taskStringCopy(text, description);
}

HRESULT PropertyValue(const COPCItem& point, const values::ValueRecord& cache, const PropertyRecord& record,
                      VARIANT* value) {
    const PointDescriptor& d = point.descriptor();
    switch (record.id) {
    case OPC_PROPERTY_DATATYPE:
        value->vt = VT_I2;
        value->iVal = static_cast<SHORT>(d.canonicalType);
        return S_OK;
    case OPC_PROPERTY_VALUE: *value = cache.value; return S_OK;  // VT_EMPTY, VT_R4 or VT_BOOL: nothing to copy deeply
    case OPC_PROPERTY_QUALITY:
        value->vt = VT_I2;
        value->iVal = static_cast<SHORT>(cache.quality);
        return S_OK;
    case OPC_PROPERTY_TIMESTAMP:
        value->vt = VT_DATE;
        value->date = values::TimestampAsDate(cache.timestamp);
        return S_OK;
    case OPC_PROPERTY_ACCESS_RIGHTS:
        value->vt = VT_I4;
        value->lVal = static_cast<LONG>(d.accessRights);
        return S_OK;
    case OPC_PROPERTY_SCAN_RATE:
        value->vt = VT_R4;
        value->fltVal = d.scanRate;
        return S_OK;
    case OPC_PROPERTY_EU_TYPE:
        value->vt = VT_I4;
        value->lVal = point.HasAnalogEU() ? OPC_ANALOG : OPC_NOENUM;
        return S_OK;
    case OPC_PROPERTY_EU_INFO: return S_OK;  // no engineering-unit information is kept
    case OPC_PROPERTY_EU_UNITS: return Text(d.Units(), value);
    case OPC_PROPERTY_DESCRIPTION: return Text(d.Description(), value);
    case OPC_PROPERTY_HIGH_IR:
        value->vt = VT_R8;
        value->dblVal = d.highLimit;
        return S_OK;
    case OPC_PROPERTY_LOW_IR:
        value->vt = VT_R8;
        value->dblVal = d.lowLimit;
        return S_OK;
    default: return OPC_E_INVALID_PID;
    }
}

std::string PropertyItemId(std::string_view pointItemId, const PropertyRecord& record) {
    std::string id(pointItemId);
    id += '.';
    id += record.name;
    return id;
}

HRESULT FillProperty(const COPCItem& point, const values::ValueRecord* cache, const PropertyRecord& record,
                     OPCITEMPROPERTY& property) {
    property.vtDataType = record.type;
    property.dwPropertyID = record.id;
    property.hrErrorID = S_OK;
    property.szItemID =
        korvex::com::taskStringCopy(korvex::com::toWide(PropertyItemId(point.itemId(), record))).release();
    if (!property.szItemID) return E_OUTOFMEMORY;
    if (const HRESULT hr = DescribeProperty(record.id, &property.szDescription); FAILED(hr)) return hr;
    VariantInit(&property.vValue);
    return cache ? PropertyValue(point, *cache, record, &property.vValue) : S_OK;
}

HRESULT GetAllProperties(const COPCItem* point, bool withValues, OPCITEMPROPERTIES& result) {
    if (!point) return E_FAIL;
    const auto records = point->properties();
    TaskArray<OPCITEMPROPERTY, ClearPropertyEntry> entries;
    if (FAILED(entries.allocate(records.size()))) return E_OUTOFMEMORY;
    const values::ValueRecord cache = CacheFor(*point, withValues);
    for (std::size_t i = 0; i < records.size(); ++i)
        if (const HRESULT hr = FillProperty(*point, withValues ? &cache : nullptr, records[i], entries[i]); FAILED(hr))
            return hr;
    result.hrErrorID = S_OK;
    result.dwNumProperties = static_cast<DWORD>(records.size());
    result.pItemProperties = entries.release();
    return S_OK;
}

HRESULT GetSelectedProperties(const COPCItem* point, DWORD count, const DWORD* ids, bool withValues,
                              OPCITEMPROPERTIES& result) {
    if (!point || !ids || count == 0) return E_FAIL;
    TaskArray<OPCITEMPROPERTY, ClearPropertyEntry> entries;
    if (FAILED(entries.allocate(count))) return E_OUTOFMEMORY;
    const values::ValueRecord cache = CacheFor(*point, withValues);
    HRESULT recordError = S_OK;
    for (DWORD i = 0; i < count; ++i) {
        const PropertyRecord* record = point->FindProperty(ids[i]);
        if (!record) {
            entries[i].dwPropertyID = ids[i];
            entries[i].hrErrorID = OPC_E_INVALID_PID;
            // Empty strings rather than null ones: clients print them without checking.
            entries[i].szItemID = korvex::com::taskStringCopy(L"").release();
            entries[i].szDescription = korvex::com::taskStringCopy(L"").release();
            if (!entries[i].szItemID || !entries[i].szDescription) return E_OUTOFMEMORY;
            recordError = S_FALSE;
            continue;
        }
        if (const HRESULT hr = FillProperty(*point, withValues ? &cache : nullptr, *record, entries[i]); FAILED(hr))
            return hr;
    }
    result.hrErrorID = recordError;
    result.dwNumProperties = count;
    result.pItemProperties = entries.release();
    return S_OK;
}

void ClearProperties(OPCITEMPROPERTIES& properties) noexcept {
    for (DWORD i = 0; i < properties.dwNumProperties; ++i) ClearProperty(properties.pItemProperties[i]);
    CoTaskMemFree(properties.pItemProperties);
    properties = OPCITEMPROPERTIES{};
}

}  // namespace properties
