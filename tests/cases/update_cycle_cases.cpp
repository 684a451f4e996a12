// The update cycle in real time, on exact callback contents: scan periods, deadband, keep-alives,
// the inactive group, a client that calls the server from its callback and one that hangs beside a
// healthy one. Each client has a clock group (keep-alive at the base rate, no items, listed first),
// so that its sink numbers the ticks and every expectation is stated in ticks.
#include "tests/support/callback_sink.h"
#include "tests/support/group_item.h"
#include "tests/support/hresult.h"
#include "tests/support/server_session.h"
#include "tests/support/simulator_control.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <cmath>
#include <string>
#include <vector>

namespace korvex::test {
namespace {

using com::ComPtr;
using namespace std::chrono_literals;

constexpr const char* kStation = "NorthSubstation";
constexpr const char* kPoint = "Setpoint";  // analog, range 0..100, 50 at start
constexpr const wchar_t* kSetpoint = L"NorthSubstation.analog.Setpoint";
constexpr OPCHANDLE kClock = 100;
constexpr OPCHANDLE kItem = 7;  // the client handle of every group's one item

struct Group {
    ComPtr<IOPCItemMgt> items;
    OPCHANDLE serverHandle = 0;
    OPCHANDLE itemHandle = 0;  // the server handle of its item

    template <class Interface>
    ComPtr<Interface> As(REFIID iid) const {
        ComPtr<Interface> result;
        EXPECT_HR(items->QueryInterface(iid, reinterpret_cast<void**>(result.ReleaseAndGetAddressOf())), S_OK);
        return result;
    }
};

struct GroupSpec {
    OPCHANDLE clientHandle;
    DWORD updateRate;
    BOOL active = TRUE;
    FLOAT percentDeadband = 0.0f;  // set through SetState, which takes any percentage
    DWORD keepAlive = 0;
    bool withItem = true;
};

// One client: its server object, its sink and the clock group.
class Client {
public:
    Client() : server_(Connect()), sink_(com::make<CallbackSink>()) {
        sink_->SetClock(kClock);
        Add({kClock, 200, TRUE, 0.0f, 200, false});
    }

    Group Add(const GroupSpec& spec) {
        Group group;
        FLOAT noDeadband = 0.0f;
        DWORD revised = 0;
        EXPECT_HR(server_->AddGroup(L"", spec.active, spec.updateRate, spec.clientHandle, nullptr, &noDeadband, 0,
                                    &group.serverHandle, &revised, IID_IOPCItemMgt,
                                    reinterpret_cast<LPUNKNOWN*>(group.items.ReleaseAndGetAddressOf())),
                  S_OK);
        if (!group.items) return group;
        if (spec.percentDeadband != 0.0f) {
            FLOAT deadband = spec.percentDeadband;
            EXPECT_HR(group.As<IOPCGroupStateMgt>(IID_IOPCGroupStateMgt)
                          ->SetState(nullptr, &revised, nullptr, nullptr, &deadband, nullptr, nullptr),
                      S_OK);
        }
        if (spec.keepAlive != 0) {
            EXPECT_HR(group.As<IOPCGroupStateMgt2>(IID_IOPCGroupStateMgt2)->SetKeepAlive(spec.keepAlive, &revised), S_OK);
        }
        if (spec.withItem) group.itemHandle = AddOneItem(*group.items.Get(), kSetpoint, kItem);
        ComPtr<IConnectionPoint> point;
        EXPECT_HR(group.As<IConnectionPointContainer>(IID_IConnectionPointContainer)
                      ->FindConnectionPoint(IID_IOPCDataCallback, point.ReleaseAndGetAddressOf()),
                  S_OK);
        DWORD cookie = 0;
        if (point) {
            EXPECT_HR(point->Advise(sink_->identity(), &cookie), S_OK);
        }
        return group;
    }

