// Texts of the string table, loaded as UTF-16: the ANSI route would turn the Chinese texts into
// '?' wherever the ANSI code page is not 936.
#pragma once

#include <windows.h>

#include <string>

namespace app {

// The string `id` of this program's string table; empty when there is none.
std::wstring LoadResourceString(UINT id);

// The string `id` with its "%d" replaced by `count`.
std::wstring FormatResourceString(UINT id, long long count);

}  // namespace app
