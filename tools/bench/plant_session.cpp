#include "plant_session.h"

#include "bench_items.h"
#include "host_process.h"

#include "app/server_clsid.h"
#include "tests/support/proxy_registration.h"

#include <objbase.h>

#include <chrono>
#include <cstdio>
#include <cwchar>
#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace bench {
namespace {

std::unique_ptr<PlantSession> g_session;

std::string PlantFile(const BenchPlant& plant) {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    const std::filesystem::path folder = std::filesystem::path(temp) / L"korvex-bench";
    std::filesystem::create_directories(folder);
    char name[96];
    std::snprintf(name, sizeof name, "plant-%d-%d.toml", plant.points, plant.clockPoints);
    const std::filesystem::path file = folder / name;
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    const int stations = (plant.points + kPointsPerBenchStation - 1) / kPointsPerBenchStation;
    for (int s = 0; s < stations; ++s) {
        char station[64];
        std::snprintf(station, sizeof station, "[[station]]\nname = \"Bench%03d\"\ntransfer = true\n\n", s);
        out << station;
        for (int p = 0; p < kPointsPerBenchStation && s * kPointsPerBenchStation + p < plant.points; ++p) {
            char point[128];
            std::snprintf(point, sizeof point, "  [[station.analog]]\n  name = \"P%03d\"\n%s\n", p,
                          p < plant.clockPoints ? "  signal = { kind = \"clock\" }\n" : "");
            out << point;
        }
    }
    if (!out) throw std::runtime_error("cannot write the plant file " + file.string());
    return file.string();
}

}  // namespace

PlantSession::PlantSession(const BenchPlant& plant) : plant_(plant) {
    const auto started = std::chrono::steady_clock::now();
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    if (korvex::test::RegisterProxyStub() != S_OK) throw std::runtime_error("the proxy/stub DLL cannot be registered");
    simulator_ = std::make_unique<korvex::test::ChildProcess>(
        "scadasim.exe", std::vector<std::string>{"--plant=" + PlantFile(plant), "--period-ms=" + std::to_string(plant.periodMs),
                                                 "--registry"});
    // The server looks for the runtime once, when it starts: the mailbox must be published by then.
    if (!simulator_->waitForLine("ready", std::chrono::seconds(120)))
        throw std::runtime_error("the simulator did not start: " + simulator_->output());
    control_ = std::make_unique<korvex::test::SimulatorControl>();

    server_ = std::make_unique<korvex::test::ChildProcess>("KorvexOPCServer.exe");
    // The title shows the client count once the address space is built and the class registered.
    bool up = false;
    for (int i = 0; i < 2400 && !up && server_->running(); ++i) {
        for (HWND window = FindWindowExW(nullptr, nullptr, L"KorvexOPCServerFrame", nullptr); window && !up;
             window = FindWindowExW(nullptr, window, L"KorvexOPCServerFrame", nullptr)) {
            DWORD owner = 0;
            GetWindowThreadProcessId(window, &owner);
            wchar_t title[64] = L"";
            up = owner == server_->id() && GetWindowTextW(window, title, 64) > 0 && std::wcsstr(title, L"[Client:");
        }
        if (!up) Sleep(50);
    }
    if (!up) throw std::runtime_error("the server did not come up: " + server_->output());
    const HRESULT hr = CoCreateInstance(app::CLSID_KorvexOPCServer, nullptr, CLSCTX_LOCAL_SERVER, IID_IOPCServer,
                                        reinterpret_cast<void**>(anchor_.ReleaseAndGetAddressOf()));
    if (hr != S_OK) throw std::runtime_error("the server cannot be reached");
    startSeconds_ = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    serverHostPid_ = FindHostProcess("KorvexOPCServer.exe");
    wineServerHostPid_ = FindHostProcess("wineserver");
    if (!serverHostPid_) throw std::runtime_error("the server's host process cannot be found in /proc");
    privateBytesAtStart_ = ServerPrivateBytes();
}

PlantSession::~PlantSession() {
    anchor_.Reset();
    if (server_ && server_->running() && !server_->waitForExit(std::chrono::seconds(30)))
        std::fprintf(stderr, "korvex_bench: the server did not end by itself\n");
    server_.reset();
    if (simulator_ && simulator_->running() && control_) {
        try {
            control_->quit();
        } catch (const std::exception&) {
        }
        simulator_->waitForExit(std::chrono::seconds(20));
    }
    control_.reset();
    simulator_.reset();
}

korvex::com::ComPtr<IOPCServer> PlantSession::Connect() const {
    korvex::com::ComPtr<IOPCServer> server;
    const HRESULT hr = CoCreateInstance(app::CLSID_KorvexOPCServer, nullptr, CLSCTX_LOCAL_SERVER, IID_IOPCServer,
                                        reinterpret_cast<void**>(server.ReleaseAndGetAddressOf()));
    if (hr != S_OK) throw std::runtime_error("a client cannot connect");
    return server;
}

double PlantSession::ServerCpuSeconds() const { return HostCpuSeconds(serverHostPid_); }

double PlantSession::ServerPrivateBytes() const { return HostPrivateBytes(serverHostPid_); }

double PlantSession::WineServerCpuSeconds() const { return HostCpuSeconds(wineServerHostPid_); }

PlantSession& UsePlant(const BenchPlant& plant) {
    if (g_session && g_session->plant() == plant) return *g_session;
    g_session.reset();
    g_session = std::make_unique<PlantSession>(plant);
    return *g_session;
}

void EndPlant() { g_session.reset(); }

}  // namespace bench
