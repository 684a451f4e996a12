#include "tools/opcclient/watch_sinks.h"

#include "tools/opcclient/item_value_format.h"

#include "com/string_convert.h"

namespace opcclient {

HRESULT STDMETHODCALLTYPE DataChangeSink::OnDataChange(DWORD, OPCHANDLE, HRESULT, HRESULT, DWORD count,
                                                        OPCHANDLE* clientHandles, VARIANT* values, WORD* qualities,
                                                        FILETIME* timestamps, HRESULT* errors) {
    const auto& items = group_.items();
    for (DWORD i = 0; i < count; ++i) {
        if (clientHandles[i] >= items.size()) continue;  // not a handle this client gave
        const std::string& itemId = items[clientHandles[i]].itemId;
        if (FAILED(errors[i])) {
            out_.itemFailure(connection_, itemId, errors[i]);
            continue;
        }
        const ItemValue value{itemId, &values[i], qualities[i], timestamps[i]};
        if (out_.json())
            out_.object(itemValueJson(value));
        else
            out_.line(itemValueLine(value));
    }
    return S_OK;
}

HRESULT STDMETHODCALLTYPE ShutdownSink::ShutdownRequest(LPCWSTR reason) {
    {
        std::lock_guard lock(mutex_);
        reason_ = korvex::com::toUtf8(reason ? reason : L"");
    }
    SetEvent(wake_);
    return S_OK;
}

std::optional<std::string> ShutdownSink::reason() const {
    std::lock_guard lock(mutex_);
    return reason_;
}

}  // namespace opcclient