    IOPCServer* server() const { return server_.Get(); }
    CallbackSink& sink() const { return *sink_; }

private:
    ComPtr<IOPCServer> server_;
    ComPtr<CallbackSink> sink_;
};

void SetSetpoint(double value) { SetAnalogValue(kStation, kPoint, value); }

std::vector<int> TicksOf(const std::vector<RecordedCallback>& calls) {
    std::vector<int> ticks;
    for (const auto& call : calls) ticks.push_back(call.tick);
    return ticks;
}

std::string Describe(const RecordedCallback& call) {
    char text[160];
    std::snprintf(text, sizeof text, "tick %d group %lu count %zu transid %lu master 0x%08lX/0x%08lX", call.tick,
                  static_cast<unsigned long>(call.group), call.clientHandles.size(), call.transactionId, static_cast<unsigned long>(call.masterQuality),
                  static_cast<unsigned long>(call.masterError));
    return text;
}

// A data change of the one item with the value given, good, as the update cycle sends it.
void ExpectItemChange(const RecordedCallback& call, OPCHANDLE group, double value, const std::string& what) {
    SCOPED_TRACE(what + ": " + Describe(call));
    EXPECT_EQ(call.transactionId, 0u);
    EXPECT_EQ(call.group, group);
    EXPECT_HR(call.masterQuality, S_OK);
    EXPECT_HR(call.masterError, S_OK);
    ASSERT_EQ(call.clientHandles, std::vector<OPCHANDLE>{kItem});
    EXPECT_EQ(call.types, std::vector<VARTYPE>{VT_R4});
    EXPECT_EQ(call.values, std::vector<double>{value});
    EXPECT_EQ(call.qualities, std::vector<WORD>{0xC0});
    EXPECT_HR(call.errors[0], S_OK);
}

void ExpectKeepAlive(const RecordedCallback& call, OPCHANDLE group) {
    SCOPED_TRACE(Describe(call));
    EXPECT_EQ(call.transactionId, 0u);
    EXPECT_EQ(call.group, group);
    EXPECT_HR(call.masterQuality, S_OK);
    EXPECT_HR(call.masterError, S_OK);
    EXPECT_TRUE(call.clientHandles.empty());
}

class UpdateCycle : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        StartServerSide();
        StartUpdateCycle();
    }
    void SetUp() override { SetSetpoint(50.0); }
};

TEST_F(UpdateCycle, RateOf200ScansEveryTickAnd1000EveryFifth) {
    Client client;
    constexpr OPCHANDLE kFast = 21, kSlow = 22;
    client.Add({kFast, 200});
    client.Add({kSlow, 1000});
    CallbackSink& sink = client.sink();
    // The suite's first callback also loads the proxies on both sides: on a loaded machine that
    // has taken more than 5 s across processes.
    ASSERT_TRUE(sink.WaitForCalls(kSlow, 1, std::chrono::seconds(20)))
        << "a new group reports its items in its first scan";
    ExpectItemChange(sink.Calls(kFast).at(0), kFast, 50.0, "first scan");
    ExpectItemChange(sink.Calls(kSlow).at(0), kSlow, 50.0, "first scan");
    const int start = sink.Ticks();
    const int firstSlow = sink.Calls(kSlow).at(0).tick;
    // A new value before every tick: the value of tick start+k is 10+k.
    constexpr int kTicks = 11;
    for (int k = 1; k <= kTicks; ++k) {
        SetSetpoint(10.0 + k);
        ASSERT_TRUE(sink.WaitForTick(start + k)) << "tick " << start + k;
    }
    ASSERT_TRUE(sink.WaitForTick(start + kTicks + 1));

    std::vector<RecordedCallback> fast = sink.Calls(kFast);
    fast.erase(fast.begin(), fast.begin() + 1);
    std::vector<int> everyTick;  // the tick after the last move finds nothing new
    for (int k = 1; k <= kTicks; ++k) everyTick.push_back(start + k);
    EXPECT_EQ(TicksOf(fast), everyTick);
    for (const auto& call : fast) ExpectItemChange(call, kFast, 10.0 + (call.tick - start), "rate 200");

    std::vector<RecordedCallback> slow = sink.Calls(kSlow);
    slow.erase(slow.begin(), slow.begin() + 1);
    std::vector<int> everyFifth;
    for (int tick = firstSlow + 5; tick <= start + kTicks; tick += 5)
        if (tick > start) everyFifth.push_back(tick);
    EXPECT_EQ(TicksOf(slow), everyFifth);
    for (const auto& call : slow) ExpectItemChange(call, kSlow, 10.0 + (call.tick - start), "rate 1000");
}

