// The client's callback objects for watch: the data-change sink of its group and the shutdown
// sink of the server. They print as the data arrives (on COM's threads) and signal the watch loop.
#pragma once

#include "tools/opcclient/item_group.h"
#include "tools/opcclient/output.h"

#include "com/data_callback_sink.h"

#include <mutex>
#include <optional>
#include <string>

namespace opcclient {

class DataChangeSink final : public korvex::com::DataCallbackSink<DataChangeSink, korvex::com::no_module_lock> {
public:
    DataChangeSink(const Connection& connection, const ItemGroup& group, Output& out)
        : connection_(connection), group_(group), out_(out) {}

    HRESULT STDMETHODCALLTYPE OnDataChange(DWORD transactionId, OPCHANDLE group, HRESULT masterQuality,
                                           HRESULT masterError, DWORD count, OPCHANDLE* clientHandles, VARIANT* values,
                                           WORD* qualities, FILETIME* timestamps, HRESULT* errors) override;

private:
    const Connection& connection_;
    const ItemGroup& group_;
    Output& out_;
};

class ShutdownSink final : public korvex::com::ComObject<ShutdownSink, IOPCShutdown, korvex::com::no_module_lock> {
public:
    explicit ShutdownSink(HANDLE wake) : wake_(wake) {}

    HRESULT STDMETHODCALLTYPE ShutdownRequest(LPCWSTR reason) override;

    // The reason the server gave, once it has announced its shutdown.
    std::optional<std::string> reason() const;

private:
    HANDLE wake_;
    mutable std::mutex mutex_;
    std::optional<std::string> reason_;
};

}  // namespace opcclient
