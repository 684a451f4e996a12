// Server objects created in the test process over a runtime published in this process.
#include "tests/support/in_process_runtime.h"
#include "tests/support/in_process_session.h"
#include "tests/support/server_session.h"

#include "addrspace/address_space.h"
#include "com/string_convert.h"
#include "rtdb/data_access.h"
#include "rtdb/rt_library.h"
#include "server/server_module.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <vector>

namespace korvex::test {
namespace {

// The sample plant, with the same names, flags and initial values.
std::vector<rtimage::Station> SessionPlant() {
    rtimage::Station north{"NorthSubstation", true, {}, {}};
    north.analogs.push_back({"BusbarVoltage", "10 kV busbar voltage, kV", 11.5, 9.5, false, 10.5});
    north.analogs.push_back({"FeederCurrent", "Feeder 1 current, A", 600, 0, false, 320});
    north.analogs.push_back({"Setpoint", "Voltage regulator setpoint, percent", 100, 0, true, 50});
    north.switches.push_back({"Breaker1", "Feeder 1 circuit breaker", true, 1});
    north.switches.push_back({"Breaker2", "Feeder 2 circuit breaker", false, 0});
    north.switches.push_back({"ProtectionTrip", "Protection relay trip signal", false, 2});
    rtimage::Station pumps{"PumpStation", false, {}, {}};
    pumps.analogs.push_back({"TankLevel",
                             "Suction tank level, m; measured by the ultrasonic sensor on the north wall of the tank",
                             10, 0, false, 2});
    pumps.analogs.push_back({"PumpSpeed", "Pump 1 speed setpoint, rpm", 0, 0, true, 1450});
    pumps.analogs.push_back({"Flow Rate", "Discharge flow, m3/h", 250, 0, false, 120});
    // Stored in the ANSI code page, as the simulator stores it.
    pumps.analogs.push_back({com::toNarrow(L"\u51FA\u6C34\u6E29\u5EA6"), "Outlet water temperature, C", 40, 0, false, 18.5});
    pumps.analogs.push_back({"DischargeHeaderPressureSensorA1", "Discharge header pressure, bar", 16, 0, false, 6.25});
    pumps.switches.push_back({"Pump1Running", "Pump 1 running", true, 1});
    pumps.switches.push_back({"Pump2Running", "Pump 2 running", true, 0});
    rtimage::Station weather{"WeatherMast", true, {}, {}};
    weather.analogs.push_back({"AirTemperature", "Air temperature, C", 60, -40, false, 15});
    weather.analogs.push_back({"WindSpeed", "Wind speed, m/s", 60, 0, false, 4.5});
    weather.analogs.push_back({"Humidity", "Relative humidity, percent", 50, 50, false, 63});
    rtimage::Station reservoir{"Reservoir", false, {}, {}};
    reservoir.switches.push_back({"GateOpen", "Spillway gate open", true, 0});
    reservoir.switches.push_back({"OverflowAlarm", "Overflow alarm", false, 0});
    return {north, pumps, weather, reservoir};
}

std::unique_ptr<InProcessRuntime> g_runtime;
std::unique_ptr<rtdb::CDataAccessEx> g_access;
COPCAddressSpaceMgt g_addressSpace;
ServerState g_serverState;
const ServerContext g_context{g_addressSpace, g_serverState};

// The update thread, when a test started it, ends before the process does.
class ServerSideEnvironment : public ::testing::Environment {
    void TearDown() override { StopServerSide(); }
};
const auto* const g_environment = ::testing::AddGlobalTestEnvironment(new ServerSideEnvironment);

}  // namespace

bool CrossProcess() { return false; }

void TickInProcess() {
    server::RunUpdateTick(g_context);
    // Callbacks go out on the clients' delivery threads: the tick is over once they are delivered.
    // Meanwhile the runtime's window, which belongs to this thread, takes the asynchronous writes.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!server::WaitForCallbackDeliveries(std::chrono::milliseconds(0)) &&
           std::chrono::steady_clock::now() < deadline) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
    }
}

void MoveAnalog(const char* station, const char* point, double value) {
    const std::vector<rtimage::Station> plant = SessionPlant();
    for (std::size_t s = 0; s < plant.size(); ++s) {
        for (std::size_t p = 0; p < plant[s].analogs.size(); ++p) {
            if (plant[s].name != station || plant[s].analogs[p].name != point) continue;
            rtimage::ImageView view = g_runtime->view();
            rtimage::storeLiveDouble(view.analog(s, p) + rt::analog::kValue, value);
            return;
        }
    }
    FAIL() << "no analog point " << station << "." << point << " in the session's plant";
}

InProcessRuntime& SessionRuntime() { return *g_runtime; }

const ServerContext& SessionContext() { return g_context; }

void StartServerSide() {
    if (g_access) return;
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    g_runtime = std::make_unique<InProcessRuntime>(SessionPlant());
    g_access = std::make_unique<rtdb::CDataAccessEx>(nullptr, rtdb::Settings{false, true});
    ASSERT_TRUE(g_access->AttachDatabase());
    g_addressSpace.BuildAddressSpace(*g_access);
    FILETIME now;
    CoFileTimeNow(&now);
    g_serverState.SetStartTime(now);
}

void StopServerSide() { server::StopUpdateThread(); }

void StartUpdateCycle() { server::StartUpdateThread(g_context); }

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
    EXPECT_EQ(server::CreateServer(g_context, IID_IOPCServer, reinterpret_cast<void**>(server.ReleaseAndGetAddressOf())), S_OK);
    return server;
}

}  // namespace korvex::test
