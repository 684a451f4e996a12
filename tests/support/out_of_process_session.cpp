// Connections through COM activation and the real proxy to the server program, which serves the
// runtime simulator's sample plant.
#include "tests/support/server_processes.h"
#include "tests/support/server_session.h"

#include "app/server_clsid.h"

#include <gtest/gtest.h>

namespace korvex::test {
namespace {

// Started once per test program.
ServerProcesses& Processes() {
    static ServerProcesses processes;
    return processes;
}
bool g_started = false;

class ServerSideEnvironment : public ::testing::Environment {
    void TearDown() override { StopServerSide(); }
};
const auto* const g_environment = ::testing::AddGlobalTestEnvironment(new ServerSideEnvironment);

}  // namespace

bool CrossProcess() { return true; }

void TickInProcess() {}

void MoveAnalog(const char* station, const char* point, double value) {
    SimulatorControl simulator;
    simulator.setAnalog(station, point, value);
}

void StartServerSide() {
    if (g_started) return;
    g_started = true;
    Processes().Start();
}

void StopServerSide() {
    if (!g_started) return;
    // The last client has left: the server ends by itself.
    Processes().StopServer();
    Processes().StopSimulator();
}

void StartUpdateCycle() {}

void SetAnalogValue(std::string_view station, std::string_view point, double value) {
    Processes().Simulator().setAnalog(station, point, value);
}

void StopRuntime() { Processes().Simulator().closeWindow(); }

com::ComPtr<IOPCServer> Connect() {
    // As clients find the server: by its ProgID.
    CLSID clsid{};
    EXPECT_EQ(CLSIDFromProgID(app::kServerProgId, &clsid), S_OK);
    EXPECT_TRUE(IsEqualCLSID(clsid, app::CLSID_KorvexOPCServer));
    com::ComPtr<IOPCServer> server;
    EXPECT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_LOCAL_SERVER, IID_IOPCServer,
                               reinterpret_cast<void**>(server.ReleaseAndGetAddressOf())),
              S_OK);
    return server;
}

}  // namespace korvex::test
