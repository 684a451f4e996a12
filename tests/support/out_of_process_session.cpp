// Connections through COM activation and the real proxy to the server program, which serves the
// runtime simulator's sample plant.
#include "tests/support/dialog_watchdog.h"
#include "tests/support/proxy_registration.h"
#include "tests/support/server_session.h"
#include "tests/support/simulator_control.h"
#include "tests/support/simulator_launch.h"
#include "tests/support/wine_process.h"

#include "app/server_clsid.h"

#include <gtest/gtest.h>

#include <cwchar>
#include <memory>
#include <optional>

namespace korvex::test {
namespace {

constexpr const wchar_t* kServerWindowClass = L"KorvexOPCServerFrame";

std::unique_ptr<ChildProcess> g_simulator;
std::unique_ptr<ChildProcess> g_server;
// One client stays connected for the whole test program: the server ends when its last client
// leaves, and an activation racing with that ending would fail.
com::ComPtr<IOPCServer> g_anchor;

// The server registers itself when its window is created: run it once by hand, then connect.
void RegisterServer() {
    g_server = std::make_unique<ChildProcess>("KorvexOPCServer.exe");
    // Its class object is registered before its window is created; the window's creation
    // registers the class in the registry and builds the address space.
    // Its title shows the client count once the address space is built and the class registered.
    auto started = [] {
        wchar_t title[64] = L"";
        const HWND window = FindWindowW(kServerWindowClass, nullptr);
        return window && GetWindowTextW(window, title, 64) > 0 && std::wcsstr(title, L"[Client:") != nullptr;
    };
    for (int i = 0; i < 600 && !started(); ++i) Sleep(50);
    if (!started()) {
        std::string shown;
        for (const SeenDialog& dialog : DialogWatchdog::instance().seen()) shown += " [" + dialog.caption + ": " + dialog.text + "]";
        FAIL() << "the server's window did not come up; running: " << (g_server->running() ? "yes" : "no")
               << "; dialogs:" << shown;
    }
    // Activations reach the running server's class object; it stays up as long as the anchor does.
    ASSERT_EQ(CoCreateInstance(app::CLSID_KorvexOPCServer, nullptr, CLSCTX_LOCAL_SERVER, IID_IOPCServer,
                               reinterpret_cast<void**>(g_anchor.ReleaseAndGetAddressOf())),
              S_OK);
}

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
    if (g_simulator) return;
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    ASSERT_EQ(RegisterProxyStub(), S_OK) << "registering the proxy/stub DLL";
    g_simulator = std::make_unique<ChildProcess>(startSimulator({"--frozen", "--registry"}));
    // The server looks for the runtime once, when it starts: the mailbox must be published by then.
    ASSERT_TRUE(g_simulator->waitForLine("ready", std::chrono::seconds(60))) << g_simulator->output();
    RegisterServer();
}

void StopServerSide() {
    g_anchor.Reset();
    if (g_server) {
        // The last client has left: the server ends by itself.
        EXPECT_EQ(g_server->waitForExit(std::chrono::seconds(15)), std::optional<DWORD>(0)) << g_server->output();
        g_server.reset();
    }
    g_simulator.reset();
}

void StartUpdateCycle() {}

namespace {

SimulatorControl& Simulator() {
    static SimulatorControl control;
    return control;
}

}  // namespace

void SetAnalogValue(std::string_view station, std::string_view point, double value) {
    Simulator().setAnalog(station, point, value);
}

void StopRuntime() { Simulator().closeWindow(); }

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
