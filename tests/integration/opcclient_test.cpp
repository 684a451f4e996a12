// korvex-opc.exe, run as a user runs it, against the simulator's sample plant and the server
// program: every command's output (JSON parsed, text matched whole), the exit codes, and the
// failures a user meets: unknown and invalid item IDs, refused writes, an unregistered server,
// the SCADA runtime absent, and a server that goes away during a watch.
// The suites run in file order: the runtime is absent first, the server's Exit comes last.
#include "tests/integration/opcclient_session.h"
#include "tests/support/dialog_watchdog.h"

#include "app/resource.h"

#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

namespace korvex::test {
namespace {

using namespace std::chrono_literals;
using nlohmann::json;

constexpr DWORD kExitOk = 0, kExitFailed = 1, kExitUsage = 2, kExitNoServer = 3, kExitServerGone = 4;

ClientSession& Session() {
    static ClientSession session;
    return session;
}

std::string Describe(const ClientRun& run) { return "\nstdout:\n" + run.output + "stderr:\n" + run.errors; }

// Waits until `child` has printed `lines` lines.
bool WaitForLines(ChildProcess& child, std::size_t lines, std::chrono::milliseconds timeout = 15s) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
        const std::string out = child.output();
        if (static_cast<std::size_t>(std::count(out.begin(), out.end(), '\n')) >= lines) return true;
        if (!child.running()) return false;
        Sleep(50);
    }
    return false;
}

ChildProcess StartWatch(const std::vector<std::string>& args) {
    ProcessOptions options;
    options.separateErrors = true;
    std::vector<std::string> command{"--json", "watch"};
    command.insert(command.end(), args.begin(), args.end());
    return ChildProcess("korvex-opc.exe", command, options);
}

// The values of the JSON data changes of `item`, in order.
std::vector<json> ValuesOf(const std::string& output, const std::string& item) {
    std::vector<json> values;
    for (const json& change : JsonLines(output)) {
        if (change.value("item", "") == item) values.push_back(change.at("value"));
    }
    return values;
}

// ---------------------------------------------------------------------------------------------
// Without the SCADA runtime the server accepts the activation and ends at once.

TEST(OpcClientWithoutRuntime, ConnectingReportsThatTheServerEndedAtStart) {
    ClientSession& session = Session();
    session.Start();  // the server registers itself here
    ASSERT_FALSE(HasFatalFailure());
    session.StopServer();
    session.StopSimulator();

    const ClientRun run = RunClient({"status"}, 60s);
    EXPECT_EQ(run.exitCode, kExitNoServer) << Describe(run);
    EXPECT_NE(run.errors.find("server Korvex.OPCServer.2"), std::string::npos) << Describe(run);
    EXPECT_NE(run.errors.find("when the SCADA runtime is not running"), std::string::npos) << Describe(run);
    EXPECT_TRUE(run.output.empty()) << Describe(run);
    EXPECT_TRUE(DialogWatchdog::instance().waitFor("请确定SCADA已经启动!", 5s).has_value())
        << "the server did not tell its user";
}

TEST(OpcClientNotRegistered, AnUnknownProgIdIsNoServer) {
    const ClientRun run = RunClient({"--server", "Korvex.NoSuchServer.1", "status"});
    EXPECT_EQ(run.exitCode, kExitNoServer) << Describe(run);
    EXPECT_NE(run.errors.find("server Korvex.NoSuchServer.1 is not registered"), std::string::npos) << Describe(run);
    EXPECT_NE(run.errors.find("0x800401F3"), std::string::npos) << Describe(run);
}

// ---------------------------------------------------------------------------------------------

class OpcClient : public ::testing::Test {
protected:
    void SetUp() override {
        Session().Start();
        ASSERT_FALSE(HasFatalFailure());
    }
    SimulatorControl& Simulator() { return Session().Simulator(); }
};

