#include "tests/support/callback_sink.h"

#include "tests/support/server_session.h"

#include <oleauto.h>

#include <algorithm>
#include <chrono>

namespace korvex::test {

const char* KindName(RecordedCallback::Kind kind) {
    switch (kind) {
    case RecordedCallback::Kind::DataChange:
        return "OnDataChange";
    case RecordedCallback::Kind::ReadComplete:
        return "OnReadComplete";
    case RecordedCallback::Kind::WriteComplete:
        return "OnWriteComplete";
    case RecordedCallback::Kind::CancelComplete:
        return "OnCancelComplete";
    }
    return "?";
}

namespace {

com::ComPtr<IConnectionPoint> DataCallbackPoint(IUnknown* group) {
    com::ComPtr<IConnectionPointContainer> container;
    com::ComPtr<IConnectionPoint> point;
    if (SUCCEEDED(group->QueryInterface(IID_IConnectionPointContainer,
                                        reinterpret_cast<void**>(container.ReleaseAndGetAddressOf()))))
        container->FindConnectionPoint(IID_IOPCDataCallback, point.ReleaseAndGetAddressOf());
    return point;
}

}  // namespace

bool CallbackSink::Advise(IUnknown* group) {
    const com::ComPtr<IConnectionPoint> point = DataCallbackPoint(group);
    return point && SUCCEEDED(point->Advise(static_cast<IOPCDataCallback*>(this), &cookie_));
}

void CallbackSink::Unadvise(IUnknown* group) {
    if (const com::ComPtr<IConnectionPoint> point = DataCallbackPoint(group)) point->Unadvise(cookie_);
}

std::optional<RecordedCallback> CallbackSink::Take(const Match& match, int ticks) {
    auto takeMatching = [&]() -> std::optional<RecordedCallback> {
        for (auto it = calls_.begin(); it != calls_.end(); ++it) {
            if (!match(*it)) continue;
            RecordedCallback found = std::move(*it);
            calls_.erase(it);
            return found;
        }
        return std::nullopt;
    };
    if (!CrossProcess()) {
        for (int tick = 0;; ++tick) {
            {
                std::lock_guard guard(lock_);
                if (auto found = takeMatching()) return found;
            }
            if (tick == ticks) return std::nullopt;
            TickInProcess();
        }
    }
    // The server's thread ticks every 200 ms; a second more for the calls to cross.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(200 * ticks + 1000);
    std::unique_lock guard(lock_);
    std::optional<RecordedCallback> found;
    recorded_.wait_until(guard, deadline, [&] { return (found = takeMatching()).has_value(); });
    return found;
}

std::optional<RecordedCallback> CallbackSink::TakeTransaction(DWORD transactionId, int ticks) {
    return Take([transactionId](const RecordedCallback& c) { return c.transactionId == transactionId; }, ticks);
}

std::size_t CallbackSink::Count(const Match& match) const {
    std::lock_guard guard(lock_);
    std::size_t count = 0;
    for (const RecordedCallback& call : calls_) count += match(call) ? 1 : 0;
    return count;
}

std::vector<RecordedCallback> CallbackSink::All() const {
    std::lock_guard guard(lock_);
    return calls_;
}

void CallbackSink::SetClock(OPCHANDLE group) {
    std::lock_guard guard(lock_);
    clock_ = group;
}

void CallbackSink::SetHook(Hook hook) {
    std::lock_guard guard(lock_);
    hook_ = std::move(hook);
}

std::vector<RecordedCallback> CallbackSink::Calls(OPCHANDLE group) const {
    std::lock_guard guard(lock_);
    std::vector<RecordedCallback> calls;
    for (const RecordedCallback& call : calls_)
        if (call.group == group) calls.push_back(call);
    return calls;
}

int CallbackSink::Ticks() const {
    std::lock_guard guard(lock_);
    return ticks_;
}

bool CallbackSink::WaitForCalls(OPCHANDLE group, std::size_t count, std::chrono::milliseconds timeout) const {
    return WaitUntil(
        [&](const std::vector<RecordedCallback>& calls, int) {
            return static_cast<std::size_t>(std::count_if(calls.begin(), calls.end(), [&](const RecordedCallback& call) {
                       return call.group == group;
                   })) >= count;
        },
        timeout);
}

bool CallbackSink::WaitForTick(int tick, std::chrono::milliseconds timeout) const {
    return WaitUntil([tick](const std::vector<RecordedCallback>&, int ticks) { return ticks >= tick; }, timeout);
}

void CallbackSink::Record(RecordedCallback callback) {
    callback.arrived = std::chrono::steady_clock::now();
    Hook hook;
    {
        std::lock_guard guard(lock_);
        callback.sequence = ++received_;
        if (callback.kind == RecordedCallback::Kind::DataChange) {
            if (callback.group == clock_) ++ticks_;
            hook = hook_;
        }
        callback.tick = ticks_;
        calls_.push_back(callback);
    }
    recorded_.notify_all();
    if (hook) hook(callback);
}

RecordedCallback RecordCallback(RecordedCallback::Kind kind, DWORD transactionId, OPCHANDLE group,
                                HRESULT masterQuality, HRESULT masterError, DWORD count, const OPCHANDLE* handles,
                                const VARIANT* values, const WORD* qualities, const FILETIME* timestamps,
                                const HRESULT* errors) {
    RecordedCallback call;
    call.kind = kind;
    call.transactionId = transactionId;
    call.group = group;
    call.masterQuality = masterQuality;
    call.masterError = masterError;
    for (DWORD i = 0; i < count; ++i) {
        call.clientHandles.push_back(handles[i]);
        call.errors.push_back(errors[i]);
        if (!values) continue;
        VARIANT number;
        VariantInit(&number);
        VariantChangeType(&number, const_cast<VARIANT*>(&values[i]), 0, VT_R8);
        call.types.push_back(values[i].vt);
        call.values.push_back(number.vt == VT_R8 ? number.dblVal : 0.0);
        call.qualities.push_back(qualities[i]);
        call.timestamps.push_back(timestamps[i]);
    }
    return call;
}

HRESULT CallbackSink::OnDataChange(DWORD dwTransid, OPCHANDLE hGroup, HRESULT hrMasterquality, HRESULT hrMastererror,
                                   DWORD dwCount, OPCHANDLE* phClientItems, VARIANT* pvValues, WORD* pwQualities,
                                   FILETIME* pftTimeStamps, HRESULT* pErrors) {
    Record(RecordCallback(RecordedCallback::Kind::DataChange, dwTransid, hGroup, hrMasterquality, hrMastererror, dwCount,
                  phClientItems, pvValues, pwQualities, pftTimeStamps, pErrors));
    return result_;
}

HRESULT CallbackSink::OnReadComplete(DWORD dwTransid, OPCHANDLE hGroup, HRESULT hrMasterquality,
                                     HRESULT hrMastererror, DWORD dwCount, OPCHANDLE* phClientItems, VARIANT* pvValues,
                                     WORD* pwQualities, FILETIME* pftTimeStamps, HRESULT* pErrors) {
    Record(RecordCallback(RecordedCallback::Kind::ReadComplete, dwTransid, hGroup, hrMasterquality, hrMastererror, dwCount,
                  phClientItems, pvValues, pwQualities, pftTimeStamps, pErrors));
    return S_OK;
}

HRESULT CallbackSink::OnWriteComplete(DWORD dwTransid, OPCHANDLE hGroup, HRESULT hrMastererr, DWORD dwCount,
                                      OPCHANDLE* pClienthandles, HRESULT* pErrors) {
    Record(RecordCallback(RecordedCallback::Kind::WriteComplete, dwTransid, hGroup, S_OK, hrMastererr, dwCount,
                  pClienthandles, nullptr, nullptr, nullptr, pErrors));
    return S_OK;
}

HRESULT CallbackSink::OnCancelComplete(DWORD dwTransid, OPCHANDLE hGroup) {
    Record(RecordCallback(RecordedCallback::Kind::CancelComplete, dwTransid, hGroup, S_OK, S_OK, 0, nullptr, nullptr,
                  nullptr, nullptr, nullptr));
    return S_OK;
}

}  // namespace korvex::test
