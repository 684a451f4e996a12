// The client's text pieces where they can break: values parsed by canonical type (ranges,
// locales, junk), values printed shortest and as JSON, quality words, ISO 8601 times (checked
// against the system's own calendar), status codes typed by users, and the command line.
#include "tools/opcclient/command_line.h"
#include "tools/opcclient/item_value_format.h"
#include "tools/opcclient/status_names.h"
#include "tools/opcclient/value_text.h"

#include "com/variant.h"
#include "opcerror.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cmath>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace {

using namespace opcclient;
using korvex::com::Variant;

struct ParseCase {
    const char* text;
    VARTYPE type;
    bool ok;
    const char* printed;  // formatValue of the result when ok
};

TEST(OpcClientValueText, ParsesByCanonicalType) {
    const std::vector<ParseCase> cases{
        {"12.5", VT_R4, true, "12.5"},
        {"-0.125", VT_R4, true, "-0.125"},
        {"+3", VT_R4, true, "3"},
        {"1e3", VT_R4, true, "1000"},
        {"0.1", VT_R4, true, "0.1"},
        {"3.4e38", VT_R4, true, "3.4e+38"},
        {"1e39", VT_R4, false, nullptr},  // beyond float
        {"12,5", VT_R4, false, nullptr},  // decimal comma: not a number here, whatever the locale
        {"12.5 ", VT_R4, false, nullptr},
        {"", VT_R4, false, nullptr},
        {"abc", VT_R4, false, nullptr},
        {"1e300", VT_R8, true, "1e+300"},
        {"true", VT_BOOL, true, "true"},
        {"ON", VT_BOOL, true, "true"},
        {"Yes", VT_BOOL, true, "true"},
        {"1", VT_BOOL, true, "true"},
        {"false", VT_BOOL, true, "false"},
        {"off", VT_BOOL, true, "false"},
        {"no", VT_BOOL, true, "false"},
        {"0", VT_BOOL, true, "false"},
        {"2", VT_BOOL, false, nullptr},
        {"-1", VT_BOOL, false, nullptr},
        {"32767", VT_I2, true, "32767"},
        {"-32768", VT_I2, true, "-32768"},
        {"32768", VT_I2, false, nullptr},
        {"-129", VT_I1, false, nullptr},
        {"255", VT_UI1, true, "255"},
        {"256", VT_UI1, false, nullptr},
        {"-1", VT_UI4, false, nullptr},
        {"4294967295", VT_UI4, true, "4294967295"},
        {"1.5", VT_I4, false, nullptr},
        {"-9223372036854775808", VT_I8, true, "-9223372036854775808"},
        {"18446744073709551615", VT_UI8, true, "18446744073709551615"},
        {"出水 温度", VT_BSTR, true, "出水 温度"},
    };
    for (const ParseCase& c : cases) {
        Variant value;
        const ParsedValue parsed = parseValue(c.text, c.type, value.get());
        const std::string label = std::string("\"") + c.text + "\" as " + typeName(c.type);
        ASSERT_EQ(parsed.ok, c.ok) << label << ": " << parsed.problem;
        if (!c.ok) {
            EXPECT_EQ(value.type(), VT_EMPTY) << label;
            EXPECT_NE(parsed.problem.find(typeName(c.type)), std::string::npos) << label << ": " << parsed.problem;
            continue;
        }
        EXPECT_EQ(value.type(), c.type) << label;
        EXPECT_EQ(formatValue(value.get()), c.printed) << label;
    }
}

TEST(OpcClientValueText, BooleansAreVariantTrueAndFalse) {
    Variant on, off;
    parseValue("on", VT_BOOL, on.get());
    parseValue("off", VT_BOOL, off.get());
    EXPECT_EQ(V_BOOL(&on.get()), VARIANT_TRUE);  // -1: the server takes only -1 as true
    EXPECT_EQ(V_BOOL(&off.get()), VARIANT_FALSE);
}

