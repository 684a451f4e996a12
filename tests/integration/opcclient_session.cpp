#include "tests/integration/opcclient_session.h"

#include "tests/support/proxy_registration.h"
#include "tests/support/simulator_launch.h"

#include "app/server_clsid.h"

#include <gtest/gtest.h>
#include <objbase.h>

#include <cwchar>
#include <optional>
#include <sstream>

namespace korvex::test {

namespace {

constexpr const wchar_t* kServerWindowClass = L"KorvexOPCServerFrame";

}  // namespace

ClientRun RunClient(const std::vector<std::string>& args, std::chrono::milliseconds timeout) {
    ProcessOptions options;
    options.separateErrors = true;
    ChildProcess client("korvex-opc.exe", args, options);
    ClientRun run;
    if (const std::optional<DWORD> code = client.waitForExit(timeout)) {
        run.exitCode = *code;
    } else {
        client.kill();
        ADD_FAILURE() << "korvex-opc did not end within " << timeout.count() << " ms";
    }
    run.output = client.output();
    run.errors = client.errors();
    return run;
}

std::vector<nlohmann::json> JsonLines(const std::string& output) {
    std::vector<nlohmann::json> objects;
    std::istringstream lines(output);
    for (std::string line; std::getline(lines, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty()) continue;
        try {
            objects.push_back(nlohmann::json::parse(line));
        } catch (const nlohmann::json::parse_error& error) {
            ADD_FAILURE() << "not JSON: " << line << " (" << error.what() << ")";
        }
    }
    return objects;
}

ClientSession::ClientSession() { CoInitializeEx(nullptr, COINIT_MULTITHREADED); }

ClientSession::~ClientSession() {
    anchor_.Reset();
    if (server_ && server_->running()) server_->waitForExit(std::chrono::seconds(15));
    server_.reset();
    StopSimulator();
}

void ClientSession::Start() {
    ASSERT_EQ(RegisterProxyStub(), S_OK) << "registering the proxy/stub DLL";
    if (!simulator_ || !simulator_->running()) {
        simulator_ = std::make_unique<ChildProcess>(startSimulator({"--frozen", "--registry"}));
        ASSERT_TRUE(simulator_->waitForLine("ready")) << simulator_->output();
        control_ = std::make_unique<SimulatorControl>();
    }
    if (server_ && server_->running() && anchor_) return;
    anchor_.Reset();
    server_ = std::make_unique<ChildProcess>("KorvexOPCServer.exe");
    // The title shows the client count once the address space is built and the class registered.
    HWND window = nullptr;
    for (int i = 0; i < 400 && !window; ++i) {
        wchar_t title[64] = L"";
        window = ServerWindow();
        if (window && !(GetWindowTextW(window, title, 64) > 0 && std::wcsstr(title, L"[Client:"))) window = nullptr;
        if (!window) Sleep(50);
    }
    ASSERT_NE(window, nullptr) << "the server's window did not come up";
    ASSERT_EQ(CoCreateInstance(app::CLSID_KorvexOPCServer, nullptr, CLSCTX_LOCAL_SERVER, IID_IOPCServer,
                               reinterpret_cast<void**>(anchor_.ReleaseAndGetAddressOf())),
              S_OK);
}

HWND ClientSession::ServerWindow() const {
    if (!server_) return nullptr;
    for (HWND window = FindWindowExW(nullptr, nullptr, kServerWindowClass, nullptr); window;
         window = FindWindowExW(nullptr, window, kServerWindowClass, nullptr)) {
        DWORD owner = 0;
        GetWindowThreadProcessId(window, &owner);
        if (owner == server_->id()) return window;
    }
    return nullptr;
}

void ClientSession::StopServer() {
    anchor_.Reset();
    if (server_) {
        EXPECT_EQ(server_->waitForExit(std::chrono::seconds(15)), std::optional<DWORD>(0));
    }
    server_.reset();
}

void ClientSession::StopSimulator() {
    if (simulator_ && simulator_->running() && control_) {
        control_->quit();
        simulator_->waitForExit();
    }
    control_.reset();
    simulator_.reset();
}

}  // namespace korvex::test
