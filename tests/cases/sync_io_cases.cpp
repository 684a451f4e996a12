// Synchronous reads and writes of a group's items with exact per-item codes; in process and across
// processes, where the simulator applies the writes and later reads show them.
#include "tests/support/group_item.h"
#include "tests/support/hresult.h"
#include "tests/support/server_session.h"
#include "tests/support/simulator_control.h"
#include "tests/support/test_variants.h"

#include "opcerror.h"

#include <gtest/gtest.h>

#include <limits>
#include <oleauto.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <thread>
#include <vector>

namespace korvex::test {
namespace {

using com::ComPtr;

constexpr const wchar_t* kSetpoint = L"NorthSubstation.analog.Setpoint";        // writable, 0..100, 50
constexpr const wchar_t* kBusbar = L"NorthSubstation.analog.BusbarVoltage";     // read-only, 10.5
constexpr const wchar_t* kBreaker = L"NorthSubstation.switch.Breaker1";         // writable, on
constexpr const wchar_t* kSpeed = L"PumpStation.analog.PumpSpeed";              // writable, no limits

class SyncIO : public ::testing::Test {
protected:
    static void SetUpTestSuite() { StartServerSide(); }

    void SetUp() override {
        OPCHANDLE handle;
        DWORD revised;
        // The longest update rate: the update thread scans the group once, in its first tick, and then
        // not again, so that the caches hold what these reads put there.
        ASSERT_HR(server_->AddGroup(L"Sync", TRUE, 0xFFFFFFFF, 1, nullptr, nullptr, 0, &handle, &revised,
                                    IID_IOPCItemMgt, reinterpret_cast<LPUNKNOWN*>(items_.ReleaseAndGetAddressOf())),
                  OPC_S_UNSUPPORTEDRATE);
        if (CrossProcess()) Sleep(3 * 200);  // past that first tick, while the group is still empty
        ASSERT_HR(items_->QueryInterface(IID_IOPCSyncIO2, reinterpret_cast<void**>(io_.ReleaseAndGetAddressOf())), S_OK);
    }

    OPCHANDLE AddItem(const wchar_t* itemId, VARTYPE requested = VT_EMPTY, BOOL active = TRUE) {
        const OPCHANDLE handle =
            AddOneItem(*items_.Get(), itemId, 500 + static_cast<OPCHANDLE>(handles_.size()), requested, active);
        handles_.push_back(handle);
        return handle;
    }

    struct Reading {
        HRESULT hr;
        std::vector<OPCITEMSTATE> states;
        std::vector<HRESULT> errors;
        ~Reading() {
            for (OPCITEMSTATE& s : states) VariantClear(&s.vDataValue);
        }
    };

    std::unique_ptr<Reading> Read(OPCDATASOURCE source, std::vector<OPCHANDLE> handles) {
        auto r = std::make_unique<Reading>();
        OPCITEMSTATE* states = nullptr;
        HRESULT* errors = nullptr;
        r->hr = io_->Read(source, static_cast<DWORD>(handles.size()), handles.data(), &states, &errors);
        if (states) r->states.assign(states, states + handles.size());
        if (errors) r->errors.assign(errors, errors + handles.size());
        CoTaskMemFree(states);
        CoTaskMemFree(errors);
        return r;
    }

    std::vector<HRESULT> Write(std::vector<OPCHANDLE> handles, std::vector<VARIANT> values, HRESULT expected) {
        HRESULT* errors = nullptr;
        EXPECT_HR(io_->Write(static_cast<DWORD>(handles.size()), handles.data(), values.data(), &errors), expected);
        std::vector<HRESULT> result(errors, errors + (errors ? handles.size() : 0));
        CoTaskMemFree(errors);
        for (VARIANT& v : values) VariantClear(&v);
        return result;
    }

