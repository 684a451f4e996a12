// Process-wide state of the server subsystem that groups and server objects share.
#pragma once

#include "server/server_module.h"

namespace server {

// Every operation that checks the server state refuses work with E_FAIL while it is FAILED.
bool IsFailed();

HWND MainWindow();

// Rates are multiples of the base rate: at most the base rate gives the base rate; otherwise the
// nearest multiple, an exact half going up (250 -> 200, 300 -> 400, 1099 -> 1000, 1100 -> 1200).
DWORD ReviseUpdateRate(DWORD requested);
// Keep-alive times follow the same rule, except that 0 stays 0 (keep-alive off).
DWORD ReviseKeepAlive(DWORD requested);

// Group server handles: unique across all clients of the process, never reused.
OPCHANDLE NextGroupHandle();

}  // namespace server
