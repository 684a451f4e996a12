#include "server/process_state.h"

#include "addrspace/address_space.h"

#include <atomic>

namespace server {
namespace {

std::atomic<OPCSERVERSTATE> g_serverState{OPC_STATUS_RUNNING};
std::atomic<ULONGLONG> g_startTime{0};
std::atomic<HWND> g_mainWindow{nullptr};
std::atomic<OPCHANDLE> g_nextGroupHandle{1};

}  // namespace

void SetStartTime(const FILETIME& startTime) {
    g_startTime = (static_cast<ULONGLONG>(startTime.dwHighDateTime) << 32) | startTime.dwLowDateTime;
}

FILETIME StartTime() {
    const ULONGLONG t = g_startTime;
    return FILETIME{static_cast<DWORD>(t), static_cast<DWORD>(t >> 32)};
}

OPCSERVERSTATE ServerState() { return g_serverState; }
void SetServerState(OPCSERVERSTATE state) { g_serverState = state; }
bool IsFailed() { return g_serverState == OPC_STATUS_FAILED; }

void SetMainWindow(HWND window) { g_mainWindow = window; }
HWND MainWindow() { return g_mainWindow; }

COPCAddressSpaceMgt& AddressSpace() {
    static COPCAddressSpaceMgt space;
    return space;
}

DWORD ReviseUpdateRate(DWORD requested) {
    if (requested <= kBaseRate) return kBaseRate;
    const DWORD remainder = requested % kBaseRate;
    const DWORD below = requested - remainder;
    // The largest rate, 0xFFFFFFFF, has remainder 95 and so never rounds up past the range.
    return remainder < kBaseRate / 2 ? below : below + kBaseRate;
}

DWORD ReviseKeepAlive(DWORD requested) { return requested == 0 ? 0 : ReviseUpdateRate(requested); }

OPCHANDLE NextGroupHandle() { return g_nextGroupHandle.fetch_add(1); }

}  // namespace server
