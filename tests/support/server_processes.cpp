#include "tests/support/server_processes.h"

#include "tests/support/dialog_watchdog.h"
#include "tests/support/proxy_registration.h"
#include "tests/support/simulator_launch.h"

#include "app/server_clsid.h"

#include <gtest/gtest.h>
#include <objbase.h>

#include <cwchar>
#include <optional>

namespace korvex::test {

namespace {

constexpr const wchar_t* kServerWindowClass = L"KorvexOPCServerFrame";

}  // namespace

ServerProcesses::ServerProcesses() { CoInitializeEx(nullptr, COINIT_MULTITHREADED); }

ServerProcesses::~ServerProcesses() {
    anchor_.Reset();
    if (server_ && server_->running()) server_->waitForExit(std::chrono::seconds(15));
    server_.reset();
    StopSimulator();
}

void ServerProcesses::Start() {
    ASSERT_EQ(RegisterProxyStub(), S_OK) << "registering the proxy/stub DLL";
    if (!simulator_ || !simulator_->running()) {
        simulator_ = std::make_unique<ChildProcess>(startSimulator({"--frozen", "--registry"}));
        // The server looks for the runtime once, when it starts: the mailbox must be published by then.
        ASSERT_TRUE(simulator_->waitForLine("ready", std::chrono::seconds(60))) << simulator_->output();
        control_ = std::make_unique<SimulatorControl>();
    }
    if (server_ && server_->running() && anchor_) return;
    anchor_.Reset();
    server_ = std::make_unique<ChildProcess>("KorvexOPCServer.exe");
    // The title shows the client count once the address space is built and the class registered.
    HWND window = nullptr;
    for (int i = 0; i < 600 && !window; ++i) {
        wchar_t title[64] = L"";
        window = ServerWindow();
        if (window && !(GetWindowTextW(window, title, 64) > 0 && std::wcsstr(title, L"[Client:"))) window = nullptr;
        if (!window) Sleep(50);
    }
    if (!window) {
        std::string shown;
        for (const SeenDialog& dialog : DialogWatchdog::instance().seen()) shown += " [" + dialog.caption + ": " + dialog.text + "]";
        FAIL() << "the server's window did not come up; running: " << (server_->running() ? "yes" : "no")
               << "; dialogs:" << shown;
    }
    // Activations reach the running server's class object; it stays up as long as the anchor does.
    ASSERT_EQ(CoCreateInstance(app::CLSID_KorvexOPCServer, nullptr, CLSCTX_LOCAL_SERVER, IID_IOPCServer,
                               reinterpret_cast<void**>(anchor_.ReleaseAndGetAddressOf())),
              S_OK);
}

HWND ServerProcesses::ServerWindow() const {
    if (!server_) return nullptr;
    for (HWND window = FindWindowExW(nullptr, nullptr, kServerWindowClass, nullptr); window;
         window = FindWindowExW(nullptr, window, kServerWindowClass, nullptr)) {
        DWORD owner = 0;
        GetWindowThreadProcessId(window, &owner);
        if (owner == server_->id()) return window;
    }
    return nullptr;
}

void ServerProcesses::StopServer() {
    anchor_.Reset();
    if (server_) {
        EXPECT_EQ(server_->waitForExit(std::chrono::seconds(15)), std::optional<DWORD>(0)) << server_->output();
    }
    server_.reset();
}

void ServerProcesses::StopSimulator() {
    if (simulator_ && simulator_->running() && control_) {
        control_->quit();
        simulator_->waitForExit();
    }
    control_.reset();
    simulator_.reset();
}

}  // namespace korvex::test
