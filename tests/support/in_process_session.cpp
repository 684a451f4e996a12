// Server objects created in the test process over a runtime published in this process.
#include "tests/support/in_process_runtime.h"
#include "tests/support/in_process_session.h"
#include "tests/support/server_session.h"

#include "addrspace/address_space.h"
#include "rtdb/data_access.h"
#include "rtdb/rt_library.h"
#include "server/server_module.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace korvex::test {
namespace {

// The part of the sample plant that the shared cases name, with the same initial values.
std::vector<rtimage::Station> SessionPlant() {
    rtimage::Station north{"NorthSubstation", true, {}, {}};
    north.analogs.push_back({"BusbarVoltage", "10 kV busbar voltage, kV", 11.5, 9.5, false, 10.5});
    north.analogs.push_back({"FeederCurrent", "Feeder 1 current, A", 600, 0, false, 320});
    north.analogs.push_back({"Setpoint", "Voltage regulator setpoint, percent", 100, 0, true, 50});
    north.switches.push_back({"Breaker1", "Feeder 1 circuit breaker", true, 1});
    north.switches.push_back({"Breaker2", "Feeder 2 circuit breaker", false, 0});
    north.switches.push_back({"ProtectionTrip", "Protection relay trip signal", false, 2});
    rtimage::Station pumps{"PumpStation", false, {}, {}};
    pumps.analogs.push_back({"TankLevel", "Suction tank level", 10, 0, false, 2});
    pumps.analogs.push_back({"PumpSpeed", "Pump 1 speed setpoint, rpm", 0, 0, true, 1450});
    pumps.analogs.push_back({"Flow Rate", "Discharge flow, m3/h", 250, 0, false, 120});
    return {north, pumps};
}

std::unique_ptr<InProcessRuntime> g_runtime;
std::unique_ptr<rtdb::CDataAccessEx> g_access;

// The update thread, when a test started it, ends before the process does.
class ServerSideEnvironment : public ::testing::Environment {
    void TearDown() override { StopServerSide(); }
};
const auto* const g_environment = ::testing::AddGlobalTestEnvironment(new ServerSideEnvironment);

}  // namespace

bool CrossProcess() { return false; }

InProcessRuntime& SessionRuntime() { return *g_runtime; }

void StartServerSide() {
    if (g_access) return;
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    g_runtime = std::make_unique<InProcessRuntime>(SessionPlant());
    g_access = std::make_unique<rtdb::CDataAccessEx>(nullptr, rtdb::Settings{false, true});
    ASSERT_TRUE(g_access->AttachDatabase());
    server::AddressSpace().BuildAddressSpace(*g_access);
    FILETIME now;
    CoFileTimeNow(&now);
    server::SetStartTime(now);
}

void StopServerSide() { server::StopUpdateThread(); }

void StartUpdateCycle() { server::StartUpdateThread(); }

void SetAnalogValue(std::string_view station, std::string_view point, double value) {
    const std::vector<rtimage::Station> plant = SessionPlant();
    for (std::size_t s = 0; s < plant.size(); ++s) {
        if (plant[s].name != station) continue;
        for (std::size_t a = 0; a < plant[s].analogs.size(); ++a) {
            if (plant[s].analogs[a].name != point) continue;
            rtimage::storeLiveDouble(g_runtime->view().analog(s, a) + rt::analog::kValue, value);
            return;
        }
    }
    ADD_FAILURE() << "no analog point " << station << "." << point << " in the session plant";
}

void StopRuntime() { g_runtime->CloseWindow(); }

com::ComPtr<IOPCServer> Connect() {
    com::ComPtr<IOPCServer> server;
    EXPECT_EQ(server::CreateServer(IID_IOPCServer, reinterpret_cast<void**>(server.ReleaseAndGetAddressOf())), S_OK);
    return server;
}

}  // namespace korvex::test
