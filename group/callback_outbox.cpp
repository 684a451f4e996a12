#include "group/callback_outbox.h"

#include <oleauto.h>

GroupCallback::~GroupCallback() {
    for (VARIANT& value : values) VariantClear(&value);
}

void GroupCallback::Send() const {
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
    for (const auto& sink : sinks) {
        switch (kind) {
        case Kind::DataChange:
            sink->OnDataChange(transactionId, clientGroupHandle, masterQuality, masterError, count, handles,
                               valueArray, qualityArray, timestampArray, errorArray);
            break;
        case Kind::ReadComplete:
            sink->OnReadComplete(transactionId, clientGroupHandle, masterQuality, masterError, count, handles,
                                 valueArray, qualityArray, timestampArray, errorArray);
            break;
        case Kind::WriteComplete:
            sink->OnWriteComplete(transactionId, clientGroupHandle, masterError, count, handles, errorArray);
            break;
        case Kind::CancelComplete:
            sink->OnCancelComplete(transactionId, clientGroupHandle);
            break;
        }
    }
}
