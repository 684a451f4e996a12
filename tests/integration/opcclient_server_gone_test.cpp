// korvex-opc.exe watching while its server is killed: it notices, though a dead server sends
// nothing, and ends with the exit code of a lost connection. A program of its own: Wine keeps a
// killed server's class registration until the wineserver restarts.
#include "tests/integration/opcclient_session.h"

#include <gtest/gtest.h>

#include <string>

namespace korvex::test {
namespace {

using namespace std::chrono_literals;

constexpr DWORD kExitServerGone = 4;

TEST(OpcClientServerGone, AKilledServerEndsTheWatch) {
    ClientSession session;
    session.Start();
    ASSERT_FALSE(HasFatalFailure());
    ProcessOptions options;
    options.separateErrors = true;
    ChildProcess watch("korvex-opc.exe", {"watch", "NorthSubstation.analog.Setpoint"}, options);
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    while (watch.output().find('\n') == std::string::npos && watch.running() &&
           std::chrono::steady_clock::now() < deadline)
        Sleep(50);
    ASSERT_NE(watch.output().find("NorthSubstation.analog.Setpoint  50  good"), std::string::npos)
        << watch.output() << watch.errors();

    session.Server().kill();
    EXPECT_EQ(watch.waitForExit(20s), std::optional<DWORD>(kExitServerGone)) << watch.errors();
    EXPECT_NE(watch.errors().find("watch: the connection to server Korvex.OPCServer.2 was lost"), std::string::npos)
        << watch.errors();
}

}  // namespace
}  // namespace korvex::test
