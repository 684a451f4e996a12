// The server object's address-space interfaces over the canned space (canned_space.h). Rules:
//   browse position   starts at the root; DOWN into a child branch, UP to the parent, TO any
//                     branch ("" is the root); GetItemID joins the position and the name with '.'
//   filters           a name filter or filter criteria matches names containing it; a data type
//                     filter other than VT_EMPTY keeps the items of that canonical type; an access
//                     rights filter with bits other than read/write keeps no item
//   access paths      "COM1" and "通道 <item ID>"; an unknown item: S_FALSE and no enumerator
//   properties        kCannedProperties; a property ID the item lacks: OPC_E_INVALID_PID
//   Browse            continuation points are "续<index>"; the last page hands out "" (the input
//                     one is freed); an error leaves the continuation point as it came; each
//                     element's dwReserved is the echo of the name and vendor filters, the two
//                     property flags and the property IDs
//   IOPCItemIO        a written value is read back with its quality and timestamp; a canned one
//                     reads with {max age, kCannedTimestamp's high part}
#include "canned_server.h"

#include "canned_space.h"
#include "conformance_protocol.h"
#include "opc_memory.h"

#include "com/standard_enumerators.h"
#include "com/task_memory.h"
#include "opcerror.h"

#include <algorithm>
#include <charconv>
#include <span>

