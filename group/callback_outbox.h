// Callbacks gathered while the update thread holds the registry, server and group locks, and sent
// once every lock is released: a client that calls the server from inside its callback never waits
// for a lock the sender holds.
#pragma once

#include "com/com_ptr.h"
#include "opcda.h"

#include <oaidl.h>

#include <vector>

struct GroupCallback {
    enum class Kind { DataChange, ReadComplete, WriteComplete, CancelComplete };

    Kind kind = Kind::DataChange;
    std::vector<korvex::com::ComPtr<IOPCDataCallback>> sinks;
    DWORD transactionId = 0;  // 0 for the data changes of the update cycle
    OPCHANDLE clientGroupHandle = 0;
    HRESULT masterQuality = S_OK;  // not sent with write and cancel completions
    HRESULT masterError = S_OK;    // not sent with cancel completions
    std::vector<OPCHANDLE> clientHandles;
    std::vector<VARIANT> values;  // owned: cleared on destruction; data changes and read completions
    std::vector<WORD> qualities;
    std::vector<FILETIME> timestamps;
    std::vector<HRESULT> errors;
    // The group it comes from (its server handle), set by the server object that ticks the group:
    // a client's callbacks of one group are delivered in order and may be merged while they wait.
    OPCHANDLE serverGroupHandle = 0;

    GroupCallback() = default;
    GroupCallback(GroupCallback&&) = default;
    // The values it held are cleared with the callback moved out of the way.
    GroupCallback& operator=(GroupCallback&& other) noexcept;
    void swap(GroupCallback& other) noexcept;
    friend void swap(GroupCallback& a, GroupCallback& b) noexcept { a.swap(b); }
    ~GroupCallback();

    // The callback's method on every sink in subscription order. A data change without items is a
    // keep-alive. What the sinks return changes nothing here; the first failure (else S_OK) is
    // handed back for the operator's view of the client.
    HRESULT Send() const;
};

using CallbackOutbox = std::vector<GroupCallback>;
