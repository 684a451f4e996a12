// The snapshot the operator's view shows, over clients that connect, subscribe, stall, fail and
// leave, with the update tick driven by hand; the rule that names a delivery's state; the
// one-minute figures.
#include "tests/support/callback_sink.h"
#include "tests/support/hresult.h"
#include "tests/support/in_process_session.h"
#include "tests/support/server_session.h"

#include "opccomn.h"
#include "server/client_snapshot.h"
#include "server/minute_window.h"
#include "server/server_module.h"

#include <gtest/gtest.h>

#include <functional>

namespace korvex::test {
namespace {

using com::ComPtr;
using server::DeliveryState;
using namespace std::chrono_literals;

ComPtr<IOPCItemMgt> AddGroup(IOPCServer& server, const wchar_t* name, BOOL active, FLOAT deadband,
                             std::initializer_list<std::pair<const wchar_t*, BOOL>> items,
                             std::vector<OPCHANDLE>* handles = nullptr) {
    OPCHANDLE handle = 0;
    DWORD revised = 0;
    ComPtr<IOPCItemMgt> group;
    EXPECT_HR(server.AddGroup(name, active, 1000, 1, nullptr, &deadband, 0, &handle, &revised, IID_IOPCItemMgt,
                              reinterpret_cast<LPUNKNOWN*>(group.ReleaseAndGetAddressOf())),
              S_OK);
    for (const auto& [id, itemActive] : items) {
        OPCITEMDEF d{const_cast<LPWSTR>(L""), const_cast<LPWSTR>(id), itemActive, 0, 0, nullptr, VT_EMPTY, 0};
        OPCITEMRESULT* results = nullptr;
        HRESULT* errors = nullptr;
        EXPECT_HR(group->AddItems(1, &d, &results, &errors), S_OK);
        if (handles != nullptr && results != nullptr) handles->push_back(results[0].hServer);
        CoTaskMemFree(results);
        CoTaskMemFree(errors);
    }
    return group;
}

// The first snapshot within 5 s of which `done` holds (the last one taken otherwise).
server::ServerSnapshot SnapshotWhen(const std::function<bool(const server::ServerSnapshot&)>& done) {
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    server::ServerSnapshot s = server::TakeSnapshot(SessionContext());
    while (!done(s) && std::chrono::steady_clock::now() < deadline) {
        Sleep(10);
        s = server::TakeSnapshot(SessionContext());
    }
    return s;
}

TEST(ClientSnapshot, FollowsClientsThatConnectSubscribeStallFailAndLeave) {
    StartServerSide();
    EXPECT_TRUE(server::TakeSnapshot(SessionContext()).clients.empty());
    ComPtr<IOPCServer> historian = Connect();
    ComPtr<IOPCServer> panel = Connect();
    ComPtr<IOPCCommon> common;
    ASSERT_HR(historian->QueryInterface(IID_IOPCCommon, reinterpret_cast<void**>(common.ReleaseAndGetAddressOf())),
              S_OK);
    ASSERT_HR(common->SetClientName(L"Historian"), S_OK);

    std::vector<OPCHANDLE> trendsItems;
    // The historian: an active group with an inactive item and a keep-alive, and an inactive group.
    ComPtr<IOPCItemMgt> trends = AddGroup(*historian, L"Trends", TRUE, 0.5f,
                                          {{L"NorthSubstation.analog.Setpoint", TRUE},
                                           {L"NorthSubstation.analog.BusbarVoltage", TRUE},
                                           {L"NorthSubstation.switch.Breaker1", FALSE}},
                                          &trendsItems);
    ComPtr<IOPCGroupStateMgt2> trendsState;
    trends->QueryInterface(IID_IOPCGroupStateMgt2, reinterpret_cast<void**>(trendsState.ReleaseAndGetAddressOf()));
    DWORD keepAlive = 0;
    ASSERT_HR(trendsState->SetKeepAlive(3000, &keepAlive), S_OK);
    ComPtr<IOPCItemMgt> spare =
        AddGroup(*historian, L"Spare", FALSE, 0.0f, {{L"NorthSubstation.switch.Breaker1", TRUE}});
    auto historianSink = com::make<CallbackSink>();
    ASSERT_TRUE(historianSink->Advise(trends.Get()));
    // The panel's sink does not return from its first call until released.
    ComPtr<IOPCItemMgt> mimic = AddGroup(*panel, L"Mimic", TRUE, 0.0f, {{L"NorthSubstation.analog.Setpoint", TRUE}});
    auto panelSink = com::make<CallbackSink>();
    const HANDLE release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    panelSink->SetHook([release](const RecordedCallback&) { WaitForSingleObject(release, 10000); });
    ASSERT_TRUE(panelSink->Advise(mimic.Get()));

    server::RunUpdateTick(SessionContext());
    // A refresh the historian asks for waits in its group's queue until the next tick.
    ComPtr<IOPCAsyncIO2> async;
    trends->QueryInterface(IID_IOPCAsyncIO2, reinterpret_cast<void**>(async.ReleaseAndGetAddressOf()));
    DWORD cancelId = 0;
    ASSERT_HR(async->Refresh2(OPC_DS_CACHE, 7, &cancelId), S_OK);

    server::ServerSnapshot s = SnapshotWhen([](const auto& s) {
        return s.clients.size() == 2 && s.clients[0].delivery.called && s.clients[1].delivery.inCall;
    });
    ASSERT_EQ(s.clients.size(), 2u);
    EXPECT_EQ(s.status, OPC_STATUS_RUNNING);
    EXPECT_EQ(s.points, 18u);
    EXPECT_GT(s.tick.worstLastMinute.count(), 0);
    EXPECT_LE(s.tick.last, s.tick.worstLastMinute);
    const server::ClientSnapshot& h = s.clients[0];
    EXPECT_EQ(h.name, L"Historian");
    EXPECT_LT(h.number, s.clients[1].number);
    ASSERT_EQ(h.groups.size(), 2u);
    EXPECT_EQ(h.groups[0].state.name, L"Trends");
    EXPECT_TRUE(h.groups[0].state.active);
    EXPECT_EQ(h.groups[0].state.updateRate, 1000u);
    EXPECT_EQ(h.groups[0].state.percentDeadband, 0.5f);
    EXPECT_EQ(h.groups[0].state.keepAliveTime, 3000u);
    EXPECT_EQ(h.groups[0].items, 3u);
    EXPECT_EQ(h.groups[0].activeItems, 2u);
    EXPECT_EQ(h.groups[0].queuedRequests, 1u);
    EXPECT_EQ(h.groups[1].state.name, L"Spare");
    EXPECT_FALSE(h.groups[1].state.active);
    EXPECT_EQ(h.ActiveItems(), 2u) << "the inactive group's item is not scanned";
    EXPECT_HR(h.delivery.lastCallResult, S_OK);
    EXPECT_EQ(h.delivery.valuesLastMinute, 2u);
    const server::ClientSnapshot& p = s.clients[1];
    EXPECT_EQ(p.name, L"");
    EXPECT_TRUE(p.delivery.inCall);
    EXPECT_FALSE(p.delivery.called) << "the call has not returned";
    EXPECT_NE(server::StateOf(p.delivery), DeliveryState::Idle);

    // Released, the panel's sink answers as a client whose process has gone.
    panelSink->SetResult(HRESULT_FROM_WIN32(RPC_S_SERVER_UNAVAILABLE));
    SetEvent(release);
    s = SnapshotWhen([](const auto& s) { return s.clients.size() == 2 && s.clients[1].delivery.called; });
    ASSERT_EQ(s.clients.size(), 2u);
    EXPECT_HR(s.clients[1].delivery.lastCallResult, HRESULT_FROM_WIN32(RPC_S_SERVER_UNAVAILABLE));
    EXPECT_EQ(server::StateOf(s.clients[1].delivery), DeliveryState::Unreachable);

    mimic.Reset();
    panel.Reset();
    s = server::TakeSnapshot(SessionContext());
    ASSERT_EQ(s.clients.size(), 1u) << "the panel has left";
    EXPECT_EQ(s.clients[0].name, L"Historian");

    // The count of active items follows activation, deactivation and removal.
    ASSERT_EQ(trendsItems.size(), 3u);
    HRESULT* errors = nullptr;
    OPCHANDLE deactivate[] = {trendsItems[0], trendsItems[2]};
    EXPECT_HR(trends->SetActiveState(2, deactivate, FALSE, &errors), S_OK);
    CoTaskMemFree(errors);
    EXPECT_HR(trends->RemoveItems(1, &trendsItems[1], &errors), S_OK);
    CoTaskMemFree(errors);
    EXPECT_EQ(server::TakeSnapshot(SessionContext()).clients[0].groups[0].activeItems, 0u);
    EXPECT_HR(trends->SetActiveState(1, &trendsItems[2], TRUE, &errors), S_OK);
    CoTaskMemFree(errors);
    s = server::TakeSnapshot(SessionContext());
    EXPECT_EQ(s.clients[0].groups[0].items, 2u);
    EXPECT_EQ(s.clients[0].groups[0].activeItems, 1u);
    historianSink->Unadvise(trends.Get());
    common.Reset();
    trendsState.Reset();
    async.Reset();
    trends.Reset();
    spare.Reset();
    historian.Reset();
    EXPECT_TRUE(server::TakeSnapshot(SessionContext()).clients.empty());
    CloseHandle(release);
}

TEST(ClientSnapshot, DeliveryStates) {
    using A = server::ClientDelivery::Activity;
    const HRESULT gone = HRESULT_FROM_WIN32(RPC_S_SERVER_UNAVAILABLE);
    const struct {
        const char* name;
        A activity;
        DeliveryState expected;
    } cases[] = {
        {"nothing sent yet", A{}, DeliveryState::Idle},
        {"a callback waits", A{1}, DeliveryState::Sending},
        {"in a call just under the limit", A{0, true, 1999ms}, DeliveryState::Sending},
        {"in a call for 2 s", A{0, true, 2000ms}, DeliveryState::Stalled},
        {"the last call refused by the client", A{0, false, 0ms, true, {}, E_FAIL}, DeliveryState::Idle},
        {"the client's process has gone", A{1, false, 0ms, true, {}, gone}, DeliveryState::Unreachable},
        {"the client's apartment has gone", A{0, false, 0ms, true, {}, RPC_E_DISCONNECTED}, DeliveryState::Unreachable},
        {"a new call stalls after a lost one", A{0, true, 3s, true, {}, gone}, DeliveryState::Stalled},
    };
    for (const auto& c : cases)
        EXPECT_EQ(static_cast<int>(server::StateOf(c.activity)), static_cast<int>(c.expected)) << c.name;
}

TEST(MinuteWindow, CountsAndWorstCoverTheLastSixtySeconds) {
    server::MinuteWindow counts;
    counts.Add(100, 2);
    counts.Add(100, 3);
    counts.Add(130, 1);
    EXPECT_EQ(counts.Sum(159), 6u);
    EXPECT_EQ(counts.Sum(160), 1u) << "second 100 has left the minute";
    counts.Add(160, 4);  // the slot second 100 had
    EXPECT_EQ(counts.Sum(160), 5u);
    server::MinuteWindow worst;
    worst.Raise(10, 7);
    worst.Raise(10, 3);
    worst.Raise(20, 5);
    EXPECT_EQ(worst.Max(69), 7u);
    EXPECT_EQ(worst.Max(70), 5u);
    EXPECT_EQ(worst.Max(80), 0u);
}

}  // namespace
}  // namespace korvex::test
