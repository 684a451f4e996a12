// Conversions between the wide strings of the COM boundary and the narrow strings kept inside
// (ANSI code page by default, or any code page the caller names, e.g. 936 or CP_UTF8).
//
// Lengths are explicit, so embedded zeros survive. Characters the target code page lacks become
// its default character ('?'); invalid input bytes become U+FFFD or the code page's default.
// A conversion the system refuses (unknown code page, text over 2 GiB) gives the empty string.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

namespace korvex::com {

std::wstring toWide(std::string_view text, UINT codePage = CP_ACP);
std::string toNarrow(std::wstring_view text, UINT codePage = CP_ACP);

inline std::wstring fromUtf8(std::string_view text) {
    return toWide(text, CP_UTF8);
}

inline std::string toUtf8(std::wstring_view text) {
    return toNarrow(text, CP_UTF8);
}

} // namespace korvex::com
