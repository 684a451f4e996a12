// The conformance server's address space: a few items whose values cover the VARIANT kinds
// OPC clients meet (scalars, BSTRs empty/ASCII/Chinese/long, SAFEARRAYs of BSTR and R8), their
// properties, and the browse tree. Compiled into the server and the test, which compares what
// came through the proxy with what this says the server holds.
#pragma once

#include "opcda.h"

#include <oleauto.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace conformance {

// Item IDs, in browse order under their branches "Values" and "泵站".
std::vector<std::wstring> cannedItemIds();
// S_OK and the item's value (the caller clears it), or OPC_E_UNKNOWNITEMID.
HRESULT cannedValue(std::wstring_view itemId, VARIANT* value);
// The engineering-unit kind and info of an item: analog [low, high] as a SAFEARRAY of R8,
// enumerated labels as a SAFEARRAY of BSTR, else OPC_NOENUM and VT_EMPTY.
OPCEUTYPE cannedEuType(std::wstring_view itemId);
HRESULT cannedEuInfo(std::wstring_view itemId, VARIANT* info);

inline constexpr WORD kCannedQuality = 0xC0;  // OPC_QUALITY_GOOD
inline constexpr FILETIME kCannedTimestamp = {0x89ABCDEF, 0x01DA0123};
// What reads from OPC_DS_DEVICE stamp their values with.
inline constexpr FILETIME kDeviceTimestamp = {0x0DE71CE0, 0x01DA0124};

// Every item has these properties, in this order.
struct CannedProperty {
    DWORD id;
    const wchar_t* description;
    VARTYPE type;      // VT_EMPTY: the item's canonical type (the value property)
    bool hasItemId;    // LookupItemIDs gives <item ID>.<suffix>; others OPC_E_INVALID_PID
    const wchar_t* itemIdSuffix;
};
extern const std::vector<CannedProperty> kCannedProperties;

// S_OK and the property's value for the item; OPC_E_UNKNOWNITEMID, OPC_E_INVALID_PID.
HRESULT cannedPropertyValue(std::wstring_view itemId, DWORD propertyId, VARIANT* value);
// The property's own item ID, or OPC_E_UNKNOWNITEMID / OPC_E_INVALID_PID.
HRESULT cannedPropertyItemId(std::wstring_view itemId, DWORD propertyId, std::wstring* propertyItemId);
const CannedProperty* findCannedProperty(DWORD propertyId);

struct BrowseNode {
    std::wstring name;
    std::wstring itemId;
    bool isItem;
    bool hasChildren;
};
// The children of a branch ("" is the root), or none for an unknown branch.
std::optional<std::vector<BrowseNode>> cannedChildren(std::wstring_view branchItemId);

}  // namespace conformance
