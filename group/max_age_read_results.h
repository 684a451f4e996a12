// What a ReadMaxAge hands its caller, by group or by item ID: one value, quality, timestamp and
// error per item, in arrays the client frees. Until handed out they are freed together.
#pragma once

#include "com/task_memory.h"

#include <windows.h>

struct MaxAgeReadResults {
    korvex::com::TaskArray<VARIANT, korvex::com::ClearVariant> values;
    korvex::com::TaskArray<WORD> qualities;
    korvex::com::TaskArray<FILETIME> timestamps;
    korvex::com::ErrorArray errors;

    // Zero-filled arrays of `count` entries each; E_OUTOFMEMORY when any of them cannot be had.
    HRESULT Allocate(DWORD count) noexcept {
        if (FAILED(values.allocate(count)) || FAILED(qualities.allocate(count)) ||
            FAILED(timestamps.allocate(count)) || FAILED(errors.allocate(count)))
            return E_OUTOFMEMORY;
        return S_OK;
    }

    // Gives the arrays to the caller; S_OK when every item succeeded, else S_FALSE.
    HRESULT HandOut(VARIANT** ppValues, WORD** ppQualities, FILETIME** ppTimestamps, HRESULT** ppErrors) noexcept {
        const HRESULT result = korvex::com::itemsResult(errors.items());
        *ppValues = values.release();
        *ppQualities = qualities.release();
        *ppTimestamps = timestamps.release();
        *ppErrors = errors.release();
        return result;
    }
};
