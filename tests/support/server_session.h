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

// Lets the update cycle run: in process, where no update thread runs, one tick right now; across
// processes the server's own thread ticks and this does nothing.
void TickInProcess();

// Moves an analog point of the runtime, as the plant would: in process in the runtime's records,
// across processes through the simulator.
void MoveAnalog(const char* station, const char* point, double value);

// Brings the server side up once per test program (the runtime, the data side, registration).
void StartServerSide();
void StopServerSide();

}  // namespace korvex::test
