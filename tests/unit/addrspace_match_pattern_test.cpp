// The browse filters' wildcard matching, case by case, and its cost on hostile patterns.
#include "addrspace/match_pattern.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct MatchCase {
    const wchar_t* text;
    const wchar_t* pattern;
    bool caseSensitive;
    bool expected;
};

const MatchCase kCases[] = {
    // '*'
    {L"A", L"A*", true, true},
    {L"AB", L"A*", true, true},
    {L"ABC", L"A*", true, true},
    {L"BA", L"A*", true, false},
    {L"", L"*", true, true},
    {L"", L"", true, true},
    {L"A", L"", true, false},
    {L"", L"A", true, false},
    {L"ABC", L"*C", true, true},
    {L"ABC", L"*B", true, false},
    {L"ABCBD", L"A*B*D", true, true},
    {L"ABCBC", L"A*B*D", true, false},
    {L"AXBXC", L"*X*X*", true, true},
    {L"AB", L"**", true, true},
    // '?'
    {L"AB", L"A?", true, true},
    {L"A", L"A?", true, false},
    {L"ABC", L"A?", true, false},
    // '#'
    {L"11", L"#1", true, true},
    {L"A1", L"#1", true, false},
    {L"P10", L"P##", true, true},
    // sets and ranges
    {L"BX", L"[A-C]X", true, true},
    {L"DX", L"[A-C]X", true, false},
    {L"DX", L"[!A-C]X", true, true},
    {L"BX", L"[!A-C]X", true, false},
    {L"Q", L"[XQZ]", true, true},
    {L"!", L"[A!]", true, true},
    {L"A", L"[A", true, false},         // a set that never closes matches nothing
    {L"A", L"[A-]", true, false},       // a range whose upper end is ']'
    {L"A", L"[A-", true, false},        // a range that reaches the end of the pattern
    {L"A", L"[]", true, false},
    {L"A", L"[!]", true, true},
    {L"AX", L"*[A-", true, false},
    // literal characters and case
    {L"abc", L"ABC", true, false},
    {L"abc", L"ABC", false, true},
    {L"abc", L"[A-C]BC", false, true},
    {L"S1.analog", L"S1.*", true, true},
    {L"温度", L"温*", true, true},
    {L"温度", L"??", true, true},
};

TEST(MatchPattern, Cases) {
    for (const auto& c : kCases) {
        EXPECT_EQ(MatchPattern(c.text, c.pattern, c.caseSensitive), c.expected)
            << "text \"" << std::wstring(c.text).size() << " chars\" pattern index " << (&c - kCases);
    }
}

// A filter with many stars against a long name that almost matches: exponential in a naive
// recursive matcher, quadratic here. The test finishes at once or not at all.
TEST(MatchPattern, ManyStarsStayPolynomial) {
    const std::wstring text(2000, L'A');
    std::wstring pattern;
    for (int i = 0; i < 200; ++i) pattern += L"*A";
    EXPECT_TRUE(MatchPattern(text, pattern + L"*", true));
    EXPECT_FALSE(MatchPattern(text, pattern + L"B", true));
}

}  // namespace
