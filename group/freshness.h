// Whether a cached value is recent enough for a client's maximum age.
#pragma once

#include <windows.h>

// Never fresh for a max age of 0; fresh at the very time of the value; else fresh while the
// age in whole milliseconds is below the max age (0xFFFFFFFF: any age short of 49 days).
inline bool IsFresh(const FILETIME& timestamp, DWORD maxAgeMs, const FILETIME& now) {
    if (maxAgeMs == 0) return false;
    const ULONGLONG t = (static_cast<ULONGLONG>(timestamp.dwHighDateTime) << 32) | timestamp.dwLowDateTime;
    const ULONGLONG n = (static_cast<ULONGLONG>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    if (n < t) return false;
    return (n - t) / 10000 < maxAgeMs;
}

// Whether a read with a max age takes the cached value: always for 0xFFFFFFFF, else when it is fresh.
inline bool ServeFromCache(const FILETIME& timestamp, DWORD maxAgeMs, const FILETIME& now) {
    return maxAgeMs == 0xFFFFFFFF || IsFresh(timestamp, maxAgeMs, now);
}
