// The server against clients that misbehave, as programs of their own beside the simulator and the
// server program: korvex-hostile's 20,000 calls with boundary and random arguments, clients killed
// mid-call, mid-subscription and while blocked in a data-change callback, and 20 clients that
// activate the server at the same moment. Killed clients leave their server objects behind under
// Wine (it has no COM garbage collection), so the last test kills the server it leaves (Wine then
// refuses every activation until the wineserver restarts, which run.sh does after the program).
#include "tests/support/callback_sink.h"
#include "tests/support/dialog_watchdog.h"
#include "tests/support/server_processes.h"
#include "tests/support/wine_process.h"

#include "app/server_clsid.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace korvex::test {
namespace {

using namespace std::chrono_literals;

// Read-only, so that only the simulator moves it: the hostile client writes every writable point
// with its own values, and a write landing between the simulator's value and the next scan hides
// that value from the observer for good (20 s and more under load, until the hostile client ends).
constexpr const wchar_t* kWatched = L"NorthSubstation.analog.BusbarVoltage";
constexpr const char* kWatchedId = "NorthSubstation.analog.BusbarVoltage";

// The client count in the server's title ("... [Client: N]"), -1 when there is no window.
int ClientCount(ServerProcesses& processes) {
    wchar_t title[128] = L"";
    const HWND window = processes.ServerWindow();
    if (!window || GetWindowTextW(window, title, 128) == 0) return -1;
    const wchar_t* count = wcsstr(title, L"Client:");
    return count ? _wtoi(count + 7) : -1;
}

// A group of the test's own connection subscribed to kWatched, active at the base rate.
struct Observer {
    com::ComPtr<IOPCServer> server;
    com::ComPtr<IOPCItemMgt> items;
    com::ComPtr<CallbackSink> sink = com::make<CallbackSink>();
    OPCHANDLE itemHandle = 0;

    void Connect() {
        ASSERT_EQ(CoCreateInstance(app::CLSID_KorvexOPCServer, nullptr, CLSCTX_LOCAL_SERVER, IID_IOPCServer,
                                   reinterpret_cast<void**>(server.ReleaseAndGetAddressOf())),
                  S_OK);
        OPCHANDLE group = 0;
        DWORD revised = 0;
        ASSERT_EQ(server->AddGroup(L"observer", TRUE, 200, 7, nullptr, nullptr, 0, &group, &revised, IID_IOPCItemMgt,
                                   reinterpret_cast<LPUNKNOWN*>(items.ReleaseAndGetAddressOf())),
                  S_OK);
        ASSERT_TRUE(sink->Advise(items.Get()));
        OPCITEMDEF definition{};
        definition.szItemID = const_cast<LPWSTR>(kWatched);
        definition.bActive = TRUE;
        definition.hClient = 1;
        OPCITEMRESULT* results = nullptr;
        HRESULT* errors = nullptr;
        ASSERT_EQ(items->AddItems(1, &definition, &results, &errors), S_OK);
        itemHandle = results[0].hServer;
        CoTaskMemFree(results);
        CoTaskMemFree(errors);
    }

    // The simulator moves the point to `value`; the observer's data change with it must come.
    bool SeesChangeTo(ServerProcesses& processes, double value, int ticks = 25) {
        processes.Simulator().setAnalog("NorthSubstation", "BusbarVoltage", value);
        return sink->Take([value](const RecordedCallback& c) {
                       return c.kind == RecordedCallback::Kind::DataChange && !c.values.empty() && c.values[0] == value;
                   }, ticks).has_value();
    }