    ComPtr<IOPCServer> server_ = Connect();
    ComPtr<IOPCItemMgt> items_;
    ComPtr<IOPCSyncIO2> io_;
    std::vector<OPCHANDLE> handles_;
};

TEST_F(SyncIO, DeviceAndCacheReads) {
    const OPCHANDLE busbar = AddItem(kBusbar);
    const OPCHANDLE breaker = AddItem(kBreaker, VT_I4);
    // Before any update the cache holds nothing: 0.0 with quality BAD.
    auto cached = Read(OPC_DS_CACHE, {busbar});
    EXPECT_HR(cached->hr, S_OK);
    EXPECT_EQ(cached->states[0].vDataValue.vt, VT_R4);
    EXPECT_EQ(cached->states[0].vDataValue.fltVal, 0.0f);
    EXPECT_EQ(cached->states[0].wQuality, 0x00);

    FILETIME before;
    CoFileTimeNow(&before);
    for (const OPCDATASOURCE source : {OPC_DS_DEVICE, static_cast<OPCDATASOURCE>(3)}) {
        auto device = Read(source, {busbar, breaker, 4242});
        EXPECT_HR(device->hr, S_FALSE);
        EXPECT_HR(device->errors[0], S_OK);
        EXPECT_EQ(device->states[0].vDataValue.fltVal, 10.5f);
        EXPECT_EQ(device->states[0].wQuality, 0xC0);
        EXPECT_EQ(device->states[0].hClient, 500u);
        EXPECT_GE(CompareFileTime(&device->states[0].ftTimeStamp, &before), 0);
        EXPECT_HR(device->errors[1], S_OK);
        EXPECT_EQ(device->states[1].vDataValue.vt, VT_I4) << "the requested type";
        EXPECT_EQ(device->states[1].vDataValue.lVal, -1);
        EXPECT_HR(device->errors[2], OPC_E_INVALIDHANDLE);
        EXPECT_EQ(device->states[2].hClient, 0u);
        EXPECT_EQ(device->states[2].wQuality, 0u);
        EXPECT_EQ(device->states[2].vDataValue.vt, VT_EMPTY);
    }
    // The device read refreshed the item's cache.
    cached = Read(OPC_DS_CACHE, {busbar});
    EXPECT_EQ(cached->states[0].vDataValue.fltVal, 10.5f);
    EXPECT_EQ(cached->states[0].wQuality, 0xC0);
}

TEST_F(SyncIO, CacheReadOfInactiveItemsAndGroups) {
    const OPCHANDLE active = AddItem(kBusbar);
    const OPCHANDLE inactive = AddItem(kSetpoint, VT_EMPTY, FALSE);
    Read(OPC_DS_DEVICE, {active, inactive});
    auto r = Read(OPC_DS_CACHE, {active, inactive});
    EXPECT_HR(r->hr, S_FALSE);
    EXPECT_HR(r->errors[0], S_OK);
    EXPECT_HR(r->errors[1], S_FALSE);
    EXPECT_EQ(r->states[1].wQuality, 0x1C);
    EXPECT_EQ(r->states[1].vDataValue.fltVal, 50.0f) << "the last cached value stays";

    ComPtr<IOPCGroupStateMgt> state;
    ASSERT_HR(items_->QueryInterface(IID_IOPCGroupStateMgt, reinterpret_cast<void**>(state.ReleaseAndGetAddressOf())), S_OK);
    BOOL off = FALSE;
    DWORD revised;
    ASSERT_HR(state->SetState(nullptr, &revised, &off, nullptr, nullptr, nullptr, nullptr), S_OK);
    r = Read(OPC_DS_CACHE, {active});
    EXPECT_HR(r->errors[0], S_FALSE);
    EXPECT_EQ(r->states[0].wQuality, 0x1C);
    EXPECT_EQ(r->states[0].vDataValue.vt, VT_R4) << "deactivation emptied the cache: 0.0";
    // ReadMaxAge of an inactive group reads the device and reports GOOD, not out of service.
    OPCHANDLE handle = active;
    DWORD maxAge = 0xFFFFFFFF;
    VARIANT* values = nullptr;
    WORD* qualities = nullptr;
    FILETIME* stamps = nullptr;
    HRESULT* errors = nullptr;
    ASSERT_HR(io_->ReadMaxAge(1, &handle, &maxAge, &values, &qualities, &stamps, &errors), S_OK);
    EXPECT_EQ(qualities[0], 0xC0);
    EXPECT_EQ(values[0].fltVal, 10.5f);
    for (void* p : {static_cast<void*>(values), static_cast<void*>(qualities), static_cast<void*>(stamps),
                    static_cast<void*>(errors)})
        CoTaskMemFree(p);
}

TEST_F(SyncIO, RequestedTypeOverflowHandsOutBadQualityButKeepsTheCache) {
    const OPCHANDLE speed = AddItem(kSpeed, VT_I1);  // 1450 does not fit a signed byte
    auto r = Read(OPC_DS_DEVICE, {speed});
    EXPECT_HR(r->hr, S_FALSE);
    EXPECT_HR(r->errors[0], DISP_E_OVERFLOW);
    EXPECT_EQ(r->states[0].wQuality, 0x00);
    // The item's own quality stays GOOD: through another type the cache reads fine.
    VARTYPE wide = VT_R8;
    OPCHANDLE handle = speed;
    HRESULT* errors = nullptr;
    ASSERT_HR(items_->SetDatatypes(1, &handle, &wide, &errors), S_OK);
    CoTaskMemFree(errors);
    r = Read(OPC_DS_CACHE, {speed});
    EXPECT_HR(r->errors[0], S_OK);
    EXPECT_EQ(r->states[0].wQuality, 0xC0);
    EXPECT_EQ(r->states[0].vDataValue.dblVal, 1450.0);
}

TEST_F(SyncIO, ReadMaxAgeChoosesCacheOrDevice) {
    const OPCHANDLE busbar = AddItem(kBusbar);
    Read(OPC_DS_DEVICE, {busbar});
    auto cachedStamp = Read(OPC_DS_CACHE, {busbar})->states[0].ftTimeStamp;
    Sleep(600);
    const struct {
        DWORD maxAge;
        bool fromCache;
    } cases[] = {{0xFFFFFFFF, true}, {60000, true}, {1000, true}, {300, false}, {0, false}};
    for (const auto& c : cases) {
        OPCHANDLE handle = busbar;
        DWORD maxAge = c.maxAge;
        VARIANT* values = nullptr;
        WORD* qualities = nullptr;
        FILETIME* stamps = nullptr;
        HRESULT* errors = nullptr;
        ASSERT_HR(io_->ReadMaxAge(1, &handle, &maxAge, &values, &qualities, &stamps, &errors), S_OK) << c.maxAge;
        EXPECT_EQ(CompareFileTime(&stamps[0], &cachedStamp) == 0, c.fromCache) << "max age " << c.maxAge;
        if (!c.fromCache) cachedStamp = stamps[0];
        for (void* p : {static_cast<void*>(values), static_cast<void*>(qualities), static_cast<void*>(stamps),
                        static_cast<void*>(errors)})
            CoTaskMemFree(p);
        Sleep(c.fromCache ? 0 : 600);
    }
}

TEST_F(SyncIO, WriteCodes) {
    const OPCHANDLE setpoint = AddItem(kSetpoint);
    const OPCHANDLE busbar = AddItem(kBusbar);
    const OPCHANDLE breaker = AddItem(kBreaker);
    VARIANT text;
    VariantInit(&text);
    text.vt = VT_BSTR;
    text.bstrVal = SysAllocString(L"abc");
    VARIANT readOnlyText;
    VariantInit(&readOnlyText);
    readOnlyText.vt = VT_BSTR;
    readOnlyText.bstrVal = SysAllocString(L"abc");
    // The limits (0..100) hold whatever type carries the value; NaN and infinity are in no range.
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double infinity = std::numeric_limits<double>::infinity();
    const std::vector<HRESULT> errors =
        Write({setpoint, setpoint, setpoint, setpoint, busbar, breaker, 4242, setpoint, setpoint, setpoint, setpoint,
               setpoint, breaker, setpoint},
              {Number(VT_R4, 150), Number(VT_R4, 100), text, Number(VT_R8, 150), readOnlyText, Number(VT_I2, 1),
               Number(VT_R4, 1), Number(VT_R8, 100), Number(VT_I4, -1), Text(L"100.5"), Number(VT_R4, nan),
               Number(VT_R8, infinity), Number(VT_R8, nan), Number(VT_R8, -infinity)},
              S_FALSE);
    const HRESULT expected[] = {OPC_E_RANGE, S_OK,        OPC_E_BADTYPE, OPC_E_RANGE, OPC_E_BADRIGHTS,
                                OPC_S_CLAMP, OPC_E_INVALIDHANDLE, OPC_S_CLAMP, OPC_E_RANGE, OPC_E_RANGE,
                                OPC_E_RANGE, OPC_E_RANGE, OPC_E_RANGE, OPC_E_RANGE};
    ASSERT_EQ(errors.size(), std::size(expected));
    for (std::size_t i = 0; i < errors.size(); ++i) EXPECT_HR(errors[i], expected[i]) << "entry " << i;
    EXPECT_EQ(Write({setpoint}, {Number(VT_R8, 20)}, S_OK), std::vector<HRESULT>{OPC_S_CLAMP})
        << "OPC_S_CLAMP alone is a success of the call";
}

// What reaches the runtime, byte for byte: a transfer station's point gets the 152-byte control
// message, an ordinary station's the 76-byte set-value message, and WriteVQT sends exactly the
// bytes Write sends.
TEST_F(SyncIO, RuntimeReceivesTheExactMessages) {
    if (!CrossProcess()) GTEST_SKIP() << "the simulator records what it receives";
    SimulatorControl simulator;
    const OPCHANDLE setpoint = AddItem(kSetpoint);
    const OPCHANDLE speed = AddItem(kSpeed);
    simulator.clearMessages();
    Write({setpoint, speed}, {Number(VT_R4, 12.5), Number(VT_R4, 1500)}, S_OK);
    OPCITEMVQT vqt[2]{};
    vqt[0].vDataValue = Number(VT_R4, 12.5);
    vqt[0].bQualitySpecified = TRUE;
    vqt[0].wQuality = 0x1C;
    vqt[0].bTimeStampSpecified = TRUE;
    vqt[0].ftTimeStamp = FILETIME{1, 2};
    vqt[1].vDataValue = Number(VT_R4, 1500);
    OPCHANDLE handles[] = {setpoint, speed};
    HRESULT* errors = nullptr;
    EXPECT_HR(io_->WriteVQT(2, handles, vqt, &errors), S_OK);
    CoTaskMemFree(errors);

    const std::vector<RecordedRuntimeMessage> received = simulator.messages();
    ASSERT_EQ(received.size(), 4u);
    const RecordedRuntimeMessage& control = received[0];
    EXPECT_EQ(control.code, 6112u);
    ASSERT_EQ(control.payload.size(), 152u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(control.payload.data())), "NorthSubstation");
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(control.payload.data() + 32)), "Setpoint");
    double value = 0;
    std::int32_t kind = 0, constant = 0;
    std::memcpy(&kind, control.payload.data() + 64, 4);
    std::memcpy(&value, control.payload.data() + 132, 8);
    std::memcpy(&constant, control.payload.data() + 144, 4);
    EXPECT_EQ(kind, 3);
    EXPECT_EQ(value, 12.5);
    EXPECT_EQ(constant, 1000);
    const RecordedRuntimeMessage& setValue = received[1];
    EXPECT_EQ(setValue.code, 5008u);
    ASSERT_EQ(setValue.payload.size(), 76u);
    std::memcpy(&value, setValue.payload.data() + 68, 8);
    EXPECT_EQ(value, 1500.0);
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(received[i + 2].code, received[i].code) << "WriteVQT entry " << i;
        EXPECT_TRUE(received[i + 2].payload == received[i].payload) << "WriteVQT sends the bytes Write sends, entry " << i;
        EXPECT_TRUE(received[i].applied);
    }
    Write({setpoint, speed}, {Number(VT_R4, 50), Number(VT_R4, 1450)}, S_OK);
}