TEST_F(UpdateCycle, PercentDeadbandOfTheGroup) {
    Client client;
    // Setpoint's range is 0..100: 10 percent is a band of 10 around the value last reported.
    constexpr OPCHANDLE kBand = 31, kNoBand = 32;
    client.Add({kBand, 200, TRUE, 10.0f});
    client.Add({kNoBand, 200, TRUE, 0.0f});
    CallbackSink& sink = client.sink();
    ASSERT_TRUE(sink.WaitForCalls(kBand, 1) && sink.WaitForCalls(kNoBand, 1));
    struct Step {
        double value;
        bool reportedWithBand;  // the group of 10 percent; the group of 0 reports every move
    };
    const Step steps[] = {
        {55.0, false},  // 5 from 50
        {59.5, false},  // 9.5 from 50: small moves add up against the value last reported
        {61.0, true},   // 11 from 50
        {52.0, false},  // 9 from 61
        {50.5, true},   // 10.5 from 61
        {60.5, false},  // exactly 10: not beyond the band
    };
    for (const Step& step : steps) {
        const std::size_t band = sink.Calls(kBand).size(), noBand = sink.Calls(kNoBand).size();
        const int tick = sink.Ticks();
        SetSetpoint(step.value);
        // The change shows in the next tick; its callbacks are in when the clock of the one after comes.
        ASSERT_TRUE(sink.WaitForTick(tick + 2));
        const std::string what = "move to " + std::to_string(step.value);
        const auto withBand = sink.Calls(kBand), withoutBand = sink.Calls(kNoBand);
        ASSERT_EQ(withoutBand.size(), noBand + 1) << what;
        ExpectItemChange(withoutBand.back(), kNoBand, step.value, what + ", deadband 0");
        ASSERT_EQ(withBand.size(), band + (step.reportedWithBand ? 1 : 0)) << what;
        if (step.reportedWithBand) ExpectItemChange(withBand.back(), kBand, step.value, what + ", deadband 10");
    }
}

TEST_F(UpdateCycle, KeepAliveEveryFifthTickRestartsAfterADataChangeAndReachesInactiveGroups) {
    Client client;
    constexpr OPCHANDLE kActive = 41, kInactive = 42;
    client.Add({kActive, 200, TRUE, 0.0f, 1000});
    const int created = client.sink().Ticks();
    client.Add({kInactive, 200, FALSE, 0.0f, 1000});
    CallbackSink& sink = client.sink();
    ASSERT_TRUE(sink.WaitForCalls(kActive, 1));
    const int first = sink.Calls(kActive).at(0).tick;
    ASSERT_TRUE(sink.WaitForTick(first + 12));
    SetSetpoint(70.0);  // seen in tick first+13
    ASSERT_TRUE(sink.WaitForTick(first + 20));

    const auto active = sink.Calls(kActive);
    EXPECT_EQ(TicksOf(active), (std::vector<int>{first, first + 5, first + 10, first + 13, first + 18}));
    if (active.size() == 5) {
        ExpectItemChange(active[0], kActive, 50.0, "first scan");
        ExpectKeepAlive(active[1], kActive);
        ExpectKeepAlive(active[2], kActive);
        ExpectItemChange(active[3], kActive, 70.0, "the move restarts the keep-alive count");
        ExpectKeepAlive(active[4], kActive);
    }

    // Inactive: keep-alives only, every fifth tick from its creation, whatever the value does.
    const auto inactive = sink.Calls(kInactive);
    ASSERT_GE(inactive.size(), 3u);
    EXPECT_GE(inactive[0].tick, created + 4);
    EXPECT_LE(inactive[0].tick, created + 6);
    for (std::size_t i = 0; i < inactive.size(); ++i) {
        ExpectKeepAlive(inactive[i], kInactive);
        if (i > 0) {
            EXPECT_EQ(inactive[i].tick - inactive[i - 1].tick, 5) << Describe(inactive[i]);
        }
    }
}

