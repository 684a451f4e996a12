#include "tools/opcclient/status_names.h"

#include "com/string_convert.h"

#include "opcerror.h"

#include <olectl.h>

#include <array>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <utility>

namespace opcclient {

namespace {

constexpr std::array<std::pair<HRESULT, std::string_view>, 43> kNames{{
    {S_OK, "S_OK"},
    {S_FALSE, "S_FALSE"},
    {OPC_S_UNSUPPORTEDRATE, "OPC_S_UNSUPPORTEDRATE"},
    {OPC_S_CLAMP, "OPC_S_CLAMP"},
    {OPC_S_INUSE, "OPC_S_INUSE"},
    {OPC_S_DATAQUEUEOVERFLOW, "OPC_S_DATAQUEUEOVERFLOW"},
    {OPC_E_INVALIDHANDLE, "OPC_E_INVALIDHANDLE"},
    {OPC_E_BADTYPE, "OPC_E_BADTYPE"},
    {OPC_E_PUBLIC, "OPC_E_PUBLIC"},
    {OPC_E_BADRIGHTS, "OPC_E_BADRIGHTS"},
    {OPC_E_UNKNOWNITEMID, "OPC_E_UNKNOWNITEMID"},
    {OPC_E_INVALIDITEMID, "OPC_E_INVALIDITEMID"},
    {OPC_E_INVALIDFILTER, "OPC_E_INVALIDFILTER"},
    {OPC_E_UNKNOWNPATH, "OPC_E_UNKNOWNPATH"},
    {OPC_E_RANGE, "OPC_E_RANGE"},
    {OPC_E_DUPLICATENAME, "OPC_E_DUPLICATENAME"},
    {OPC_E_INVALIDCONFIGFILE, "OPC_E_INVALIDCONFIGFILE"},
    {OPC_E_NOTFOUND, "OPC_E_NOTFOUND"},
    {OPC_E_INVALID_PID, "OPC_E_INVALID_PID"},
    {OPC_E_DEADBANDNOTSET, "OPC_E_DEADBANDNOTSET"},
    {OPC_E_DEADBANDNOTSUPPORTED, "OPC_E_DEADBANDNOTSUPPORTED"},
    {OPC_E_NOBUFFERING, "OPC_E_NOBUFFERING"},
    {OPC_E_INVALIDCONTINUATIONPOINT, "OPC_E_INVALIDCONTINUATIONPOINT"},
    {OPC_E_RATENOTSET, "OPC_E_RATENOTSET"},
    {OPC_E_NOTSUPPORTED, "OPC_E_NOTSUPPORTED"},
    {E_NOTIMPL, "E_NOTIMPL"},
    {E_NOINTERFACE, "E_NOINTERFACE"},
    {E_POINTER, "E_POINTER"},
    {E_FAIL, "E_FAIL"},
    {E_UNEXPECTED, "E_UNEXPECTED"},
    {E_OUTOFMEMORY, "E_OUTOFMEMORY"},
    {E_INVALIDARG, "E_INVALIDARG"},
    {E_ACCESSDENIED, "E_ACCESSDENIED"},
    {OLE_E_NOCONNECTION, "OLE_E_NOCONNECTION"},
    {CONNECT_E_NOCONNECTION, "CONNECT_E_NOCONNECTION"},
    {CONNECT_E_ADVISELIMIT, "CONNECT_E_ADVISELIMIT"},
    {CONNECT_E_CANNOTCONNECT, "CONNECT_E_CANNOTCONNECT"},
    {REGDB_E_CLASSNOTREG, "REGDB_E_CLASSNOTREG"},
    {CO_E_CLASSSTRING, "CO_E_CLASSSTRING"},
    {CO_E_SERVER_EXEC_FAILURE, "CO_E_SERVER_EXEC_FAILURE"},
    {HRESULT_FROM_WIN32(RPC_S_SERVER_UNAVAILABLE), "RPC_S_SERVER_UNAVAILABLE"},
    {HRESULT_FROM_WIN32(RPC_S_CALL_FAILED), "RPC_S_CALL_FAILED"},
    {RPC_E_DISCONNECTED, "RPC_E_DISCONNECTED"},
}};

}  // namespace

std::string_view statusName(HRESULT code) {
    for (const auto& [value, name] : kNames)
        if (value == code) return name;
    return {};
}

std::optional<HRESULT> parseStatusCode(std::string_view text) {
    for (const auto& [value, name] : kNames)
        if (name == text) return value;
    const char* end = text.data() + text.size();
    if (text.starts_with("0x") || text.starts_with("0X")) {
        std::uint32_t value = 0;
        const auto [stop, error] = std::from_chars(text.data() + 2, end, value, 16);
        if (error != std::errc() || stop != end || text.size() == 2) return std::nullopt;
        return static_cast<HRESULT>(value);
    }
    std::int64_t value = 0;
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    if (error != std::errc() || stop != end || value < INT32_MIN || value > UINT32_MAX) return std::nullopt;
    return static_cast<HRESULT>(static_cast<std::uint32_t>(value));
}

std::string hexCode(HRESULT code) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(code));
    return text;
}

std::string systemMessage(HRESULT code) {
    wchar_t* buffer = nullptr;
    const DWORD length = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                            FORMAT_MESSAGE_IGNORE_INSERTS,
                                        nullptr, static_cast<DWORD>(code), 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::wstring text(buffer ? buffer : L"", length);
    LocalFree(buffer);
    while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r' || text.back() == L' ' || text.back() == L'.'))
        text.pop_back();
    return korvex::com::toUtf8(text);
}

}  // namespace opcclient
