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
    void Release_() {
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

// A callback of group `group` (its client handle as well) with items handle=value.
GroupCallback Callback(com::ComPtr<LoggingSink>& sink, OPCHANDLE group, std::vector<std::pair<OPCHANDLE, int>> items,
                       Kind kind = Kind::DataChange, DWORD transid = 0, HRESULT error = S_OK) {
    GroupCallback callback;
    callback.kind = kind;
    callback.sinks.emplace_back(sink.Get());
    callback.transactionId = transid;
    callback.clientGroupHandle = group;
    callback.serverGroupHandle = group;
    for (const auto& [handle, value] : items) {
        callback.clientHandles.push_back(handle);
        VARIANT v;
        VariantInit(&v);
        v.vt = VT_R4;
        v.fltVal = static_cast<float>(value);
        callback.values.push_back(v);
        callback.qualities.push_back(0xC0);
        callback.timestamps.push_back(FILETIME{});
        callback.errors.push_back(error);
    }
    if (FAILED(error)) callback.masterQuality = callback.masterError = S_FALSE;
    return callback;
}

CallbackOutbox Outbox(std::vector<GroupCallback> callbacks) {
    CallbackOutbox outbox;
    for (GroupCallback& callback : callbacks) outbox.push_back(std::move(callback));
    return outbox;
}

TEST(ClientDelivery, WhatWaitsForAStalledClientIsMergedByTheRule) {
    struct Case {
        const char* name;
        // Posted, one tick per entry, while the sink is stuck in the first call ("change g9 t0").
        std::vector<std::vector<GroupCallback> (*)(com::ComPtr<LoggingSink>&)> ticks;
        std::vector<std::string> delivered;  // after the first call
    };
    using Sink = com::ComPtr<LoggingSink>;
    const Case cases[] = {
        {"changes of one group merge: newer values win, new items are appended",
         {[](Sink& s) {
              std::vector<GroupCallback> v;
              v.push_back(Callback(s, 1, {{1, 10}, {2, 20}}));
              return v;
          },
          [](Sink& s) {
              std::vector<GroupCallback> v;
              v.push_back(Callback(s, 1, {{2, 21}, {3, 30}}));
              return v;
          }},
         {"change g1 t0 1=10 2=21 3=30"}},
        {"a keep-alive adds nothing to a waiting change, and a change replaces a waiting keep-alive",
         {[](Sink& s) {
              std::vector<GroupCallback> v;
              v.push_back(Callback(s, 1, {{1, 10}}));
              v.push_back(Callback(s, 2, {}));
              return v;
          },
          [](Sink& s) {
              std::vector<GroupCallback> v;
              v.push_back(Callback(s, 1, {}));
              v.push_back(Callback(s, 2, {{5, 50}}));
              return v;
          }},
         {"change g1 t0 1=10", "change g2 t0 5=50"}},
        {"an async completion between two changes keeps them apart, in order",
         {[](Sink& s) {
              std::vector<GroupCallback> v;
              v.push_back(Callback(s, 1, {{1, 10}}));
              v.push_back(Callback(s, 1, {{1, 11}}, Kind::ReadComplete, 7));
              return v;
          },
          [](Sink& s) {
              std::vector<GroupCallback> v;
              v.push_back(Callback(s, 1, {{1, 12}}));
              return v;
          },
          [](Sink& s) {
              std::vector<GroupCallback> v;
              v.push_back(Callback(s, 1, {{1, 13}}));
              return v;
          }},
         {"change g1 t0 1=10", "read g1 t7 1=11", "change g1 t0 1=13"}},
        {"a refresh (a data change with a transaction ID) is never merged",
         {[](Sink& s) {
              std::vector<GroupCallback> v;
              v.push_back(Callback(s, 1, {{1, 10}}, Kind::DataChange, 4));
              v.push_back(Callback(s, 1, {{1, 11}}));
              return v;
          }},
         {"change g1 t4 1=10", "change g1 t0 1=11"}},
        {"a failed item keeps the master codes at S_FALSE after the merge",
         {[](Sink& s) {
              std::vector<GroupCallback> v;
              v.push_back(Callback(s, 1, {{1, 10}}, Kind::DataChange, 0, DISP_E_OVERFLOW));
              return v;
          },
          [](Sink& s) {
              std::vector<GroupCallback> v;
              v.push_back(Callback(s, 1, {{2, 20}}));
              return v;
          }},
         {"change g1 t0 S_FALSE 1=10 2=20"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto sink = com::make<LoggingSink>();
        sink->BlockFirstCall();
        const auto delivery = ClientDelivery::Open();
        delivery->Post(Outbox({}));
        {
            std::vector<GroupCallback> first;
            first.push_back(Callback(sink, 9, {}));
            delivery->Post(Outbox(std::move(first)));
        }
        ASSERT_TRUE(sink->WaitForCalls(1));
        for (auto tick : c.ticks) delivery->Post(Outbox(tick(sink)));
        EXPECT_EQ(delivery->PendingCount(), c.delivered.size());
        sink->Release_();
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
    std::vector<GroupCallback> first;
    first.push_back(Callback(sink, 1, {{1, 1}}));
    first.push_back(Callback(sink, 1, {{1, 2}}, Kind::ReadComplete, 3));
    delivery->Post(Outbox(std::move(first)));
    ASSERT_TRUE(sink->WaitForCalls(1));
    const auto began = std::chrono::steady_clock::now();
    delivery->Close();
    EXPECT_LT(std::chrono::steady_clock::now() - began, 1s) << "Close waited for the hung client";
    EXPECT_EQ(delivery->PendingCount(), 0u);
    std::vector<GroupCallback> late;
    late.push_back(Callback(sink, 1, {{1, 3}}));
    delivery->Post(Outbox(std::move(late)));
    sink->Release_();
    ASSERT_TRUE(ClientDelivery::WaitAllIdle(5s));
    EXPECT_EQ(sink->Log(), std::vector<std::string>{"change g1 t0 1=1"}) << "nothing after the client went";
}

TEST(ClientDelivery, StopWaitsBoundedlyForAClientStuckInACall) {
    auto healthy = com::make<LoggingSink>();
    auto stuck = com::make<LoggingSink>();
    stuck->BlockFirstCall();
    const auto a = ClientDelivery::Open();
    const auto b = ClientDelivery::Open();
    std::vector<GroupCallback> toStuck, toHealthy;
    toStuck.push_back(Callback(stuck, 1, {{1, 1}}));
    toHealthy.push_back(Callback(healthy, 2, {{2, 2}}));
    b->Post(Outbox(std::move(toStuck)));
    ASSERT_TRUE(stuck->WaitForCalls(1));
    a->Post(Outbox(std::move(toHealthy)));
    ASSERT_TRUE(healthy->WaitForCalls(1)) << "the healthy client is served while the other is stuck";
    const auto began = std::chrono::steady_clock::now();
    ClientDelivery::StopAll(300ms);
    const auto took = std::chrono::steady_clock::now() - began;
    EXPECT_GE(took, 250ms);
    EXPECT_LT(took, 3s);
    stuck->Release_();
}

}  // namespace
}  // namespace korvex::test