// A client that creates its group inactive and activates it once subscribed must not wait a whole
// update period (ten minutes here) for its first values, whatever ticks passed meanwhile.
TEST_F(UpdateCycle, AGroupIsScannedInTheFirstTickAfterItBecomesActive) {
    Client client;
    constexpr OPCHANDLE kSlow = 45;
    const Group group = client.Add({kSlow, 600000, FALSE});
    auto state = group.As<IOPCGroupStateMgt>(IID_IOPCGroupStateMgt);
    CallbackSink& sink = client.sink();
    DWORD revised = 0;
    for (const BOOL active : {TRUE, FALSE, TRUE}) {
        ASSERT_TRUE(sink.WaitForTick(sink.Ticks() + 2)) << "ticks pass while the group is inactive";
        BOOL set = active;
        ASSERT_HR(state->SetState(nullptr, &revised, &set, nullptr, nullptr, nullptr, nullptr), S_OK);
        if (!active) continue;
        const std::size_t before = sink.Calls(kSlow).size();
        const int activated = sink.Ticks();
        ASSERT_TRUE(sink.WaitForCalls(kSlow, before + 1)) << "no data change after the activation";
        const auto call = sink.Calls(kSlow).at(before);
        EXPECT_LE(call.tick, activated + 2) << Describe(call);
        ExpectItemChange(call, kSlow, 50.0, "first scan after the activation");
    }
}

// What the runtime holds is not always a number: a NaN or an infinity is reported with quality bad,
// once, not at every scan.
TEST_F(UpdateCycle, ANaNFromTheRuntimeIsBadAndReportedOnce) {
    Client client;
    constexpr OPCHANDLE kGroup = 46;
    client.Add({kGroup, 200});
    CallbackSink& sink = client.sink();
    ASSERT_TRUE(sink.WaitForCalls(kGroup, 1));
    for (const double value : {std::nan(""), HUGE_VAL, -1e300}) {
        const std::size_t before = sink.Calls(kGroup).size();
        SetSetpoint(value);
        ASSERT_TRUE(sink.WaitForCalls(kGroup, before + 1)) << value;
        ASSERT_TRUE(sink.WaitForTick(sink.Ticks() + 3));
        const auto calls = sink.Calls(kGroup);
        ASSERT_EQ(calls.size(), before + 1) << value << ": reported once";
        EXPECT_EQ(calls.back().qualities, std::vector<WORD>{0x00}) << value;
        SetSetpoint(50.0);
        ASSERT_TRUE(sink.WaitForCalls(kGroup, before + 2)) << "back to a number";
        EXPECT_EQ(sink.Calls(kGroup).back().qualities, std::vector<WORD>{0xC0});
    }
}

