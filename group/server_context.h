// What a server object and its groups work on, handed to them when they are made: the address
// space they serve and the server's state. The host process makes one for its life; a test makes
// its own.
#pragma once

#include "opcda.h"

#include <windows.h>

#include <atomic>

class COPCAddressSpaceMgt;

// The state every server object and group of a process shares.
class ServerState {
public:
    OPCSERVERSTATE status() const { return status_; }
    void SetStatus(OPCSERVERSTATE status) { status_ = status; }
    // Every operation that checks the server state refuses work with E_FAIL while it is FAILED.
    bool IsFailed() const { return status_ == OPC_STATUS_FAILED; }

    // The process start time, taken once the process knows it is the only instance.
    FILETIME startTime() const {
        const ULONGLONG t = startTime_;
        return FILETIME{static_cast<DWORD>(t), static_cast<DWORD>(t >> 32)};
    }
    void SetStartTime(const FILETIME& t) {
        startTime_ = (static_cast<ULONGLONG>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
    }

    // Group server handles: unique across all clients of the process, never reused.
    OPCHANDLE NextGroupHandle() { return nextGroupHandle_.fetch_add(1); }

private:
    std::atomic<OPCSERVERSTATE> status_{OPC_STATUS_RUNNING};
    std::atomic<ULONGLONG> startTime_{0};
    std::atomic<OPCHANDLE> nextGroupHandle_{1};
};

// Both outlive every server object and group made with them.
struct ServerContext {
    COPCAddressSpaceMgt& addressSpace;
    ServerState& state;
};
