#include "canned_space.h"

#include "conformance_protocol.h"
#include "opcerror.h"

#include <algorithm>
#include <initializer_list>

namespace conformance {

namespace {

HRESULT bstr(std::wstring_view text, VARIANT* out) {
    V_VT(out) = VT_BSTR;
    V_BSTR(out) = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    return V_BSTR(out) ? S_OK : E_OUTOFMEMORY;
}

HRESULT bstrArray(std::initializer_list<std::wstring_view> texts, VARIANT* out) {
    SAFEARRAY* array = SafeArrayCreateVector(VT_BSTR, 0, static_cast<ULONG>(texts.size()));
    if (!array) return E_OUTOFMEMORY;
    LONG index = 0;
    for (std::wstring_view text : texts) {
        BSTR element = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
        const HRESULT hr = SafeArrayPutElement(array, &index, element);  // copies it
        SysFreeString(element);
        if (FAILED(hr)) {
            SafeArrayDestroy(array);
            return hr;
        }
        ++index;
    }
    V_VT(out) = VT_ARRAY | VT_BSTR;
    V_ARRAY(out) = array;
    return S_OK;
}

HRESULT doubleArray(std::initializer_list<double> values, VARIANT* out) {
    SAFEARRAY* array = SafeArrayCreateVector(VT_R8, 0, static_cast<ULONG>(values.size()));
    if (!array) return E_OUTOFMEMORY;
    LONG index = 0;
    for (double value : values) {
        SafeArrayPutElement(array, &index, &value);
        ++index;
    }
    V_VT(out) = VT_ARRAY | VT_R8;
    V_ARRAY(out) = array;
    return S_OK;
}

struct Item {
    const wchar_t* id;
    HRESULT (*make)(VARIANT*);
};

const Item kItems[] = {
    {L"Values.I4", [](VARIANT* v) { V_VT(v) = VT_I4; V_I4(v) = -123456789; return S_OK; }},
    {L"Values.R8", [](VARIANT* v) { V_VT(v) = VT_R8; V_R8(v) = 3.25; return S_OK; }},
    {L"Values.R4", [](VARIANT* v) { V_VT(v) = VT_R4; V_R4(v) = -0.5f; return S_OK; }},
    {L"Values.I8", [](VARIANT* v) { V_VT(v) = VT_I8; V_I8(v) = -0x123456789ABCDEF0LL; return S_OK; }},
    {L"Values.Bool", [](VARIANT* v) { V_VT(v) = VT_BOOL; V_BOOL(v) = VARIANT_TRUE; return S_OK; }},
    {L"Values.Date", [](VARIANT* v) { V_VT(v) = VT_DATE; V_DATE(v) = 45000.25; return S_OK; }},
    {L"Values.EmptyText", [](VARIANT* v) { return bstr(L"", v); }},
    {L"Values.Text", [](VARIANT* v) { return bstr(kAscii, v); }},
    {L"Values.\u4e2d\u6587", [](VARIANT* v) { return bstr(kChinese, v); }},
    {L"Values.LongText", [](VARIANT* v) { return bstr(longText(), v); }},
    {L"Values.Texts", [](VARIANT* v) { return bstrArray({L"", kAscii, kChinese}, v); }},
    {L"Values.Numbers", [](VARIANT* v) { return doubleArray({1.5, -2.0, 1e300}, v); }},
    {L"Values.Empty", [](VARIANT* v) { V_VT(v) = VT_EMPTY; return S_OK; }},
    {L"\u6cf5\u7ad9.\u51fa\u6c34\u6e29\u5ea6", [](VARIANT* v) { V_VT(v) = VT_R4; V_R4(v) = 18.5f; return S_OK; }},
};

const Item* findItem(std::wstring_view id) {
    const auto found = std::find_if(std::begin(kItems), std::end(kItems), [&](const Item& i) { return i.id == id; });
    return found == std::end(kItems) ? nullptr : found;
}

VARTYPE canonicalType(const Item& item) {
    VARIANT value;
    VariantInit(&value);
    item.make(&value);
    const VARTYPE type = V_VT(&value);
    VariantClear(&value);
    return type;
}

}  // namespace

const std::vector<CannedProperty> kCannedProperties = {
    {OPC_PROPERTY_DATATYPE, L"Item Canonical Data Type", VT_I2, false, nullptr},
    {OPC_PROPERTY_VALUE, L"Item Value", VT_EMPTY, false, nullptr},
    {OPC_PROPERTY_QUALITY, L"Item Quality", VT_I2, false, nullptr},
    {OPC_PROPERTY_TIMESTAMP, L"Item Timestamp", VT_DATE, false, nullptr},
    {OPC_PROPERTY_ACCESS_RIGHTS, L"Item Access Rights", VT_I4, false, nullptr},
    {OPC_PROPERTY_EU_UNITS, L"EU Units", VT_BSTR, true, L"EU"},
    {OPC_PROPERTY_DESCRIPTION, L"Item Description", VT_BSTR, true, L"\u63cf\u8ff0"},  // 描述
    {5001, L"", VT_ARRAY | VT_BSTR, false, nullptr},
};

std::vector<std::wstring> cannedItemIds() {
    std::vector<std::wstring> ids;
    for (const Item& item : kItems) ids.emplace_back(item.id);
    return ids;
}

HRESULT cannedValue(std::wstring_view itemId, VARIANT* value) {
    VariantInit(value);
    const Item* item = findItem(itemId);
    return item ? item->make(value) : OPC_E_UNKNOWNITEMID;
}

OPCEUTYPE cannedEuType(std::wstring_view itemId) {
    if (itemId == L"Values.R8") return OPC_ANALOG;
    if (itemId == L"Values.Bool") return OPC_ENUMERATED;
    return OPC_NOENUM;
}

HRESULT cannedEuInfo(std::wstring_view itemId, VARIANT* info) {
    VariantInit(info);
    switch (cannedEuType(itemId)) {
    case OPC_ANALOG:
        return doubleArray({0.0, 100.0}, info);
    case OPC_ENUMERATED:
        return bstrArray({L"\u5173", L"\u5f00"}, info);  // 关, 开
    default:
        return S_OK;
    }
}

const CannedProperty* findCannedProperty(DWORD propertyId) {
    const auto found = std::find_if(kCannedProperties.begin(), kCannedProperties.end(),
                                    [&](const CannedProperty& p) { return p.id == propertyId; });
    return found == kCannedProperties.end() ? nullptr : &*found;
}

HRESULT cannedPropertyValue(std::wstring_view itemId, DWORD propertyId, VARIANT* value) {
    VariantInit(value);
    const Item* item = findItem(itemId);
    if (!item) return OPC_E_UNKNOWNITEMID;
    switch (propertyId) {
    case OPC_PROPERTY_DATATYPE:
        V_VT(value) = VT_I2;
        V_I2(value) = static_cast<SHORT>(canonicalType(*item));
        return S_OK;
    case OPC_PROPERTY_VALUE:
        return item->make(value);
    case OPC_PROPERTY_QUALITY:
        V_VT(value) = VT_I2;
        V_I2(value) = kCannedQuality;
        return S_OK;
    case OPC_PROPERTY_TIMESTAMP:
        V_VT(value) = VT_DATE;
        V_DATE(value) = 45000.5;
        return S_OK;
    case OPC_PROPERTY_ACCESS_RIGHTS:
        V_VT(value) = VT_I4;
        V_I4(value) = OPC_READABLE | OPC_WRITEABLE;
        return S_OK;
    case OPC_PROPERTY_EU_UNITS:
        return bstr(L"", value);
    case OPC_PROPERTY_DESCRIPTION:
        return bstr(std::wstring(L"\u63cf\u8ff0 ") + item->id, value);
    case 5001:
        return bstrArray({L"", item->id}, value);
    default:
        return OPC_E_INVALID_PID;
    }
}

HRESULT cannedPropertyItemId(std::wstring_view itemId, DWORD propertyId, std::wstring* propertyItemId) {
    if (!findItem(itemId)) return OPC_E_UNKNOWNITEMID;
    const CannedProperty* property = findCannedProperty(propertyId);
    if (!property || !property->hasItemId) return OPC_E_INVALID_PID;
    *propertyItemId = std::wstring(itemId) + L"." + property->itemIdSuffix;
    return S_OK;
}

std::optional<std::vector<BrowseNode>> cannedChildren(std::wstring_view branchItemId) {
    if (branchItemId.empty()) {
        return std::vector<BrowseNode>{{L"Values", L"Values", false, true},
                                       {L"\u6cf5\u7ad9", L"\u6cf5\u7ad9", false, true}};
    }
    std::vector<BrowseNode> children;
    const std::wstring prefix = std::wstring(branchItemId) + L".";
    for (const Item& item : kItems) {
        const std::wstring_view id = item.id;
        if (id.starts_with(prefix)) children.push_back({std::wstring(id.substr(prefix.size())), item.id, true, false});
    }
    if (children.empty()) return std::nullopt;
    return children;
}

}  // namespace conformance
