// The wildcard syntax of the OPC browse filters: '*' any run, '?' one character, '#' one digit,
// "[set]" / "[!set]" one character in / not in a set with x-y ranges, anything else itself.
#pragma once

#include <string_view>

// True when the whole text matches the whole pattern. Runs in O(text * pattern) time whatever
// the pattern: a '*' that fails is retried one position further on, never recursively.
bool MatchPattern(std::wstring_view text, std::wstring_view pattern, bool caseSensitive);
