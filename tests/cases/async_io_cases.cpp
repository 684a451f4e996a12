// Asynchronous reads, writes, refreshes and cancellations of a group, the callback switch, and the
// item deadband, checked on the exact callbacks a subscribed sink receives; in process and across
// processes, where the simulator moves the values.
#include "tests/support/callback_sink.h"
#include "tests/support/group_item.h"
#include "tests/support/hresult.h"
#include "tests/support/server_session.h"
#include "tests/support/test_variants.h"

#include "opcerror.h"

#include <gtest/gtest.h>
#include <oleauto.h>

#include <cmath>
#include <limits>
#include <vector>

namespace korvex::test {
namespace {

using com::ComPtr;
using Kind = RecordedCallback::Kind;

constexpr const wchar_t* kSetpoint = L"NorthSubstation.analog.Setpoint";     // writable, 0..100, 50
constexpr const wchar_t* kBusbar = L"NorthSubstation.analog.BusbarVoltage";  // read-only, 10.5
constexpr const wchar_t* kFeeder = L"NorthSubstation.analog.FeederCurrent";  // 0..600, 320
constexpr const wchar_t* kBreaker = L"NorthSubstation.switch.Breaker1";      // writable, on
constexpr const wchar_t* kSpeed = L"PumpStation.analog.PumpSpeed";           // writable, no limits, 1450
constexpr OPCHANDLE kGroupHandle = 33;
constexpr OPCHANDLE kNoSuchItem = 4242;

bool IsDataChangeOfScan(const RecordedCallback& c) {
    return c.kind == Kind::DataChange && c.transactionId == 0 && !c.clientHandles.empty();
}

class AsyncIO : public ::testing::Test {
protected:
    static void SetUpTestSuite() { StartServerSide(); }

    void SetUp() override { MoveAnalog("NorthSubstation", "Setpoint", 50.0); }

    void TearDown() override {
        if (items_) sink_->Unadvise(items_.Get());
        MoveAnalog("NorthSubstation", "Setpoint", 50.0);
    }

    // A group with the sink subscribed, client group handle 33.
    void MakeGroup(BOOL active, DWORD rate, FLOAT deadband = 0.0f) {
        OPCHANDLE serverHandle;
        DWORD revised;
        ASSERT_TRUE(SUCCEEDED(server_->AddGroup(L"", active, rate, kGroupHandle, nullptr, &deadband, 0, &serverHandle,
                                                &revised, IID_IOPCItemMgt,
                                                reinterpret_cast<LPUNKNOWN*>(items_.ReleaseAndGetAddressOf()))));
        serverGroupHandle_ = serverHandle;
        ASSERT_HR(items_->QueryInterface(IID_IOPCAsyncIO3, reinterpret_cast<void**>(async_.ReleaseAndGetAddressOf())),
                  S_OK);
        ASSERT_HR(items_->QueryInterface(IID_IOPCGroupStateMgt2, reinterpret_cast<void**>(state_.ReleaseAndGetAddressOf())),
                  S_OK);
        // AddGroup takes only deadbands up to 1 percent; SetState takes any.
        ASSERT_HR(state_->SetState(nullptr, &revised, nullptr, nullptr, &deadband, nullptr, nullptr), S_OK);
        ASSERT_TRUE(sink_->Advise(items_.Get()));
    }

    // A group that the update cycle never scans: created inactive with the longest rate, so that its
    // one scan, in the first tick, finds nothing; a keep-alive tells when that tick has passed. Item
    // caches then change only through reads.
    void MakeQuietGroup() {
        MakeGroup(FALSE, 0xFFFFFFFF);
        DWORD revised;
        ASSERT_HR(state_->SetKeepAlive(200, &revised), S_OK);
        ASSERT_TRUE(sink_->Take([](const RecordedCallback& c) { return c.kind == Kind::DataChange; }))
            << "no keep-alive";
        ASSERT_HR(state_->SetKeepAlive(0, &revised), S_OK);
    }

    void SetActive(BOOL active) {
        DWORD revised;
        ASSERT_HR(state_->SetState(nullptr, &revised, &active, nullptr, nullptr, nullptr, nullptr), S_OK);
    }

    OPCHANDLE AddItem(const wchar_t* itemId, VARTYPE requested = VT_EMPTY, BOOL active = TRUE) {
        return AddOneItem(*items_.Get(), itemId, 500 + nextClientHandle_++, requested, active);
    }

    // An asynchronous read; returns its cancel ID (0 when refused) and the per-item errors.
    DWORD Read(std::vector<OPCHANDLE> handles, DWORD transactionId, HRESULT expected,
               std::vector<HRESULT>* errorsOut = nullptr) {
        DWORD cancelId = 0;
        HRESULT* errors = nullptr;
        EXPECT_HR(async_->Read(static_cast<DWORD>(handles.size()), handles.data(), transactionId, &cancelId, &errors),
                  expected)
            << "Read of transaction " << transactionId;
        if (errorsOut) errorsOut->assign(errors, errors + (errors ? handles.size() : 0));
        if (FAILED(expected)) {
            EXPECT_EQ(errors, nullptr) << "no per-item errors on a failed call";
        }
        CoTaskMemFree(errors);
        return cancelId;
    }