// A runtime whose window stops answering fails the write of that moment after a bounded wait;
// reads of other points go on meanwhile, and writes work again once the runtime does.
TEST_F(SyncIO, HungRuntimeFailsOnlyTheWrite) {
    if (!CrossProcess()) GTEST_SKIP() << "the simulator's window hangs on command";
    SimulatorControl simulator;
    const OPCHANDLE setpoint = AddItem(kSetpoint);
    const OPCHANDLE busbar = AddItem(kBusbar);
    simulator.ok("hang 30");
    std::atomic<bool> writing = true;
    std::vector<HRESULT> errors;
    const auto started = std::chrono::steady_clock::now();
    std::thread writer([&] {
        errors = Write({setpoint}, {Number(VT_R4, 25)}, S_FALSE);
        writing = false;
    });
    int readsDuringWrite = 0;
    while (writing) {
        auto r = Read(OPC_DS_DEVICE, {busbar});
        EXPECT_HR(r->hr, S_OK);
        EXPECT_EQ(r->states[0].wQuality, 0xC0);
        if (writing) ++readsDuringWrite;
    }
    writer.join();
    const auto waited = std::chrono::steady_clock::now() - started;
    simulator.ok("resume");
    EXPECT_EQ(errors, std::vector<HRESULT>{E_FAIL});
    // Far below the 30 s the runtime hangs: the wait is bounded.
    EXPECT_LT(waited, std::chrono::seconds(10));
    EXPECT_GT(readsDuringWrite, 2) << "reads of another point waited for the write";
    EXPECT_EQ(Write({setpoint}, {Number(VT_R4, 50)}, S_OK), std::vector<HRESULT>{S_OK});
}

TEST_F(SyncIO, CallLevelCodes) {
    OPCHANDLE handle = AddItem(kBusbar);
    OPCITEMSTATE* states = nullptr;
    HRESULT* errors = nullptr;
    EXPECT_HR(io_->Read(OPC_DS_CACHE, 0, &handle, &states, &errors), E_INVALIDARG);
    VARIANT value = Number(VT_R4, 1);
    EXPECT_HR(io_->Write(0, &handle, &value, &errors), E_INVALIDARG);
    OPCITEMVQT vqt{};
    EXPECT_HR(io_->WriteVQT(0, &handle, &vqt, &errors), E_INVALIDARG);
    DWORD maxAge = 0;
    VARIANT* values = nullptr;
    WORD* qualities = nullptr;
    FILETIME* stamps = nullptr;
    EXPECT_HR(io_->ReadMaxAge(0, &handle, &maxAge, &values, &qualities, &stamps, &errors), E_INVALIDARG);
}

}  // namespace
}  // namespace korvex::test
