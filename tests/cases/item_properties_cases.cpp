// The properties of points through IOPCItemProperties and IOPCBrowse::GetProperties: which a point
// has, their types, descriptions, values and item IDs, and every code of the three operations.
#include "tests/support/hresult.h"
#include "tests/support/server_session.h"

#include "com/string_convert.h"
#include "opcerror.h"

#include <gtest/gtest.h>
#include <oleauto.h>

#include <string>
#include <vector>

namespace korvex::test {
namespace {

using com::ComPtr;

constexpr const wchar_t* kBusbar = L"NorthSubstation.analog.BusbarVoltage";  // limits 9.5..11.5, read-only, 10.5
constexpr const wchar_t* kBreaker = L"NorthSubstation.switch.Breaker1";      // writable
constexpr const wchar_t* kSpeed = L"PumpStation.analog.PumpSpeed";          // no limits (both 0)
constexpr const wchar_t* kHumidity = L"WeatherMast.analog.Humidity";        // no limits (both 50)
constexpr const wchar_t* kNeverRead = L"Reservoir.switch.OverflowAlarm";    // nothing in this program reads it

struct Expected {
    DWORD id;
    VARTYPE type;
    const wchar_t* description;
};

const Expected kSwitchProperties[] = {
    {1, VT_I2, L"Item Canonical Data Type"}, {2, VT_BOOL, L"Item Value"},    {3, VT_I2, L"Item Quality"},
    {4, VT_DATE, L"Item Timestamp"},         {5, VT_I4, L"Item Access Rights"}, {6, VT_R4, L"Server Scan Rate"},
    {7, VT_I4, L"Item EU Type"},             {8, VT_ARRAY | VT_BSTR, L"Item EU Info"},
    {101, VT_BSTR, L"Item Description"},
};
const Expected kAnalogProperties[] = {
    {1, VT_I2, L"Item Canonical Data Type"}, {2, VT_R4, L"Item Value"},    {3, VT_I2, L"Item Quality"},
    {4, VT_DATE, L"Item Timestamp"},         {5, VT_I4, L"Item Access Rights"}, {6, VT_R4, L"Server Scan Rate"},
    {7, VT_I4, L"Item EU Type"},             {8, VT_ARRAY | VT_BSTR, L"Item EU Info"},
    {101, VT_BSTR, L"Item Description"},     {104, VT_R8, L"High Instrument Range"},
    {105, VT_R8, L"Low Instrument Range"},
};

class ItemProperties : public ::testing::Test {
protected:
    static void SetUpTestSuite() { StartServerSide(); }

    void SetUp() override {
        ASSERT_HR(server_->QueryInterface(IID_IOPCItemProperties, reinterpret_cast<void**>(properties_.ReleaseAndGetAddressOf())), S_OK);
        ASSERT_HR(server_->QueryInterface(IID_IOPCBrowse, reinterpret_cast<void**>(browse_.ReleaseAndGetAddressOf())), S_OK);
        ASSERT_HR(server_->QueryInterface(IID_IOPCItemIO, reinterpret_cast<void**>(io_.ReleaseAndGetAddressOf())), S_OK);
    }

    struct Values {
        HRESULT hr = E_UNEXPECTED;
        std::vector<VARIANT> data;
        std::vector<HRESULT> errors;
        ~Values() {
            for (VARIANT& v : data) VariantClear(&v);
        }
    };

    std::unique_ptr<Values> Get(const wchar_t* itemId, std::vector<DWORD> ids) {
        auto v = std::make_unique<Values>();
        VARIANT* data = nullptr;
        HRESULT* errors = nullptr;
        DWORD none = 0;  // the proxy refuses a null ID array even with a count of 0
        v->hr = properties_->GetItemProperties(const_cast<LPWSTR>(itemId), static_cast<DWORD>(ids.size()),
                                               ids.empty() ? &none : ids.data(),
                                               &data, &errors);
        if (data) v->data.assign(data, data + ids.size());
        if (errors) v->errors.assign(errors, errors + ids.size());
        CoTaskMemFree(data);
        CoTaskMemFree(errors);
        return v;
    }