TEST_F(OpcClient, StatusReportsTheRunningServer) {
    const ClientRun run = RunClient({"--json", "status"});
    ASSERT_EQ(run.exitCode, kExitOk) << Describe(run);
    const std::vector<json> objects = JsonLines(run.output);
    ASSERT_EQ(objects.size(), 1u) << Describe(run);
    EXPECT_EQ(objects[0].at("server"), "Korvex.OPCServer.2");
    EXPECT_EQ(objects[0].at("state"), "running");
    EXPECT_EQ(objects[0].at("stateCode"), 1);
    EXPECT_EQ(objects[0].at("vendor"), "Korvex OPC Server");
    EXPECT_TRUE(std::regex_match(objects[0].at("startTime").get<std::string>(),
                                 std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z)")))
        << objects[0].dump();
}

struct ReadCase {
    const char* name;
    std::vector<std::string> items;
    DWORD exitCode;
    // Per item, in order: the value, or the status code of its failure.
    std::vector<json> expected;
};

TEST_F(OpcClient, ReadReportsEachItemInOrder) {
    Simulator().setAnalog("NorthSubstation", "Setpoint", 50.0);
    const std::vector<ReadCase> cases{
        {"analog", {"NorthSubstation.analog.Setpoint"}, kExitOk, {50.0}},
        {"switch with state byte 2", {"NorthSubstation.switch.ProtectionTrip"}, kExitOk, {true}},
        {"two stations", {"WeatherMast.analog.Humidity", "Reservoir.switch.GateOpen"}, kExitOk, {63.0, false}},
        {"unknown item", {"NorthSubstation.analog.Nothing"}, kExitFailed, {"0xC0040007"}},
        {"a branch", {"NorthSubstation"}, kExitFailed, {"0x80004005"}},
        {"good between bad",
         {"Nope.analog.X", "PumpStation.analog.PumpSpeed", "bad id!"},
         kExitFailed,
         {"0xC0040007", 1450.0, "0xC0040007"}},
    };
    for (const ReadCase& c : cases) {
        for (const std::string source : {"--device", "--max-age=0"}) {
            std::vector<std::string> args{"--json", "read", source};
            args.insert(args.end(), c.items.begin(), c.items.end());
            const ClientRun run = RunClient(args);
            const std::string label = c.name + (" " + source);
            EXPECT_EQ(run.exitCode, c.exitCode) << label << Describe(run);
            const std::vector<json> objects = JsonLines(run.output);
            ASSERT_EQ(objects.size(), c.items.size()) << label << Describe(run);
            for (std::size_t i = 0; i < objects.size(); ++i) {
                EXPECT_EQ(objects[i].at("item"), c.items[i]) << label;
                if (c.expected[i].is_string()) {
                    EXPECT_EQ(objects[i].at("error").at("code"), c.expected[i]) << label << " " << objects[i].dump();
                    EXPECT_NE(run.errors.find(c.items[i] + ": " + c.expected[i].get<std::string>()), std::string::npos)
                        << label << Describe(run);
                } else {
                    EXPECT_EQ(objects[i].at("value"), c.expected[i]) << label << " " << objects[i].dump();
                    EXPECT_EQ(objects[i].at("quality"), "good") << label;
                    EXPECT_EQ(objects[i].at("qualityCode"), 0xC0) << label;
                }
            }
        }
    }
}

TEST_F(OpcClient, ReadPrintsTimeItemValueAndQualityOnOneLine) {
    Simulator().setAnalog("NorthSubstation", "Setpoint", 12.75);
    const ClientRun run = RunClient({"read", "NorthSubstation.analog.Setpoint", "NorthSubstation.switch.Breaker2"});
    ASSERT_EQ(run.exitCode, kExitOk) << Describe(run);
    const std::regex expected(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z  NorthSubstation\.analog\.Setpoint  12\.75  good\r?\n)"
                              R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z  NorthSubstation\.switch\.Breaker2  false  good\r?\n)");
    EXPECT_TRUE(std::regex_match(run.output, expected)) << Describe(run);
    EXPECT_TRUE(run.errors.empty()) << Describe(run);
}

