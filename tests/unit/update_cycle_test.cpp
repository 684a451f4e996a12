// The update cycle driven tick by tick in process: scan periods, the deadband, quality changes,
// keep-alives and the inactive group.
#include "tests/support/hresult.h"
#include "tests/support/in_process_session.h"
#include "tests/support/server_session.h"

#include "rtdb/rt_library.h"
#include "server/server_module.h"

#include <gtest/gtest.h>

#include <atomic>
#include <vector>

namespace korvex::test {
namespace {

using com::ComPtr;

// Records every OnDataChange: the tick it came in and the values.
class RecordingSink : public IOPCDataCallback {
public:
    struct Call {
        int tick;
        OPCHANDLE group;
        std::vector<OPCHANDLE> handles;
        std::vector<double> values;
        std::vector<WORD> qualities;
    };
    std::vector<Call> calls;
    int tick = 0;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
        if (riid == IID_IUnknown || riid == IID_IOPCDataCallback) {
            *object = this;
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE OnDataChange(DWORD, OPCHANDLE hGroup, HRESULT, HRESULT, DWORD dwCount,
                                           OPCHANDLE* phClientItems, VARIANT* pvValues, WORD* pwQualities,
                                           FILETIME*, HRESULT*) override {
        Call call{tick, hGroup, {}, {}, {}};
        for (DWORD i = 0; i < dwCount; ++i) {
            call.handles.push_back(phClientItems[i]);
            VARIANT number;
            VariantInit(&number);
            VariantChangeType(&number, &pvValues[i], 0, VT_R8);
            call.values.push_back(number.dblVal);
            call.qualities.push_back(pwQualities[i]);
        }
        calls.push_back(call);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnReadComplete(DWORD, OPCHANDLE, HRESULT, HRESULT, DWORD, OPCHANDLE*, VARIANT*, WORD*,
                                             FILETIME*, HRESULT*) override {
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnWriteComplete(DWORD, OPCHANDLE, HRESULT, DWORD, OPCHANDLE*, HRESULT*) override {
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnCancelComplete(DWORD, OPCHANDLE) override { return S_OK; }
};

class UpdateCycle : public ::testing::Test {
protected:
    static void SetUpTestSuite() { StartServerSide(); }

    void SetUp() override {
        SetSetpoint(50.0);
        server_ = Connect();
    }

    ComPtr<IOPCItemMgt> AddGroup(DWORD rate, FLOAT deadband, BOOL active, std::vector<const wchar_t*> itemIds) {
        OPCHANDLE handle;
        DWORD revised;
        ComPtr<IOPCItemMgt> items;
        EXPECT_HR(server_->AddGroup(L"", active, rate, 9, nullptr, &deadband, 0, &handle, &revised, IID_IOPCItemMgt,
                                    reinterpret_cast<LPUNKNOWN*>(items.ReleaseAndGetAddressOf())),
                  S_OK);
        for (std::size_t i = 0; i < itemIds.size(); ++i) {
            OPCITEMDEF d{};
            d.szAccessPath = const_cast<LPWSTR>(L"");
            d.szItemID = const_cast<LPWSTR>(itemIds[i]);
            d.bActive = TRUE;
            d.hClient = static_cast<OPCHANDLE>(i + 1);
            OPCITEMRESULT* results = nullptr;
            HRESULT* errors = nullptr;
            EXPECT_HR(items->AddItems(1, &d, &results, &errors), S_OK);
            CoTaskMemFree(results);
            CoTaskMemFree(errors);
        }
        ComPtr<IConnectionPointContainer> container;
        items->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(container.ReleaseAndGetAddressOf()));
        ComPtr<IConnectionPoint> point;
        container->FindConnectionPoint(IID_IOPCDataCallback, point.ReleaseAndGetAddressOf());
        DWORD cookie;
        EXPECT_HR(point->Advise(&sink_, &cookie), S_OK);
        return items;
    }

    void Ticks(int count) {
        for (int i = 0; i < count; ++i) {
            ++sink_.tick;
            server::RunUpdateTick();
        }
    }

    static void SetSetpoint(double value) {
        rtimage::ImageView view = SessionRuntime().view();
        rtimage::storeLiveDouble(view.analog(0, 2) + rt::analog::kValue, value);
    }

    std::vector<int> TicksWithCalls() const {
        std::vector<int> ticks;
        for (const auto& call : sink_.calls) ticks.push_back(call.tick);
        return ticks;
    }

    RecordingSink sink_;
    ComPtr<IOPCServer> server_;
};

TEST_F(UpdateCycle, FirstScanReportsEverythingThenOnlyChangesAtTheUpdateRate) {
    auto group = AddGroup(1000, 0.0f, TRUE, {L"NorthSubstation.analog.Setpoint", L"NorthSubstation.switch.Breaker1"});
    Ticks(1);
    ASSERT_EQ(sink_.calls.size(), 1u) << "a new group is scanned in its first tick";
    EXPECT_EQ(sink_.calls[0].group, 9u);
    EXPECT_EQ(sink_.calls[0].handles, (std::vector<OPCHANDLE>{1, 2}));
    EXPECT_EQ(sink_.calls[0].values, (std::vector<double>{50.0, -1.0}));
    EXPECT_EQ(sink_.calls[0].qualities, (std::vector<WORD>{0xC0, 0xC0}));
    SetSetpoint(51.0);
    Ticks(10);
    // Rate 1000: scanned at ticks 6 and 11; only the first finds the change.
    EXPECT_EQ(TicksWithCalls(), (std::vector<int>{1, 6}));
    EXPECT_EQ(sink_.calls[1].handles, std::vector<OPCHANDLE>{1});
    EXPECT_EQ(sink_.calls[1].values, std::vector<double>{51.0});
}

TEST_F(UpdateCycle, DeadbandOfTheRange) {
    // Setpoint's range is 0..100: a group deadband of 10 percent is a band of 10.
    auto group = AddGroup(200, 10.0f, FALSE, {L"NorthSubstation.analog.Setpoint"});
    ComPtr<IOPCGroupStateMgt> state;
    group->QueryInterface(IID_IOPCGroupStateMgt, reinterpret_cast<void**>(state.ReleaseAndGetAddressOf()));
    BOOL on = TRUE;
    FLOAT deadband = 10.0f;
    DWORD revised;
    ASSERT_HR(state->SetState(nullptr, &revised, &on, nullptr, &deadband, nullptr, nullptr), S_OK);
    Ticks(1);
    SetSetpoint(55.0);
    Ticks(1);
    SetSetpoint(61.0);
    Ticks(1);
    EXPECT_EQ(TicksWithCalls(), (std::vector<int>{1, 3})) << "55 stays inside the band, 61 passes it";
    EXPECT_EQ(sink_.calls.back().values, std::vector<double>{61.0});
}

TEST_F(UpdateCycle, KeepAliveAndInactiveGroup) {
    auto group = AddGroup(200, 0.0f, FALSE, {L"NorthSubstation.analog.Setpoint"});
    ComPtr<IOPCGroupStateMgt2> state;
    group->QueryInterface(IID_IOPCGroupStateMgt2, reinterpret_cast<void**>(state.ReleaseAndGetAddressOf()));
    DWORD revised;
    ASSERT_HR(state->SetKeepAlive(1000, &revised), S_OK);
    SetSetpoint(70.0);
    Ticks(11);
    EXPECT_EQ(TicksWithCalls(), (std::vector<int>{5, 10})) << "keep-alives only: the group is inactive";
    for (const auto& call : sink_.calls) EXPECT_TRUE(call.handles.empty());
}

}  // namespace
}  // namespace korvex::test