    ComPtr<IOPCServer> server_ = Connect();
    ComPtr<IOPCItemProperties> properties_;
    ComPtr<IOPCBrowse> browse_;
    ComPtr<IOPCItemIO> io_;
};

TEST_F(ItemProperties, QueryAvailableProperties) {
    const struct {
        const wchar_t* itemId;
        HRESULT hr;
        std::vector<Expected> expected;
    } cases[] = {
        {kBreaker, S_OK, {std::begin(kSwitchProperties), std::end(kSwitchProperties)}},
        {kBusbar, S_OK, {std::begin(kAnalogProperties), std::end(kAnalogProperties)}},
        {kSpeed, S_OK, {std::begin(kAnalogProperties), std::begin(kAnalogProperties) + 9}},
        {kHumidity, S_OK, {std::begin(kAnalogProperties), std::begin(kAnalogProperties) + 9}},
        {L"", E_INVALIDARG, {}},
        {L"NorthSubstation", E_FAIL, {}},
        {L"NorthSubstation.analog", E_FAIL, {}},
        {L"WeatherMast.switch", E_FAIL, {}},
        {L"NorthSubstation.nothing", OPC_E_UNKNOWNITEMID, {}},
        {L"NorthSubstation.3.Setpoint", OPC_E_UNKNOWNITEMID, {}},
        {L"S1-A", OPC_E_UNKNOWNITEMID, {}},
        {L"PumpStation.analog.Flow\tRate", OPC_E_INVALIDITEMID, {}},
        {L"NorthSubstation.analog.Busbar\u0E01", OPC_E_INVALIDITEMID, {}},
    };
    for (const auto& c : cases) {
        const std::string name = com::toUtf8(c.itemId);
        DWORD count = 99;
        DWORD* ids = nullptr;
        LPWSTR* descriptions = nullptr;
        VARTYPE* types = nullptr;
        EXPECT_HR(properties_->QueryAvailableProperties(const_cast<LPWSTR>(c.itemId), &count, &ids, &descriptions, &types),
                  c.hr)
            << name;
        ASSERT_EQ(count, c.expected.size()) << name;
        for (std::size_t i = 0; i < count; ++i) {
            EXPECT_EQ(ids[i], c.expected[i].id) << name << " entry " << i;
            EXPECT_EQ(types[i], c.expected[i].type) << name << " entry " << i;
            EXPECT_EQ(com::toUtf8(descriptions[i]), com::toUtf8(c.expected[i].description)) << name << " entry " << i;
            CoTaskMemFree(descriptions[i]);
        }
        if (count == 0) {
            EXPECT_TRUE(!ids && !descriptions && !types) << name;
        }
        CoTaskMemFree(ids);
        CoTaskMemFree(descriptions);
        CoTaskMemFree(types);
    }
}

TEST_F(ItemProperties, GetItemPropertiesValues) {
    // A device read stores the reading in the point's cache, which the properties hand out.
    LPCWSTR id = kBusbar;
    DWORD maxAge = 0;
    VARIANT* values = nullptr;
    WORD* qualities = nullptr;
    FILETIME* stamps = nullptr;
    HRESULT* errors = nullptr;
    ASSERT_HR(io_->Read(1, &id, &maxAge, &values, &qualities, &stamps, &errors), S_OK);
    const FILETIME readAt = stamps[0];
    for (void* p : {static_cast<void*>(values), static_cast<void*>(qualities), static_cast<void*>(stamps),
                    static_cast<void*>(errors)})
        CoTaskMemFree(p);
    SYSTEMTIME calendar;
    FileTimeToSystemTime(&readAt, &calendar);
    calendar.wMilliseconds = 0;
    DATE readDate = 0;
    SystemTimeToVariantTime(&calendar, &readDate);

    auto v = Get(kBusbar, {1, 2, 3, 4, 5, 6, 7, 8, 101, 104, 105, 102, 0, 100, 106});
    EXPECT_HR(v->hr, S_FALSE);
    ASSERT_EQ(v->data.size(), 15u);
    const HRESULT expectedErrors[] = {S_OK, S_OK, S_OK, S_OK, S_OK, S_OK, S_OK, S_OK, S_OK, S_OK, S_OK,
                                      OPC_E_INVALID_PID, OPC_E_INVALID_PID, OPC_E_INVALID_PID, OPC_E_INVALID_PID};
    for (std::size_t i = 0; i < 15; ++i) EXPECT_HR(v->errors[i], expectedErrors[i]) << "entry " << i;
    const VARTYPE types[] = {VT_I2, VT_R4, VT_I2, VT_DATE, VT_I4, VT_R4, VT_I4, VT_EMPTY, VT_BSTR, VT_R8, VT_R8,
                             VT_EMPTY, VT_EMPTY, VT_EMPTY, VT_EMPTY};
    for (std::size_t i = 0; i < 15; ++i) EXPECT_EQ(v->data[i].vt, types[i]) << "entry " << i;
    EXPECT_EQ(v->data[0].iVal, VT_R4);
    EXPECT_EQ(v->data[1].fltVal, 10.5f);
    EXPECT_EQ(v->data[2].iVal, 0xC0);
    // The same whole second: SystemTimeToVariantTime of a 32-bit client (x87 arithmetic) may differ
    // from the 64-bit server's in the last bits; a millisecond is 1.2e-8 of a day.
    EXPECT_NEAR(v->data[3].date, readDate, 1e-9);
    EXPECT_EQ(v->data[4].lVal, OPC_READABLE);
    EXPECT_EQ(v->data[5].fltVal, 200.0f);
    EXPECT_EQ(v->data[6].lVal, OPC_ANALOG);
    EXPECT_EQ(com::toUtf8(v->data[8].bstrVal), "10 kV busbar voltage, kV");
    EXPECT_EQ(v->data[9].dblVal, 11.5);
    EXPECT_EQ(v->data[10].dblVal, 9.5);

    const struct {
        const wchar_t* itemId;
        std::vector<DWORD> ids;
        HRESULT hr;
        std::vector<HRESULT> errors;
    } cases[] = {
        {kSpeed, {6, 102}, S_FALSE, {S_OK, OPC_E_INVALID_PID}},
        {kSpeed, {104}, S_FALSE, {OPC_E_INVALID_PID}},
        {kBreaker, {1, 5, 7, 101}, S_OK, {S_OK, S_OK, S_OK, S_OK}},
        {kBreaker, {}, E_INVALIDARG, {}},
        {L"", {1}, E_INVALIDARG, {}},
        {L"NorthSubstation", {1}, E_FAIL, {}},
        {L"NorthSubstation.switch", {1}, E_FAIL, {}},
        {L"NorthSubstation.nothing", {1}, OPC_E_UNKNOWNITEMID, {}},
        {L"S1-A", {1}, OPC_E_UNKNOWNITEMID, {}},
    };
    for (const auto& c : cases) {
        auto r = Get(c.itemId, c.ids);
        const std::string name = com::toUtf8(c.itemId) + " with " + std::to_string(c.ids.size()) + " IDs";
        EXPECT_HR(r->hr, c.hr) << name;
        ASSERT_EQ(r->errors.size(), c.errors.size()) << name;
        for (std::size_t i = 0; i < c.errors.size(); ++i) EXPECT_HR(r->errors[i], c.errors[i]) << name << " entry " << i;
        if (FAILED(c.hr)) {
            EXPECT_TRUE(r->data.empty()) << name;
        }
    }
    auto breaker = Get(kBreaker, {1, 5, 7});
    EXPECT_EQ(breaker->data[0].iVal, VT_BOOL);
    EXPECT_EQ(breaker->data[1].lVal, OPC_READABLE | OPC_WRITEABLE);
    EXPECT_EQ(breaker->data[2].lVal, OPC_NOENUM);
    EXPECT_EQ(Get(kSpeed, {7})->data[0].lVal, OPC_NOENUM);
}

TEST_F(ItemProperties, ValueOfAPointNeverRead) {
    auto v = Get(kNeverRead, {2, 3});
    EXPECT_HR(v->hr, S_OK);
    EXPECT_EQ(v->data[0].vt, VT_EMPTY);
    EXPECT_EQ(v->data[1].vt, VT_I2);
    EXPECT_EQ(v->data[1].iVal, 0) << "quality BAD";
}

TEST_F(ItemProperties, LookupItemIDs) {
    const struct {
        const wchar_t* itemId;
        std::vector<DWORD> ids;
        HRESULT hr;
        std::vector<HRESULT> errors;
        std::vector<const wchar_t*> expected;
    } cases[] = {
        {kBusbar, {2, 104, 105, 1, 3, 4, 5, 6, 7, 8, 101}, S_OK,
         {S_OK, S_OK, S_OK, S_OK, S_OK, S_OK, S_OK, S_OK, S_OK, S_OK, S_OK},
         {L"NorthSubstation.analog.BusbarVoltage.Value", L"NorthSubstation.analog.BusbarVoltage.fHLimit",
          L"NorthSubstation.analog.BusbarVoltage.fLLimit", L"NorthSubstation.analog.BusbarVoltage.DataType",
          L"NorthSubstation.analog.BusbarVoltage.Quality", L"NorthSubstation.analog.BusbarVoltage.TimeStamp",
          L"NorthSubstation.analog.BusbarVoltage.AccessRights", L"NorthSubstation.analog.BusbarVoltage.ScanRate",
          L"NorthSubstation.analog.BusbarVoltage.EUType", L"NorthSubstation.analog.BusbarVoltage.EUInfo",
          L"NorthSubstation.analog.BusbarVoltage.Description"}},
        {kBreaker, {2, 104, 100}, S_FALSE, {S_OK, OPC_E_INVALID_PID, OPC_E_INVALID_PID},
         {L"NorthSubstation.switch.Breaker1.Value", nullptr, nullptr}},
        {kBreaker, {}, E_INVALIDARG, {}, {}},
        {L"", {1}, E_INVALIDARG, {}, {}},
        {L"Reservoir", {1}, E_FAIL, {}, {}},
        {L"Reservoir.analog", {1}, E_FAIL, {}, {}},
        {L"Reservoir.nothing", {1}, OPC_E_UNKNOWNITEMID, {}, {}},
        {L"Reservoir.switch.Gate\tOpen", {1}, OPC_E_INVALIDITEMID, {}, {}},
    };
    for (const auto& c : cases) {
        const std::string name = com::toUtf8(c.itemId) + " with " + std::to_string(c.ids.size()) + " IDs";
        std::vector<DWORD> ids = c.ids;
        DWORD none = 0;
        LPWSTR* itemIds = nullptr;
        HRESULT* errors = nullptr;
        EXPECT_HR(properties_->LookupItemIDs(const_cast<LPWSTR>(c.itemId), static_cast<DWORD>(ids.size()),
                                             ids.empty() ? &none : ids.data(), &itemIds, &errors),
                  c.hr)
            << name;
        if (FAILED(c.hr)) {
            EXPECT_TRUE(!itemIds && !errors) << name;
            continue;
        }
        for (std::size_t i = 0; i < ids.size(); ++i) {
            EXPECT_HR(errors[i], c.errors[i]) << name << " entry " << i;
            if (c.expected[i]) {
                EXPECT_EQ(com::toUtf8(itemIds[i] ? itemIds[i] : L"<null>"), com::toUtf8(c.expected[i])) << name << " entry " << i;
            } else {
                EXPECT_EQ(itemIds[i], nullptr) << name << " entry " << i;
            }
            CoTaskMemFree(itemIds[i]);
        }
        CoTaskMemFree(itemIds);
        CoTaskMemFree(errors);
    }
}

TEST_F(ItemProperties, PropertyItemIdsDoNotResolve) {
    DWORD count = 0;
    DWORD* ids = nullptr;
    LPWSTR* descriptions = nullptr;
    VARTYPE* types = nullptr;
    EXPECT_HR(properties_->QueryAvailableProperties(const_cast<LPWSTR>(L"NorthSubstation.analog.BusbarVoltage.Value"),
                                                    &count, &ids, &descriptions, &types),
              OPC_E_UNKNOWNITEMID);
}

TEST_F(ItemProperties, GetPropertiesOfManyItems) {
    LPWSTR items[] = {const_cast<LPWSTR>(kBusbar),
                      const_cast<LPWSTR>(L""),
                      const_cast<LPWSTR>(L"NorthSubstation.nothing"),
                      const_cast<LPWSTR>(L"NorthSubstation"),
                      const_cast<LPWSTR>(L"WeatherMast.switch"),
                      const_cast<LPWSTR>(L"PumpStation.analog.Flow Rate"),
                      const_cast<LPWSTR>(kBreaker)};
    const struct {
        HRESULT hr;
        DWORD count;
    } expected[] = {{S_OK, 11}, {OPC_E_INVALIDITEMID, 0}, {OPC_E_UNKNOWNITEMID, 0}, {E_FAIL, 0},
                    {E_FAIL, 0},  {S_OK, 11},               {S_OK, 9}};
    DWORD noIds = 0;  // the proxy refuses a null ID array even with a count of 0
    for (const BOOL withValues : {FALSE, TRUE}) {
        OPCITEMPROPERTIES* records = nullptr;
        ASSERT_HR(browse_->GetProperties(7, items, withValues, 0, &noIds, &records), S_FALSE) << "records failed";
        for (std::size_t i = 0; i < 7; ++i) {
            const OPCITEMPROPERTIES& r = records[i];
            EXPECT_HR(r.hrErrorID, expected[i].hr) << "record " << i;
            EXPECT_EQ(r.dwNumProperties, expected[i].count) << "record " << i;
            for (DWORD p = 0; p < r.dwNumProperties; ++p) {
                const OPCITEMPROPERTY& property = r.pItemProperties[p];
                EXPECT_EQ(property.dwPropertyID, kAnalogProperties[p].id) << "record " << i << " property " << p;
                EXPECT_EQ(property.vtDataType, i == 6 && p == 1 ? static_cast<VARTYPE>(VT_BOOL) : kAnalogProperties[p].type);
                EXPECT_EQ(com::toUtf8(property.szDescription), com::toUtf8(kAnalogProperties[p].description));
                EXPECT_HR(property.hrErrorID, S_OK);
                // EU info is always empty; so is the value of a point nothing has read (all but record 0).
                const bool empty = !withValues || p == 7 || (p == 1 && i != 0);
                EXPECT_EQ(property.vValue.vt == VT_EMPTY, empty) << "record " << i << " property " << p;
                CoTaskMemFree(property.szItemID);
                CoTaskMemFree(property.szDescription);
                VariantClear(&const_cast<OPCITEMPROPERTY&>(property).vValue);
            }
            CoTaskMemFree(r.pItemProperties);
        }
        CoTaskMemFree(records);
    }

    // Selected properties: one entry per ID, OPC_E_INVALID_PID where the point lacks it.
    LPWSTR two[] = {const_cast<LPWSTR>(kSpeed), const_cast<LPWSTR>(L"Reservoir")};
    DWORD ids[] = {104, 6};
    OPCITEMPROPERTIES* records = nullptr;
    ASSERT_HR(browse_->GetProperties(2, two, TRUE, 2, ids, &records), S_FALSE) << "the branch failed";
    EXPECT_HR(records[0].hrErrorID, S_FALSE);
    ASSERT_EQ(records[0].dwNumProperties, 2u);
    EXPECT_HR(records[0].pItemProperties[0].hrErrorID, OPC_E_INVALID_PID);
    EXPECT_EQ(records[0].pItemProperties[0].dwPropertyID, 104u);
    EXPECT_HR(records[0].pItemProperties[1].hrErrorID, S_OK);
    EXPECT_EQ(records[0].pItemProperties[1].vValue.fltVal, 200.0f);
    EXPECT_EQ(com::toUtf8(records[0].pItemProperties[1].szItemID), "PumpStation.analog.PumpSpeed.ScanRate");
    EXPECT_HR(records[1].hrErrorID, E_FAIL);
    for (DWORD p = 0; p < 2; ++p) {
        CoTaskMemFree(records[0].pItemProperties[p].szItemID);
        CoTaskMemFree(records[0].pItemProperties[p].szDescription);
    }
    CoTaskMemFree(records[0].pItemProperties);
    CoTaskMemFree(records);

    EXPECT_HR(browse_->GetProperties(0, items, TRUE, 0, &noIds, &records), E_INVALIDARG);
}

}  // namespace
}  // namespace korvex::test
