#include "group/callback_outbox.h"

#include <oleauto.h>

#include <utility>

GroupCallback::~GroupCallback() {
    for (VARIANT& value : values) VariantClear(&value);
}

GroupCallback& GroupCallback::operator=(GroupCallback&& other) noexcept {
    GroupCallback taken(std::move(other));
    swap(taken);
    return *this;
}

void GroupCallback::swap(GroupCallback& other) noexcept {
    using std::swap;
    swap(kind, other.kind);
    swap(sinks, other.sinks);
    swap(transactionId, other.transactionId);
    swap(clientGroupHandle, other.clientGroupHandle);
    swap(masterQuality, other.masterQuality);
    swap(masterError, other.masterError);
    swap(clientHandles, other.clientHandles);
    swap(values, other.values);
    swap(qualities, other.qualities);
    swap(timestamps, other.timestamps);
    swap(errors, other.errors);
    swap(serverGroupHandle, other.serverGroupHandle);
}

HRESULT GroupCallback::Send() const {
    const DWORD count = static_cast<DWORD>(clientHandles.size());
    // The arrays are reference parameters of the interface: never null, also for a keep-alive.
    OPCHANDLE noHandle = 0;
    VARIANT noValue;
    VariantInit(&noValue);
    WORD noQuality = 0;
    FILETIME noTimestamp{};
    HRESULT noError = S_OK;
    auto* handles = count ? const_cast<OPCHANDLE*>(clientHandles.data()) : &noHandle;
    auto* errorArray = count ? const_cast<HRESULT*>(errors.data()) : &noError;
    const bool withValues = count && values.size() == count;
    auto* valueArray = withValues ? const_cast<VARIANT*>(values.data()) : &noValue;
    auto* qualityArray = withValues ? const_cast<WORD*>(qualities.data()) : &noQuality;
    auto* timestampArray = withValues ? const_cast<FILETIME*>(timestamps.data()) : &noTimestamp;
    HRESULT result = S_OK;
    for (const auto& sink : sinks) {
        HRESULT hr = S_OK;
        switch (kind) {
        case Kind::DataChange:
            hr = sink->OnDataChange(transactionId, clientGroupHandle, masterQuality, masterError, count, handles,
                                    valueArray, qualityArray, timestampArray, errorArray);
            break;
        case Kind::ReadComplete:
            hr = sink->OnReadComplete(transactionId, clientGroupHandle, masterQuality, masterError, count, handles,
                                      valueArray, qualityArray, timestampArray, errorArray);
            break;
        case Kind::WriteComplete:
            hr = sink->OnWriteComplete(transactionId, clientGroupHandle, masterError, count, handles, errorArray);
            break;
        case Kind::CancelComplete: hr = sink->OnCancelComplete(transactionId, clientGroupHandle); break;
        }
        if (SUCCEEDED(result)) result = hr;
    }
    return result;
}
