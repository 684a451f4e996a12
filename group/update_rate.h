// Update rates and keep-alive times: what a client asks for, revised to what the update thread
// can keep.
#pragma once

#include <windows.h>

// The base rate: every update rate and keep-alive time is a multiple of it, and the update
// thread ticks at it.
constexpr DWORD kBaseRate = 200;

// Rates are multiples of the base rate: at most the base rate gives the base rate; otherwise the
// nearest multiple, an exact half going up (250 -> 200, 300 -> 400, 1099 -> 1000, 1100 -> 1200).
constexpr DWORD ReviseUpdateRate(DWORD requested) {
    if (requested <= kBaseRate) return kBaseRate;
    const DWORD remainder = requested % kBaseRate;
    const DWORD below = requested - remainder;
    // The largest rate, 0xFFFFFFFF, has remainder 95 and so never rounds up past the range.
    return remainder < kBaseRate / 2 ? below : below + kBaseRate;
}

// Keep-alive times follow the same rule, except that 0 stays 0 (keep-alive off).
constexpr DWORD ReviseKeepAlive(DWORD requested) { return requested == 0 ? 0 : ReviseUpdateRate(requested); }

static_assert(ReviseUpdateRate(250) == 200 && ReviseUpdateRate(300) == 400 && ReviseUpdateRate(1099) == 1000 &&
              ReviseUpdateRate(1100) == 1200 && ReviseUpdateRate(0xFFFFFFFF) == 0xFFFFFFFF - 95);