TEST_F(OpcClient, WriteReachesTheRuntimeAndTheNextReadShowsIt) {
    Simulator().setAnalog("NorthSubstation", "Setpoint", 50.0);
    Simulator().setSwitch("NorthSubstation", "Breaker1", 1);
    const ClientRun write =
        RunClient({"--json", "write", "NorthSubstation.analog.Setpoint=73.25", "NorthSubstation.switch.Breaker1=off"});
    ASSERT_EQ(write.exitCode, kExitOk) << Describe(write);
    const std::vector<json> written = JsonLines(write.output);
    ASSERT_EQ(written.size(), 2u) << Describe(write);
    EXPECT_EQ(written[0], json({{"item", "NorthSubstation.analog.Setpoint"}, {"value", 73.25}, {"written", true}}));
    EXPECT_EQ(written[1], json({{"item", "NorthSubstation.switch.Breaker1"}, {"value", false}, {"written", true}}));
    EXPECT_EQ(Simulator().analog("NorthSubstation", "Setpoint"), 73.25);
    EXPECT_EQ(Simulator().switchState("NorthSubstation", "Breaker1"), 0);

    const ClientRun read = RunClient({"--json", "read", "NorthSubstation.analog.Setpoint", "NorthSubstation.switch.Breaker1"});
    ASSERT_EQ(read.exitCode, kExitOk) << Describe(read);
    const std::vector<json> values = JsonLines(read.output);
    ASSERT_EQ(values.size(), 2u) << Describe(read);
    EXPECT_EQ(values[0].at("value"), 73.25);
    EXPECT_EQ(values[1].at("value"), false);
}

struct WriteCase {
    const char* name;
    std::vector<std::string> args;
    DWORD exitCode;
    const char* stderrPart;
};