TEST_F(UpdateCycle, ClientCallsTheServerFromInsideItsCallback) {
    Client client;
    constexpr OPCHANDLE kReentrant = 51;
    const Group group = client.Add({kReentrant, 200});
    // What the client does inside OnDataChange: calls that need the server's and the group's locks.
    struct Reentry {
        const char* what;
        std::function<HRESULT()> call;
    };
    const ComPtr<IOPCSyncIO> io = group.As<IOPCSyncIO>(IID_IOPCSyncIO);
    const ComPtr<IOPCGroupStateMgt> state = group.As<IOPCGroupStateMgt>(IID_IOPCGroupStateMgt);
    const std::vector<Reentry> reentries = {
        // From the cache: a device read would refresh the item's cache and hide the next move.
        {"IOPCSyncIO::Read from the cache (the group lock)",
         [&] {
             OPCHANDLE handle = group.itemHandle;
             OPCITEMSTATE* states = nullptr;
             HRESULT* errors = nullptr;
             const HRESULT hr = io->Read(OPC_DS_CACHE, 1, &handle, &states, &errors);
             if (states) VariantClear(&states[0].vDataValue);
             CoTaskMemFree(states);
             CoTaskMemFree(errors);
             return hr;
         }},
        {"IOPCGroupStateMgt::SetState (the group lock)",
         [&] {
             DWORD revised = 0;
             FLOAT deadband = 0.0f;
             return state->SetState(nullptr, &revised, nullptr, nullptr, &deadband, nullptr, nullptr);
         }},
        {"IOPCServer::AddGroup and RemoveGroup (the server lock)",
         [&] {
             OPCHANDLE handle = 0;
             DWORD revised = 0;
             ComPtr<IUnknown> added;
             HRESULT hr = client.server()->AddGroup(L"", FALSE, 1000, 0, nullptr, nullptr, 0, &handle, &revised,
                                                    IID_IUnknown, added.ReleaseAndGetAddressOf());
             if (FAILED(hr)) return hr;
             added.Reset();
             return client.server()->RemoveGroup(handle, FALSE);
         }},
    };
    // Once outside any callback first: the first cross-process use of each interface is slow, and
    // a client slower than a tick gets its waiting changes merged.
    for (const Reentry& reentry : reentries) EXPECT_HR(reentry.call(), S_OK) << reentry.what << " outside a callback";
    std::mutex lock;
    std::vector<std::vector<HRESULT>> results;
    client.sink().SetHook([&](const RecordedCallback& call) {
        if (call.group != kReentrant) return;
        std::vector<HRESULT> got;
        for (const Reentry& reentry : reentries) got.push_back(reentry.call());
        std::lock_guard guard(lock);
        results.push_back(got);
    });
    CallbackSink& sink = client.sink();
    ASSERT_TRUE(sink.WaitForCalls(kReentrant, 1));
    const std::size_t before = sink.Calls(kReentrant).size();
    for (std::size_t k = 1; k <= 3; ++k) {
        SetSetpoint(20.0 + k);
        ASSERT_TRUE(sink.WaitForCalls(kReentrant, before + k)) << "no callback after re-entrant calls " << k;
    }
    const int tick = sink.Ticks();
    ASSERT_TRUE(sink.WaitForTick(tick + 2)) << "the clock stops after the re-entrant calls";
    client.sink().SetHook({});
    const auto calls = sink.Calls(kReentrant);
    ASSERT_EQ(calls.size(), before + 3);
    for (std::size_t k = 1; k <= 3; ++k)
        ExpectItemChange(calls[before + k - 1], kReentrant, 20.0 + k, "move " + std::to_string(k));
    std::lock_guard guard(lock);
    ASSERT_GE(results.size(), 3u);
    for (std::size_t c = 0; c < results.size(); ++c)
        for (std::size_t r = 0; r < reentries.size(); ++r)
            EXPECT_HR(results[c][r], S_OK) << reentries[r].what << " inside callback " << c;
}

