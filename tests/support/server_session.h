// How a test reaches the server: in the test process (server objects created directly, for the
// cases a proxy never lets through) or out of process through COM activation and the real proxy.
// The same test cases run over both.
#pragma once

#include "com/com_ptr.h"
#include "opcda.h"

namespace korvex::test {

// True when connections go through the proxy to the server process.
bool CrossProcess();

// A new client connection: a new server object.
com::ComPtr<IOPCServer> Connect();

// Brings the server side up once per test program (the runtime, the data side, registration).
void StartServerSide();
void StopServerSide();

}  // namespace korvex::test
