// HRESULTs compared and printed in hex, so that a failure reads "0xC004000C" and not a negative
// decimal.
#pragma once

#include <windows.h>

#include <cstdio>
#include <string>

namespace korvex::test {

inline std::string Hex(HRESULT hr) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(hr));
    return text;
}

}  // namespace korvex::test

#define EXPECT_HR(actual, expected) EXPECT_EQ(::korvex::test::Hex(actual), ::korvex::test::Hex(expected))
#define ASSERT_HR(actual, expected) ASSERT_EQ(::korvex::test::Hex(actual), ::korvex::test::Hex(expected))
