// Cases of the server's address space: browsing (DA 2.0 and 3.0), item properties and IOPCItemIO.
#include "cases.h"

#include "canned_space.h"
#include "conformance_protocol.h"

#include <span>

namespace conformance::client {

namespace {

const std::wstring kLong = longText();
const std::wstring kPumpStation = L"\u6cf5\u7ad9";                    // 泵站
const std::wstring kOutletTemperature = L"\u51fa\u6c34\u6e29\u5ea6";  // 出水温度
const std::wstring kChineseItem = kPumpStation + L"." + kOutletTemperature;
const std::wstring kContinuation = L"\u7eed";  // 续

const std::vector<std::wstring> kValueNames = {L"I4",   L"R8",       L"R4",    L"I8",      L"Bool",
                                               L"Date", L"EmptyText", L"Text", L"\u4e2d\u6587", L"LongText",
                                               L"Texts", L"Numbers",  L"Empty"};

std::vector<DWORD> allPropertyIds() {
    std::vector<DWORD> ids;
    for (const CannedProperty& p : kCannedProperties) ids.push_back(p.id);
    return ids;
}

VARTYPE propertyType(const std::wstring& itemId, const CannedProperty& p) {
    return p.type == VT_EMPTY ? V_VT(&canned(itemId).get()) : p.type;
}

std::optional<std::wstring> propertyItemId(const std::wstring& itemId, DWORD id) {
    std::wstring found;
    if (FAILED(cannedPropertyItemId(itemId, id, &found))) return std::nullopt;
    return found;
}

// One item's properties as GetProperties and Browse hand them out.
void expectProperties(const OPCITEMPROPERTIES& got, const std::wstring& itemId, const std::vector<DWORD>& ids,
                      bool withValues) {
    SCOPED_TRACE("properties of \"" + utf8(itemId) + "\"");
    Variant probe;
    if (FAILED(cannedValue(itemId, probe.put()))) {
        EXPECT_EQ(Hr{got.hrErrorID}, Hr{OPC_E_UNKNOWNITEMID});
        EXPECT_EQ(got.dwNumProperties, 0u);
        EXPECT_EQ(got.pItemProperties, nullptr);
        return;
    }
    bool allKnown = true;
    ASSERT_EQ(got.dwNumProperties, ids.size());
    ASSERT_NE(got.pItemProperties, nullptr);
    for (std::size_t i = 0; i < ids.size(); ++i) {
        SCOPED_TRACE("property " + std::to_string(ids[i]));
        const OPCITEMPROPERTY& p = got.pItemProperties[i];
        EXPECT_EQ(p.dwPropertyID, ids[i]);
        EXPECT_EQ(p.dwReserved, 0u);
        const CannedProperty* canned = findCannedProperty(ids[i]);
        if (!canned) {
            allKnown = false;
            EXPECT_EQ(Hr{p.hrErrorID}, Hr{OPC_E_INVALID_PID});
            EXPECT_EQ(p.szDescription, nullptr);
            continue;
        }
        EXPECT_EQ(Hr{p.hrErrorID}, Hr{S_OK});
        EXPECT_EQ(p.vtDataType, propertyType(itemId, *canned));
        EXPECT_EQ(text(p.szDescription), Text(std::wstring(canned->description)));
        EXPECT_EQ(text(p.szItemID), Text(propertyItemId(itemId, ids[i])));
        Variant expected;
        if (withValues) require(cannedPropertyValue(itemId, ids[i], expected.put()), "canned property value");
        EXPECT_TRUE(sameVariant(p.vValue, expected.get()));
    }
    EXPECT_EQ(Hr{got.hrErrorID}, Hr{allKnown ? S_OK : S_FALSE});
}

ComPtr<IEnumString> browseIds(IOPCBrowseServerAddressSpace* space, OPCBROWSETYPE type, const std::wstring& filter,
                              VARTYPE dataType, DWORD rights, HRESULT* hr) {
    ComPtr<IEnumString> strings;
    *hr = space->BrowseOPCItemIDs(type, filter.c_str(), dataType, rights, strings.ReleaseAndGetAddressOf());
    return strings;
}

}  // namespace

// IOPCBrowseServerAddressSpace --------------------------------------------------------------------

void queryOrganization(Session& s) {
    OPCNAMESPACETYPE type = OPC_NS_FLAT;
    EXPECT_EQ(Hr{require<IOPCBrowseServerAddressSpace>(s.server.Get(), "server")->QueryOrganization(&type)},
              Hr{S_OK});
    EXPECT_EQ(type, OPC_NS_HIERARCHIAL);
}

void changeBrowsePosition(Session& s) {
    ComPtr<IOPCBrowseServerAddressSpace> space = require<IOPCBrowseServerAddressSpace>(s.server.Get(), "server");
    struct Step {
        const char* name;
        OPCBROWSEDIRECTION direction;
        std::wstring to;
        HRESULT expected;
        std::wstring position;
    };
    const Step steps[] = {
        {"up from the root", OPC_BROWSE_UP, L"", E_FAIL, L""},
        {"down into a Chinese branch", OPC_BROWSE_DOWN, kPumpStation, S_OK, kPumpStation},
        {"down into an item", OPC_BROWSE_DOWN, kOutletTemperature, E_INVALIDARG, kPumpStation},
        {"up", OPC_BROWSE_UP, L"ignored", S_OK, L""},
        {"to a branch", OPC_BROWSE_TO, L"Values", S_OK, L"Values"},
        {"to an unknown branch", OPC_BROWSE_TO, L"Values.Nope", E_INVALIDARG, L"Values"},
        {"to the root", OPC_BROWSE_TO, L"", S_OK, L""},
        {"down into nothing", OPC_BROWSE_DOWN, L"", E_INVALIDARG, L""},
        {"unknown direction", static_cast<OPCBROWSEDIRECTION>(9), L"Values", E_INVALIDARG, L""},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.name);
        EXPECT_EQ(Hr{space->ChangeBrowsePosition(step.direction, step.to.c_str())}, Hr{step.expected});
        LPWSTR position = nullptr;
        EXPECT_EQ(Hr{space->GetItemID(const_cast<LPWSTR>(L""), &position)}, Hr{S_OK});
        EXPECT_EQ(text(position), Text(step.position));
        CoTaskMemFree(position);
    }
}

