#include "app/string_resources.h"

namespace app {

std::wstring LoadResourceString(UINT id) {
    // With a buffer size of 0, LoadStringW hands out a pointer into the resource itself, which
    // is not NUL-terminated: no length limit and no copy into a fixed buffer.
    const wchar_t* text = nullptr;
    const int length = LoadStringW(GetModuleHandleW(nullptr), id, reinterpret_cast<LPWSTR>(&text), 0);
    return length > 0 ? std::wstring(text, static_cast<std::size_t>(length)) : std::wstring();
}

std::wstring FormatResourceString(UINT id, long long count) {
    // Only the one "%d" is substituted: a text from the resources never reaches a printf-style
    // formatter, whatever it contains.
    std::wstring text = LoadResourceString(id);
    if (const std::size_t at = text.find(L"%d"); at != std::wstring::npos) {
        text.replace(at, 2, std::to_wstring(count));
    }
    return text;
}

}  // namespace app
