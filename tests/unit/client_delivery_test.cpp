// One client's delivery: order kept, what waits for a stalled client merged by the stated rule and
// nothing else lost, and closing or stopping never waiting on a hung client.
#include "tests/support/callback_sink.h"
#include "tests/support/hresult.h"

#include "com/com_object.h"
#include "server/client_delivery.h"

#include <gtest/gtest.h>
#include <oleauto.h>

#include <chrono>
#include <memory>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

namespace korvex::test {
namespace {

using namespace std::chrono_literals;
using server::ClientDelivery;
using Kind = GroupCallback::Kind;

// The sink's first call can be made to wait until the test opens the gate (at most 10 s).
struct Gate {
    std::mutex lock;
    std::condition_variable opened;
    bool open = false;
    void Open() {
        {
            std::lock_guard guard(lock);
            open = true;
        }
        opened.notify_all();
    }
};

com::ComPtr<CallbackSink> Sink(std::shared_ptr<Gate> gate = nullptr) {
    auto sink = com::make<CallbackSink>();
    if (gate) {
        sink->SetHook([gate](const RecordedCallback& call) {
            if (call.sequence != 1) return;
            std::unique_lock lock(gate->lock);
            gate->opened.wait_for(lock, 10s, [&] { return gate->open; });
        });
    }
    return sink;
}

bool WaitForCalls(const CallbackSink& sink, std::size_t count) {
    return sink.WaitUntil([count](const std::vector<RecordedCallback>& calls, int) { return calls.size() >= count; }, 5s);
}

// Every call as a line: "<kind> g<group> t<transid> [S_FALSE] [handle=value ...]".
std::vector<std::string> Log(const CallbackSink& sink) {
    std::vector<std::string> log;
    for (const RecordedCallback& call : sink.All()) {
        std::string line = std::string(call.kind == RecordedCallback::Kind::ReadComplete ? "read" : "change") + " g" +
                           std::to_string(call.group) + " t" + std::to_string(call.transactionId);
        if (call.masterQuality != S_OK) line += " S_FALSE";
        for (std::size_t i = 0; i < call.clientHandles.size(); ++i)
            line += " " + std::to_string(call.clientHandles[i]) + "=" + std::to_string(static_cast<int>(call.values[i]));
        log.push_back(line);
    }
    return log;
}

// One callback to post: of group `group` (its client handle as well), with items handle=value.
struct Spec {
    OPCHANDLE group;
    std::vector<std::pair<OPCHANDLE, int>> items;
    Kind kind = Kind::DataChange;
    DWORD transid = 0;
    HRESULT error = S_OK;
};

GroupCallback Callback(com::ComPtr<CallbackSink>& sink, const Spec& spec) {
    GroupCallback callback;
    callback.kind = spec.kind;
    callback.sinks.emplace_back(sink.Get());
    callback.transactionId = spec.transid;
    callback.clientGroupHandle = callback.serverGroupHandle = spec.group;
    for (const auto& [handle, value] : spec.items) {
        callback.clientHandles.push_back(handle);
        VARIANT v;
        VariantInit(&v);
        v.vt = VT_R4;
        v.fltVal = static_cast<float>(value);
        callback.values.push_back(v);
        callback.qualities.push_back(0xC0);
        callback.timestamps.push_back(FILETIME{});
        callback.errors.push_back(spec.error);
    }
    if (FAILED(spec.error)) callback.masterQuality = callback.masterError = S_FALSE;
    return callback;
}

CallbackOutbox Outbox(com::ComPtr<CallbackSink>& sink, const std::vector<Spec>& specs) {
    CallbackOutbox outbox;
    for (const Spec& spec : specs) outbox.push_back(Callback(sink, spec));
    return outbox;
}

TEST(ClientDelivery, WhatWaitsForAStalledClientIsMergedByTheRule) {
    struct Case {
        const char* name;
        std::vector<std::vector<Spec>> ticks;  // posted while the sink is stuck in its first call
        std::vector<std::string> delivered;    // after that call
    };
    const Case cases[] = {
        {"changes of one group merge: newer values win, new items are appended",
         {{{1, {{1, 10}, {2, 20}}}}, {{1, {{2, 21}, {3, 30}}}}},
         {"change g1 t0 1=10 2=21 3=30"}},
        {"a keep-alive adds nothing to a waiting change; a change replaces a waiting keep-alive",
         {{{1, {{1, 10}}}, {2, {}}}, {{1, {}}, {2, {{5, 50}}}}},
         {"change g1 t0 1=10", "change g2 t0 5=50"}},
        {"an async completion between two changes keeps them apart, in order",
         {{{1, {{1, 10}}}, {1, {{1, 11}}, Kind::ReadComplete, 7}}, {{1, {{1, 12}}}}, {{1, {{1, 13}}}}},
         {"change g1 t0 1=10", "read g1 t7 1=11", "change g1 t0 1=13"}},
        {"a refresh (a data change with a transaction ID) is never merged",
         {{{1, {{1, 10}}, Kind::DataChange, 4}, {1, {{1, 11}}}}},
         {"change g1 t4 1=10", "change g1 t0 1=11"}},
        {"a failed item keeps the master codes at S_FALSE after the merge",
         {{{1, {{1, 10}}, Kind::DataChange, 0, DISP_E_OVERFLOW}}, {{1, {{2, 20}}}}},
         {"change g1 t0 S_FALSE 1=10 2=20"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto gate = std::make_shared<Gate>();
        auto sink = Sink(gate);
        const auto delivery = ClientDelivery::Open();
        delivery->Post(Outbox(sink, {{9, {}}}));
        ASSERT_TRUE(WaitForCalls(*sink, 1));
        for (const auto& tick : c.ticks) delivery->Post(Outbox(sink, tick));
        EXPECT_EQ(delivery->PendingCount(), c.delivered.size());
        gate->Open();
        ASSERT_TRUE(WaitForCalls(*sink, 1 + c.delivered.size()));
        ASSERT_TRUE(ClientDelivery::WaitAllIdle(5s));
        auto log = Log(*sink);
        log.erase(log.begin());
        EXPECT_EQ(log, c.delivered);
        delivery->Close();
    }
}

TEST(ClientDelivery, ClosingDropsWhatWaitsAndNeverWaitsForTheClient) {
    auto gate = std::make_shared<Gate>();
    auto sink = Sink(gate);
    const auto delivery = ClientDelivery::Open();
    delivery->Post(Outbox(sink, {{1, {{1, 1}}}, {1, {{1, 2}}, Kind::ReadComplete, 3}}));
    ASSERT_TRUE(WaitForCalls(*sink, 1));
    const auto began = std::chrono::steady_clock::now();
    delivery->Close();
    EXPECT_LT(std::chrono::steady_clock::now() - began, 1s) << "Close waited for the hung client";
    EXPECT_EQ(delivery->PendingCount(), 0u);
    delivery->Post(Outbox(sink, {{1, {{1, 3}}}}));
    gate->Open();
    ASSERT_TRUE(ClientDelivery::WaitAllIdle(5s));
    EXPECT_EQ(Log(*sink), std::vector<std::string>{"change g1 t0 1=1"}) << "nothing after the client went";
}

TEST(ClientDelivery, StopWaitsBoundedlyForAClientStuckInACall) {
    auto gate = std::make_shared<Gate>();
    auto healthy = Sink();
    auto stuck = Sink(gate);
    const auto a = ClientDelivery::Open();
    const auto b = ClientDelivery::Open();
    b->Post(Outbox(stuck, {{1, {{1, 1}}}}));
    ASSERT_TRUE(WaitForCalls(*stuck, 1));
    a->Post(Outbox(healthy, {{2, {{2, 2}}}}));
    ASSERT_TRUE(WaitForCalls(*healthy, 1)) << "the healthy client is served while the other is stuck";
    const auto began = std::chrono::steady_clock::now();
    ClientDelivery::StopAll(300ms);
    const auto took = std::chrono::steady_clock::now() - began;
    EXPECT_GE(took, 250ms);
    EXPECT_LT(took, 3s);
    gate->Open();
}

}  // namespace
}  // namespace korvex::test