    DWORD Write(std::vector<OPCHANDLE> handles, std::vector<VARIANT> values, DWORD transactionId, HRESULT expected,
                std::vector<HRESULT>* errorsOut = nullptr) {
        DWORD cancelId = 0;
        HRESULT* errors = nullptr;
        EXPECT_HR(async_->Write(static_cast<DWORD>(handles.size()), handles.data(), values.data(), transactionId,
                                &cancelId, &errors),
                  expected)
            << "Write of transaction " << transactionId;
        if (errorsOut) errorsOut->assign(errors, errors + (errors ? handles.size() : 0));
        CoTaskMemFree(errors);
        for (VARIANT& v : values) VariantClear(&v);
        return cancelId;
    }

    // Returns once the update cycle has ticked past everything before this call: an asynchronous read
    // queued now completes in a later tick, after that tick's scan.
    void Barrier(OPCHANDLE handle) {
        static DWORD transactionId = 9000;
        const DWORD id = ++transactionId;
        Read({handle}, id, S_OK);
        ASSERT_TRUE(sink_->TakeTransaction(id)) << "no completion of barrier read " << id;
    }

    // A synchronous device read of one item, as a number.
    double DeviceValue(OPCHANDLE handle) {
        ComPtr<IOPCSyncIO> sync;
        EXPECT_HR(items_->QueryInterface(IID_IOPCSyncIO, reinterpret_cast<void**>(sync.ReleaseAndGetAddressOf())), S_OK);
        OPCITEMSTATE* states = nullptr;
        HRESULT* errors = nullptr;
        EXPECT_HR(sync->Read(OPC_DS_DEVICE, 1, &handle, &states, &errors), S_OK);
        VARIANT number;
        VariantInit(&number);
        if (states) VariantChangeType(&number, &states[0].vDataValue, 0, VT_R8);
        if (states) VariantClear(&states[0].vDataValue);
        CoTaskMemFree(states);
        CoTaskMemFree(errors);
        return number.dblVal;
    }

    void ExpectHandlesAndErrors(const RecordedCallback& c, std::vector<OPCHANDLE> handles, std::vector<HRESULT> errors) {
        EXPECT_EQ(c.clientHandles, handles) << KindName(c.kind) << " " << c.transactionId;
        ASSERT_EQ(c.errors.size(), errors.size()) << KindName(c.kind) << " " << c.transactionId;
        for (std::size_t i = 0; i < errors.size(); ++i)
            EXPECT_HR(c.errors[i], errors[i]) << KindName(c.kind) << " " << c.transactionId << " entry " << i;
    }

