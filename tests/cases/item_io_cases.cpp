// Server-level reads and writes by item ID (IOPCItemIO): cache or device by max age, the per-item
// codes of resolution and of the write test, and what reaches the runtime.
#include "com/string_convert.h"
#include "tests/support/hresult.h"
#include "tests/support/server_session.h"
#include "tests/support/simulator_control.h"
#include "tests/support/test_variants.h"

#include "opcerror.h"

#include <gtest/gtest.h>
#include <oleauto.h>

#include <limits>
#include <memory>
#include <string>
#include <vector>

namespace korvex::test {
namespace {

using com::ComPtr;

constexpr const wchar_t* kBusbar = L"NorthSubstation.analog.BusbarVoltage";  // read-only, 10.5
constexpr const wchar_t* kSetpoint = L"NorthSubstation.analog.Setpoint";     // writable, 0..100, 50
constexpr const wchar_t* kBreaker = L"NorthSubstation.switch.Breaker1";      // writable, on
constexpr const wchar_t* kHumidity = L"WeatherMast.analog.Humidity";         // 63, read first by MaxAge
constexpr const wchar_t* kGate = L"Reservoir.switch.GateOpen";               // writable, off

bool Same(const FILETIME& a, const FILETIME& b) { return CompareFileTime(&a, &b) == 0; }

class ItemIO : public ::testing::Test {
protected:
    static void SetUpTestSuite() { StartServerSide(); }

    void SetUp() override {
        ASSERT_HR(server_->QueryInterface(IID_IOPCItemIO, reinterpret_cast<void**>(io_.ReleaseAndGetAddressOf())), S_OK);
    }

    struct Reading {
        HRESULT hr = E_UNEXPECTED;
        std::vector<VARIANT> values;
        std::vector<WORD> qualities;
        std::vector<FILETIME> stamps;
        std::vector<HRESULT> errors;
        ~Reading() {
            for (VARIANT& v : values) VariantClear(&v);
        }
    };

    std::unique_ptr<Reading> Read(std::vector<LPCWSTR> ids, std::vector<DWORD> maxAges) {
        auto r = std::make_unique<Reading>();
        VARIANT* values = nullptr;
        WORD* qualities = nullptr;
        FILETIME* stamps = nullptr;
        HRESULT* errors = nullptr;
        r->hr = io_->Read(static_cast<DWORD>(ids.size()), ids.data(), maxAges.data(), &values, &qualities, &stamps, &errors);
        const std::size_t n = errors ? ids.size() : 0;
        if (values) r->values.assign(values, values + n);
        if (qualities) r->qualities.assign(qualities, qualities + n);
        if (stamps) r->stamps.assign(stamps, stamps + n);
        if (errors) r->errors.assign(errors, errors + n);
        if (!errors) {
            EXPECT_TRUE(!values && !qualities && !stamps) << "no arrays on a call-level failure";
        }
        for (void* p : {static_cast<void*>(values), static_cast<void*>(qualities), static_cast<void*>(stamps),
                        static_cast<void*>(errors)})
            CoTaskMemFree(p);
        return r;
    }

    struct Write {
        LPCWSTR itemId;
        VARIANT value;
        bool withQuality = false;
        bool withTimestamp = false;
    };

    std::vector<HRESULT> WriteVQT(std::vector<Write> writes, HRESULT expected) {
        std::vector<LPCWSTR> ids;
        std::vector<OPCITEMVQT> vqts(writes.size());
        for (std::size_t i = 0; i < writes.size(); ++i) {
            ids.push_back(writes[i].itemId);
            vqts[i].vDataValue = writes[i].value;
            vqts[i].bQualitySpecified = writes[i].withQuality;
            vqts[i].wQuality = 0x1C;
            vqts[i].bTimeStampSpecified = writes[i].withTimestamp;
            vqts[i].ftTimeStamp = FILETIME{1, 2};
        }
        HRESULT* errors = nullptr;
        EXPECT_HR(io_->WriteVQT(static_cast<DWORD>(ids.size()), ids.data(), vqts.data(), &errors), expected);
        std::vector<HRESULT> result(errors, errors + (errors ? ids.size() : 0));
        CoTaskMemFree(errors);
        for (OPCITEMVQT& v : vqts) VariantClear(&v.vDataValue);
        return result;
    }