TEST(OpcClientValueText, FloatsPrintShortestAndGoToJsonAsTheirText) {
    VARIANT value;
    VariantInit(&value);
    V_VT(&value) = VT_R4;
    V_R4(&value) = 230.1f;
    EXPECT_EQ(formatValue(value), "230.1");
    EXPECT_EQ(valueToJson(value).dump(), "230.1");  // not 230.10000610351562
    V_R4(&value) = 10.446963f;
    EXPECT_EQ(formatValue(value), "10.446963");
    V_R4(&value) = std::nanf("");
    EXPECT_EQ(valueToJson(value).dump(), "null");  // JSON has no NaN
    V_VT(&value) = VT_EMPTY;
    EXPECT_EQ(formatValue(value), "(empty)");
    EXPECT_TRUE(valueToJson(value).is_null());
    V_VT(&value) = VT_BOOL;
    V_BOOL(&value) = VARIANT_TRUE;
    EXPECT_EQ(valueToJson(value), nlohmann::json(true));
    V_VT(&value) = VT_I4;
    V_I4(&value) = -5;
    EXPECT_EQ(valueToJson(value), nlohmann::json(-5));
}

TEST(OpcClientItemValue, QualityWords) {
    const std::vector<std::pair<WORD, const char*>> cases{
        {0xC0, "good"},           {0xD8, "good"},      // local override
        {0xC1, "good"},                                // limit bits ignored
        {0x40, "uncertain"},      {0x54, "uncertain"}, // EU units exceeded
        {0x00, "bad"},            {0x18, "bad"},       // communication failure
        {0x1C, "out of service"}, {0x1F, "out of service"},
        {0x80, "invalid"},
        {0x01C0, "good"},  // the vendor byte does not count
    };
    for (const auto& [quality, word] : cases) {
        EXPECT_EQ(qualityWord(quality), word) << "quality 0x" << std::hex << quality;
    }
}

FILETIME FileTimeOf(WORD year, WORD month, WORD day, WORD hour, WORD minute, WORD second, WORD ms) {
    SYSTEMTIME system{};
    system.wYear = year;
    system.wMonth = month;
    system.wDay = day;
    system.wHour = hour;
    system.wMinute = minute;
    system.wSecond = second;
    system.wMilliseconds = ms;
    FILETIME file{};
    SystemTimeToFileTime(&system, &file);
    return file;
}

TEST(OpcClientItemValue, IsoTimesInUtc) {
    EXPECT_EQ(isoTime(FileTimeOf(1970, 1, 1, 0, 0, 0, 0)), "1970-01-01T00:00:00.000Z");
    EXPECT_EQ(isoTime(FileTimeOf(2024, 2, 29, 23, 59, 59, 999)), "2024-02-29T23:59:59.999Z");
    EXPECT_EQ(isoTime(FileTimeOf(2026, 12, 6, 10, 42, 8, 123)), "2026-12-06T10:42:08.123Z");
    EXPECT_EQ(isoTime(FileTimeOf(1601, 1, 1, 0, 0, 0, 1)), "1601-01-01T00:00:00.001Z");
    EXPECT_EQ(isoTime(FileTimeOf(2100, 3, 1, 0, 0, 0, 0)), "2100-03-01T00:00:00.000Z");  // 2100 is no leap year
    EXPECT_EQ(isoTime(FILETIME{}), "-");
    // Sub-millisecond ticks are cut, not rounded up into the next second.
    FILETIME almost = FileTimeOf(2026, 12, 31, 23, 59, 59, 999);
    almost.dwLowDateTime += 9999;
    EXPECT_EQ(isoTime(almost), "2026-12-31T23:59:59.999Z");
}

TEST(OpcClientStatusNames, CodesAsUsersTypeThem) {
    const std::vector<std::pair<const char*, std::optional<HRESULT>>> cases{
        {"0xC0040007", OPC_E_UNKNOWNITEMID},
        {"0xc0040007", OPC_E_UNKNOWNITEMID},
        {"OPC_E_UNKNOWNITEMID", OPC_E_UNKNOWNITEMID},
        {"-1073479673", OPC_E_UNKNOWNITEMID},
        {"3221487623", OPC_E_UNKNOWNITEMID},
        {"0x00040404", OPC_S_DATAQUEUEOVERFLOW},
        {"0", S_OK},
        {"0x", std::nullopt},
        {"0x1FFFFFFFF", std::nullopt},
        {"4294967296", std::nullopt},
        {"-2147483649", std::nullopt},
        {"12x", std::nullopt},
        {"opc_e_unknownitemid", std::nullopt},  // names are exact
    };
    for (const auto& [text, expected] : cases) {
        const std::optional<HRESULT> parsed = parseStatusCode(text);
        EXPECT_EQ(parsed.has_value(), expected.has_value()) << text;
        if (parsed && expected) {
            EXPECT_EQ(hexCode(*parsed), hexCode(*expected)) << text;
        }
    }
    EXPECT_EQ(statusName(OPC_E_INVALIDITEMID), "OPC_E_INVALIDITEMID");
    EXPECT_EQ(statusName(static_cast<HRESULT>(0xC0040404)), "");
}

