// Callbacks gathered while the update thread holds the registry, server and group locks, and sent
// once every lock is released: a client that calls the server from inside its callback never waits
// for a lock the sender holds.
#pragma once

#include "com/com_ptr.h"
#include "opcda.h"

#include <oaidl.h>

#include <vector>

struct DataChangeCallback {
    std::vector<korvex::com::ComPtr<IOPCDataCallback>> sinks;
    OPCHANDLE clientGroupHandle = 0;
    HRESULT masterQuality = S_OK;
    HRESULT masterError = S_OK;
    std::vector<OPCHANDLE> clientHandles;
    std::vector<VARIANT> values;  // owned: cleared after sending
    std::vector<WORD> qualities;
    std::vector<FILETIME> timestamps;
    std::vector<HRESULT> errors;

    DataChangeCallback() = default;
    DataChangeCallback(DataChangeCallback&&) = default;
    DataChangeCallback& operator=(DataChangeCallback&&) = default;
    ~DataChangeCallback();

    // OnDataChange with transaction 0 to every sink in subscription order; what a sink returns is
    // ignored. An empty callback is a keep-alive.
    void Send() const;
};

using CallbackOutbox = std::vector<DataChangeCallback>;