    ComPtr<IOPCServer> server_ = Connect();
    ComPtr<IOPCItemIO> io_;
};

TEST_F(ItemIO, ReadCodesAndDeviceValues) {
    FILETIME before;
    CoFileTimeNow(&before);
    auto r = Read({kBusbar, kBreaker, L"NorthSubstation", L"NorthSubstation.analog", L"NorthSubstation.nothing",
                   L"NorthSubstation.3.Setpoint", L"PumpStation.analog.Flow\tRate", L"", L"North\u0E01Substation"},
                  {0, 0, 0, 0, 0, 0, 0, 0, 0});
    EXPECT_HR(r->hr, S_FALSE);
    const HRESULT expected[] = {S_OK, S_OK, E_FAIL, E_FAIL, OPC_E_UNKNOWNITEMID, OPC_E_UNKNOWNITEMID,
                                OPC_E_INVALIDITEMID, OPC_E_INVALIDITEMID, OPC_E_INVALIDITEMID};
    ASSERT_EQ(r->errors.size(), std::size(expected));
    for (std::size_t i = 0; i < std::size(expected); ++i) {
        EXPECT_HR(r->errors[i], expected[i]) << "entry " << i;
        if (i < 2) continue;
        EXPECT_EQ(r->values[i].vt, VT_EMPTY) << "entry " << i;
        EXPECT_EQ(r->qualities[i], 0) << "entry " << i;
        EXPECT_TRUE(Same(r->stamps[i], FILETIME{})) << "entry " << i;
    }
    // Values in the canonical type, GOOD, stamped with the time of the read.
    EXPECT_EQ(r->values[0].vt, VT_R4);
    EXPECT_EQ(r->values[0].fltVal, 10.5f);
    EXPECT_EQ(r->qualities[0], 0xC0);
    EXPECT_GE(CompareFileTime(&r->stamps[0], &before), 0);
    EXPECT_EQ(r->values[1].vt, VT_BOOL);
    EXPECT_EQ(r->values[1].boolVal, VARIANT_TRUE);

    EXPECT_HR(Read({kBusbar, kBreaker}, {0, 0})->hr, S_OK);
}

TEST_F(ItemIO, CountZeroIsRefusedBeforeAnythingIsAllocated) {
    LPCWSTR id = kBusbar;
    DWORD maxAge = 0;
    VARIANT* values = nullptr;
    WORD* qualities = nullptr;
    FILETIME* stamps = nullptr;
    HRESULT* errors = nullptr;
    EXPECT_HR(io_->Read(0, &id, &maxAge, &values, &qualities, &stamps, &errors), E_INVALIDARG);
    EXPECT_TRUE(!values && !qualities && !stamps && !errors);
    OPCITEMVQT vqt{};
    EXPECT_HR(io_->WriteVQT(0, &id, &vqt, &errors), E_INVALIDARG);
    EXPECT_EQ(errors, nullptr);
}

TEST_F(ItemIO, MaxAgeChoosesCacheOrDevice) {
    // Never read: the cache holds nothing, handed out as 0.0 with quality BAD, and S_OK.
    auto cold = Read({kHumidity}, {0xFFFFFFFF});
    EXPECT_HR(cold->hr, S_OK);
    EXPECT_EQ(cold->values[0].vt, VT_R4);
    EXPECT_EQ(cold->values[0].fltVal, 0.0f);
    EXPECT_EQ(cold->qualities[0], 0x00);

    auto device = Read({kHumidity}, {0});
    EXPECT_EQ(device->values[0].fltVal, 63.0f);
    EXPECT_EQ(device->qualities[0], 0xC0);
    FILETIME stored = device->stamps[0];
    Sleep(300);
    const struct {
        DWORD maxAge;
        bool fromCache;
    } cases[] = {{0xFFFFFFFF, true}, {60000, true}, {5000, true}, {100, false}, {0, false}, {1, false}};
    for (const auto& c : cases) {
        auto r = Read({kHumidity}, {c.maxAge});
        EXPECT_HR(r->hr, S_OK) << c.maxAge;
        EXPECT_EQ(r->values[0].fltVal, 63.0f) << c.maxAge;
        EXPECT_EQ(r->qualities[0], 0xC0) << c.maxAge << ": the device read stored its reading in the cache";
        EXPECT_EQ(Same(r->stamps[0], stored), c.fromCache) << "max age " << c.maxAge;
        if (!c.fromCache) stored = r->stamps[0];
        Sleep(300);
    }
}

TEST_F(ItemIO, WriteVQTCodes) {
    const std::vector<HRESULT> errors =
        WriteVQT({{kSetpoint, Number(VT_R4, 150)},
                  {kSetpoint, Number(VT_R4, 50)},
                  {kSetpoint, Text(L"abc")},
                  {kSetpoint, Number(VT_R8, 50)},
                  {kSetpoint, Text(L"50")},
                  {kBusbar, Number(VT_R4, 10)},
                  {kBreaker, Number(VT_BOOL, 1), true, true},
                  {kBreaker, Number(VT_I4, 1), true, false},
                  {L"NorthSubstation", Number(VT_R4, 1)},
                  {L"WeatherMast.switch", Number(VT_BOOL, 1)},
                  {L"NorthSubstation.nothing", Number(VT_R4, 1)},
                  {L"PumpStation.analog.Flow\tRate", Number(VT_R4, 1)},
                  {L"", Number(VT_R4, 1)},
                  {kSetpoint, Number(VT_R8, 150)},
                  {kSetpoint, Number(VT_R8, std::numeric_limits<double>::quiet_NaN())},
                  {L"PumpStation.analog.Flow Rate", Number(VT_R4, 1)}},
                 S_FALSE);
    const HRESULT expected[] = {OPC_E_RANGE,   S_OK,   OPC_E_BADTYPE,       OPC_S_CLAMP,        OPC_S_CLAMP,
                                OPC_E_BADRIGHTS, S_OK, OPC_S_CLAMP,         E_FAIL,             E_FAIL,
                                OPC_E_UNKNOWNITEMID, OPC_E_INVALIDITEMID, OPC_E_INVALIDITEMID, OPC_E_RANGE,
                                OPC_E_RANGE,   OPC_E_BADRIGHTS};
    ASSERT_EQ(errors.size(), std::size(expected));
    for (std::size_t i = 0; i < errors.size(); ++i) EXPECT_HR(errors[i], expected[i]) << "entry " << i;
    EXPECT_EQ(WriteVQT({{kSetpoint, Number(VT_R8, 50), false, true}}, S_OK), std::vector<HRESULT>{OPC_S_CLAMP})
        << "OPC_S_CLAMP alone is a success of the call";
}

TEST_F(ItemIO, WrittenValuesReachTheRuntime) {
    if (!CrossProcess()) GTEST_SKIP() << "only the simulator applies written values";
    SimulatorControl simulator;
    const struct {
        bool quality;
        bool timestamp;
        double value;
    } cases[] = {{false, false, 12.5}, {true, false, 25}, {false, true, 37.5}, {true, true, 62.5}};
    for (const auto& c : cases) {
        simulator.clearMessages();
        EXPECT_EQ(WriteVQT({{kSetpoint, Number(VT_R4, c.value), c.quality, c.timestamp},
                            {kGate, Number(VT_BOOL, c.value > 30 ? 1 : 0), c.quality, c.timestamp}},
                           S_OK),
                  (std::vector<HRESULT>{S_OK, S_OK}));
        EXPECT_EQ(simulator.analog("NorthSubstation", "Setpoint"), c.value) << c.value;
        EXPECT_EQ(simulator.switchState("Reservoir", "GateOpen"), c.value > 30 ? 1 : 0) << c.value;
        EXPECT_EQ(simulator.messages().size(), 2u) << c.value;
        // The cache is not touched by the write; a device read shows the written value, GOOD.
        auto r = Read({kSetpoint}, {0});
        EXPECT_EQ(r->values[0].fltVal, static_cast<float>(c.value));
        EXPECT_EQ(r->qualities[0], 0xC0) << "the written quality never reaches the runtime";
    }
    WriteVQT({{kSetpoint, Number(VT_R4, 50)}, {kGate, Number(VT_BOOL, 0)}}, S_OK);
}

// A plant's names may hold spaces or Chinese: every interface that takes an item ID reaches them.
TEST_F(ItemIO, PointsNamedWithASpaceOrInChinese) {
    const std::wstring flowRate = L"PumpStation.analog.Flow Rate";
    const std::wstring outlet = com::toWide(com::toNarrow(L"PumpStation.analog.\u51FA\u6C34\u6E29\u5EA6"));
    auto r = Read({flowRate.c_str(), outlet.c_str()}, {0, 0});
    ASSERT_HR(r->hr, S_OK);
    EXPECT_EQ(r->values[0].vt, VT_R4);
    EXPECT_EQ(r->qualities[0], 0xC0);
    EXPECT_EQ(r->values[1].fltVal, 18.5f);
    EXPECT_EQ(WriteVQT({{flowRate.c_str(), Number(VT_R4, 1)}, {outlet.c_str(), Number(VT_R4, 1)}}, S_FALSE),
              (std::vector<HRESULT>{OPC_E_BADRIGHTS, OPC_E_BADRIGHTS}))
        << "found, and refused only because they are read-only";

    ComPtr<IOPCItemProperties> properties;
    ASSERT_HR(server_->QueryInterface(IID_IOPCItemProperties, reinterpret_cast<void**>(properties.ReleaseAndGetAddressOf())),
              S_OK);
    DWORD id = 2;
    VARIANT* values = nullptr;
    HRESULT* errors = nullptr;
    ASSERT_HR(properties->GetItemProperties(const_cast<LPWSTR>(outlet.c_str()), 1, &id, &values, &errors), S_OK);
    EXPECT_EQ(values[0].fltVal, 18.5f) << "the value property";
    VariantClear(&values[0]);
    CoTaskMemFree(values);
    CoTaskMemFree(errors);

    ComPtr<IOPCBrowse> browse;
    ASSERT_HR(server_->QueryInterface(IID_IOPCBrowse, reinterpret_cast<void**>(browse.ReleaseAndGetAddressOf())), S_OK);
    LPWSTR ids[] = {const_cast<LPWSTR>(flowRate.c_str()), const_cast<LPWSTR>(outlet.c_str()),
                    const_cast<LPWSTR>(L"PumpStation.analog.\u0E01")};
    OPCITEMPROPERTIES* records = nullptr;
    DWORD propertyId = 1;
    ASSERT_HR(browse->GetProperties(3, ids, FALSE, 1, &propertyId, &records), S_FALSE) << "one record failed";
    EXPECT_HR(records[0].hrErrorID, S_OK);
    EXPECT_HR(records[1].hrErrorID, S_OK);
    EXPECT_HR(records[2].hrErrorID, OPC_E_INVALIDITEMID) << "not in the runtime's code page";
    for (int i = 0; i < 3; ++i) {
        for (DWORD p = 0; p < records[i].dwNumProperties; ++p) {
            VariantClear(&records[i].pItemProperties[p].vValue);
            CoTaskMemFree(records[i].pItemProperties[p].szDescription);
            CoTaskMemFree(records[i].pItemProperties[p].szItemID);
        }
        CoTaskMemFree(records[i].pItemProperties);
    }
    CoTaskMemFree(records);
}

}  // namespace
}  // namespace korvex::test
