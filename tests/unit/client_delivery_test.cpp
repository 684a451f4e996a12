// One client's delivery: order kept, what waits for a stalled client merged by the stated rule and
// nothing else lost, and closing or stopping never waiting on a hung client.
#include "tests/support/hresult.h"

#include "com/com_object.h"
#include "server/client_delivery.h"

#include <gtest/gtest.h>
#include <oleauto.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

namespace korvex::test {
namespace {

using namespace std::chrono_literals;
using server::ClientDelivery;
using Kind = GroupCallback::Kind;

// Records every call as a line: "<kind> g<group> t<transid> [handle=value ...]"; the first call
// can be made to block until released.
class LoggingSink final : public com::ComObject<LoggingSink, IOPCDataCallback, com::no_module_lock> {
public:
    void BlockFirstCall() { blockFirst_ = true; }
    void Unblock() {
        std::lock_guard guard(lock_);
        released_ = true;
        changed_.notify_all();
    }
    bool WaitForCalls(std::size_t count, std::chrono::milliseconds timeout = 5s) {
        std::unique_lock lock(lock_);
        return changed_.wait_for(lock, timeout, [&] { return log_.size() >= count; });
    }
    std::vector<std::string> Log() {
        std::lock_guard guard(lock_);
        return log_;
    }

    HRESULT STDMETHODCALLTYPE OnDataChange(DWORD transid, OPCHANDLE group, HRESULT masterQuality, HRESULT, DWORD count,
                                           OPCHANDLE* handles, VARIANT* values, WORD*, FILETIME*, HRESULT*) override {
        Record("change", group, transid, masterQuality, count, handles, values);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnReadComplete(DWORD transid, OPCHANDLE group, HRESULT masterQuality, HRESULT,
                                             DWORD count, OPCHANDLE* handles, VARIANT* values, WORD*, FILETIME*,
                                             HRESULT*) override {
        Record("read", group, transid, masterQuality, count, handles, values);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnWriteComplete(DWORD, OPCHANDLE, HRESULT, DWORD, OPCHANDLE*, HRESULT*) override {
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnCancelComplete(DWORD, OPCHANDLE) override { return S_OK; }

private:
    void Record(const char* kind, OPCHANDLE group, DWORD transid, HRESULT masterQuality, DWORD count,
                const OPCHANDLE* handles, const VARIANT* values) {
        std::string line = std::string(kind) + " g" + std::to_string(group) + " t" + std::to_string(transid);
        if (masterQuality != S_OK) line += " S_FALSE";
        for (DWORD i = 0; i < count; ++i)
            line += " " + std::to_string(handles[i]) + "=" + std::to_string(static_cast<int>(values[i].fltVal));
        std::unique_lock lock(lock_);
        log_.push_back(line);
        changed_.notify_all();
        if (blockFirst_ && log_.size() == 1) changed_.wait_for(lock, 10s, [&] { return released_; });
    }

    std::mutex lock_;
    std::condition_variable changed_;
    std::vector<std::string> log_;
    bool blockFirst_ = false;
    bool released_ = false;
};

// One callback to post: of group `group` (its client handle as well), with items handle=value.
struct Spec {
    OPCHANDLE group;
    std::vector<std::pair<OPCHANDLE, int>> items;
    Kind kind = Kind::DataChange;
    DWORD transid = 0;
    HRESULT error = S_OK;
};

GroupCallback Callback(com::ComPtr<LoggingSink>& sink, const Spec& spec) {
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

CallbackOutbox Outbox(com::ComPtr<LoggingSink>& sink, const std::vector<Spec>& specs) {
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
        auto sink = com::make<LoggingSink>();
        sink->BlockFirstCall();
        const auto delivery = ClientDelivery::Open();
        delivery->Post(Outbox(sink, {{9, {}}}));
        ASSERT_TRUE(sink->WaitForCalls(1));
        for (const auto& tick : c.ticks) delivery->Post(Outbox(sink, tick));
        EXPECT_EQ(delivery->PendingCount(), c.delivered.size());
        sink->Unblock();
        ASSERT_TRUE(sink->WaitForCalls(1 + c.delivered.size()));
        ASSERT_TRUE(ClientDelivery::WaitAllIdle(5s));
        auto log = sink->Log();
        log.erase(log.begin());
        EXPECT_EQ(log, c.delivered);
        delivery->Close();
    }
}

TEST(ClientDelivery, ClosingDropsWhatWaitsAndNeverWaitsForTheClient) {
    auto sink = com::make<LoggingSink>();
    sink->BlockFirstCall();
    const auto delivery = ClientDelivery::Open();
    delivery->Post(Outbox(sink, {{1, {{1, 1}}}, {1, {{1, 2}}, Kind::ReadComplete, 3}}));
    ASSERT_TRUE(sink->WaitForCalls(1));
    const auto began = std::chrono::steady_clock::now();
    delivery->Close();
    EXPECT_LT(std::chrono::steady_clock::now() - began, 1s) << "Close waited for the hung client";
    EXPECT_EQ(delivery->PendingCount(), 0u);
    delivery->Post(Outbox(sink, {{1, {{1, 3}}}}));
    sink->Unblock();
    ASSERT_TRUE(ClientDelivery::WaitAllIdle(5s));
    EXPECT_EQ(sink->Log(), std::vector<std::string>{"change g1 t0 1=1"}) << "nothing after the client went";
}

TEST(ClientDelivery, StopWaitsBoundedlyForAClientStuckInACall) {
    auto healthy = com::make<LoggingSink>();
    auto stuck = com::make<LoggingSink>();
    stuck->BlockFirstCall();
    const auto a = ClientDelivery::Open();
    const auto b = ClientDelivery::Open();
    b->Post(Outbox(stuck, {{1, {{1, 1}}}}));
    ASSERT_TRUE(stuck->WaitForCalls(1));
    a->Post(Outbox(healthy, {{2, {{2, 2}}}}));
    ASSERT_TRUE(healthy->WaitForCalls(1)) << "the healthy client is served while the other is stuck";
    const auto began = std::chrono::steady_clock::now();
    ClientDelivery::StopAll(300ms);
    const auto took = std::chrono::steady_clock::now() - began;
    EXPECT_GE(took, 250ms);
    EXPECT_LT(took, 3s);
    stuck->Unblock();
}

}  // namespace
}  // namespace korvex::test