namespace conformance {

using korvex::com::ClearVariant;
using korvex::com::ComPtr;
using korvex::com::ErrorArray;
using korvex::com::FreeTaskString;
using korvex::com::TaskArray;
using korvex::com::taskStringCopy;

namespace {

constexpr std::wstring_view kContinuationPrefix = L"\u7eed";  // 续

bool contains(std::wstring_view text, const wchar_t* part) {
    return !part || text.find(part) != std::wstring_view::npos;
}

VARTYPE canonicalType(std::wstring_view itemId) {
    korvex::com::Variant value;
    return SUCCEEDED(cannedValue(itemId, value.put())) ? value.type() : VARTYPE{VT_EMPTY};
}

bool isItem(std::wstring_view itemId) {
    korvex::com::Variant value;
    return SUCCEEDED(cannedValue(itemId, value.put()));
}

HRESULT handOutStrings(std::vector<std::wstring> strings, LPENUMSTRING* out) {
    const HRESULT found = strings.empty() ? S_FALSE : S_OK;
    auto enumerator = korvex::com::make<korvex::com::StringEnumerator>(std::move(strings));
    if (!enumerator) return E_OUTOFMEMORY;
    *out = enumerator.Detach();
    return found;
}

// The properties `ids` (all when empty) of one item, as GetProperties and Browse hand them out.
HRESULT fillProperties(std::wstring_view itemId, bool withValues, std::span<const DWORD> ids,
                       OPCITEMPROPERTIES& out) {
    out = OPCITEMPROPERTIES{};
    if (!isItem(itemId)) {
        out.hrErrorID = OPC_E_UNKNOWNITEMID;
        return S_OK;
    }
    std::vector<DWORD> wanted(ids.begin(), ids.end());
    if (wanted.empty())
        for (const CannedProperty& p : kCannedProperties) wanted.push_back(p.id);
    TaskArray<OPCITEMPROPERTY> properties;
    if (FAILED(properties.allocate(wanted.size()))) return E_OUTOFMEMORY;
    out.pItemProperties = properties.release();  // from here `out` owns them, FreeItemProperties frees them
    out.dwNumProperties = static_cast<DWORD>(wanted.size());
    for (std::size_t i = 0; i < wanted.size(); ++i) {
        OPCITEMPROPERTY& property = out.pItemProperties[i];
        property.dwPropertyID = wanted[i];
        const CannedProperty* canned = findCannedProperty(wanted[i]);
        if (!canned) {
            property.hrErrorID = OPC_E_INVALID_PID;
            out.hrErrorID = S_FALSE;
            continue;
        }
        property.vtDataType = canned->type == VT_EMPTY ? canonicalType(itemId) : canned->type;
        if (FAILED(taskStringCopy(canned->description, &property.szDescription))) return E_OUTOFMEMORY;
        std::wstring propertyItemId;
        if (SUCCEEDED(cannedPropertyItemId(itemId, wanted[i], &propertyItemId)) &&
            FAILED(taskStringCopy(propertyItemId, &property.szItemID)))
            return E_OUTOFMEMORY;
        if (withValues) {
            if (const HRESULT hr = cannedPropertyValue(itemId, wanted[i], &property.vValue); FAILED(hr)) return hr;
        }
    }
    return S_OK;
}

}  // namespace

// IOPCBrowseServerAddressSpace --------------------------------------------------------------------

HRESULT CannedServer::QueryOrganization(OPCNAMESPACETYPE* pNameSpaceType) {
    *pNameSpaceType = OPC_NS_HIERARCHIAL;
    return S_OK;
}

HRESULT CannedServer::ChangeBrowsePosition(OPCBROWSEDIRECTION dwBrowseDirection, LPCWSTR szString) {
    std::lock_guard lock(mutex_);
    switch (dwBrowseDirection) {
    case OPC_BROWSE_UP: {
        if (browsePosition_.empty()) return E_FAIL;
        const auto dot = browsePosition_.rfind(L'.');
        browsePosition_.erase(dot == std::wstring::npos ? 0 : dot);
        return S_OK;
    }
    case OPC_BROWSE_DOWN: {
        const auto children = cannedChildren(browsePosition_);
        const auto child = std::find_if(children->begin(), children->end(), [&](const BrowseNode& node) {
            return !node.isItem && node.name == szString;
        });
        if (child == children->end()) return E_INVALIDARG;
        browsePosition_ = child->itemId;
        return S_OK;
    }
    case OPC_BROWSE_TO:
        if (!cannedChildren(szString)) return E_INVALIDARG;
        browsePosition_ = szString;
        return S_OK;
    default:
        return E_INVALIDARG;
    }
}

HRESULT CannedServer::BrowseOPCItemIDs(OPCBROWSETYPE dwBrowseFilterType, LPCWSTR szFilterCriteria,
                                       VARTYPE vtDataTypeFilter, DWORD dwAccessRightsFilter,
                                       LPENUMSTRING* ppIEnumString) {
    *ppIEnumString = nullptr;
    std::wstring position;
    {
        std::lock_guard lock(mutex_);
        position = browsePosition_;
    }
    auto itemPasses = [&](std::wstring_view itemId) {
        return (vtDataTypeFilter == VT_EMPTY || canonicalType(itemId) == vtDataTypeFilter) &&
               (dwAccessRightsFilter & ~(OPC_READABLE | OPC_WRITEABLE)) == 0;
    };
    std::vector<std::wstring> names;
    switch (dwBrowseFilterType) {
    case OPC_FLAT:
        for (const std::wstring& id : cannedItemIds())
            if (contains(id, szFilterCriteria) && itemPasses(id)) names.push_back(id);
        break;
    case OPC_BRANCH:
    case OPC_LEAF: {
        const auto children = cannedChildren(position);
        for (const BrowseNode& node : *children) {
            if (node.isItem != (dwBrowseFilterType == OPC_LEAF) || !contains(node.name, szFilterCriteria)) continue;
            if (node.isItem && !itemPasses(node.itemId)) continue;
            names.push_back(node.name);
        }
        break;
    }
    default:
        return E_INVALIDARG;
    }
    return handOutStrings(std::move(names), ppIEnumString);
}

HRESULT CannedServer::GetItemID(LPWSTR szItemDataID, LPWSTR* szItemID) {
    std::wstring id;
    {
        std::lock_guard lock(mutex_);
        id = browsePosition_;
    }
    const std::wstring_view name = szItemDataID;
    if (id.empty())
        id = name;
    else if (!name.empty())
        id += L"." + std::wstring(name);
    return taskStringCopy(id, szItemID);
}

HRESULT CannedServer::BrowseAccessPaths(LPCWSTR szItemID, LPENUMSTRING* ppIEnumString) {
    *ppIEnumString = nullptr;
    if (!isItem(szItemID)) return S_FALSE;
    return handOutStrings({L"COM1", L"\u901a\u9053 " + std::wstring(szItemID)}, ppIEnumString);  // 通道
}

// IOPCItemProperties ------------------------------------------------------------------------------

HRESULT CannedServer::QueryAvailableProperties(LPWSTR szItemID, DWORD* pdwCount, DWORD** ppPropertyIDs,
                                               LPWSTR** ppDescriptions, VARTYPE** ppvtDataTypes) {
    *pdwCount = 0;
    *ppPropertyIDs = nullptr;
    *ppDescriptions = nullptr;
    *ppvtDataTypes = nullptr;
    if (!isItem(szItemID)) return OPC_E_UNKNOWNITEMID;
    const std::size_t count = kCannedProperties.size();
    TaskArray<DWORD> ids;
    TaskArray<LPWSTR, FreeTaskString> descriptions;
    TaskArray<VARTYPE> types;
    if (FAILED(ids.allocate(count)) || FAILED(descriptions.allocate(count)) || FAILED(types.allocate(count)))
        return E_OUTOFMEMORY;
    for (std::size_t i = 0; i < count; ++i) {
        const CannedProperty& property = kCannedProperties[i];
        ids[i] = property.id;
        types[i] = property.type == VT_EMPTY ? canonicalType(szItemID) : property.type;
        if (FAILED(taskStringCopy(property.description, &descriptions[i]))) return E_OUTOFMEMORY;
    }
    *pdwCount = static_cast<DWORD>(count);
    *ppPropertyIDs = ids.release();
    *ppDescriptions = descriptions.release();
    *ppvtDataTypes = types.release();
    return S_OK;
}

HRESULT CannedServer::GetItemProperties(LPWSTR szItemID, DWORD dwCount, DWORD* pdwPropertyIDs, VARIANT** ppvData,
                                        HRESULT** ppErrors) {
    *ppvData = nullptr;
    *ppErrors = nullptr;
    if (dwCount == 0) return E_INVALIDARG;
    if (!isItem(szItemID)) return OPC_E_UNKNOWNITEMID;
    TaskArray<VARIANT, ClearVariant> values;
    ErrorArray errors;
    if (FAILED(values.allocate(dwCount)) || FAILED(errors.allocate(dwCount))) return E_OUTOFMEMORY;
    for (DWORD i = 0; i < dwCount; ++i) errors[i] = cannedPropertyValue(szItemID, pdwPropertyIDs[i], &values[i]);
    const HRESULT hr = korvex::com::itemsResult(errors.items());
    *ppvData = values.release();
    *ppErrors = errors.release();
    return hr;
}

HRESULT CannedServer::LookupItemIDs(LPWSTR szItemID, DWORD dwCount, DWORD* pdwPropertyIDs,
                                    LPWSTR** ppszNewItemIDs, HRESULT** ppErrors) {
    *ppszNewItemIDs = nullptr;
    *ppErrors = nullptr;
    if (dwCount == 0) return E_INVALIDARG;
    if (!isItem(szItemID)) return OPC_E_UNKNOWNITEMID;
    TaskArray<LPWSTR, FreeTaskString> ids;
    ErrorArray errors;
    if (FAILED(ids.allocate(dwCount)) || FAILED(errors.allocate(dwCount))) return E_OUTOFMEMORY;
    for (DWORD i = 0; i < dwCount; ++i) {
        std::wstring id;
        errors[i] = cannedPropertyItemId(szItemID, pdwPropertyIDs[i], &id);
        if (SUCCEEDED(errors[i]) && FAILED(taskStringCopy(id, &ids[i]))) return E_OUTOFMEMORY;
    }
    const HRESULT hr = korvex::com::itemsResult(errors.items());
    *ppszNewItemIDs = ids.release();
    *ppErrors = errors.release();
    return hr;
}

// IOPCBrowse --------------------------------------------------------------------------------------

HRESULT CannedServer::GetProperties(DWORD dwItemCount, LPWSTR* pszItemIDs, BOOL bReturnPropertyValues,
                                    DWORD dwPropertyCount, DWORD* pdwPropertyIDs,
                                    OPCITEMPROPERTIES** ppItemProperties) {
    *ppItemProperties = nullptr;
    if (dwItemCount == 0) return E_INVALIDARG;
    TaskArray<OPCITEMPROPERTIES, FreeItemProperties> items;
    if (FAILED(items.allocate(dwItemCount))) return E_OUTOFMEMORY;
    HRESULT hr = S_OK;
    for (DWORD i = 0; i < dwItemCount; ++i) {
        const std::wstring_view itemId = pszItemIDs[i] ? pszItemIDs[i] : L"";
        if (const HRESULT filled = fillProperties(itemId, bReturnPropertyValues,
                                                  std::span<const DWORD>(pdwPropertyIDs, dwPropertyCount), items[i]);
            FAILED(filled))
            return filled;
        if (items[i].hrErrorID != S_OK) hr = S_FALSE;
    }
    *ppItemProperties = items.release();
    return hr;
}

HRESULT CannedServer::Browse(LPWSTR szItemID, LPWSTR* pszContinuationPoint, DWORD dwMaxElementsReturned,
                             OPCBROWSEFILTER dwBrowseFilter, LPWSTR szElementNameFilter, LPWSTR szVendorFilter,
                             BOOL bReturnAllProperties, BOOL bReturnPropertyValues, DWORD dwPropertyCount,
                             DWORD* pdwPropertyIDs, BOOL* pbMoreElements, DWORD* pdwCount,
                             OPCBROWSEELEMENT** ppBrowseElements) {
    *pbMoreElements = FALSE;
    *pdwCount = 0;
    *ppBrowseElements = nullptr;
    const auto children = cannedChildren(szItemID ? szItemID : L"");
    if (!children) return OPC_E_UNKNOWNITEMID;
    if (dwBrowseFilter != OPC_BROWSE_FILTER_ALL && dwBrowseFilter != OPC_BROWSE_FILTER_BRANCHES &&
        dwBrowseFilter != OPC_BROWSE_FILTER_ITEMS)
        return E_INVALIDARG;

    std::size_t start = 0;
    if (*pszContinuationPoint && **pszContinuationPoint) {
        const std::wstring_view point = *pszContinuationPoint;
        if (!point.starts_with(kContinuationPrefix)) return OPC_E_INVALIDCONTINUATIONPOINT;
        std::string digits;
        for (wchar_t c : point.substr(kContinuationPrefix.size())) {
            if (c < L'0' || c > L'9') return OPC_E_INVALIDCONTINUATIONPOINT;
            digits += static_cast<char>(c);
        }
        const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), start);
        if (ec != std::errc() || end != digits.data() + digits.size()) return OPC_E_INVALIDCONTINUATIONPOINT;
    }
    std::vector<const BrowseNode*> matching;
    for (const BrowseNode& node : *children) {
        if (dwBrowseFilter == OPC_BROWSE_FILTER_BRANCHES && node.isItem) continue;
        if (dwBrowseFilter == OPC_BROWSE_FILTER_ITEMS && !node.isItem) continue;
        if (contains(node.name, szElementNameFilter)) matching.push_back(&node);
    }
    if (start > matching.size()) return OPC_E_INVALIDCONTINUATIONPOINT;
    const std::size_t end =
        dwMaxElementsReturned == 0 ? matching.size() : std::min(matching.size(), start + dwMaxElementsReturned);

    const std::span<const DWORD> propertyIds(pdwPropertyIDs, dwPropertyCount);
    const DWORD echo = (Echo{} << szElementNameFilter << szVendorFilter << bReturnAllProperties
                               << bReturnPropertyValues << propertyIds)
                           .value();
    TaskArray<OPCBROWSEELEMENT, FreeBrowseElement> elements;
    if (FAILED(elements.allocate(end - start))) return E_OUTOFMEMORY;
    HRESULT hr = S_OK;
    for (std::size_t i = start; i < end; ++i) {
        const BrowseNode& node = *matching[i];
        OPCBROWSEELEMENT& element = elements[i - start];
        if (FAILED(taskStringCopy(node.name, &element.szName)) ||
            FAILED(taskStringCopy(node.itemId, &element.szItemID)))
            return E_OUTOFMEMORY;
        element.dwFlagValue =
            (node.hasChildren ? OPC_BROWSE_HASCHILDREN : 0) | (node.isItem ? OPC_BROWSE_ISITEM : 0);
        element.dwReserved = echo;
        if (node.isItem && (bReturnAllProperties || dwPropertyCount > 0)) {
            const auto ids = bReturnAllProperties ? std::span<const DWORD>() : propertyIds;
            if (const HRESULT filled = fillProperties(node.itemId, bReturnPropertyValues, ids, element.ItemProperties);
                FAILED(filled))
                return filled;
            if (element.ItemProperties.hrErrorID != S_OK) hr = S_FALSE;
        }
    }

    LPWSTR next = nullptr;
    if (FAILED(taskStringCopy(end < matching.size() ? std::wstring(kContinuationPrefix) + std::to_wstring(end) : L"",
                              &next)))
        return E_OUTOFMEMORY;
    CoTaskMemFree(*pszContinuationPoint);
    *pszContinuationPoint = next;
    *pbMoreElements = end < matching.size();
    *pdwCount = static_cast<DWORD>(elements.size());
    *ppBrowseElements = elements.release();
    return hr;
}

