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
    {1, L"Item Canonical Data Type"},
    {2, L"Item Value"},
    {3, L"Item Quality"},
    {4, L"Item Timestamp"},
    {5, L"Item Access Rights"},
    {6, L"Server Scan Rate"},
    {7, L"Item EU Type"},
    {8, L"Item EU Info"},
    {100, L"EU Units"},
    {101, L"Item Description"},
    {102, L"High EU"},
    {103, L"Low EU"},
    {104, L"High Instrument Range"},
    {105, L"Low Instrument Range"},
    {106, L"Contact Close Label"},
    {107, L"Contact Open Label"},
    {108, L"Item Timezone"},
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
    case 1: value->vt = VT_I2; value->iVal = static_cast<SHORT>(d.canonicalType); return S_OK;
    case 2: *value = cache.value; return S_OK;  // VT_EMPTY, VT_R4 or VT_BOOL: nothing to copy deeply
    case 3: value->vt = VT_I2; value->iVal = static_cast<SHORT>(cache.quality); return S_OK;
    case 4: value->vt = VT_DATE; value->date = values::TimestampAsDate(cache.timestamp); return S_OK;
    case 5: value->vt = VT_I4; value->lVal = static_cast<LONG>(d.accessRights); return S_OK;
    case 6: value->vt = VT_R4; value->fltVal = d.scanRate; return S_OK;
    case 7: value->vt = VT_I4; value->lVal = point.HasAnalogEU() ? OPC_ANALOG : OPC_NOENUM; return S_OK;
    case 8: return S_OK;  // no engineering-unit information is kept
    case 100: return Text(d.Units(), value);
    case 101: return Text(d.Description(), value);
    case 104: value->vt = VT_R8; value->dblVal = d.highLimit; return S_OK;
    case 105: value->vt = VT_R8; value->dblVal = d.lowLimit; return S_OK;
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
    property.szItemID = korvex::com::taskStringCopy(korvex::com::toWide(PropertyItemId(point.itemId(), record))).release();
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
