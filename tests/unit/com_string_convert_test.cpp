#include "com/string_convert.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace korvex::com {
namespace {

std::string bytes(const std::string& text) {
    std::string out;
    char part[4];
    for (unsigned char c : text) {
        std::snprintf(part, sizeof part, "%02x ", c);
        out += part;
    }
    return out;
}

struct ConversionCase {
    const char* name;
    UINT codePage;
    std::wstring wide;
    std::string narrow;
};

// "用户强制关闭", the shutdown reason the server sends, in both encodings of the plant's systems.
const std::wstring reasonWide = L"\u7528\u6237\u5f3a\u5236\u5173\u95ed";
const std::string reasonGbk = "\xd3\xc3\xbb\xa7\xc7\xbf\xd6\xc6\xb9\xd8\xb1\xd5";
const std::string reasonUtf8 = "\xe7\x94\xa8\xe6\x88\xb7\xe5\xbc\xba\xe5\x88\xb6\xe5\x85\xb3\xe9\x97\xad";

TEST(StringConvertTest, RoundTripsInBothDirections) {
    const ConversionCase cases[] = {
        {"empty, ANSI", CP_ACP, L"", ""},
        {"empty, UTF-8", CP_UTF8, L"", ""},
        {"ascii, ANSI", CP_ACP, L"S1.analog.P1", "S1.analog.P1"},
        {"ascii, 936", 936, L"S1.switch.K2", "S1.switch.K2"},
        {"chinese, 936", 936, reasonWide, reasonGbk},
        {"chinese mixed with ascii, 936", 936, L"S1." + reasonWide, "S1." + reasonGbk},
        {"chinese, UTF-8", CP_UTF8, reasonWide, reasonUtf8},
        {"embedded zero", 936, std::wstring(L"a\0b", 3), std::string("a\0b", 3)},
    };
    for (const ConversionCase& c : cases) {
        const std::string narrow = toNarrow(c.wide, c.codePage);
        EXPECT_EQ(narrow, c.narrow) << c.name << ": got " << bytes(narrow) << ", expected " << bytes(c.narrow);
        EXPECT_EQ(toWide(c.narrow, c.codePage), c.wide) << c.name;
    }
    EXPECT_EQ(toUtf8(reasonWide), reasonUtf8);
    EXPECT_EQ(fromUtf8(reasonUtf8), reasonWide);
}

TEST(StringConvertTest, LossyAndRefusedConversions) {
    EXPECT_EQ(toNarrow(reasonWide.substr(0, 2), 1252), "??") << "characters the code page lacks";
    EXPECT_EQ(toWide("\xff", CP_UTF8), L"\ufffd") << "an invalid UTF-8 byte";
    EXPECT_EQ(toWide("abc", 12345), L"") << "unknown code page";
    EXPECT_EQ(toNarrow(L"abc", 12345), "") << "unknown code page";
}

} // namespace
} // namespace korvex::com