TEST_F(UpdateCycle, HungClientHoldsUpNobodyElse) {
    Client healthy;
    Client hung;
    constexpr OPCHANDLE kHealthy = 61, kHung = 62;
    healthy.Add({kHealthy, 200});
    hung.Add({kHung, 200});
    // The hung client blocks in its first data change for ten seconds.
    const HANDLE never = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::atomic<bool> hanging{false};
    std::atomic<long long> blockedMs{0};
    hung.sink().SetHook([&](const RecordedCallback& call) {
        if (call.group != kHung || hanging.exchange(true)) return;
        const auto began = std::chrono::steady_clock::now();
        WaitForSingleObject(never, 10000);
        blockedMs = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - began).count();
    });
    const auto hungCalls = [&] { return hung.sink().Calls(kHung).size(); };
    CallbackSink& sink = healthy.sink();
    ASSERT_TRUE(sink.WaitForCalls(kHealthy, 1));
    ASSERT_TRUE(hung.sink().WaitForCalls(kHung, 1));
    const auto hangBegan = std::chrono::steady_clock::now();
    const int start = sink.Ticks();
    // A new value before every tick while the other client hangs, until it receives again.
    int k = 0;
    double value = 0;
    for (; hungCalls() < 2 && std::chrono::steady_clock::now() - hangBegan < 15s; ++k) {
        value = 10.0 + 0.25 * (k + 1);
        SetSetpoint(value);
        ASSERT_TRUE(sink.WaitForTick(start + k + 1)) << "the healthy client's clock stopped at tick " << start + k + 1;
    }
    const double lastValue = value;
    ASSERT_TRUE(sink.WaitForTick(start + k + 1));
    CloseHandle(never);
    ASSERT_GE(hungCalls(), 2u) << "the hung client receives again once it returns";

    EXPECT_GE(blockedMs.load(), 9500) << "the hung client really hung";
    // The healthy client received every tick's change in that tick.
    auto calls = sink.Calls(kHealthy);
    calls.erase(calls.begin());  // the first scan
    std::vector<int> ticks, expected;
    for (const auto& call : calls)
        if (call.tick > start) ticks.push_back(call.tick);
    for (int tick = start + 1; tick <= start + k; ++tick) expected.push_back(tick);
    EXPECT_EQ(ticks, expected);
    auto longestGap = 0ms;
    for (std::size_t i = 1; i < calls.size(); ++i)
        longestGap = std::max(longestGap, std::chrono::duration_cast<std::chrono::milliseconds>(calls[i].arrived - calls[i - 1].arrived));
    EXPECT_LT(longestGap, 1000ms) << "longest pause between two of the healthy client's data changes";
    for (const auto& call : calls)
        if (call.tick > start) ExpectItemChange(call, kHealthy, 10.0 + 0.25 * (call.tick - start), "healthy");

    // What piled up for the hung client came as one data change with the latest value, not as a
    // backlog of every tick it missed.
    const auto late = hung.sink().Calls(kHung);
    ASSERT_GE(late.size(), 2u);
    EXPECT_LE(late.size(), 3u) << "a backlog reached the hung client";
    ExpectItemChange(late[1], kHung, late[1].values.empty() ? 0.0 : late[1].values[0], "the merged change");
    EXPECT_GE(late[1].values.at(0), lastValue - 0.25 * 2) << "the merged change carries the latest value";
}

TEST_F(UpdateCycle, AsyncWriteToHungRuntimeHoldsUpNobodyElse) {
    if (!CrossProcess()) GTEST_SKIP() << "the simulator's window hangs on command";
    Client client;
    constexpr OPCHANDLE kWriter = 81, kWatcher = 82, kBreakerWatcher = 83, kBreaker = 9;
    constexpr DWORD kTransaction = 0x5A17;
    // The write goes to a breaker already closed, so that the runtime taking it late changes nothing.
    const Group writer = client.Add({kWriter, 200, FALSE, 0.0f, 0, false});
    OPCHANDLE breaker = AddOneItem(*writer.items.Get(), L"NorthSubstation.switch.Breaker1", kBreaker);
    ASSERT_NE(breaker, 0u);
    // The written point itself is scanned every tick: its scan must not wait for the runtime either.
    const Group breakerWatcher = client.Add({kBreakerWatcher, 200, TRUE, 0.0f, 0, false});
    ASSERT_NE(AddOneItem(*breakerWatcher.items.Get(), L"NorthSubstation.switch.Breaker1", kBreaker), 0u);
    HRESULT* errors = nullptr;
    client.Add({kWatcher, 200});
    CallbackSink& sink = client.sink();
    ASSERT_TRUE(sink.WaitForCalls(kWatcher, 1));

    SimulatorControl simulator;
    simulator.ok("hang 30");
    // The runtime comes back however the test ends: the next tests need it.
    const std::unique_ptr<SimulatorControl, void (*)(SimulatorControl*)> resume(
        &simulator, [](SimulatorControl* s) { s->command("resume"); });
    VARIANT closed;
    VariantInit(&closed);
    closed.vt = VT_BOOL;
    closed.boolVal = VARIANT_TRUE;
    DWORD cancelId = 0;
    const auto written = std::chrono::steady_clock::now();
    ASSERT_HR(writer.As<IOPCAsyncIO2>(IID_IOPCAsyncIO2)->Write(1, &breaker, &closed, kTransaction, &cancelId, &errors),
              S_OK);
    EXPECT_HR(errors[0], S_OK);
    CoTaskMemFree(errors);
    const auto completed = [&] { return !sink.Calls(kWriter).empty(); };
    // A new value before every tick while the write waits for the runtime, which holds it until the
    // server gives up on it.
    const int start = sink.Ticks();
    int k = 0;
    for (; !completed() && std::chrono::steady_clock::now() - written < 15s; ++k) {
        SetSetpoint(10.0 + 0.25 * (k + 1));
        ASSERT_TRUE(sink.WaitForTick(start + k + 1, 1s)) << "the clock stopped at tick " << start + k + 1;
    }
    ASSERT_TRUE(sink.WaitForTick(start + k + 1));
    const auto waited = std::chrono::steady_clock::now() - written;

    const auto completions = sink.Calls(kWriter);
    ASSERT_EQ(completions.size(), 1u) << "the inactive group gets nothing but the write's completion";
    const auto& completion = completions[0];
    SCOPED_TRACE(Describe(completion));
    EXPECT_EQ(completion.kind, RecordedCallback::Kind::WriteComplete);
    EXPECT_EQ(completion.transactionId, kTransaction);
    EXPECT_HR(completion.masterError, S_FALSE);
    EXPECT_EQ(completion.clientHandles, std::vector<OPCHANDLE>{kBreaker});
    ASSERT_EQ(completion.errors.size(), 1u);
    EXPECT_HR(completion.errors[0], E_FAIL);
    EXPECT_GE(waited, 2s) << "the runtime did not hold the write";
    EXPECT_LT(waited, 10s) << "the wait for the runtime is bounded";

    // Meanwhile the watcher received every tick's change in that tick.
    std::vector<int> ticks, expected;
    for (const auto& call : sink.Calls(kWatcher)) {
        if (call.tick <= start) continue;
        ticks.push_back(call.tick);
        ExpectItemChange(call, kWatcher, 10.0 + 0.25 * (call.tick - start), "watcher");
    }
    for (int tick = start + 1; tick <= start + k; ++tick) expected.push_back(tick);
    EXPECT_EQ(ticks, expected);
}