struct CommandLineCase {
    std::vector<std::string> args;
    const char* problem;  // a part of the UsageError, or nullptr when the line is fine
};

TEST(OpcClientCommandLine, RefusesWhatItCannotRun) {
    const std::vector<CommandLineCase> cases{
        {{"read", "A", "B"}, nullptr},
        {{"--json", "read", "A", "--max-age", "500"}, nullptr},
        {{"read", "A", "--server=X.Y.1"}, nullptr},
        {{"write", "A=-5"}, nullptr},
        {{"error", "-1073479673"}, nullptr},
        {{"watch", "A", "--rate=200", "--deadband", "12.5", "--duration", "0.5"}, nullptr},
        {{}, "no command given"},
        {{"reed", "A"}, "unknown command \"reed\""},
        {{"read"}, "ITEM-ID is required"},
        {{"status", "extra"}, "not expected: extra"},
        {{"props", "A", "B"}, "ITEM-ID: At Most 1 required but received 2"},
        {{"status", "--flat"}, "not expected: --flat"},
        {{"read", "A", "--rate", "200"}, "not expected: --rate"},
        {{"read", "A", "--device", "--cache"}, "--device excludes --cache"},
        {{"read", "A", "--max-age"}, "--max-age: 1 required"},
        {{"read", "A", "--max-age", "-1"}, "Could not convert: --max-age = -1"},
        {{"watch", "A", "--deadband", "101"}, "--deadband: Value 101 not in range"},
        {{"watch", "A", "--duration", "0"}, "above 0"},
        {{"watch", "A", "--rate", "fast"}, "Could not convert: --rate = fast"},
        {{"browse", "--verbose"}, "not expected: --verbose"},
    };
    for (const CommandLineCase& c : cases) {
        std::string label;
        for (const std::string& arg : c.args) label += arg + " ";
        try {
            parseCommandLine(c.args);
            EXPECT_EQ(c.problem, nullptr) << label << "was accepted";
        } catch (const UsageError& error) {
            ASSERT_NE(c.problem, nullptr) << label << "was refused: " << error.what();
            EXPECT_NE(std::string(error.what()).find(c.problem), std::string::npos) << label << ": " << error.what();
        }
    }
}

TEST(OpcClientCommandLine, OptionsLandWhereTheCommandReadsThem) {
    const Options read = parseCommandLine({"read", "A", "--json", "B", "--max-age=250", "--server", "Other.Server.1"});
    EXPECT_EQ(read.command, Command::read);
    EXPECT_EQ(read.operands, (std::vector<std::string>{"A", "B"}));
    EXPECT_TRUE(read.json);
    EXPECT_EQ(read.source, ReadSource::maxAge);
    EXPECT_EQ(read.maxAgeMs, 250u);
    EXPECT_EQ(read.progId, "Other.Server.1");

    const Options watch = parseCommandLine({"watch", "A", "--deadband", "2.5", "--duration=1.5"});
    EXPECT_EQ(watch.rateMs, 1000u);
    EXPECT_FLOAT_EQ(watch.deadbandPercent, 2.5f);
    EXPECT_EQ(watch.durationSeconds, std::optional<double>(1.5));
    EXPECT_EQ(watch.progId, kDefaultProgId);

    // Help for one command needs none of its operands.
    const Options help = parseCommandLine({"write", "--help"});
    EXPECT_TRUE(help.help);
    EXPECT_EQ(help.command, Command::write);
}

}  // namespace