    ComPtr<IOPCServer> server_ = Connect();
    ComPtr<CallbackSink> sink_ = com::make<CallbackSink>();
    ComPtr<IOPCItemMgt> items_;
    ComPtr<IOPCAsyncIO3> async_;
    ComPtr<IOPCGroupStateMgt2> state_;
    OPCHANDLE serverGroupHandle_ = 0;
    OPCHANDLE nextClientHandle_ = 0;
};

TEST_F(AsyncIO, ReadCompletesWithTheItemsThatPassedTheChecks) {
    MakeQuietGroup();
    const OPCHANDLE setpoint = AddItem(kSetpoint);
    const OPCHANDLE breaker = AddItem(kBreaker, VT_I4);
    std::vector<HRESULT> errors;
    const DWORD cancelId = Read({setpoint, kNoSuchItem, breaker}, 71, S_FALSE, &errors);
    EXPECT_EQ(cancelId, 1u) << "a new group's first cancel ID";
    EXPECT_EQ(errors, (std::vector<HRESULT>{S_OK, OPC_E_INVALIDHANDLE, S_OK}));
    // The completion is addressed with the group handle of the time of the call.
    OPCHANDLE newGroupHandle = 34;
    DWORD revised;
    ASSERT_HR(state_->SetState(nullptr, &revised, nullptr, nullptr, nullptr, nullptr, &newGroupHandle), S_OK);

    const auto c = sink_->TakeTransaction(71);
    ASSERT_TRUE(c);
    EXPECT_EQ(c->kind, Kind::ReadComplete);
    EXPECT_EQ(c->group, kGroupHandle);
    EXPECT_HR(c->masterQuality, S_OK);
    EXPECT_HR(c->masterError, S_OK);
    ExpectHandlesAndErrors(*c, {500, 501}, {S_OK, S_OK});
    EXPECT_EQ(c->types, (std::vector<VARTYPE>{VT_R4, VT_I4})) << "each item in its requested type";
    EXPECT_EQ(c->values, (std::vector<double>{50.0, -1.0}));
    EXPECT_EQ(c->qualities, (std::vector<WORD>{0xC0, 0xC0}));

    // Nothing passes: no request, no cancel ID, no per-item errors, no callback.
    EXPECT_EQ(Read({kNoSuchItem, 0}, 72, E_FAIL), 0u);
    Barrier(setpoint);
    EXPECT_EQ(sink_->Count([](const RecordedCallback& c) { return c.transactionId == 72; }), 0u);
}

TEST_F(AsyncIO, WriteCompletionCarriesTheCodesOfTheWriteTest) {
    MakeQuietGroup();
    const OPCHANDLE setpoint = AddItem(kSetpoint);
    const OPCHANDLE busbar = AddItem(kBusbar);
    const OPCHANDLE breaker = AddItem(kBreaker);
    const OPCHANDLE speed = AddItem(kSpeed);
    const struct {
        OPCHANDLE handle;
        VARIANT value;
        HRESULT queued;     // per-item code of the call
        HRESULT completed;  // per-item code of OnWriteComplete, for the queued ones
    } cases[] = {
        {setpoint, Number(VT_R8, 20), S_OK, OPC_S_CLAMP},          // converted, in range
        {setpoint, Number(VT_R8, 150), S_OK, OPC_E_RANGE},         // converted, out of range
        {busbar, Number(VT_R4, 10), OPC_E_BADRIGHTS, S_OK},        // read-only: refused at once
        {setpoint, Number(VT_R4, 150), S_OK, OPC_E_RANGE},         // values are tested only when executed
        {breaker, Number(VT_I2, 0), S_OK, OPC_S_CLAMP},
        {speed, Text(L"1234.5"), S_OK, OPC_S_CLAMP},               // text converted in place
        {kNoSuchItem, Number(VT_R4, 1), OPC_E_INVALIDHANDLE, S_OK},
        {setpoint, Text(L"abc"), S_OK, OPC_E_BADTYPE},
    };
    std::vector<OPCHANDLE> handles;
    std::vector<VARIANT> values;
    std::vector<HRESULT> queued, completed;
    std::vector<OPCHANDLE> completedHandles;
    for (const auto& c : cases) {
        handles.push_back(c.handle);
        values.push_back(c.value);
        queued.push_back(c.queued);
        if (c.queued != S_OK) continue;
        completed.push_back(c.completed);
        completedHandles.push_back(c.handle == setpoint ? 500 : c.handle == breaker ? 502 : 503);
    }
    std::vector<HRESULT> errors;
    Write(handles, values, 5, S_FALSE, &errors);
    ASSERT_EQ(errors.size(), queued.size());
    for (std::size_t i = 0; i < queued.size(); ++i) EXPECT_HR(errors[i], queued[i]) << "entry " << i;

    const auto c = sink_->TakeTransaction(5);
    ASSERT_TRUE(c);
    EXPECT_EQ(c->kind, Kind::WriteComplete);
    EXPECT_EQ(c->group, kGroupHandle);
    EXPECT_HR(c->masterError, S_FALSE);
    ExpectHandlesAndErrors(*c, completedHandles, completed);

    // All written: S_OK on both sides; OPC_S_CLAMP alone is a success.
    Write({setpoint, breaker}, {Number(VT_R4, 60), Number(VT_BOOL, -1)}, 6, S_OK);
    const auto ok = sink_->TakeTransaction(6);
    ASSERT_TRUE(ok);
    EXPECT_HR(ok->masterError, S_OK);
    ExpectHandlesAndErrors(*ok, {500, 502}, {S_OK, S_OK});

    OPCITEMVQT vqt{};
    vqt.vDataValue = Number(VT_R8, 1400);
    vqt.bQualitySpecified = TRUE;
    vqt.wQuality = 0x40;
    OPCHANDLE handle = speed;
    DWORD cancelId = 0;
    HRESULT* vqtErrors = nullptr;
    EXPECT_HR(async_->WriteVQT(1, &handle, &vqt, 7, &cancelId, &vqtErrors), S_OK);
    CoTaskMemFree(vqtErrors);
    const auto vqtDone = sink_->TakeTransaction(7);
    ASSERT_TRUE(vqtDone);
    EXPECT_EQ(vqtDone->kind, Kind::WriteComplete);
    ExpectHandlesAndErrors(*vqtDone, {503}, {OPC_S_CLAMP});

    if (CrossProcess()) {
        // The simulator applied the last value of each point.
        EXPECT_EQ(DeviceValue(setpoint), 60.0);
        EXPECT_EQ(DeviceValue(speed), 1400.0);
    }
    MoveAnalog("PumpStation", "PumpSpeed", 1450.0);
}

TEST_F(AsyncIO, RefreshesAndMaxAgeReadsChooseCacheOrDevice) {
    MakeQuietGroup();
    const OPCHANDLE setpoint = AddItem(kSetpoint);
    const OPCHANDLE breaker = AddItem(kBreaker);
    const OPCHANDLE feeder = AddItem(kFeeder, VT_EMPTY, FALSE);
    DWORD cancelId = 99;
    EXPECT_HR(async_->Refresh2(OPC_DS_CACHE, 10, &cancelId), E_FAIL) << "inactive group";
    EXPECT_EQ(cancelId, 0u);
    SetActive(TRUE);
    // The activation's own scan comes first, so that it does not overwrite what follows.
    ASSERT_TRUE(sink_->Take([](const RecordedCallback& c) { return c.kind == Kind::DataChange && c.transactionId == 0; }));
    DeviceValue(setpoint);  // the caches now hold 50 and on
    DeviceValue(breaker);
    MoveAnalog("NorthSubstation", "Setpoint", 60.0);

    ASSERT_HR(async_->Refresh2(OPC_DS_CACHE, 11, &cancelId), S_OK);
    OPCHANDLE twice[] = {setpoint, setpoint};
    DWORD maxAges[] = {0xFFFFFFFF, 0};
    HRESULT* errors = nullptr;
    ASSERT_HR(async_->ReadMaxAge(2, twice, maxAges, 12, &cancelId, &errors), S_OK);
    CoTaskMemFree(errors);
    ASSERT_HR(async_->RefreshMaxAge(0xFFFFFFFF, 13, &cancelId), S_OK);
    ASSERT_HR(async_->Refresh2(OPC_DS_DEVICE, 14, &cancelId), S_OK);

    const struct {
        DWORD transactionId;
        Kind kind;
        std::vector<OPCHANDLE> handles;
        std::vector<double> values;
    } expected[] = {
        {11, Kind::DataChange, {500, 501}, {50.0, -1.0}},    // the caches; the inactive item is left out
        {12, Kind::ReadComplete, {500, 500}, {50.0, 60.0}},  // cache for any age, then the device
        {13, Kind::DataChange, {500, 501}, {60.0, -1.0}},    // the device read went to the cache
        {14, Kind::DataChange, {500, 501}, {60.0, -1.0}},
    };
    unsigned previous = 0;
    for (const auto& e : expected) {
        const auto c = sink_->TakeTransaction(e.transactionId);
        ASSERT_TRUE(c) << "transaction " << e.transactionId;
        EXPECT_EQ(c->kind, e.kind) << "transaction " << e.transactionId << ": " << KindName(c->kind);
        EXPECT_EQ(c->group, kGroupHandle);
        EXPECT_HR(c->masterQuality, S_OK) << e.transactionId;
        EXPECT_HR(c->masterError, S_OK) << e.transactionId;
        EXPECT_EQ(c->clientHandles, e.handles) << "transaction " << e.transactionId;
        EXPECT_EQ(c->values, e.values) << "transaction " << e.transactionId;
        EXPECT_EQ(c->qualities, std::vector<WORD>(e.handles.size(), 0xC0)) << "transaction " << e.transactionId;
        EXPECT_GT(c->sequence, previous) << "requests complete in the order they were queued";
        previous = c->sequence;
    }

    // Nothing active and readable to refresh, then nothing at all.
    OPCHANDLE handles[] = {setpoint, breaker, feeder};
    ASSERT_HR(items_->SetActiveState(2, handles, FALSE, &errors), S_OK);
    CoTaskMemFree(errors);
    EXPECT_HR(async_->Refresh2(OPC_DS_DEVICE, 15, &cancelId), E_FAIL);
    EXPECT_HR(async_->RefreshMaxAge(0, 16, &cancelId), E_FAIL);
    ASSERT_HR(items_->RemoveItems(3, handles, &errors), S_OK);
    CoTaskMemFree(errors);
    EXPECT_HR(async_->Refresh2(OPC_DS_DEVICE, 17, &cancelId), E_FAIL);
}

TEST_F(AsyncIO, RefreshListsAPointAddedTwiceUnderBothClientHandles) {
    MakeQuietGroup();
    const OPCHANDLE first = AddItem(kSetpoint);                        // client handle 500
    const OPCHANDLE second = AddItem(L"NorthSubstation.3.Setpoint", VT_I4);  // 501, the same point
    ASSERT_EQ(first, second) << "items of one point share its handle";
    AddItem(kBreaker);  // 502
    SetActive(TRUE);
    DWORD cancelId = 0;
    // From the device, then from the caches the device read filled, each item's own included.
    ASSERT_HR(async_->Refresh2(OPC_DS_DEVICE, 21, &cancelId), S_OK);
    ASSERT_HR(async_->Refresh2(OPC_DS_CACHE, 22, &cancelId), S_OK);
    for (const DWORD transactionId : {21u, 22u}) {
        const auto c = sink_->TakeTransaction(transactionId);
        ASSERT_TRUE(c) << "transaction " << transactionId;
        EXPECT_EQ(c->clientHandles, (std::vector<OPCHANDLE>{500, 501, 502})) << "transaction " << transactionId;
        EXPECT_EQ(c->types, (std::vector<VARTYPE>{VT_R4, VT_I4, VT_BOOL})) << "transaction " << transactionId;
        EXPECT_EQ(c->values, (std::vector<double>{50.0, 50.0, -1.0})) << "transaction " << transactionId;
        EXPECT_HR(c->masterError, S_OK) << transactionId;
    }
    // Once one of the two is removed, the refresh lists the other.
    HRESULT* errors = nullptr;
    ASSERT_HR(items_->RemoveItems(1, const_cast<OPCHANDLE*>(&first), &errors), S_OK);
    CoTaskMemFree(errors);
    ASSERT_HR(async_->Refresh2(OPC_DS_CACHE, 23, &cancelId), S_OK);
    const auto c = sink_->TakeTransaction(23);
    ASSERT_TRUE(c);
    EXPECT_EQ(c->clientHandles, (std::vector<OPCHANDLE>{501, 502}));
}

TEST_F(AsyncIO, CancelledRequestsCompleteWithOnCancelComplete) {
    MakeQuietGroup();
    const OPCHANDLE setpoint = AddItem(kSetpoint);
    SetActive(TRUE);
    // Reads ahead of the write keep it queued for a tick (a write begins only as a tick's first
    // request): the cancellation reaches it there, and every callback keeps the requests' order.
    const DWORD first = Read({setpoint}, 1, S_OK);
    const DWORD second = Read({setpoint}, 2, S_OK);
    const DWORD write = Write({setpoint}, {Number(VT_R4, 70)}, 3, S_OK);
    EXPECT_EQ(second, first + 1);
    EXPECT_EQ(write, first + 2);
    EXPECT_HR(async_->Cancel2(write), S_OK);
    EXPECT_HR(async_->Cancel2(write), S_OK) << "still queued";
    EXPECT_HR(async_->Cancel2(write + 100), E_FAIL) << "never issued";
    EXPECT_HR(async_->Cancel2(0), E_FAIL);

    const auto r1 = sink_->TakeTransaction(1);
    const auto r2 = sink_->TakeTransaction(2);
    const auto cancelled = sink_->TakeTransaction(3);
    ASSERT_TRUE(r1 && r2 && cancelled);
    EXPECT_EQ(r1->kind, Kind::ReadComplete);
    EXPECT_EQ(r2->kind, Kind::ReadComplete);
    EXPECT_EQ(cancelled->kind, Kind::CancelComplete);
    EXPECT_EQ(cancelled->group, kGroupHandle);
    EXPECT_LT(r1->sequence, r2->sequence);
    EXPECT_LT(r2->sequence, cancelled->sequence);
    EXPECT_EQ(sink_->Count([](const RecordedCallback& c) { return c.kind == Kind::WriteComplete; }), 0u);
    EXPECT_EQ(DeviceValue(setpoint), 50.0) << "the cancelled write never reached the runtime";
    EXPECT_HR(async_->Cancel2(first), E_FAIL) << "already completed";
    EXPECT_HR(async_->Cancel2(write), E_FAIL) << "cancelled and gone";
}

TEST_F(AsyncIO, DisabledCallbacksStopOnlyTheScansDataChanges) {
    MakeGroup(TRUE, 200);
    AddItem(kSetpoint);
    const OPCHANDLE breaker = AddItem(kBreaker, VT_EMPTY, FALSE);  // for the barrier reads only
    BOOL enabled = FALSE;
    ASSERT_HR(async_->GetEnable(&enabled), S_OK);
    EXPECT_EQ(enabled, TRUE);
    auto first = sink_->Take(IsDataChangeOfScan);
    ASSERT_TRUE(first);
    EXPECT_EQ(first->values, std::vector<double>{50.0});

    ASSERT_HR(async_->SetEnable(FALSE), S_OK);
    ASSERT_HR(async_->GetEnable(&enabled), S_OK);
    EXPECT_EQ(enabled, FALSE);
    MoveAnalog("NorthSubstation", "Setpoint", 60.0);
    Barrier(breaker);
    EXPECT_EQ(sink_->Count(IsDataChangeOfScan), 0u) << "no data change while disabled";
    // Refreshes still come; the cache shows that the scan took the new value while disabled.
    DWORD cancelId;
    ASSERT_HR(async_->Refresh2(OPC_DS_CACHE, 41, &cancelId), S_OK);
    const auto refresh = sink_->TakeTransaction(41);
    ASSERT_TRUE(refresh);
    EXPECT_EQ(refresh->kind, Kind::DataChange);
    EXPECT_EQ(refresh->values, std::vector<double>{60.0});

    ASSERT_HR(async_->SetEnable(TRUE), S_OK);
    Barrier(breaker);
    EXPECT_EQ(sink_->Count(IsDataChangeOfScan), 0u) << "a change made while disabled is not sent later";
    MoveAnalog("NorthSubstation", "Setpoint", 61.0);
    const auto next = sink_->Take(IsDataChangeOfScan);
    ASSERT_TRUE(next);
    EXPECT_EQ(next->values, std::vector<double>{61.0});

    // The switch keeps whatever the client gave.
    ASSERT_HR(async_->SetEnable(7), S_OK);
    ASSERT_HR(async_->GetEnable(&enabled), S_OK);
    EXPECT_EQ(enabled, 7);
}

TEST_F(AsyncIO, ItemDeadbandOverridesTheGroups) {
    MakeGroup(TRUE, 200, 0.0f);
    OPCHANDLE setpoint = AddItem(kSetpoint);
    const OPCHANDLE breaker = AddItem(kBreaker, VT_EMPTY, FALSE);
    ComPtr<IOPCItemDeadbandMgt> deadband;
    ASSERT_HR(items_->QueryInterface(IID_IOPCItemDeadbandMgt, reinterpret_cast<void**>(deadband.ReleaseAndGetAddressOf())),
              S_OK);
    // 20 percent of 0..100 is the band of 10 percent of 0..200: the same moves as there.
    FLOAT percent = 20.0f;
    HRESULT* errors = nullptr;
    ASSERT_HR(deadband->SetItemDeadband(1, &setpoint, &percent, &errors), S_OK);
    CoTaskMemFree(errors);
    ASSERT_TRUE(sink_->Take(IsDataChangeOfScan));

    const struct {
        double moveTo;
        bool reported;
    } moves[] = {{69.0, false}, {71.0, true}, {60.0, false}};
    for (const auto& m : moves) {
        MoveAnalog("NorthSubstation", "Setpoint", m.moveTo);
        if (!m.reported) {
            Barrier(breaker);
            EXPECT_EQ(sink_->Count(IsDataChangeOfScan), 0u) << "move to " << m.moveTo;
            continue;
        }
        const auto c = sink_->Take(IsDataChangeOfScan);
        ASSERT_TRUE(c) << "move to " << m.moveTo;
        EXPECT_EQ(c->values, std::vector<double>{m.moveTo});
    }
    // Without its own deadband the item has the group's 0: 60 differs from the 71 last reported.
    ASSERT_HR(deadband->ClearItemDeadband(1, &setpoint, &errors), S_OK);
    CoTaskMemFree(errors);
    auto c = sink_->Take(IsDataChangeOfScan);
    ASSERT_TRUE(c);
    EXPECT_EQ(c->values, std::vector<double>{60.0});
    MoveAnalog("NorthSubstation", "Setpoint", 60.5);
    c = sink_->Take(IsDataChangeOfScan);
    ASSERT_TRUE(c);
    EXPECT_EQ(c->values, std::vector<double>{60.5});
}

TEST_F(AsyncIO, DeadbandOperationCodes) {
    MakeGroup(TRUE, 0xFFFFFFFF);
    const OPCHANDLE setpoint = AddItem(kSetpoint);
    const OPCHANDLE feeder = AddItem(kFeeder);
    const OPCHANDLE breaker = AddItem(kBreaker);
    const OPCHANDLE speed = AddItem(kSpeed);
    ComPtr<IOPCItemDeadbandMgt> deadband;
    ASSERT_HR(items_->QueryInterface(IID_IOPCItemDeadbandMgt, reinterpret_cast<void**>(deadband.ReleaseAndGetAddressOf())),
              S_OK);
    const struct {
        OPCHANDLE handle;
        FLOAT percent;
        HRESULT expected;
    } sets[] = {
        {setpoint, 10.0f, S_OK},
        {feeder, 100.0f, S_OK},
        {breaker, 10.0f, OPC_E_DEADBANDNOTSUPPORTED},
        {speed, 10.0f, OPC_E_DEADBANDNOTSUPPORTED},  // no range
        {kNoSuchItem, 10.0f, OPC_E_INVALIDHANDLE},
        {kNoSuchItem, 101.0f, E_INVALIDARG},  // the value first, the handle not looked at
        {setpoint, -0.5f, E_INVALIDARG},
        {setpoint, std::numeric_limits<FLOAT>::quiet_NaN(), E_INVALIDARG},
    };
    std::vector<OPCHANDLE> handles;
    std::vector<FLOAT> percents;
    for (const auto& s : sets) {
        handles.push_back(s.handle);
        percents.push_back(s.percent);
    }
    HRESULT* errors = nullptr;
    ASSERT_HR(deadband->SetItemDeadband(static_cast<DWORD>(handles.size()), handles.data(), percents.data(), &errors),
              S_FALSE);
    for (std::size_t i = 0; i < std::size(sets); ++i) EXPECT_HR(errors[i], sets[i].expected) << "Set entry " << i;
    CoTaskMemFree(errors);

    OPCHANDLE cleared[] = {feeder, feeder, breaker};
    ASSERT_HR(deadband->ClearItemDeadband(3, cleared, &errors), S_FALSE);
    const HRESULT clearExpected[] = {S_OK, OPC_E_DEADBANDNOTSET, OPC_E_DEADBANDNOTSUPPORTED};
    for (int i = 0; i < 3; ++i) EXPECT_HR(errors[i], clearExpected[i]) << "Clear entry " << i;
    CoTaskMemFree(errors);

    OPCHANDLE asked[] = {setpoint, feeder, breaker, kNoSuchItem};
    FLOAT* got = nullptr;
    ASSERT_HR(deadband->GetItemDeadband(4, asked, &got, &errors), S_FALSE);
    const HRESULT getExpected[] = {S_OK, OPC_E_DEADBANDNOTSET, OPC_E_DEADBANDNOTSUPPORTED, OPC_E_INVALIDHANDLE};
    const FLOAT getValues[] = {10.0f, 0.0f, 0.0f, 0.0f};
    for (int i = 0; i < 4; ++i) {
        EXPECT_HR(errors[i], getExpected[i]) << "Get entry " << i;
        EXPECT_EQ(got[i], getValues[i]) << "Get entry " << i;
    }
    CoTaskMemFree(got);
    CoTaskMemFree(errors);

    OPCHANDLE one = setpoint;
    FLOAT percent = 5.0f;
    EXPECT_HR(deadband->SetItemDeadband(0, &one, &percent, &errors), E_INVALIDARG);
    EXPECT_HR(deadband->GetItemDeadband(0, &one, &got, &errors), E_INVALIDARG);
    EXPECT_HR(deadband->ClearItemDeadband(0, &one, &errors), E_INVALIDARG);
}

TEST_F(AsyncIO, SamplingIsRefused) {
    MakeGroup(TRUE, 1000);
    OPCHANDLE handle = AddItem(kSetpoint);
    ComPtr<IOPCItemSamplingMgt> sampling;
    ASSERT_HR(items_->QueryInterface(IID_IOPCItemSamplingMgt, reinterpret_cast<void**>(sampling.ReleaseAndGetAddressOf())),
              S_OK);
    DWORD rate = 100;
    DWORD* rates = nullptr;
    BOOL enable = TRUE;
    BOOL* enables = nullptr;
    HRESULT* errors = nullptr;
    EXPECT_HR(sampling->SetItemSamplingRate(1, &handle, &rate, &rates, &errors), E_NOTIMPL);
    EXPECT_HR(sampling->GetItemSamplingRate(1, &handle, &rates, &errors), E_NOTIMPL);
    EXPECT_HR(sampling->ClearItemSamplingRate(1, &handle, &errors), E_NOTIMPL);
    EXPECT_HR(sampling->SetItemBufferEnable(1, &handle, &enable, &errors), E_NOTIMPL);
    EXPECT_HR(sampling->GetItemBufferEnable(1, &handle, &enables, &errors), E_NOTIMPL);
    EXPECT_EQ(errors, nullptr);
    EXPECT_EQ(rates, nullptr);
    if (CrossProcess()) return;  // a proxy never lets a null out-pointer through
    EXPECT_HR(sampling->SetItemSamplingRate(1, &handle, &rate, nullptr, &errors), E_POINTER);
    EXPECT_HR(sampling->GetItemSamplingRate(1, &handle, &rates, nullptr), E_POINTER);
    EXPECT_HR(sampling->ClearItemSamplingRate(1, &handle, nullptr), E_POINTER);
    EXPECT_HR(sampling->SetItemBufferEnable(1, &handle, &enable, nullptr), E_POINTER);
    EXPECT_HR(sampling->GetItemBufferEnable(1, &handle, nullptr, &errors), E_POINTER);
}

TEST_F(AsyncIO, CallLevelCodes) {
    MakeGroup(TRUE, 1000);
    OPCHANDLE handle = AddItem(kSetpoint);
    DWORD cancelId = 0;
    DWORD maxAge = 0;
    HRESULT* errors = nullptr;
    VARIANT value = Number(VT_R4, 1);
    OPCITEMVQT vqt{};
    EXPECT_HR(async_->Read(0, &handle, 1, &cancelId, &errors), E_INVALIDARG);
    EXPECT_HR(async_->Write(0, &handle, &value, 1, &cancelId, &errors), E_INVALIDARG);
    EXPECT_HR(async_->ReadMaxAge(0, &handle, &maxAge, 1, &cancelId, &errors), E_INVALIDARG);
    EXPECT_HR(async_->WriteVQT(0, &handle, &vqt, 1, &cancelId, &errors), E_INVALIDARG);

    // The DA 1.0 calls are refused without touching the group.
    ComPtr<IOPCAsyncIO> legacy;
    ASSERT_HR(items_->QueryInterface(IID_IOPCAsyncIO, reinterpret_cast<void**>(legacy.ReleaseAndGetAddressOf())), S_OK);
    DWORD transactionId = 0;
    EXPECT_HR(legacy->Read(1, OPC_DS_CACHE, 1, &handle, &transactionId, &errors), E_NOTIMPL);
    EXPECT_HR(legacy->Write(1, 1, &handle, &value, &transactionId, &errors), E_NOTIMPL);
    EXPECT_HR(legacy->Refresh(1, OPC_DS_CACHE, &transactionId), E_NOTIMPL);
    EXPECT_HR(legacy->Cancel(1), E_NOTIMPL);
    EXPECT_EQ(errors, nullptr);

    if (!CrossProcess()) {
        EXPECT_HR(async_->Read(1, &handle, 1, nullptr, &errors), E_POINTER);
        EXPECT_HR(async_->Read(1, &handle, 1, &cancelId, nullptr), E_POINTER);
        EXPECT_HR(async_->Write(1, &handle, &value, 1, &cancelId, nullptr), E_POINTER);
        EXPECT_HR(async_->ReadMaxAge(1, &handle, &maxAge, 1, nullptr, &errors), E_POINTER);
        EXPECT_HR(async_->WriteVQT(1, &handle, &vqt, 1, &cancelId, nullptr), E_POINTER);
        EXPECT_HR(async_->Refresh2(OPC_DS_CACHE, 1, nullptr), E_POINTER);
        EXPECT_HR(async_->RefreshMaxAge(0, 1, nullptr), E_POINTER);
        EXPECT_HR(async_->GetEnable(nullptr), E_POINTER);
        // Null input arrays would be read past.
        EXPECT_HR(async_->Read(1, nullptr, 1, &cancelId, &errors), E_INVALIDARG);
        EXPECT_HR(async_->Write(1, &handle, nullptr, 1, &cancelId, &errors), E_INVALIDARG);
        EXPECT_HR(async_->ReadMaxAge(1, &handle, nullptr, 1, &cancelId, &errors), E_INVALIDARG);
        EXPECT_HR(async_->WriteVQT(1, &handle, nullptr, 1, &cancelId, &errors), E_INVALIDARG);
        EXPECT_HR(legacy->Read(1, OPC_DS_CACHE, 1, &handle, nullptr, &errors), E_POINTER);
        EXPECT_HR(legacy->Write(1, 1, &handle, &value, &transactionId, nullptr), E_POINTER);
        EXPECT_HR(legacy->Refresh(1, OPC_DS_CACHE, nullptr), E_POINTER);
        ComPtr<IOPCItemDeadbandMgt> deadband;
        ASSERT_HR(items_->QueryInterface(IID_IOPCItemDeadbandMgt,
                                         reinterpret_cast<void**>(deadband.ReleaseAndGetAddressOf())),
                  S_OK);
        FLOAT percent = 1.0f;
        FLOAT* percents = nullptr;
        EXPECT_HR(deadband->SetItemDeadband(1, &handle, &percent, nullptr), E_POINTER);
        EXPECT_HR(deadband->GetItemDeadband(1, &handle, nullptr, &errors), E_POINTER);
        EXPECT_HR(deadband->GetItemDeadband(1, &handle, &percents, nullptr), E_POINTER);
        EXPECT_HR(deadband->ClearItemDeadband(1, &handle, nullptr), E_POINTER);
    }

    // Removed while the client still holds it: every group call fails.
    ASSERT_HR(server_->RemoveGroup(serverGroupHandle_, FALSE), OPC_S_INUSE);
    const struct {
        const char* call;
        HRESULT actual;
    } removed[] = {
        {"Read", async_->Read(1, &handle, 1, &cancelId, &errors)},
        {"Write", async_->Write(1, &handle, &value, 1, &cancelId, &errors)},
        {"ReadMaxAge", async_->ReadMaxAge(1, &handle, &maxAge, 1, &cancelId, &errors)},
        {"WriteVQT", async_->WriteVQT(1, &handle, &vqt, 1, &cancelId, &errors)},
        {"Refresh2", async_->Refresh2(OPC_DS_CACHE, 1, &cancelId)},
        {"RefreshMaxAge", async_->RefreshMaxAge(0, 1, &cancelId)},
        {"Cancel2", async_->Cancel2(1)},
        {"SetEnable", async_->SetEnable(TRUE)},
        {"GetEnable", [&] {
             BOOL enabled;
             return async_->GetEnable(&enabled);
         }()},
    };
    for (const auto& r : removed) EXPECT_HR(r.actual, E_FAIL) << r.call;
    EXPECT_HR(legacy->Cancel(1), E_NOTIMPL) << "the DA 1.0 refusal does not look at the group";
    VariantClear(&value);
}

TEST_F(AsyncIO, RemovedItemsAndDestroyedGroupsLeaveQueuedRequestsSafe) {
    MakeQuietGroup();
    OPCHANDLE setpoint = AddItem(kSetpoint);
    OPCHANDLE breaker = AddItem(kBreaker);
    SetActive(TRUE);
    Read({setpoint}, 60, S_OK);  // ahead in the queue, so that the removal comes first
    Read({setpoint, breaker}, 61, S_OK);
    HRESULT* errors = nullptr;
    ASSERT_HR(items_->RemoveItems(1, &breaker, &errors), S_OK);
    CoTaskMemFree(errors);
    const auto c = sink_->TakeTransaction(61);
    ASSERT_TRUE(c);
    EXPECT_EQ(c->kind, Kind::ReadComplete);
    EXPECT_HR(c->masterQuality, S_OK);
    EXPECT_HR(c->masterError, S_FALSE);
    ExpectHandlesAndErrors(*c, {500, 0}, {S_OK, E_FAIL});
    EXPECT_EQ(c->values, (std::vector<double>{50.0, 0.0}));
    EXPECT_EQ(c->qualities, (std::vector<WORD>{0xC0, 0}));

    // A group let go with requests queued: they go without callbacks.
    for (DWORD id = 70; id < 73; ++id) Read({setpoint}, id, S_OK);
    ASSERT_HR(server_->RemoveGroup(serverGroupHandle_, FALSE), OPC_S_INUSE);
    items_.Reset();
    async_.Reset();
    state_.Reset();
    // A second group of the same client shows that ticks have gone by.
    MakeQuietGroup();
    setpoint = AddItem(kSetpoint);
    Barrier(setpoint);
    Barrier(setpoint);
    EXPECT_EQ(sink_->Count([](const RecordedCallback& c) { return c.transactionId >= 70 && c.transactionId < 73; }),
              0u);
}

}  // namespace
}  // namespace korvex::test