// Last in the program: the runtime does not come back.
// The runtime stops: the items go bad with the comm-failure quality, reported whatever the deadband
// (a quality change alone), and the server reports a comm fault. The server program then tells its
// clients and ends (tested with the program itself); in process it stays, so the count is checked.
TEST_F(UpdateCycle, WhenTheRuntimeStopsItemsGoBadWithCommFailure) {
    Client client;
    constexpr OPCHANDLE kQuality = 71;
    // A band of the whole range: no move of the value can pass it.
    client.Add({kQuality, 200, TRUE, 100.0f});
    CallbackSink& sink = client.sink();
    ASSERT_TRUE(sink.WaitForCalls(kQuality, 1));
    const int tick = sink.Ticks();
    StopRuntime();
    ASSERT_TRUE(sink.WaitForCalls(kQuality, 2));
    const auto call = sink.Calls(kQuality).at(1);
    SCOPED_TRACE(Describe(call));
    EXPECT_LE(call.tick, tick + 2);
    EXPECT_EQ(call.clientHandles, std::vector<OPCHANDLE>{kItem});
    // A failed read leaves no value; the cache read hands that out in the canonical type, as 0.
    EXPECT_EQ(call.types, std::vector<VARTYPE>{VT_R4});
    EXPECT_EQ(call.values, std::vector<double>{0.0});
    EXPECT_EQ(call.qualities, std::vector<WORD>{0x18});
    EXPECT_HR(call.errors.at(0), S_OK);
    EXPECT_HR(call.masterQuality, S_OK);
    EXPECT_HR(call.masterError, S_OK);
    if (CrossProcess()) return;
    ASSERT_TRUE(sink.WaitForTick(sink.Ticks() + 3));
    EXPECT_EQ(sink.Calls(kQuality).size(), 2u) << "reported once";
    OPCSERVERSTATUS* status = nullptr;
    ASSERT_HR(client.server()->GetStatus(&status), S_OK);
    EXPECT_EQ(status->dwServerState, OPC_STATUS_COMM_FAULT);
    CoTaskMemFree(status->szVendorInfo);
    CoTaskMemFree(status);
}

}  // namespace
}  // namespace korvex::test