    // A synchronous read from the device answers for the point.
    HRESULT Read() {
        com::ComPtr<IOPCSyncIO> io;
        items->QueryInterface(IID_IOPCSyncIO, reinterpret_cast<void**>(io.ReleaseAndGetAddressOf()));
        OPCITEMSTATE* states = nullptr;
        HRESULT* errors = nullptr;
        const HRESULT hr = io->Read(OPC_DS_DEVICE, 1, &itemHandle, &states, &errors);
        if (states) VariantClear(&states[0].vDataValue);
        CoTaskMemFree(states);
        CoTaskMemFree(errors);
        return hr;
    }
};

// The last line of a program's output.
std::string LastLines(const std::string& output, int lines) {
    std::size_t at = output.size();
    for (int i = 0; i <= lines && at != std::string::npos && at > 0; ++i) at = output.rfind('\n', at - 1);
    return at == std::string::npos ? output : output.substr(at + 1);
}

TEST(ClientFaults, TwentySimultaneousFirstActivationsStartOneServer) {
    ServerProcesses processes;
    processes.Start();  // registers the server, which then ends with its anchor
    ASSERT_FALSE(HasFatalFailure());
    processes.StopServer();
    ASSERT_TRUE(runningProcesses("KorvexOPCServer.exe").empty());
    DialogWatchdog::instance().reset();

    std::vector<ChildProcess> clients;
    for (int i = 0; i < 20; ++i)
        clients.emplace_back("korvex-opc.exe", std::vector<std::string>{"watch", "NorthSubstation.analog.Setpoint",
                                                                        "--rate", "200", "--duration", "8"});
    std::size_t most = 0;
    for (int i = 0; i < 50; ++i) {  // the first 5 s: all start, extra servers end at once
        most = std::max(most, runningProcesses("KorvexOPCServer.exe").size());
        Sleep(100);
    }
    const std::size_t settled = runningProcesses("KorvexOPCServer.exe").size();
    int connected = 0;
    std::string failures;
    for (ChildProcess& client : clients) {
        const std::optional<DWORD> code = client.waitForExit(30s);
        if (code == std::optional<DWORD>(0) && client.output().find("good") != std::string::npos)
            ++connected;
        else
            failures += "\n  exit " + (code ? std::to_string(*code) : std::string("none")) + ": " + LastLines(client.output(), 2);
    }
    std::printf("20 simultaneous first activations: %d clients received data, at most %zu server processes at once, "
                "%zu after 5 s%s\n",
                connected, most, settled, failures.c_str());
    EXPECT_EQ(settled, 1u) << "exactly one server serves them";
    EXPECT_TRUE(DialogWatchdog::instance().seen().empty()) << "no process showed a dialog";
    EXPECT_GE(connected, 1);
    processes.StopSimulator();
}

TEST(ClientFaults, HostileCallsLeaveTheServerServingOthers) {
    ServerProcesses processes;
    processes.Start();
    ASSERT_FALSE(HasFatalFailure());
    Observer observer;
    observer.Connect();
    ASSERT_FALSE(HasFatalFailure());
    ASSERT_TRUE(observer.SeesChangeTo(processes, 11.0));

    ChildProcess hostile("korvex-hostile.exe", {"--calls", "20000", "--seconds", "150"});
    const std::optional<DWORD> code = hostile.waitForExit(200s);
    if (!code) hostile.kill();
    const std::string output = hostile.output();
    std::printf("%s", LastLines(output, 3).c_str());
    EXPECT_EQ(code, std::optional<DWORD>(0)) << output;
    EXPECT_NE(output.find("korvex-hostile: 2"), std::string::npos) << "20,000 calls or more were made";
    EXPECT_TRUE(processes.Server().running());
    EXPECT_TRUE(observer.SeesChangeTo(processes, 12.0)) << "the observer's data changes go on";
    EXPECT_EQ(observer.Read(), S_OK);
}

TEST(ClientFaults, KilledClientsLeaveOthersServed) {
    ServerProcesses processes;
    processes.Start();
    ASSERT_FALSE(HasFatalFailure());
    Observer observer;
    observer.Connect();
    ASSERT_FALSE(HasFatalFailure());
    ASSERT_TRUE(observer.SeesChangeTo(processes, 21.0));
    const int before = ClientCount(processes);

    // Mid-subscription: a watch that has printed its first value.
    ProcessOptions separate;
    separate.separateErrors = true;
    ChildProcess watch("korvex-opc.exe", {"watch", kWatchedId, "--rate", "200"}, separate);
    // Blocked in a callback: its sink never returns from the first data change; each later change
    // of the observer's point is queued for it too.
    ChildProcess blocked("korvex-hostile.exe", {"--block-in-callback", "--item", kWatchedId});
    ASSERT_TRUE(blocked.waitForLine("subscribed", 30s)) << blocked.output();
    ASSERT_TRUE(observer.SeesChangeTo(processes, 22.0));
    ASSERT_TRUE(blocked.waitForLine("blocked in a callback", 20s)) << blocked.output();
    // Mid-call: a hostile client calling as fast as it can.
    ChildProcess calling("korvex-hostile.exe", {"--calls", "100000000", "--seconds", "120"});
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    while (watch.output().find("good") == std::string::npos && std::chrono::steady_clock::now() < deadline) Sleep(50);
    ASSERT_NE(watch.output().find("good"), std::string::npos) << watch.output() << watch.errors();
    Sleep(2000);  // the hostile client is well into its calls
    ASSERT_TRUE(calling.running()) << calling.output();

    EXPECT_TRUE(observer.SeesChangeTo(processes, 23.0)) << "a client blocked in its callback and another calling "
                                                           "hard hold nobody up";
    const int connected = ClientCount(processes);
    EXPECT_GE(connected, before + 3) << "the watch, the blocked client and the hostile client are counted";
    watch.kill();
    blocked.kill();
    calling.kill();

    EXPECT_TRUE(observer.SeesChangeTo(processes, 24.0)) << "data changes go on after the kills";
    EXPECT_TRUE(observer.SeesChangeTo(processes, 25.0));
    EXPECT_EQ(observer.Read(), S_OK);
    EXPECT_TRUE(processes.Server().running());
    Sleep(3000);
    const int after = ClientCount(processes);
    std::printf("clients counted: %d before, %d with the three clients, %d 3 s after they were killed\n", before,
                connected, after);
    EXPECT_LE(after, connected);
    processes.Server().kill();
}

}  // namespace
}  // namespace korvex::test
