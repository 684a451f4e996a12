// CPU time and memory of another process of this Wine prefix, read from the host's /proc through
// drive Z:. Wine answers GetProcessTimes for another process with the caller's own times, so the
// server's figures are taken where Linux keeps them.
#pragma once

#include <string_view>

namespace bench {

// The host process id of the running program whose command line holds `program` (e.g.
// "KorvexOPCServer.exe", "wineserver") and whose environment names this process's WINEPREFIX;
// 0 when there is none.
int FindHostProcess(std::string_view program);
// User and system time so far; 0 when the process is gone.
double HostCpuSeconds(int hostPid);
// Private memory in use: anonymous resident pages and swapped pages (RssAnon + VmSwap).
double HostPrivateBytes(int hostPid);

}  // namespace bench
