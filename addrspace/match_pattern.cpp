#include "match_pattern.h"

#include <windows.h>

#include <cstddef>

namespace {

wchar_t Fold(wchar_t c, bool caseSensitive) {
    if (caseSensitive) return c;
    wchar_t upper = c;
    CharUpperBuffW(&upper, 1);
    return upper;
}

// Matches one character against the single-character token at pattern[at]. Returns the length of
// the token, and whether it matched; a set that never closes, or a range without an upper end,
// matches nothing.
std::size_t MatchToken(std::wstring_view pattern, std::size_t at, wchar_t c, bool caseSensitive, bool& matched) {
    const wchar_t token = pattern[at];
    if (token == L'?') {
        matched = true;
        return 1;
    }
    if (token == L'#') {
        matched = c >= L'0' && c <= L'9';
        return 1;
    }
    if (token != L'[') {
        matched = Fold(token, caseSensitive) == Fold(c, caseSensitive);
        return 1;
    }
    std::size_t i = at + 1;
    const bool negated = i < pattern.size() && pattern[i] == L'!';
    if (negated) ++i;
    const wchar_t folded = Fold(c, caseSensitive);
    bool member = false;
    bool broken = false;
    while (i < pattern.size() && pattern[i] != L']') {
        const wchar_t low = Fold(pattern[i], caseSensitive);
        if (i + 1 < pattern.size() && pattern[i + 1] == L'-') {
            if (i + 2 >= pattern.size() || pattern[i + 2] == L']') {
                broken = true;
                i += 2;
                break;
            }
            const wchar_t high = Fold(pattern[i + 2], caseSensitive);
            member = member || (folded >= low && folded <= high);
            i += 3;
        } else {
            member = member || folded == low;
            ++i;
        }
    }
    // Skip to the closing ']' of a broken range so that the token's length stays right.
    while (i < pattern.size() && pattern[i] != L']') ++i;
    if (i >= pattern.size() || broken) {
        matched = false;
        return pattern.size() - at;
    }
    matched = member != negated;
    return i + 1 - at;
}

}  // namespace

bool MatchPattern(std::wstring_view text, std::wstring_view pattern, bool caseSensitive) {
    std::size_t t = 0;
    std::size_t p = 0;
    // Where the last '*' was and the text position it is currently assumed to stretch to.
    std::size_t starPattern = std::wstring_view::npos;
    std::size_t starText = 0;
    while (t < text.size()) {
        if (p < pattern.size() && pattern[p] == L'*') {
            starPattern = ++p;
            starText = t;
            continue;
        }
        if (p < pattern.size()) {
            bool matched = false;
            const std::size_t length = MatchToken(pattern, p, text[t], caseSensitive, matched);
            if (matched) {
                p += length;
                ++t;
                continue;
            }
        }
        if (starPattern == std::wstring_view::npos) return false;
        // Let the last '*' swallow one more character and try the rest again from there.
        p = starPattern;
        t = ++starText;
    }
    while (p < pattern.size() && pattern[p] == L'*') ++p;
    return p == pattern.size();
}
