// One accepted asynchronous call of a group: what the update thread needs to execute it in a later
// tick and to report its outcome. Only the items that passed the call's checks are in it.
#pragma once

#include "opcda.h"

#include <oleauto.h>

#include <atomic>
#include <cstdint>
#include <vector>

struct AsyncRequest {
    enum class Operation { Read, Refresh, Write };
    // Where a read takes its values from; ByMaxAge decides per item.
    enum class Source { ByMaxAge, Cache, Device };

    AsyncRequest(Operation operation, Source source, DWORD transactionId)
        : operation(operation), source(source), transactionId(transactionId) {}
    AsyncRequest(const AsyncRequest&) = delete;
    AsyncRequest& operator=(const AsyncRequest&) = delete;
    ~AsyncRequest() {
        for (OPCITEMVQT& write : writes) VariantClear(&write.vDataValue);
    }

    const Operation operation;
    const Source source;
    const DWORD transactionId;
    DWORD cancelId = 0;
    std::uint64_t sequence = 0;  // its place among every request the group ever queued, from 1
    OPCHANDLE clientGroupHandle = 0;  // as it was at the time of the call
    // Set by Cancel2 at any time until the request is freed; read before every item.
    std::atomic<bool> cancelled{false};
    std::vector<OPCHANDLE> serverHandles;
    std::vector<DWORD> maxAges;       // ReadMaxAge and RefreshMaxAge: one per handle
    std::vector<OPCITEMVQT> writes;   // Write and WriteVQT: one per handle, each VARIANT owned
};