// IOPCItemIO --------------------------------------------------------------------------------------

HRESULT CannedServer::Read(DWORD dwCount, LPCWSTR* pszItemIDs, DWORD* pdwMaxAge, VARIANT** ppvValues,
                           WORD** ppwQualities, FILETIME** ppftTimeStamps, HRESULT** ppErrors) {
    *ppvValues = nullptr;
    *ppwQualities = nullptr;
    *ppftTimeStamps = nullptr;
    *ppErrors = nullptr;
    if (dwCount == 0) return E_INVALIDARG;
    TaskArray<VARIANT, ClearVariant> values;
    TaskArray<WORD> qualities;
    TaskArray<FILETIME> timestamps;
    ErrorArray errors;
    if (FAILED(values.allocate(dwCount)) || FAILED(qualities.allocate(dwCount)) ||
        FAILED(timestamps.allocate(dwCount)) || FAILED(errors.allocate(dwCount)))
        return E_OUTOFMEMORY;
    std::lock_guard lock(mutex_);
    for (DWORD i = 0; i < dwCount; ++i) {
        if (!pszItemIDs[i]) {
            errors[i] = OPC_E_INVALIDITEMID;
            continue;
        }
        if (const auto written = written_.find(pszItemIDs[i]); written != written_.end()) {
            errors[i] = written->second.value.copyTo(&values[i]);
            qualities[i] = written->second.quality;
            timestamps[i] = written->second.timestamp;
            continue;
        }
        errors[i] = cannedValue(pszItemIDs[i], &values[i]);
        if (SUCCEEDED(errors[i])) {
            qualities[i] = kCannedQuality;
            timestamps[i] = {pdwMaxAge[i], kCannedTimestamp.dwHighDateTime};
        }
    }
    const HRESULT hr = korvex::com::itemsResult(errors.items());
    *ppvValues = values.release();
    *ppwQualities = qualities.release();
    *ppftTimeStamps = timestamps.release();
    *ppErrors = errors.release();
    return hr;
}

