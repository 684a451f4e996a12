// The one Windows call the wildcard matcher makes, for the native sanitizer and fuzz build only.
// Folds as the C locale does (ASCII only), which is all the native tests rely on.
#pragma once

#include <cwctype>

using DWORD = unsigned long;

inline DWORD CharUpperBuffW(wchar_t* text, DWORD length) {
    for (DWORD i = 0; i < length; ++i) text[i] = static_cast<wchar_t>(std::towupper(text[i]));
    return length;
}
