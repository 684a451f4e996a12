// A client's IOPCDataCallback sink for the tests: a real COM object, subscribed to a group through
// IConnectionPointContainer and Advise, that records every callback in arrival order. Tests wait
// for a callback with a bounded wait; in process, where no update thread runs, the wait runs the
// update ticks itself. One group of the client may serve as its clock: a keep-alive group called
// once per tick, whose calls number the ticks, so that a test can say in which tick any other
// callback came.
#pragma once

#include "com/com_object.h"
#include "com/com_ptr.h"
#include "opcda.h"

#include <windows.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <vector>

namespace korvex::test {

struct RecordedCallback {
    enum class Kind { DataChange, ReadComplete, WriteComplete, CancelComplete };

    Kind kind = Kind::DataChange;
    unsigned sequence = 0;  // arrival order, from 1
    DWORD transactionId = 0;
    OPCHANDLE group = 0;
    HRESULT masterQuality = S_OK;  // data changes and read completions
    HRESULT masterError = S_OK;    // all but cancel completions
    std::vector<OPCHANDLE> clientHandles;
    std::vector<VARTYPE> types;
    std::vector<double> values;  // each value as a number (VT_EMPTY: 0)
    std::vector<WORD> qualities;
    std::vector<FILETIME> timestamps;
    std::vector<HRESULT> errors;
    int tick = 0;  // calls of the clock group received up to and including this one
    std::chrono::steady_clock::time_point arrived;
};

const char* KindName(RecordedCallback::Kind kind);

// A callback's arguments as a sink records them; `values`, `qualities` and `timestamps` may be null
// (write and cancel completions).
RecordedCallback RecordCallback(RecordedCallback::Kind kind, DWORD transactionId, OPCHANDLE group,
                                HRESULT masterQuality, HRESULT masterError, DWORD count, const OPCHANDLE* handles,
                                const VARIANT* values, const WORD* qualities, const FILETIME* timestamps,
                                const HRESULT* errors);

class CallbackSink final : public com::ComObject<CallbackSink, IOPCDataCallback, com::no_module_lock> {
public:
    using Match = std::function<bool(const RecordedCallback&)>;
    using Hook = std::function<void(const RecordedCallback&)>;

    // Subscribes the sink to the group (any of its interfaces); false when that fails. The sink
    // keeps no reference on the group.
    bool Advise(IUnknown* group);
    // Ends the subscription made by Advise.
    void Unadvise(IUnknown* group);

    // Takes the first recorded callback that matches, waiting for at most `ticks` update ticks.
    std::optional<RecordedCallback> Take(const Match& match, int ticks = 20);
    // Takes the completion or refresh of transaction `transactionId`.
    std::optional<RecordedCallback> TakeTransaction(DWORD transactionId, int ticks = 20);
    // How many recorded callbacks match, without taking them.
    std::size_t Count(const Match& match) const;
    std::vector<RecordedCallback> All() const;

    // Data changes of `group` count the ticks.
    void SetClock(OPCHANDLE group);
    // Runs inside OnDataChange, before it returns: re-entrant calls, a client that hangs.
    void SetHook(Hook hook);
    // What OnDataChange returns from now on (S_OK at first): a client that fails or has gone.
    void SetResult(HRESULT result) { result_ = result; }
    std::vector<RecordedCallback> Calls(OPCHANDLE group) const;
    int Ticks() const;
    // Until `done(calls so far, ticks)` holds or the timeout passes; `done` runs under the sink's
    // lock and must not call the sink.
    template <class Done>
    bool WaitUntil(Done done, std::chrono::milliseconds timeout) const {
        std::unique_lock lock(lock_);
        return recorded_.wait_for(lock, timeout, [&] { return done(calls_, ticks_); });
    }
    // Until `group` has had `count` calls.
    bool WaitForCalls(OPCHANDLE group, std::size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(5)) const;
    bool WaitForTick(int tick, std::chrono::milliseconds timeout = std::chrono::seconds(5)) const;

    HRESULT STDMETHODCALLTYPE OnDataChange(DWORD dwTransid, OPCHANDLE hGroup, HRESULT hrMasterquality,
                                           HRESULT hrMastererror, DWORD dwCount, OPCHANDLE* phClientItems,
                                           VARIANT* pvValues, WORD* pwQualities, FILETIME* pftTimeStamps,
                                           HRESULT* pErrors) override;
    HRESULT STDMETHODCALLTYPE OnReadComplete(DWORD dwTransid, OPCHANDLE hGroup, HRESULT hrMasterquality,
                                             HRESULT hrMastererror, DWORD dwCount, OPCHANDLE* phClientItems,
                                             VARIANT* pvValues, WORD* pwQualities, FILETIME* pftTimeStamps,
                                             HRESULT* pErrors) override;
    HRESULT STDMETHODCALLTYPE OnWriteComplete(DWORD dwTransid, OPCHANDLE hGroup, HRESULT hrMastererr, DWORD dwCount,
                                              OPCHANDLE* pClienthandles, HRESULT* pErrors) override;
    HRESULT STDMETHODCALLTYPE OnCancelComplete(DWORD dwTransid, OPCHANDLE hGroup) override;

private:
    void Record(RecordedCallback callback);

    mutable std::mutex lock_;
    mutable std::condition_variable recorded_;
    std::vector<RecordedCallback> calls_;
    unsigned received_ = 0;
    OPCHANDLE clock_ = 0;
    int ticks_ = 0;
    Hook hook_;
    std::atomic<HRESULT> result_{S_OK};
    DWORD cookie_ = 0;
};

}  // namespace korvex::test