HRESULT CannedServer::WriteVQT(DWORD dwCount, LPCWSTR* pszItemIDs, OPCITEMVQT* pItemVQT, HRESULT** ppErrors) {
    *ppErrors = nullptr;
    if (dwCount == 0) return E_INVALIDARG;
    ErrorArray errors;
    if (FAILED(errors.allocate(dwCount))) return E_OUTOFMEMORY;
    std::lock_guard lock(mutex_);
    for (DWORD i = 0; i < dwCount; ++i) {
        const OPCITEMVQT& vqt = pItemVQT[i];
        if (!pszItemIDs[i] || !isItem(pszItemIDs[i])) {
            errors[i] = OPC_E_UNKNOWNITEMID;
            continue;
        }
        if (V_VT(&vqt.vDataValue) == VT_EMPTY) {
            errors[i] = OPC_E_BADTYPE;
            continue;
        }
        WrittenValue& written = written_[pszItemIDs[i]];
        errors[i] = written.value.copyFrom(vqt.vDataValue);
        written.quality = vqt.bQualitySpecified ? vqt.wQuality : kCannedQuality;
        written.timestamp = vqt.bTimeStampSpecified ? vqt.ftTimeStamp : kCannedTimestamp;
    }
    const HRESULT hr = korvex::com::itemsResult(errors.items());
    *ppErrors = errors.release();
    return hr;
}

}  // namespace conformance
