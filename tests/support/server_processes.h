// The runtime simulator (frozen, so that values change only when a test sets them) and the server
// program started once by hand (which registers it), with an anchor connection of the test that
// keeps the server up between clients: it ends when its last client leaves, and an activation
// racing with that ending would fail.
#pragma once

#include "tests/support/simulator_control.h"
#include "tests/support/wine_process.h"

#include "com/com_ptr.h"
#include "opcda.h"

#include <memory>

namespace korvex::test {

class ServerProcesses {
public:
    ServerProcesses();
    ~ServerProcesses();

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
