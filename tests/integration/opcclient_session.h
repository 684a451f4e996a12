// The command-line client (korvex-opc.exe) as a child process against the runtime simulator and
// the server program: the simulator (frozen, so that values change only when a test sets them),
// the server started once by hand (which registers it) and an anchor connection of the test that
// keeps it up between client runs, as the server ends when its last client leaves.
#pragma once

#include "tests/support/simulator_control.h"
#include "tests/support/wine_process.h"

#include "com/com_ptr.h"
#include "opcda.h"

#include <nlohmann/json.hpp>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

namespace korvex::test {

struct ClientRun {
    DWORD exitCode = 0xFFFFFFFF;  // this when it did not end in time
    std::string output;
    std::string errors;
};

// Runs korvex-opc.exe with `args` to its end.
ClientRun RunClient(const std::vector<std::string>& args, std::chrono::milliseconds timeout = std::chrono::seconds(30));

// Every line of `output` parsed as JSON; a line that does not parse fails the test.
std::vector<nlohmann::json> JsonLines(const std::string& output);

class ClientSession {
public:
    ClientSession();
    ~ClientSession();

    // The simulator and a server with the anchor; started again where they are gone.
    void Start();
    // The server's main window.
    HWND ServerWindow() const;
    ChildProcess& Server() { return *server_; }
    SimulatorControl& Simulator() { return *control_; }
    // Releases the anchor and waits for the server to end by itself.
    void StopServer();
    void StopSimulator();

private:
    std::unique_ptr<ChildProcess> simulator_;
    std::unique_ptr<SimulatorControl> control_;
    std::unique_ptr<ChildProcess> server_;
    com::ComPtr<IOPCServer> anchor_;
};

}  // namespace korvex::test
