// Wildcard matching of any text against any pattern. The first byte picks the case mode and where
// the pattern ends; the rest are UTF-16 code units, as clients send them.
#include "addrspace/match_pattern.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const bool caseSensitive = data[0] & 0x80;
    std::wstring units;
    for (std::size_t i = 1; i + 1 < size; i += 2) units.push_back(static_cast<wchar_t>(data[i] | data[i + 1] << 8));
    const std::size_t split = std::min<std::size_t>(data[0] & 0x7F, units.size());
    const std::wstring_view pattern(units.data(), split), text(units.data() + split, units.size() - split);
    const bool matched = MatchPattern(text, pattern, caseSensitive);
    // A pattern without wildcards is the text itself; a star matches anything.
    if (caseSensitive && pattern.find_first_of(L"*?#[") == std::wstring_view::npos && matched != (text == pattern))
        std::abort();
    if (!MatchPattern(text, L"*", caseSensitive)) std::abort();
    return 0;
}