TEST_F(OpcClient, RefusedWritesSayWhyAndChangeNothing) {
    Simulator().setAnalog("NorthSubstation", "Setpoint", 50.0);
    const std::vector<WriteCase> cases{
        {"read-only point", {"NorthSubstation.analog.BusbarVoltage=10"}, kExitFailed,
         "NorthSubstation.analog.BusbarVoltage: 0xC0040006 OPC_E_BADRIGHTS"},
        {"above the high limit", {"NorthSubstation.analog.Setpoint=150"}, kExitFailed,
         "NorthSubstation.analog.Setpoint: 0xC004000B OPC_E_RANGE"},
        {"unknown item", {"NorthSubstation.analog.Nothing=1"}, kExitFailed,
         "NorthSubstation.analog.Nothing: 0xC0040007 OPC_E_UNKNOWNITEMID"},
        {"not a number", {"NorthSubstation.analog.Setpoint=abc"}, kExitUsage,
         "NorthSubstation.analog.Setpoint: \"abc\" is not a number"},
        // Every value is parsed before anything is written.
        {"one bad value among good ones", {"NorthSubstation.analog.Setpoint=60", "NorthSubstation.switch.Breaker1=maybe"},
         kExitUsage, "\"maybe\" is not true/false"},
        {"no value", {"NorthSubstation.analog.Setpoint"}, kExitUsage, "is not ITEM-ID=VALUE"},
    };
    for (const WriteCase& c : cases) {
        std::vector<std::string> args{"write"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const ClientRun run = RunClient(args);
        EXPECT_EQ(run.exitCode, c.exitCode) << c.name << Describe(run);
        EXPECT_NE(run.errors.find(c.stderrPart), std::string::npos) << c.name << Describe(run);
        EXPECT_EQ(Simulator().analog("NorthSubstation", "Setpoint"), 50.0) << c.name;
    }
}

struct ErrorCase {
    const char* code;
    DWORD exitCode;
    const char* text;  // stdout's "text", or a part of stderr on failure
};

TEST_F(OpcClient, ErrorGivesTheServersText) {
    const std::vector<ErrorCase> cases{
        {"0xC0040007", kExitOk, "项ID在服务器地址空间中未定义或不再存在"},
        {"OPC_E_INVALIDITEMID", kExitOk, "项ID与服务器的语法不一致"},
        {"-1073479673", kExitOk, "项ID在服务器地址空间中未定义或不再存在"},
        {"0x00040404", kExitOk, "数据队列溢出—某些值的变化将被忽略"},
        // The server has no text for these.
        {"0xC0040404", kExitFailed, "GetErrorString(0xC0040404): 0x80070057 E_INVALIDARG"},
        {"0", kExitFailed, "GetErrorString(0x00000000): 0x80070057"},
        {"0xZZ", kExitUsage, "\"0xZZ\" is not a status code"},
    };
    for (const ErrorCase& c : cases) {
        const ClientRun run = RunClient({"--json", "error", c.code});
        EXPECT_EQ(run.exitCode, c.exitCode) << c.code << Describe(run);
        if (c.exitCode == kExitOk) {
            const std::vector<json> objects = JsonLines(run.output);
            ASSERT_EQ(objects.size(), 1u) << c.code << Describe(run);
            EXPECT_EQ(objects[0].at("text"), c.text) << c.code;
        } else {
            EXPECT_NE(run.errors.find(c.text), std::string::npos) << c.code << Describe(run);
        }
    }
}

TEST_F(OpcClient, WatchPrintsEveryChangeInOrder) {
    Simulator().setAnalog("NorthSubstation", "Setpoint", 50.0);
    Simulator().setSwitch("NorthSubstation", "Breaker1", 1);
    ChildProcess watch = StartWatch({"NorthSubstation.analog.Setpoint", "NorthSubstation.switch.Breaker1", "--rate",
                                     "200", "--duration", "6"});
    ASSERT_TRUE(WaitForLines(watch, 2)) << watch.output() << watch.errors();
    Simulator().setAnalog("NorthSubstation", "Setpoint", 51.5);
    Sleep(800);
    Simulator().setSwitch("NorthSubstation", "Breaker1", 0);
    Simulator().setAnalog("NorthSubstation", "Setpoint", 52.5);
    ASSERT_EQ(watch.waitForExit(20s), std::optional<DWORD>(kExitOk)) << watch.errors();

    EXPECT_EQ(ValuesOf(watch.output(), "NorthSubstation.analog.Setpoint"), (std::vector<json>{50.0, 51.5, 52.5}))
        << watch.output();
    EXPECT_EQ(ValuesOf(watch.output(), "NorthSubstation.switch.Breaker1"), (std::vector<json>{true, false}))
        << watch.output();
    for (const json& change : JsonLines(watch.output())) {
        EXPECT_EQ(change.at("quality"), "good") << change.dump();
        EXPECT_TRUE(std::regex_match(change.at("time").get<std::string>(),
                                     std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z)")))
            << change.dump();
    }
}

TEST_F(OpcClient, WatchDeadbandHoldsBackSmallChanges) {
    // Setpoint's range is 0 to 100: a 10 percent deadband is 10 units.
    Simulator().setAnalog("NorthSubstation", "Setpoint", 50.0);
    ChildProcess watch = StartWatch({"NorthSubstation.analog.Setpoint", "--rate", "200", "--deadband", "10",
                                     "--duration", "5"});
    ASSERT_TRUE(WaitForLines(watch, 1)) << watch.output() << watch.errors();
    Simulator().setAnalog("NorthSubstation", "Setpoint", 55.0);
    Sleep(800);
    Simulator().setAnalog("NorthSubstation", "Setpoint", 70.0);
    ASSERT_EQ(watch.waitForExit(20s), std::optional<DWORD>(kExitOk)) << watch.errors();
    EXPECT_EQ(ValuesOf(watch.output(), "NorthSubstation.analog.Setpoint"), (std::vector<json>{50.0, 70.0}))
        << watch.output();
}

TEST_F(OpcClient, WatchOfOnlyUnknownItemsEndsAtOnce) {
    const ClientRun run = RunClient({"watch", "NorthSubstation.analog.Nothing"});
    EXPECT_EQ(run.exitCode, kExitFailed) << Describe(run);
    EXPECT_NE(run.errors.find("NorthSubstation.analog.Nothing: 0xC0040007"), std::string::npos) << Describe(run);
}

// ---------------------------------------------------------------------------------------------
// The server going away during a watch by its user's Exit, with a shutdown notice. (Killed:
// opcclient_server_gone_test, a program of its own, as a killed server spoils later activations.)

TEST_F(OpcClient, AShutdownNoticeEndsTheWatch) {
    ChildProcess watch = StartWatch({"NorthSubstation.analog.Setpoint"});
    ASSERT_TRUE(WaitForLines(watch, 1)) << watch.output() << watch.errors();
    // Exit with clients connected asks first; the watchdog answers Yes.
    DialogWatchdog::instance().answer(DialogButton::yes);
    PostMessageW(Session().ServerWindow(), WM_COMMAND, ID_APP_EXIT, 0);
    EXPECT_EQ(watch.waitForExit(20s), std::optional<DWORD>(kExitServerGone)) << watch.errors();
    EXPECT_NE(watch.errors().find("server Korvex.OPCServer.2 is shutting down: 用户强制关闭"), std::string::npos)
        << watch.errors();
    DialogWatchdog::instance().reset();
    Session().StopServer();
}

}  // namespace
}  // namespace korvex::test