void getItemId(Session& s) {
    ComPtr<IOPCBrowseServerAddressSpace> space = require<IOPCBrowseServerAddressSpace>(s.server.Get(), "server");
    struct Case {
        std::wstring position;
        std::wstring name;
        std::wstring itemId;
    };
    const Case cases[] = {
        {L"", L"", L""},
        {L"", kAscii, kAscii},
        {L"", kChinese, kChinese},
        {L"", kLong, kLong},
        {kPumpStation, kOutletTemperature, kChineseItem},
        {kPumpStation, L"", kPumpStation},
        {L"Values", kLong, L"Values." + kLong},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("GetItemID(\"" + utf8(c.name.substr(0, 20)) + "\") at \"" + utf8(c.position) + "\"");
        require(space->ChangeBrowsePosition(OPC_BROWSE_TO, c.position.c_str()), "ChangeBrowsePosition");
        LPWSTR itemId = nullptr;
        EXPECT_EQ(Hr{space->GetItemID(const_cast<LPWSTR>(c.name.c_str()), &itemId)}, Hr{S_OK});
        EXPECT_EQ(text(itemId), Text(c.itemId));
        CoTaskMemFree(itemId);
    }
}

void browseOpcItemIds(Session& s) {
    ComPtr<IOPCBrowseServerAddressSpace> space = require<IOPCBrowseServerAddressSpace>(s.server.Get(), "server");
    struct Case {
        const char* name;
        std::wstring position;
        OPCBROWSETYPE type;
        std::wstring filter;
        VARTYPE dataType;
        DWORD rights;
        HRESULT expected;
        std::vector<std::wstring> names;
    };
    const Case cases[] = {
        {"branches at the root", L"", OPC_BRANCH, L"", VT_EMPTY, 0, S_OK, {L"Values", kPumpStation}},
        {"no leaves at the root", L"", OPC_LEAF, L"", VT_EMPTY, 0, S_FALSE, {}},
        {"leaves", L"Values", OPC_LEAF, L"", VT_EMPTY, 0, S_OK, kValueNames},
        {"leaves named Text", L"Values", OPC_LEAF, L"Text", VT_EMPTY, 0, S_OK,
         {L"EmptyText", L"Text", L"LongText", L"Texts"}},
        {"leaves of type R8", L"Values", OPC_LEAF, L"", VT_R8, 0, S_OK, {L"R8"}},
        {"readable leaves", L"Values", OPC_LEAF, L"", VT_EMPTY, OPC_READABLE, S_OK, kValueNames},
        {"leaves with other rights", L"Values", OPC_LEAF, L"", VT_EMPTY, 4, S_FALSE, {}},
        {"a Chinese leaf", kPumpStation, OPC_LEAF, L"", VT_EMPTY, 0, S_OK, {kOutletTemperature}},
        {"flat, Chinese filter", L"", OPC_FLAT, L"\u6e29", VT_EMPTY, 0, S_OK, {kChineseItem}},  // 温
        {"flat, arrays", L"Values", OPC_FLAT, L"", VT_ARRAY | VT_R8, 0, S_OK, {L"Values.Numbers"}},
        {"unknown browse type", L"", static_cast<OPCBROWSETYPE>(7), L"", VT_EMPTY, 0, E_INVALIDARG, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        require(space->ChangeBrowsePosition(OPC_BROWSE_TO, c.position.c_str()), "ChangeBrowsePosition");
        HRESULT hr = E_FAIL;
        ComPtr<IEnumString> strings = browseIds(space.Get(), c.type, c.filter, c.dataType, c.rights, &hr);
        EXPECT_EQ(Hr{hr}, Hr{c.expected});
        if (FAILED(c.expected)) {
            EXPECT_EQ(strings.Get(), nullptr);
            continue;
        }
        ASSERT_TRUE(strings) << "an enumerator even when nothing matches";
        EXPECT_EQ(readAll(strings.Get()), texts(c.names));
    }
}

void browseAccessPaths(Session& s) {
    ComPtr<IOPCBrowseServerAddressSpace> space = require<IOPCBrowseServerAddressSpace>(s.server.Get(), "server");
    for (const std::wstring& itemId : {kChineseItem, std::wstring(L"Values.I4")}) {
        SCOPED_TRACE(utf8(itemId));
        ComPtr<IEnumString> paths;
        EXPECT_EQ(Hr{space->BrowseAccessPaths(itemId.c_str(), paths.ReleaseAndGetAddressOf())}, Hr{S_OK});
        ASSERT_TRUE(paths);
        EXPECT_EQ(readAll(paths.Get()), texts({L"COM1", L"\u901a\u9053 " + itemId}));
    }
    ComPtr<IEnumString> none;
    EXPECT_EQ(Hr{space->BrowseAccessPaths(L"Values.Nope", none.ReleaseAndGetAddressOf())}, Hr{S_FALSE});
    EXPECT_EQ(none.Get(), nullptr) << "no access paths: no enumerator";
}

// IOPCItemProperties -------------------------------------------------------------------------------

void queryAvailableProperties(Session& s) {
    ComPtr<IOPCItemProperties> properties = require<IOPCItemProperties>(s.server.Get(), "server");
    for (const std::wstring& itemId : {std::wstring(L"Values.R8"), std::wstring(L"Values.Texts"), kChineseItem}) {
        SCOPED_TRACE(utf8(itemId));
        DWORD count = 0;
        Received<DWORD> ids(0);
        ReceivedStrings descriptions(0);
        Received<VARTYPE> types(0);
        ASSERT_EQ(Hr{properties->QueryAvailableProperties(const_cast<LPWSTR>(itemId.c_str()), &count, ids.put(),
                                                          descriptions.put(), types.put())},
                  Hr{S_OK});
        descriptions.setCount(count);
        ASSERT_EQ(count, kCannedProperties.size());
        ASSERT_TRUE(ids && descriptions && types);
        for (std::size_t i = 0; i < count; ++i) {
            const CannedProperty& p = kCannedProperties[i];
            SCOPED_TRACE("property " + std::to_string(p.id));
            EXPECT_EQ(ids[i], p.id);
            EXPECT_EQ(text(descriptions[i]), Text(std::wstring(p.description)));
            EXPECT_EQ(types[i], propertyType(itemId, p));
        }
    }
    DWORD count = 0xBAD;
    Received<DWORD> ids(0);
    ReceivedStrings descriptions(0);
    Received<VARTYPE> types(0);
    EXPECT_EQ(Hr{properties->QueryAvailableProperties(const_cast<LPWSTR>(L"Values.Nope"), &count, ids.put(),
                                                      descriptions.put(), types.put())},
              Hr{OPC_E_UNKNOWNITEMID});
    EXPECT_EQ(count, 0u);
    EXPECT_FALSE(ids || descriptions || types);
}

void getItemProperties(Session& s) {
    ComPtr<IOPCItemProperties> properties = require<IOPCItemProperties>(s.server.Get(), "server");
    std::vector<DWORD> ids = allPropertyIds();
    ids.push_back(9999);
    const auto count = static_cast<DWORD>(ids.size());
    for (const std::wstring& itemId : {std::wstring(L"Values.Texts"), kChineseItem, std::wstring(L"Values.Date")}) {
        SCOPED_TRACE(utf8(itemId));
        ReceivedVariants values(count);
        ReceivedErrors errors(count);
        ASSERT_EQ(Hr{properties->GetItemProperties(const_cast<LPWSTR>(itemId.c_str()), count, ids.data(),
                                                   values.put(), errors.put())},
                  Hr{S_FALSE});
        for (std::size_t i = 0; i < ids.size(); ++i) {
            SCOPED_TRACE("property " + std::to_string(ids[i]));
            Variant expected;
            const HRESULT expectedError = cannedPropertyValue(itemId, ids[i], expected.put());
            EXPECT_EQ(Hr{errors[i]}, Hr{expectedError});
            EXPECT_TRUE(sameVariant(values[i], expected.get()));
        }
    }
    ReceivedVariants values(count);
    ReceivedErrors errors(count);
    EXPECT_EQ(Hr{properties->GetItemProperties(const_cast<LPWSTR>(L""), count, ids.data(), values.put(),
                                               errors.put())},
              Hr{OPC_E_UNKNOWNITEMID});
    EXPECT_FALSE(values || errors);
}

void lookupItemIds(Session& s) {
    ComPtr<IOPCItemProperties> properties = require<IOPCItemProperties>(s.server.Get(), "server");
    std::vector<DWORD> ids = allPropertyIds();
    ids.push_back(9999);
    const auto count = static_cast<DWORD>(ids.size());
    for (const std::wstring& itemId : {kChineseItem, std::wstring(L"Values.LongText")}) {
        SCOPED_TRACE(utf8(itemId));
        ReceivedStrings newIds(count);
        ReceivedErrors errors(count);
        ASSERT_EQ(Hr{properties->LookupItemIDs(const_cast<LPWSTR>(itemId.c_str()), count, ids.data(), newIds.put(),
                                               errors.put())},
                  Hr{S_FALSE});
        ASSERT_TRUE(newIds && errors);
        for (std::size_t i = 0; i < ids.size(); ++i) {
            SCOPED_TRACE("property " + std::to_string(ids[i]));
            const auto expected = propertyItemId(itemId, ids[i]);
            EXPECT_EQ(Hr{errors[i]}, Hr{expected ? S_OK : OPC_E_INVALID_PID});
            EXPECT_EQ(text(newIds[i]), Text(expected));
        }
    }
    ReceivedStrings newIds(count);
    ReceivedErrors errors(count);
    EXPECT_EQ(Hr{properties->LookupItemIDs(const_cast<LPWSTR>(L"Values.Nope"), count, ids.data(), newIds.put(),
                                           errors.put())},
              Hr{OPC_E_UNKNOWNITEMID});
    EXPECT_FALSE(newIds || errors);
}

// IOPCBrowse ---------------------------------------------------------------------------------------

void getProperties(Session& s) {
    ComPtr<IOPCBrowse> browser = require<IOPCBrowse>(s.server.Get(), "server");
    const std::vector<std::wstring> itemIds = {L"Values.R8", L"", kChineseItem, kLong, L"Values.Texts"};
    std::vector<LPWSTR> sent;
    for (const std::wstring& id : itemIds) sent.push_back(const_cast<LPWSTR>(id.c_str()));
    struct Case {
        const char* name;
        BOOL withValues;
        std::vector<DWORD> ids;  // asked for; none: all
    };
    const Case cases[] = {
        {"all properties with values", TRUE, {}},
        {"two properties, one unknown, no values", FALSE, {OPC_PROPERTY_DESCRIPTION, 9999}},
        {"the value property with its value", TRUE, {OPC_PROPERTY_VALUE}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto count = static_cast<DWORD>(itemIds.size());
        std::vector<DWORD> ids = c.ids;
        DWORD none = 0;
        Received<OPCITEMPROPERTIES, FreeItemProperties> received(count);
        ASSERT_EQ(Hr{browser->GetProperties(count, sent.data(), c.withValues, static_cast<DWORD>(ids.size()),
                                            ids.empty() ? &none : ids.data(), received.put())},
                  Hr{S_FALSE});
        ASSERT_TRUE(received);
        for (std::size_t i = 0; i < itemIds.size(); ++i)
            expectProperties(received[i], itemIds[i], c.ids.empty() ? allPropertyIds() : c.ids, c.withValues);
    }
}

void browse(Session& s) {
    ComPtr<IOPCBrowse> browser = require<IOPCBrowse>(s.server.Get(), "server");
    struct Case {
        const char* name;
        std::wstring itemId;
        std::optional<std::wstring> continuationIn;  // none: a null pointer
        DWORD max;
        OPCBROWSEFILTER filter;
        std::wstring nameFilter;
        std::wstring vendorFilter;
        BOOL allProperties;
        BOOL withValues;
        std::vector<DWORD> propertyIds;
        HRESULT expected;
        std::vector<std::wstring> names;  // the elements' names, in order
        std::optional<std::wstring> continuationOut;
        BOOL more;
    };
    const std::vector<std::wstring>& v = kValueNames;
    const Case cases[] = {
        {"first page", L"Values", std::nullopt, 5, OPC_BROWSE_FILTER_ALL, L"", L"", FALSE, FALSE, {}, S_OK,
         {v.begin(), v.begin() + 5}, kContinuation + L"5", TRUE},
        {"second page", L"Values", kContinuation + L"5", 5, OPC_BROWSE_FILTER_ALL, L"", L"", FALSE, FALSE, {}, S_OK,
         {v.begin() + 5, v.begin() + 10}, kContinuation + L"10", TRUE},
        {"last page", L"Values", kContinuation + L"10", 5, OPC_BROWSE_FILTER_ALL, L"", L"", FALSE, FALSE, {}, S_OK,
         {v.begin() + 10, v.end()}, L"", FALSE},
        {"empty continuation point: all", L"Values", L"", 0, OPC_BROWSE_FILTER_ITEMS, L"", kAscii, FALSE, FALSE, {},
         S_OK, v, L"", FALSE},
        {"continuation point not ours", L"Values", L"bogus", 5, OPC_BROWSE_FILTER_ALL, L"", L"", FALSE, FALSE, {},
         OPC_E_INVALIDCONTINUATIONPOINT, {}, L"bogus", FALSE},
        {"branches at the root", L"", std::nullopt, 0, OPC_BROWSE_FILTER_BRANCHES, L"", L"", FALSE, FALSE, {}, S_OK,
         {L"Values", kPumpStation}, L"", FALSE},
        {"items at the root", L"", std::nullopt, 0, OPC_BROWSE_FILTER_ITEMS, L"", L"", TRUE, TRUE, {}, S_OK, {}, L"",
         FALSE},
        {"a Chinese item with every property and value", kPumpStation, std::nullopt, 0, OPC_BROWSE_FILTER_ALL, L"",
         kChinese, TRUE, TRUE, {}, S_OK, {kOutletTemperature}, L"", FALSE},
        {"name filter, asked properties", L"Values", std::nullopt, 0, OPC_BROWSE_FILTER_ITEMS, L"Text", L"", FALSE,
         FALSE, {OPC_PROPERTY_DESCRIPTION, OPC_PROPERTY_EU_UNITS}, S_OK,
         {L"EmptyText", L"Text", L"LongText", L"Texts"}, L"", FALSE},
        {"an unknown property", kPumpStation, std::nullopt, 0, OPC_BROWSE_FILTER_ALL, L"", L"", FALSE, TRUE,
         {9999}, S_FALSE, {kOutletTemperature}, L"", FALSE},
        {"unknown branch", L"Values.Nope", kContinuation + L"2", 0, OPC_BROWSE_FILTER_ALL, L"", L"", FALSE, FALSE,
         {}, OPC_E_UNKNOWNITEMID, {}, kContinuation + L"2", FALSE},
        {"unknown filter", L"Values", std::nullopt, 0, static_cast<OPCBROWSEFILTER>(9), L"", L"", FALSE, FALSE, {},
         E_INVALIDARG, {}, std::nullopt, FALSE},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // The client's continuation point is task memory the call may free and replace.
        LPWSTR continuation = c.continuationIn ? korvex::com::taskStringCopy(*c.continuationIn).release() : nullptr;
        std::vector<DWORD> ids = c.propertyIds;
        DWORD none = 0;
        BOOL more = 0xBAD;
        DWORD count = 0xBAD;
        Received<OPCBROWSEELEMENT, FreeBrowseElement> elements(0);
        const HRESULT hr = browser->Browse(const_cast<LPWSTR>(c.itemId.c_str()), &continuation, c.max, c.filter,
                                           const_cast<LPWSTR>(c.nameFilter.c_str()),
                                           const_cast<LPWSTR>(c.vendorFilter.c_str()), c.allProperties, c.withValues,
                                           static_cast<DWORD>(ids.size()), ids.empty() ? &none : ids.data(), &more,
                                           &count, elements.put());
        elements.setCount(count == 0xBAD ? 0 : count);
        EXPECT_EQ(Hr{hr}, Hr{c.expected});
        EXPECT_EQ(text(continuation), Text(c.continuationOut));
        CoTaskMemFree(continuation);
        EXPECT_EQ(more, c.more);
        ASSERT_EQ(count, c.names.size());
        if (count == 0) {
            EXPECT_EQ(elements.get(), nullptr);
        }
        const DWORD echo = (Echo{} << c.nameFilter.c_str() << c.vendorFilter.c_str() << c.allProperties
                                   << c.withValues << std::span<const DWORD>(ids))
                               .value();
        for (DWORD i = 0; i < count; ++i) {
            const OPCBROWSEELEMENT& e = elements[i];
            const std::wstring itemId = c.itemId.empty() ? c.names[i] : c.itemId + L"." + c.names[i];
            SCOPED_TRACE("element " + utf8(itemId));
            Variant probe;
            const bool isItem = SUCCEEDED(cannedValue(itemId, probe.put()));
            EXPECT_EQ(text(e.szName), Text(c.names[i]));
            EXPECT_EQ(text(e.szItemID), Text(itemId));
            EXPECT_EQ(e.dwFlagValue, isItem ? OPC_BROWSE_ISITEM : OPC_BROWSE_HASCHILDREN);
            EXPECT_EQ(e.dwReserved, echo) << "the filters and property choices the server received";
            if (isItem && (c.allProperties || !ids.empty())) {
                expectProperties(e.ItemProperties, itemId, c.allProperties ? allPropertyIds() : ids, c.withValues);
            } else {
                EXPECT_EQ(e.ItemProperties.dwNumProperties, 0u);
                EXPECT_EQ(e.ItemProperties.pItemProperties, nullptr);
            }
        }
    }
}

// IOPCItemIO ---------------------------------------------------------------------------------------

void itemIoRead(Session& s) {
    ComPtr<IOPCItemIO> io = require<IOPCItemIO>(s.server.Get(), "server");
    const std::vector<std::wstring> itemIds = {L"Values.I4", kChineseItem, L"Values.Nope", L"Values.LongText",
                                               L"Values.Texts", L""};
    std::vector<LPCWSTR> sent;
    for (const std::wstring& id : itemIds) sent.push_back(id.c_str());
    DWORD maxAges[] = {0, 1000, 5, 0xFFFFFFFF, 42, 7};
    const auto count = static_cast<DWORD>(itemIds.size());
    ReceivedVariants values(count);
    Received<WORD> qualities(count);
    Received<FILETIME> timestamps(count);
    ReceivedErrors errors(count);
    ASSERT_EQ(Hr{io->Read(count, sent.data(), maxAges, values.put(), qualities.put(), timestamps.put(), errors.put())},
              Hr{S_FALSE});
    for (std::size_t i = 0; i < itemIds.size(); ++i) {
        SCOPED_TRACE(utf8(itemIds[i]));
        Variant expected;
        const HRESULT expectedError = cannedValue(itemIds[i], expected.put());
        EXPECT_EQ(Hr{errors[i]}, Hr{expectedError});
        EXPECT_TRUE(sameVariant(values[i], expected.get()));
        const bool known = SUCCEEDED(expectedError);
        EXPECT_EQ(qualities[i], known ? kCannedQuality : 0);
        const FILETIME expectedTime = known ? FILETIME{maxAges[i], kCannedTimestamp.dwHighDateTime} : FILETIME{};
        EXPECT_EQ(timestamps[i], expectedTime);
    }
}

void itemIoWriteVqt(Session& s) {
    ComPtr<IOPCItemIO> io = require<IOPCItemIO>(s.server.Get(), "server");
    struct Case {
        std::wstring itemId;
        Variant value;
        std::optional<WORD> quality;
        std::optional<FILETIME> timestamp;
        HRESULT expected;
    };
    std::vector<Case> cases;
    cases.push_back({L"Values.Text", bstr(kChinese), WORD{0x40}, FILETIME{3, 4}, S_OK});
    cases.push_back({L"Values.Numbers", r8Array({1e-300, 2.5}), std::nullopt, std::nullopt, S_OK});
    cases.push_back({kChineseItem, bstrArray({kLong}), std::nullopt, FILETIME{5, 6}, S_OK});
    cases.push_back({L"Values.Nope", i4(1), std::nullopt, std::nullopt, OPC_E_UNKNOWNITEMID});
    cases.push_back({L"Values.I4", Variant(), std::nullopt, std::nullopt, OPC_E_BADTYPE});
    std::vector<LPCWSTR> sent;
    std::vector<OPCITEMVQT> vqts;
    for (const Case& c : cases) {
        sent.push_back(c.itemId.c_str());
        OPCITEMVQT vqt{};
        vqt.vDataValue = c.value.get();
        vqt.bQualitySpecified = c.quality.has_value();
        vqt.wQuality = c.quality.value_or(0xFFFF);
        vqt.bTimeStampSpecified = c.timestamp.has_value();
        vqt.ftTimeStamp = c.timestamp.value_or(FILETIME{0xFFFF, 0xFFFF});
        vqts.push_back(vqt);
    }
    const auto count = static_cast<DWORD>(cases.size());
    ReceivedErrors errors(count);
    ASSERT_EQ(Hr{io->WriteVQT(count, sent.data(), vqts.data(), errors.put())}, Hr{S_FALSE});
    std::vector<DWORD> maxAges(count, 0);
    ReceivedVariants values(count);
    Received<WORD> qualities(count);
    Received<FILETIME> timestamps(count);
    ReceivedErrors readErrors(count);
    require(io->Read(count, sent.data(), maxAges.data(), values.put(), qualities.put(), timestamps.put(),
                     readErrors.put()),
            "Read");
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE(utf8(c.itemId));
        EXPECT_EQ(Hr{errors[i]}, Hr{c.expected});
        if (FAILED(c.expected)) continue;
        EXPECT_TRUE(sameVariant(values[i], c.value.get())) << "read back";
        EXPECT_EQ(qualities[i], c.quality.value_or(kCannedQuality));
        EXPECT_EQ(timestamps[i], c.timestamp.value_or(kCannedTimestamp));
    }
}

}  // namespace conformance::client
