#include "com/string_convert.h"

#include <climits>

namespace korvex::com {

std::wstring toWide(std::string_view text, UINT codePage) {
    // MultiByteToWideChar rejects a length of 0, and takes an int.
    if (text.empty() || text.size() > INT_MAX) {
        return {};
    }
    const int length = static_cast<int>(text.size());
    const int needed = MultiByteToWideChar(codePage, 0, text.data(), length, nullptr, 0);
    if (needed <= 0) {
        return {};
    }
    std::wstring wide(static_cast<std::size_t>(needed), L'\0');
    const int written = MultiByteToWideChar(codePage, 0, text.data(), length, wide.data(), needed);
    if (written <= 0) {
        return {};
    }
    wide.resize(static_cast<std::size_t>(written));
    return wide;
}

std::string toNarrow(std::wstring_view text, UINT codePage) {
    if (text.empty() || text.size() > INT_MAX) {
        return {};
    }
    const int length = static_cast<int>(text.size());
    const int needed = WideCharToMultiByte(codePage, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
    if (needed <= 0) {
        return {};
    }
    std::string narrow(static_cast<std::size_t>(needed), '\0');
    const int written =
        WideCharToMultiByte(codePage, 0, text.data(), length, narrow.data(), needed, nullptr, nullptr);
    if (written <= 0) {
        return {};
    }
    narrow.resize(static_cast<std::size_t>(written));
    return narrow;
}

} // namespace korvex::com
