// How a test reaches the server: in the test process (server objects created directly, for the
// cases a proxy never lets through) or out of process through COM activation and the real proxy.
// The same test cases run over both.
#pragma once

#include "com/com_ptr.h"
#include "opcda.h"

#include <string_view>

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

// The update thread ticking at the base rate: the server program's own across processes, started
// in this process otherwise.
void StartUpdateCycle();

// The runtime's value of an analog point, moved as the runtime would move it: through the
// simulator's control channel across processes, in the published image in process.
void SetAnalogValue(std::string_view station, std::string_view point, double value);
// The runtime's main window goes away, as when the runtime stops: the server reads nothing more.
// For good: only the last test of a program may do it.
void StopRuntime();

}  // namespace korvex::test
