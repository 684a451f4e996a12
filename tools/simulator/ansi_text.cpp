#include "tools/simulator/ansi_text.h"

#include <windows.h>

namespace sim {

AnsiText toAnsi(std::string_view utf8) {
    if (utf8.empty()) return {};
    const int size = static_cast<int>(utf8.size());
    const int wideLength = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), size, nullptr, 0);
    if (wideLength == 0) return {{}, false};
    std::wstring wide(static_cast<std::size_t>(wideLength), L'\0');
    MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), size, wide.data(), wideLength);

    BOOL usedDefault = FALSE;
    const int length = WideCharToMultiByte(CP_ACP, 0, wide.data(), wideLength, nullptr, 0, nullptr, &usedDefault);
    AnsiText result{std::string(static_cast<std::size_t>(length), '\0'), true};
    WideCharToMultiByte(CP_ACP, 0, wide.data(), wideLength, result.bytes.data(), length, nullptr, &usedDefault);
    result.lossless = !usedDefault;
    return result;
}

unsigned ansiCodePage() { return GetACP(); }

}  // namespace sim
