// A client's IOPCDataCallback sink for the tests: a real COM object, advised through the group's
// IConnectionPointContainer, that records every OnDataChange and OnWriteComplete with its exact
// contents. One group
// of the client may serve as its clock: a keep-alive group called once per tick, whose calls
// number the ticks, so that a test can say in which tick any other callback came.
#pragma once

#include "com/com_object.h"
#include "opcda.h"
#include "tests/support/callback_sink.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <vector>

namespace korvex::test {

class DataChangeSink final : public com::ComObject<DataChangeSink, IOPCDataCallback, com::no_module_lock> {
public:
    struct Call : RecordedCallback {
        int tick = 0;  // clock calls received up to and including this one
        std::chrono::steady_clock::time_point arrived;
    };
    using Hook = std::function<void(const Call&)>;

    // Calls of `group` count the ticks.
    void SetClock(OPCHANDLE group) {
        std::lock_guard guard(lock_);
        clock_ = group;
    }
    // Runs inside OnDataChange, before it returns: re-entrant calls, a client that hangs.
    void SetHook(Hook hook) {
        std::lock_guard guard(lock_);
        hook_ = std::move(hook);
    }

    std::vector<Call> Calls(OPCHANDLE group) const {
        std::lock_guard guard(lock_);
        std::vector<Call> calls;
        for (const Call& call : calls_)
            if (call.group == group) calls.push_back(call);
        return calls;
    }
    int Ticks() const {
        std::lock_guard guard(lock_);
        return ticks_;
    }
    // Until `done(calls so far, ticks)` holds or the timeout passes; `done` runs under the sink's
    // lock and must not call the sink.
    template <class Done>
    bool WaitUntil(Done done, std::chrono::milliseconds timeout) const {
        std::unique_lock lock(lock_);
        return changed_.wait_for(lock, timeout, [&] { return done(calls_, ticks_); });
    }
    // Until `group` has had `count` calls.
    bool WaitForCalls(OPCHANDLE group, std::size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(5)) const {
        return WaitUntil(
            [&](const std::vector<Call>& calls, int) {
                return static_cast<std::size_t>(std::count_if(calls.begin(), calls.end(), [&](const Call& call) {
                           return call.group == group;
                       })) >= count;
            },
            timeout);
    }
    bool WaitForTick(int tick, std::chrono::milliseconds timeout = std::chrono::seconds(5)) const {
        return WaitUntil([tick](const std::vector<Call>&, int ticks) { return ticks >= tick; }, timeout);
    }

    HRESULT STDMETHODCALLTYPE OnDataChange(DWORD dwTransid, OPCHANDLE hGroup, HRESULT hrMasterquality,
                                           HRESULT hrMastererror, DWORD dwCount, OPCHANDLE* phClientItems,
                                           VARIANT* pvValues, WORD* pwQualities, FILETIME* pftTimeStamps,
                                           HRESULT* pErrors) override {
        Call call;
        static_cast<RecordedCallback&>(call) =
            RecordCallback(RecordedCallback::Kind::DataChange, dwTransid, hGroup, hrMasterquality, hrMastererror,
                           dwCount, phClientItems, pvValues, pwQualities, pftTimeStamps, pErrors);
        call.arrived = std::chrono::steady_clock::now();
        Hook hook;
        {
            std::lock_guard guard(lock_);
            if (hGroup == clock_) ++ticks_;
            call.tick = ticks_;
            calls_.push_back(call);
            hook = hook_;
        }
        changed_.notify_all();
        if (hook) hook(call);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnReadComplete(DWORD, OPCHANDLE, HRESULT, HRESULT, DWORD, OPCHANDLE*, VARIANT*, WORD*,
                                             FILETIME*, HRESULT*) override {
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnWriteComplete(DWORD dwTransid, OPCHANDLE hGroup, HRESULT hrMastererr, DWORD dwCount,
                                              OPCHANDLE* pClienthandles, HRESULT* pErrors) override {
        Call call;
        static_cast<RecordedCallback&>(call) =
            RecordCallback(RecordedCallback::Kind::WriteComplete, dwTransid, hGroup, S_OK, hrMastererr, dwCount,
                           pClienthandles, nullptr, nullptr, nullptr, pErrors);
        call.arrived = std::chrono::steady_clock::now();
        {
            std::lock_guard guard(lock_);
            call.tick = ticks_;
            calls_.push_back(call);
        }
        changed_.notify_all();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnCancelComplete(DWORD, OPCHANDLE) override { return S_OK; }

private:
    mutable std::mutex lock_;
    mutable std::condition_variable changed_;
    std::vector<Call> calls_;
    OPCHANDLE clock_ = 0;
    int ticks_ = 0;
    Hook hook_;
};

}  // namespace korvex::test
