#include "group/callback_outbox.h"

#include <oleauto.h>

DataChangeCallback::~DataChangeCallback() {
    for (VARIANT& value : values) VariantClear(&value);
}

void DataChangeCallback::Send() const {
    const DWORD count = static_cast<DWORD>(clientHandles.size());
    // The arrays are reference parameters of the interface: never null, also for a keep-alive.
    OPCHANDLE noHandle = 0;
    VARIANT noValue;
    VariantInit(&noValue);
    WORD noQuality = 0;
    FILETIME noTimestamp{};
    HRESULT noError = S_OK;
    auto* handles = count ? const_cast<OPCHANDLE*>(clientHandles.data()) : &noHandle;
    auto* valueArray = count ? const_cast<VARIANT*>(values.data()) : &noValue;
    auto* qualityArray = count ? const_cast<WORD*>(qualities.data()) : &noQuality;
    auto* timestampArray = count ? const_cast<FILETIME*>(timestamps.data()) : &noTimestamp;
    auto* errorArray = count ? const_cast<HRESULT*>(errors.data()) : &noError;
    for (const auto& sink : sinks) {
        sink->OnDataChange(0, clientGroupHandle, masterQuality, masterError, count, handles, valueArray, qualityArray,
                           timestampArray, errorArray);
    }
}
