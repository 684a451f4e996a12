// Both browse interfaces over the sample plant: hierarchical browsing from each client's own
// position, and DA 3.0 browsing with its continuation points shared by all clients.
#include "tests/support/hresult.h"
#include "tests/support/server_session.h"

#include "com/string_convert.h"
#include "com/task_memory.h"
#include "opcerror.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace korvex::test {
namespace {

using com::ComPtr;
using Names = std::vector<std::wstring>;

// The Chinese point name as the database holds it: through the ANSI code page.
const std::wstring kOutletTemperature = com::toWide(com::toNarrow(L"\u51FA\u6C34\u6E29\u5EA6"));

Names Prefixed(const std::wstring& prefix, const Names& names) {
    Names ids;
    for (const std::wstring& name : names) ids.push_back(prefix + name);
    return ids;
}

Names Joined(std::initializer_list<Names> parts) {
    Names all;
    for (const Names& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

const Names kStations{L"NorthSubstation", L"PumpStation", L"WeatherMast", L"Reservoir"};
const Names kNorthAnalog{L"BusbarVoltage", L"FeederCurrent", L"Setpoint"};
const Names kNorthSwitch{L"Breaker1", L"Breaker2", L"ProtectionTrip"};
const Names kPumpAnalog{L"TankLevel", L"PumpSpeed", L"Flow Rate", kOutletTemperature, L"DischargeHeaderPressureSensorA1"};
const Names kPumpSwitch{L"Pump1Running", L"Pump2Running"};
const Names kWeatherAnalog{L"AirTemperature", L"WindSpeed", L"Humidity"};
const Names kReservoirSwitch{L"GateOpen", L"OverflowAlarm"};

// Every point below the root in breadth-first order; the two empty kind branches are no items.
const Names kFlatAll = Joined({Prefixed(L"NorthSubstation.analog.", kNorthAnalog),
                               Prefixed(L"NorthSubstation.switch.", kNorthSwitch),
                               Prefixed(L"PumpStation.analog.", kPumpAnalog),
                               Prefixed(L"PumpStation.switch.", kPumpSwitch),
                               Prefixed(L"WeatherMast.analog.", kWeatherAnalog),
                               Prefixed(L"Reservoir.switch.", kReservoirSwitch)});

std::string Show(const Names& names) {
    std::string text;
    for (const std::wstring& n : names) text += "[" + com::toUtf8(n) + "]";
    return text;
}

Names Drain(IEnumString* strings) {
    Names names;
    if (!strings) return names;
    LPOLESTR batch[7];
    ULONG fetched = 0;
    HRESULT hr;
    do {
        hr = strings->Next(7, batch, &fetched);
        for (ULONG i = 0; i < fetched; ++i) {
            names.emplace_back(batch[i]);
            CoTaskMemFree(batch[i]);
        }
    } while (hr == S_OK);
    return names;
}

class Browsing : public ::testing::Test {
protected:
    static void SetUpTestSuite() { StartServerSide(); }

    template <class I>
    static ComPtr<I> As(IUnknown* object, REFIID iid) {
        ComPtr<I> result;
        EXPECT_HR(object->QueryInterface(iid, reinterpret_cast<void**>(result.ReleaseAndGetAddressOf())), S_OK);
        return result;
    }

    ComPtr<IOPCServer> server_ = Connect();
    ComPtr<IOPCBrowseServerAddressSpace> tree_ = As<IOPCBrowseServerAddressSpace>(server_.Get(), IID_IOPCBrowseServerAddressSpace);
    ComPtr<IOPCBrowse> browse_ = As<IOPCBrowse>(server_.Get(), IID_IOPCBrowse);

    std::wstring Position() {
        LPWSTR id = nullptr;
        EXPECT_HR(tree_->GetItemID(const_cast<LPWSTR>(L""), &id), S_OK);
        std::wstring position = id ? id : L"<null>";
        CoTaskMemFree(id);
        return position;
    }
};

TEST_F(Browsing, OrganizationAndAccessPaths) {
    OPCNAMESPACETYPE type{};
    EXPECT_HR(tree_->QueryOrganization(&type), S_OK);
    EXPECT_EQ(type, OPC_NS_HIERARCHIAL);
    IEnumString* paths = reinterpret_cast<IEnumString*>(0x1);
    EXPECT_HR(tree_->BrowseAccessPaths(L"NorthSubstation.analog.Setpoint", &paths), E_NOTIMPL);
    EXPECT_EQ(paths, nullptr);
}

TEST_F(Browsing, BrowseOPCItemIDs) {
    const struct {
        const wchar_t* position;
        DWORD type;
        const wchar_t* filter;
        VARTYPE dataType;
        DWORD rights;
        HRESULT hr;
        Names expected;
    } cases[] = {
        {L"", OPC_BRANCH, L"", VT_EMPTY, 0, S_OK, kStations},
        {L"", OPC_LEAF, L"", VT_EMPTY, 0, S_FALSE, {}},
        {L"", 0, L"", VT_EMPTY, 0, S_OK, kStations},
        {L"", 7, L"*", VT_EMPTY, 0, S_OK, kStations},
        {L"NorthSubstation", 0, L"", VT_EMPTY, 0, S_OK, {L"analog", L"switch"}},
        {L"NorthSubstation", OPC_LEAF, L"", VT_EMPTY, 0, S_FALSE, {}},
        // A kind branch without points is a branch, never a leaf.
        {L"WeatherMast", OPC_LEAF, L"", VT_EMPTY, 0, S_FALSE, {}},
        {L"WeatherMast", OPC_BRANCH, L"", VT_EMPTY, 0, S_OK, {L"analog", L"switch"}},
        {L"Reservoir", OPC_BRANCH, L"", VT_EMPTY, 0, S_OK, {L"analog", L"switch"}},
        {L"Reservoir.analog", 0, L"", VT_EMPTY, 0, S_FALSE, {}},
        {L"NorthSubstation.analog", OPC_LEAF, L"", VT_EMPTY, 0, S_OK, kNorthAnalog},
        {L"NorthSubstation.analog", OPC_BRANCH, L"", VT_EMPTY, 0, S_FALSE, {}},
        {L"PumpStation.analog", OPC_LEAF, L"", VT_EMPTY, 0, S_OK, kPumpAnalog},
        {L"PumpStation.analog.PumpSpeed", OPC_LEAF, L"", VT_EMPTY, 0, S_FALSE, {}},
        // Filters match whole names, case-sensitively (every wildcard form: addrspace_match_pattern_test).
        {L"PumpStation.analog", OPC_LEAF, L"P*", VT_EMPTY, 0, S_OK, {L"PumpSpeed"}},
        {L"PumpStation.analog", OPC_LEAF, L"p*", VT_EMPTY, 0, S_FALSE, {}},
        {L"PumpStation.analog", OPC_LEAF, L"* *", VT_EMPTY, 0, S_OK, {L"Flow Rate"}},
        {L"NorthSubstation.switch", OPC_LEAF, L"Breaker", VT_EMPTY, 0, S_FALSE, {}},
        // Leaf filters: access rights 2 only writable points; 1, 3 and others everything.
        {L"NorthSubstation.analog", OPC_LEAF, L"", VT_EMPTY, OPC_WRITEABLE, S_OK, {L"Setpoint"}},
        {L"NorthSubstation.analog", OPC_LEAF, L"", VT_EMPTY, OPC_READABLE, S_OK, kNorthAnalog},
        {L"NorthSubstation.analog", OPC_LEAF, L"", VT_EMPTY, 3, S_OK, kNorthAnalog},
        {L"NorthSubstation.switch", OPC_LEAF, L"", VT_BSTR, 0, S_OK, kNorthSwitch},
        {L"NorthSubstation.switch", OPC_LEAF, L"", VT_DISPATCH, 0, S_FALSE, {}},
        // Flat: full item IDs, breadth first, the filter matched against the full ID.
        {L"", OPC_FLAT, L"", VT_EMPTY, 0, S_OK, kFlatAll},
        {L"", OPC_FLAT, L"*", VT_BSTR, 3, S_OK, kFlatAll},
        {L"", OPC_FLAT, L"P*", VT_EMPTY, 0, S_OK,
         Joined({Prefixed(L"PumpStation.analog.", kPumpAnalog), Prefixed(L"PumpStation.switch.", kPumpSwitch)})},
        {L"", OPC_FLAT, L"*Running", VT_EMPTY, 0, S_OK, Prefixed(L"PumpStation.switch.", kPumpSwitch)},
        {L"", OPC_FLAT, L"", VT_EMPTY, OPC_WRITEABLE, S_OK,
         {L"NorthSubstation.analog.Setpoint",
          L"NorthSubstation.switch.Breaker1", L"PumpStation.analog.PumpSpeed", L"PumpStation.switch.Pump1Running",
          L"PumpStation.switch.Pump2Running", L"Reservoir.switch.GateOpen"}},
        {L"", OPC_FLAT, L"", VT_DISPATCH, 0, S_FALSE, {}},
        {L"", OPC_FLAT, L"*.analog", VT_EMPTY, 0, S_FALSE, {}},
        {L"NorthSubstation", OPC_FLAT, L"", VT_EMPTY, 0, S_OK,
         Joined({Prefixed(L"NorthSubstation.analog.", kNorthAnalog), Prefixed(L"NorthSubstation.switch.", kNorthSwitch)})},
        {L"Reservoir", OPC_FLAT, L"", VT_EMPTY, 0, S_OK,
         Prefixed(L"Reservoir.switch.", kReservoirSwitch)},
        {L"NorthSubstation.analog.Setpoint", OPC_FLAT, L"", VT_EMPTY, 0, S_FALSE, {}},
    };
    for (const auto& c : cases) {
        const std::string name = com::toUtf8(c.position) + " type " + std::to_string(c.type) + " filter " +
                                 com::toUtf8(c.filter) + " vt " + std::to_string(c.dataType) + " rights " +
                                 std::to_string(c.rights);
        ASSERT_HR(tree_->ChangeBrowsePosition(OPC_BROWSE_TO, c.position), S_OK) << name;
        IEnumString* strings = nullptr;
        EXPECT_HR(tree_->BrowseOPCItemIDs(static_cast<OPCBROWSETYPE>(c.type), c.filter, c.dataType, c.rights, &strings),
                  c.hr)
            << name;
        ASSERT_NE(strings, nullptr) << name << ": an enumerator even when nothing matched";
        EXPECT_EQ(Show(Drain(strings)), Show(c.expected)) << name;
        strings->Release();
    }
}

TEST_F(Browsing, DataTypeFilterLeavesTheCacheAsItWas) {
    // A point never read counts as zero for the filter; its cached value stays empty.
    ComPtr<IOPCItemProperties> properties = As<IOPCItemProperties>(server_.Get(), IID_IOPCItemProperties);
    DWORD value = 2;
    auto cached = [&] {
        VARIANT* data = nullptr;
        HRESULT* errors = nullptr;
        EXPECT_HR(properties->GetItemProperties(const_cast<LPWSTR>(L"Reservoir.switch.OverflowAlarm"), 1, &value,
                                                &data, &errors),
                  S_OK);
        const VARTYPE vt = data ? data[0].vt : static_cast<VARTYPE>(VT_ILLEGAL);
        if (data) VariantClear(&data[0]);
        CoTaskMemFree(data);
        CoTaskMemFree(errors);
        return vt;
    };
    const VARTYPE before = cached();
    ASSERT_HR(tree_->ChangeBrowsePosition(OPC_BROWSE_TO, L"Reservoir.switch"), S_OK);
    IEnumString* strings = nullptr;
    EXPECT_HR(tree_->BrowseOPCItemIDs(OPC_LEAF, L"", VT_BSTR, 0, &strings), S_OK);
    EXPECT_EQ(Drain(strings).size(), 2u);
    strings->Release();
    EXPECT_EQ(cached(), before);
}

TEST_F(Browsing, ChangeBrowsePositionAndGetItemID) {
    const std::wstring outletTemperature = L"PumpStation.analog." + kOutletTemperature;
    // Each step from where the previous one left the position.
    const struct {
        DWORD direction;
        const wchar_t* text;
        HRESULT hr;
        const wchar_t* position;
    } steps[] = {
        {OPC_BROWSE_UP, L"", E_FAIL, L""},
        {OPC_BROWSE_DOWN, L"NorthSubstation", S_OK, L"NorthSubstation"},
        {OPC_BROWSE_DOWN, L"Analog", E_FAIL, L"NorthSubstation"},
        {OPC_BROWSE_DOWN, L"", E_FAIL, L"NorthSubstation"},
        {OPC_BROWSE_DOWN, L"analog", S_OK, L"NorthSubstation.analog"},
        {OPC_BROWSE_DOWN, L"Setpoint", S_OK, L"NorthSubstation.analog.Setpoint"},
        {OPC_BROWSE_DOWN, L"Setpoint", E_FAIL, L"NorthSubstation.analog.Setpoint"},
        {OPC_BROWSE_UP, L"ignored", S_OK, L"NorthSubstation.analog"},
        {OPC_BROWSE_UP, L"", S_OK, L"NorthSubstation"},
        {OPC_BROWSE_UP, L"", S_OK, L""},
        {OPC_BROWSE_TO, L"PumpStation.analog", S_OK, L"PumpStation.analog"},
        {OPC_BROWSE_TO, L"PumpStation.nothing", E_FAIL, L"PumpStation.analog"},
        {OPC_BROWSE_TO, L"pumpstation.analog", E_FAIL, L"PumpStation.analog"},
        {OPC_BROWSE_TO, L"PumpStation.analog.", E_FAIL, L"PumpStation.analog"},
        {OPC_BROWSE_DOWN, L"Flow Rate", S_OK, L"PumpStation.analog.Flow Rate"},
        {OPC_BROWSE_UP, L"", S_OK, L"PumpStation.analog"},
        {OPC_BROWSE_DOWN, kOutletTemperature.c_str(), S_OK, outletTemperature.c_str()},
        {OPC_BROWSE_TO, L"", S_OK, L""},
        {9, L"WeatherMast.switch", S_OK, L"WeatherMast.switch"},
        {OPC_BROWSE_UP, L"", S_OK, L"WeatherMast"},
    };
    for (const auto& s : steps) {
        const std::string name = "direction " + std::to_string(s.direction) + " " + com::toUtf8(s.text);
        EXPECT_HR(tree_->ChangeBrowsePosition(static_cast<OPCBROWSEDIRECTION>(s.direction), s.text), s.hr) << name;
        EXPECT_EQ(com::toUtf8(Position()), com::toUtf8(s.position)) << name;
    }

    const struct {
        const wchar_t* position;
        const wchar_t* name;
        HRESULT hr;
        const wchar_t* itemId;
    } lookups[] = {
        {L"", L"", S_OK, L""},
        {L"", L"NorthSubstation", S_OK, L"NorthSubstation"},
        {L"", L"NorthSubstation.analog", E_INVALIDARG, nullptr},
        {L"NorthSubstation.analog", L"", S_OK, L"NorthSubstation.analog"},
        {L"NorthSubstation.analog", L"Setpoint", S_OK, L"NorthSubstation.analog.Setpoint"},
        {L"NorthSubstation.analog", L"setpoint", E_INVALIDARG, nullptr},
        {L"NorthSubstation.analog", L"NorthSubstation.analog.Setpoint", E_INVALIDARG, nullptr},
        {L"PumpStation.analog", L"Flow Rate", S_OK, L"PumpStation.analog.Flow Rate"},
        {L"WeatherMast", L"switch", S_OK, L"WeatherMast.switch"},
    };
    for (const auto& l : lookups) {
        const std::string name = com::toUtf8(l.position) + " / " + com::toUtf8(l.name);
        ASSERT_HR(tree_->ChangeBrowsePosition(OPC_BROWSE_TO, l.position), S_OK) << name;
        LPWSTR itemId = reinterpret_cast<LPWSTR>(0x1);
        EXPECT_HR(tree_->GetItemID(const_cast<LPWSTR>(l.name), &itemId), l.hr) << name;
        if (l.itemId) {
            ASSERT_NE(itemId, nullptr) << name;
            EXPECT_EQ(com::toUtf8(itemId), com::toUtf8(l.itemId)) << name;
        } else {
            EXPECT_EQ(itemId, nullptr) << name;
        }
        if (SUCCEEDED(l.hr)) CoTaskMemFree(itemId);
    }
}

TEST_F(Browsing, EachClientHasItsOwnPosition) {
    ComPtr<IOPCServer> other = Connect();
    ComPtr<IOPCBrowseServerAddressSpace> otherTree = As<IOPCBrowseServerAddressSpace>(other.Get(), IID_IOPCBrowseServerAddressSpace);
    ASSERT_HR(tree_->ChangeBrowsePosition(OPC_BROWSE_TO, L"Reservoir.switch"), S_OK);
    IEnumString* strings = nullptr;
    EXPECT_HR(otherTree->BrowseOPCItemIDs(OPC_BRANCH, L"", VT_EMPTY, 0, &strings), S_OK);
    EXPECT_EQ(Show(Drain(strings)), Show(kStations)) << "the other client is still at the root";
    strings->Release();
    EXPECT_EQ(com::toUtf8(Position()), "Reservoir.switch");
}

// ---- IOPCBrowse

struct Page {
    HRESULT hr = E_UNEXPECTED;
    BOOL more = FALSE;
    std::wstring continuation;
    bool continuationNull = false;
    std::vector<OPCBROWSEELEMENT> elements;
    OPCBROWSEELEMENT* raw = nullptr;

    Names ElementNames() const {
        Names names;
        for (const OPCBROWSEELEMENT& e : elements) names.emplace_back(e.szName ? e.szName : L"<null>");
        return names;
    }
    ~Page() {
        for (OPCBROWSEELEMENT& e : elements) {
            CoTaskMemFree(e.szName);
            CoTaskMemFree(e.szItemID);
            for (DWORD i = 0; i < e.ItemProperties.dwNumProperties; ++i) {
                OPCITEMPROPERTY& p = e.ItemProperties.pItemProperties[i];
                CoTaskMemFree(p.szItemID);
                CoTaskMemFree(p.szDescription);
                VariantClear(&p.vValue);
            }
            CoTaskMemFree(e.ItemProperties.pItemProperties);
        }
        CoTaskMemFree(raw);
    }
};

struct BrowseArgs {
    const wchar_t* itemId = L"";
    std::wstring continuation{};
    DWORD max = 0;
    DWORD filter = OPC_BROWSE_FILTER_ALL;
    const wchar_t* nameFilter = L"";
    const wchar_t* vendorFilter = L"";
    BOOL all = FALSE;
    BOOL values = FALSE;
    std::vector<DWORD> ids{};
};

std::unique_ptr<Page> DoBrowse(IOPCBrowse* browse, const BrowseArgs& a) {
    auto page = std::make_unique<Page>();
    LPWSTR continuation = nullptr;
    if (!a.continuation.empty()) continuation = com::taskStringCopy(a.continuation).release();
    DWORD count = 0;
    // The proxy refuses a null ID array even with a count of 0.
    std::vector<DWORD> ids = a.ids;
    DWORD none = 0;
    page->hr = browse->Browse(const_cast<LPWSTR>(a.itemId), &continuation, a.max, static_cast<OPCBROWSEFILTER>(a.filter),
                              const_cast<LPWSTR>(a.nameFilter), const_cast<LPWSTR>(a.vendorFilter), a.all, a.values,
                              static_cast<DWORD>(ids.size()), ids.empty() ? &none : ids.data(), &page->more, &count,
                              &page->raw);
    page->continuationNull = continuation == nullptr;
    page->continuation = continuation ? continuation : L"";
    CoTaskMemFree(continuation);
    if (page->raw) {
        page->elements.assign(page->raw, page->raw + count);
    } else {
        EXPECT_EQ(count, 0u);
    }
    return page;
}

TEST_F(Browsing, BrowseListsChildrenWithFlagsAndFilters) {
    const std::wstring outletItemId = L"PumpStation.analog." + kOutletTemperature;
    const struct {
        const char* name;
        BrowseArgs args;
        HRESULT hr;
        Names expected;
    } cases[] = {
        {"root", {}, S_OK, kStations},
        {"root, branches", {.filter = OPC_BROWSE_FILTER_BRANCHES}, S_OK, kStations},
        {"root, items", {.filter = OPC_BROWSE_FILTER_ITEMS}, S_OK, {}},
        {"station", {.itemId = L"NorthSubstation"}, S_OK, {L"analog", L"switch"}},
        {"station, items: nothing", {.itemId = L"NorthSubstation", .filter = OPC_BROWSE_FILTER_ITEMS}, S_OK, {}},
        {"station without switch points, items", {.itemId = L"WeatherMast", .filter = OPC_BROWSE_FILTER_ITEMS}, S_OK, {}},
        {"station without switch points, branches", {.itemId = L"WeatherMast", .filter = OPC_BROWSE_FILTER_BRANCHES}, S_OK, {L"analog", L"switch"}},
        {"other filter values list everything", {.itemId = L"Reservoir", .filter = 0}, S_OK, {L"analog", L"switch"}},
        {"kind branch", {.itemId = L"PumpStation.analog"}, S_OK, kPumpAnalog},
        {"point: no children", {.itemId = L"NorthSubstation.analog.Setpoint"}, S_OK, {}},
        {"empty kind branch: no children", {.itemId = L"WeatherMast.switch"}, S_OK, {}},
        {"name filter A*", {.itemId = L"WeatherMast.analog", .nameFilter = L"A*"}, S_OK, {L"AirTemperature"}},
        {"name and vendor filter", {.itemId = L"NorthSubstation.switch", .nameFilter = L"B*", .vendorFilter = L"*1"}, S_OK, {L"Breaker1"}},
        {"vendor filter alone", {.itemId = L"NorthSubstation.switch", .vendorFilter = L"*Trip"}, S_OK, {L"ProtectionTrip"}},
        {"filters, case-sensitive", {.itemId = L"NorthSubstation.switch", .nameFilter = L"b*"}, S_OK, {}},
        {"filter matches names with a space", {.itemId = L"PumpStation.analog", .nameFilter = L"* *"}, S_OK, {L"Flow Rate"}},
        {"a point named with a space", {.itemId = L"PumpStation.analog.Flow Rate"}, S_OK, {}},
        {"a point named in Chinese", {.itemId = outletItemId.c_str()}, S_OK, {}},
        {"Chinese, unknown", {.itemId = L"PumpStation.analog.\u51FA"}, OPC_E_UNKNOWNITEMID, {}},
        {"fullwidth letter: no best fit", {.itemId = L"\uFF30umpStation"}, OPC_E_UNKNOWNITEMID, {}},
        {"control character", {.itemId = L"Pump\tStation"}, OPC_E_INVALIDITEMID, {}},
        {"not in the code page", {.itemId = L"PumpStation.\u0E01"}, OPC_E_INVALIDITEMID, {}},
        {"unknown", {.itemId = L"NorthSubstation.nothing"}, OPC_E_UNKNOWNITEMID, {}},
        {"wrong case", {.itemId = L"northsubstation"}, OPC_E_UNKNOWNITEMID, {}},
        {"trailing dot", {.itemId = L"NorthSubstation."}, OPC_E_UNKNOWNITEMID, {}},
    };
    for (const auto& c : cases) {
        auto page = DoBrowse(browse_.Get(), c.args);
        EXPECT_HR(page->hr, c.hr) << c.name;
        EXPECT_EQ(Show(page->ElementNames()), Show(c.expected)) << c.name;
        EXPECT_FALSE(page->more) << c.name;
        if (SUCCEEDED(c.hr)) {
            EXPECT_FALSE(page->continuationNull) << c.name << ": a new, empty continuation point";
            EXPECT_EQ(page->continuation, L"") << c.name;
        }
    }

    // Flags, item IDs and the properties of branches.
    auto root = DoBrowse(browse_.Get(), {});
    ASSERT_EQ(root->elements.size(), 4u);
    for (const OPCBROWSEELEMENT& e : root->elements) {
        EXPECT_EQ(e.dwFlagValue, static_cast<DWORD>(OPC_BROWSE_HASCHILDREN));
        EXPECT_EQ(std::wstring(e.szItemID), std::wstring(e.szName));
        EXPECT_HR(e.ItemProperties.hrErrorID, OPC_E_UNKNOWNITEMID);
        EXPECT_EQ(e.ItemProperties.dwNumProperties, 0u);
    }
    auto weather = DoBrowse(browse_.Get(), {.itemId = L"WeatherMast"});
    ASSERT_EQ(weather->elements.size(), 2u);
    EXPECT_EQ(weather->elements[0].dwFlagValue, static_cast<DWORD>(OPC_BROWSE_HASCHILDREN));
    EXPECT_EQ(weather->elements[1].dwFlagValue, 0u) << "the empty kind branch: no item, no children";
    EXPECT_EQ(std::wstring(weather->elements[1].szItemID), L"WeatherMast.switch");
    EXPECT_HR(weather->elements[1].ItemProperties.hrErrorID, OPC_E_UNKNOWNITEMID);
    auto pumps = DoBrowse(browse_.Get(), {.itemId = L"PumpStation.analog"});
    ASSERT_EQ(pumps->elements.size(), 5u);
    EXPECT_EQ(std::wstring(pumps->elements[2].szItemID), L"PumpStation.analog.Flow Rate");
    EXPECT_EQ(pumps->elements[3].szItemID, L"PumpStation.analog." + kOutletTemperature);
    for (const OPCBROWSEELEMENT& e : pumps->elements) {
        EXPECT_EQ(e.dwFlagValue, static_cast<DWORD>(OPC_BROWSE_ISITEM));
        EXPECT_HR(e.ItemProperties.hrErrorID, S_OK);
        EXPECT_EQ(e.ItemProperties.dwNumProperties, 0u);
        EXPECT_EQ(e.ItemProperties.pItemProperties, nullptr);
    }
}

TEST_F(Browsing, BrowseWithProperties) {
    // All properties: 11 for analog points with limits, 9 without; values only when asked for.
    auto analog = DoBrowse(browse_.Get(), {.itemId = L"PumpStation.analog", .all = TRUE, .values = TRUE});
    ASSERT_HR(analog->hr, S_OK);
    ASSERT_EQ(analog->elements.size(), 5u);
    const DWORD counts[] = {11, 9, 11, 11, 11};
    for (std::size_t i = 0; i < 5; ++i) {
        const OPCITEMPROPERTIES& p = analog->elements[i].ItemProperties;
        EXPECT_HR(p.hrErrorID, S_OK) << i;
        ASSERT_EQ(p.dwNumProperties, counts[i]) << i;
        EXPECT_EQ(p.pItemProperties[5].dwPropertyID, 6u);
        EXPECT_EQ(p.pItemProperties[5].vValue.vt, VT_R4);
        EXPECT_EQ(p.pItemProperties[5].vValue.fltVal, 200.0f);
        EXPECT_EQ(std::wstring(p.pItemProperties[8].szDescription), L"Item Description");
    }
    EXPECT_EQ(std::wstring(analog->elements[1].ItemProperties.pItemProperties[8].vValue.bstrVal),
              L"Pump 1 speed setpoint, rpm");
    EXPECT_EQ(std::wstring(analog->elements[0].ItemProperties.pItemProperties[9].szItemID),
              L"PumpStation.analog.TankLevel.fHLimit");
    EXPECT_EQ(analog->elements[0].ItemProperties.pItemProperties[9].vValue.dblVal, 10.0);

    auto noValues = DoBrowse(browse_.Get(), {.itemId = L"Reservoir.switch", .all = TRUE});
    ASSERT_EQ(noValues->elements.size(), 2u);
    ASSERT_EQ(noValues->elements[0].ItemProperties.dwNumProperties, 9u);
    for (DWORD i = 0; i < 9; ++i) EXPECT_EQ(noValues->elements[0].ItemProperties.pItemProperties[i].vValue.vt, VT_EMPTY);

    // Selected properties, in request order; an ID the point lacks marks the record S_FALSE.
    auto selected = DoBrowse(browse_.Get(), {.itemId = L"NorthSubstation.switch", .values = TRUE, .ids = {5, 104, 1}});
    ASSERT_EQ(selected->elements.size(), 3u);
    const OPCITEMPROPERTIES& s = selected->elements[0].ItemProperties;
    EXPECT_HR(s.hrErrorID, S_FALSE);
    ASSERT_EQ(s.dwNumProperties, 3u);
    EXPECT_EQ(s.pItemProperties[0].dwPropertyID, 5u);
    EXPECT_EQ(s.pItemProperties[0].vValue.lVal, 3) << "Breaker1 is writable";
    EXPECT_HR(s.pItemProperties[1].hrErrorID, OPC_E_INVALID_PID);
    EXPECT_EQ(s.pItemProperties[1].dwPropertyID, 104u);
    EXPECT_EQ(s.pItemProperties[1].vtDataType, VT_EMPTY);
    EXPECT_EQ(std::wstring(s.pItemProperties[1].szItemID), L"");
    EXPECT_EQ(std::wstring(s.pItemProperties[1].szDescription), L"");
    EXPECT_EQ(s.pItemProperties[2].vValue.iVal, VT_BOOL);
    EXPECT_EQ(std::wstring(s.pItemProperties[2].szItemID), L"NorthSubstation.switch.Breaker1.DataType");

    // Branches have no properties, an empty kind branch included: only their elements say so.
    auto station = DoBrowse(browse_.Get(), {.itemId = L"Reservoir", .all = TRUE});
    ASSERT_HR(station->hr, S_OK);
    ASSERT_EQ(station->elements.size(), 2u);
    EXPECT_HR(station->elements[0].ItemProperties.hrErrorID, OPC_E_UNKNOWNITEMID);
    EXPECT_EQ(station->elements[0].ItemProperties.dwNumProperties, 0u);
    EXPECT_HR(station->elements[1].ItemProperties.hrErrorID, OPC_E_UNKNOWNITEMID);
}

TEST_F(Browsing, ContinuationPoints) {
    // Pages of two through the five analog points of PumpStation.
    BrowseArgs args{.itemId = L"PumpStation.analog", .max = 2};
    auto first = DoBrowse(browse_.Get(), args);
    ASSERT_HR(first->hr, S_OK);
    EXPECT_EQ(Show(first->ElementNames()), Show({L"TankLevel", L"PumpSpeed"}));
    EXPECT_TRUE(first->more);
    EXPECT_EQ(com::toUtf8(first->continuation), "PumpStation.analog.Flow Rate") << "a name with a space";

    args.continuation = first->continuation;
    auto second = DoBrowse(browse_.Get(), args);
    ASSERT_HR(second->hr, S_OK);
    EXPECT_EQ(Show(second->ElementNames()), Show({L"Flow Rate", kOutletTemperature}));
    EXPECT_TRUE(second->more);
    EXPECT_EQ(com::toUtf8(second->continuation), "PumpStation.analog.DischargeHeaderPressureSensorA1");

    // The same point again gives the same page; without a limit, the rest.
    auto again = DoBrowse(browse_.Get(), args);
    EXPECT_EQ(Show(again->ElementNames()), Show(second->ElementNames()));
    args.max = 0;
    auto rest = DoBrowse(browse_.Get(), args);
    ASSERT_HR(rest->hr, S_OK);
    EXPECT_EQ(Show(rest->ElementNames()), Show({L"Flow Rate", kOutletTemperature, L"DischargeHeaderPressureSensorA1"}));
    EXPECT_FALSE(rest->more);
    EXPECT_EQ(rest->continuation, L"");

    // A point for other keys, or one that names no entry of the list, is refused.
    const struct {
        const char* name;
        BrowseArgs args;
    } refused[] = {
        {"other item ID", {.itemId = L"NorthSubstation.analog", .continuation = L"PumpStation.analog.Flow Rate", .max = 2}},
        {"other filter", {.itemId = L"PumpStation.analog", .continuation = L"PumpStation.analog.Flow Rate", .max = 2, .filter = OPC_BROWSE_FILTER_ITEMS}},
        {"other name filter", {.itemId = L"PumpStation.analog", .continuation = L"PumpStation.analog.Flow Rate", .max = 2, .nameFilter = L"*"}},
        {"other vendor filter", {.itemId = L"PumpStation.analog", .continuation = L"PumpStation.analog.Flow Rate", .max = 2, .vendorFilter = L"*"}},
        {"not in the list", {.itemId = L"PumpStation.analog", .continuation = L"PumpStation.switch.Pump1Running", .max = 2}},
        {"nothing", {.itemId = L"PumpStation.analog", .continuation = L"garbage", .max = 2}},
    };
    for (const auto& r : refused) {
        auto page = DoBrowse(browse_.Get(), r.args);
        EXPECT_HR(page->hr, OPC_E_INVALIDCONTINUATIONPOINT) << r.name;
        EXPECT_TRUE(page->elements.empty()) << r.name;
        EXPECT_EQ(page->continuation, r.args.continuation) << r.name << ": the client's string stays";
    }
    // The refused calls with other keys did not compute a list: the point still works.
    args.max = 2;
    auto still = DoBrowse(browse_.Get(), args);
    EXPECT_HR(still->hr, S_OK);
    EXPECT_EQ(Show(still->ElementNames()), Show({L"Flow Rate", kOutletTemperature}));
}

TEST_F(Browsing, AnotherClientsBrowseInvalidatesTheContinuationPoint) {
    ComPtr<IOPCServer> other = Connect();
    ComPtr<IOPCBrowse> otherBrowse = As<IOPCBrowse>(other.Get(), IID_IOPCBrowse);
    BrowseArgs args{.itemId = L"NorthSubstation.switch", .max = 1};
    auto first = DoBrowse(browse_.Get(), args);
    ASSERT_TRUE(first->more);
    EXPECT_EQ(com::toUtf8(first->continuation), "NorthSubstation.switch.Breaker2");
    args.continuation = first->continuation;

    // The other client browses with the same keys: the record holds the same list, the point stays.
    auto same = DoBrowse(otherBrowse.Get(), {.itemId = L"NorthSubstation.switch", .max = 5});
    EXPECT_EQ(same->elements.size(), 3u);
    auto second = DoBrowse(browse_.Get(), args);
    EXPECT_HR(second->hr, S_OK);
    EXPECT_EQ(Show(second->ElementNames()), Show({L"Breaker2"}));

    // Other keys replace the record: the first client's point is stale.
    auto elsewhere = DoBrowse(otherBrowse.Get(), {.itemId = L"NorthSubstation.analog"});
    EXPECT_HR(elsewhere->hr, S_OK);
    auto stale = DoBrowse(browse_.Get(), args);
    EXPECT_HR(stale->hr, OPC_E_INVALIDCONTINUATIONPOINT);
    EXPECT_TRUE(stale->elements.empty());
    EXPECT_FALSE(stale->more);
}

}  // namespace
}  // namespace korvex::test
