// korvex-opc.exe browse and props against the sample plant: the tree one level at a time, flat
// with a filter, and a point's properties with their values; the failures of each with the call
// named and the exact status code.
#include "tests/integration/opcclient_session.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace korvex::test {
namespace {

using nlohmann::json;

constexpr DWORD kExitOk = 0, kExitFailed = 1;

ClientSession& Session() {
    static ClientSession session;
    return session;
}

std::string Describe(const ClientRun& run) { return "\nstdout:\n" + run.output + "stderr:\n" + run.errors; }

class OpcClientBrowse : public ::testing::Test {
protected:
    void SetUp() override {
        Session().Start();
        ASSERT_FALSE(HasFatalFailure());
    }
};

struct BrowseCase {
    std::vector<std::string> args;
    std::vector<json> expected;  // the JSON lines, in order
};

TEST_F(OpcClientBrowse, ListsTheTreeAsTheServerHoldsIt) {
    auto branch = [](const char* name, const char* item) {
        return json{{"name", name}, {"item", item}, {"branch", true}};
    };
    auto leaf = [](const char* name, const char* item) {
        return json{{"name", name}, {"item", item}, {"branch", false}};
    };
    const std::vector<BrowseCase> cases{
        {{},
         {branch("NorthSubstation", "NorthSubstation"), branch("PumpStation", "PumpStation"),
          branch("WeatherMast", "WeatherMast"), branch("Reservoir", "Reservoir")}},
        {{"NorthSubstation"},
         {branch("analog", "NorthSubstation.analog"), branch("switch", "NorthSubstation.switch")}},
        {{"NorthSubstation.analog"},
         {leaf("BusbarVoltage", "NorthSubstation.analog.BusbarVoltage"),
          leaf("FeederCurrent", "NorthSubstation.analog.FeederCurrent"),
          leaf("Setpoint", "NorthSubstation.analog.Setpoint")}},
        {{"NorthSubstation.analog", "--filter", "*e*t"},
         {leaf("FeederCurrent", "NorthSubstation.analog.FeederCurrent"),
          leaf("Setpoint", "NorthSubstation.analog.Setpoint")}},
        {{"NorthSubstation", "--flat"},
         {{{"item", "NorthSubstation.analog.BusbarVoltage"}},
          {{"item", "NorthSubstation.analog.FeederCurrent"}},
          {{"item", "NorthSubstation.analog.Setpoint"}},
          {{"item", "NorthSubstation.switch.Breaker1"}},
          {{"item", "NorthSubstation.switch.Breaker2"}},
          {{"item", "NorthSubstation.switch.ProtectionTrip"}}}},
        // The flat filter matches whole item IDs.
        {{"--flat", "--filter", "*Breaker*"},
         {{{"item", "NorthSubstation.switch.Breaker1"}}, {{"item", "NorthSubstation.switch.Breaker2"}}}},
        {{"Reservoir.switch", "--filter", "Nothing*"}, {}},
    };
    for (const BrowseCase& c : cases) {
        std::vector<std::string> args{"--json", "browse"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const ClientRun run = RunClient(args);
        std::string label;
        for (const std::string& arg : c.args) label += arg + " ";
        EXPECT_EQ(run.exitCode, kExitOk) << label << Describe(run);
        EXPECT_EQ(JsonLines(run.output), c.expected) << label << Describe(run);
    }
}

TEST_F(OpcClientBrowse, TextListsBranchesThenLeaves) {
    const ClientRun run = RunClient({"browse", "Reservoir.switch"});
    ASSERT_EQ(run.exitCode, kExitOk) << Describe(run);
    // The console's text mode ends lines with CR LF.
    EXPECT_EQ(run.output, "leaf    Reservoir.switch.GateOpen\r\nleaf    Reservoir.switch.OverflowAlarm\r\n") << Describe(run);
}

TEST_F(OpcClientBrowse, AnUnknownBranchNamesTheCall) {
    const ClientRun run = RunClient({"browse", "NorthSubstation.Nothing"});
    EXPECT_EQ(run.exitCode, kExitFailed) << Describe(run);
    EXPECT_NE(run.errors.find("ChangeBrowsePosition to NorthSubstation.Nothing: 0x80004005 E_FAIL"), std::string::npos)
        << Describe(run);
}

TEST_F(OpcClientBrowse, PropsOfAnAnalogPointWithLimits) {
    Session().Simulator().setAnalog("NorthSubstation", "Setpoint", 50.0);
    // A device read leaves the value in the point's cache, where property 2 comes from.
    ASSERT_EQ(RunClient({"read", "NorthSubstation.analog.Setpoint"}).exitCode, kExitOk);
    const ClientRun run = RunClient({"--json", "props", "NorthSubstation.analog.Setpoint"});
    ASSERT_EQ(run.exitCode, kExitOk) << Describe(run);
    const std::vector<json> properties = JsonLines(run.output);
    std::vector<int> ids;
    for (const json& property : properties) {
        ids.push_back(property.at("id"));
        EXPECT_EQ(property.at("item"), "NorthSubstation.analog.Setpoint");
    }
    ASSERT_EQ(ids, (std::vector<int>{1, 2, 3, 4, 5, 6, 7, 8, 101, 104, 105})) << Describe(run);
    EXPECT_EQ(properties[0].at("description"), "Item Canonical Data Type");
    EXPECT_EQ(properties[0].at("value"), VT_R4);
    EXPECT_EQ(properties[1].at("description"), "Item Value");
    EXPECT_EQ(properties[1].at("value"), 50.0);
    EXPECT_EQ(properties[2].at("value"), 0xC0);
    EXPECT_EQ(properties[4].at("description"), "Item Access Rights");
    EXPECT_EQ(properties[4].at("value"), 3);  // readable and writable
    EXPECT_EQ(properties[8].at("description"), "Item Description");
    EXPECT_EQ(properties[8].at("value"), "Voltage regulator setpoint, percent");
    EXPECT_EQ(properties[9].at("description"), "High Instrument Range");
    EXPECT_EQ(properties[9].at("value"), 100.0);
    EXPECT_EQ(properties[10].at("description"), "Low Instrument Range");
    EXPECT_EQ(properties[10].at("value"), 0.0);
}

TEST_F(OpcClientBrowse, PropsFailuresNameTheCallAndTheCode) {
    const std::vector<std::pair<const char*, const char*>> cases{
        {"NorthSubstation.analog.Nothing", "QueryAvailableProperties(NorthSubstation.analog.Nothing): 0xC0040007"},
        {"NorthSubstation", "QueryAvailableProperties(NorthSubstation): 0x80004005"},
    };
    for (const auto& [item, message] : cases) {
        const ClientRun run = RunClient({"props", item});
        EXPECT_EQ(run.exitCode, kExitFailed) << item << Describe(run);
        EXPECT_NE(run.errors.find(message), std::string::npos) << item << Describe(run);
        EXPECT_TRUE(run.output.empty()) << item << Describe(run);
    }
}

}  // namespace
}  // namespace korvex::test
