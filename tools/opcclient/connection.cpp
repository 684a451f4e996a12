#include "tools/opcclient/connection.h"

#include "tools/opcclient/status_names.h"

#include "com/string_convert.h"

namespace opcclient {

namespace {

std::string codeAndName(HRESULT code) {
    const std::string_view name = statusName(code);
    return hexCode(code) + (name.empty() ? "" : " " + std::string(name));
}

// Before there is a server to ask: the system's text only.
std::string systemDescription(HRESULT code) {
    const std::string text = systemMessage(code);
    return codeAndName(code) + (text.empty() ? "" : ": " + text);
}

constexpr const char* kDataSourceHint = "; the Korvex server ends at start when the SCADA runtime is not running";

}  // namespace

bool isConnectionLost(HRESULT code) {
    return code == HRESULT_FROM_WIN32(RPC_S_SERVER_UNAVAILABLE) || code == HRESULT_FROM_WIN32(RPC_S_CALL_FAILED) ||
           code == HRESULT_FROM_WIN32(RPC_S_CALL_FAILED_DNE) || code == RPC_E_DISCONNECTED ||
           code == RPC_E_SERVER_DIED || code == RPC_E_SERVER_DIED_DNE || code == CO_E_OBJNOTCONNECTED;
}

Connection::Connection(const std::string& progId) : progId_(progId) {
    CLSID clsid{};
    HRESULT hr = CLSIDFromProgID(korvex::com::fromUtf8(progId).c_str(), &clsid);
    if (FAILED(hr)) {
        throw ClientError("server " + progId + " is not registered (CLSIDFromProgID: " + systemDescription(hr) + ")",
                          kExitNoServer);
    }
    hr = CoCreateInstance(clsid, nullptr, CLSCTX_LOCAL_SERVER, IID_IOPCServer,
                          reinterpret_cast<void**>(server_.ReleaseAndGetAddressOf()));
    if (FAILED(hr)) {
        throw ClientError("cannot start server " + progId + " (CoCreateInstance: " + systemDescription(hr) + ")" +
                              kDataSourceHint,
                          kExitNoServer);
    }
    // A server may accept the activation and end right away, as ours does without the SCADA runtime.
    OPCSERVERSTATUS* status = nullptr;
    hr = server_->GetStatus(&status);
    if (SUCCEEDED(hr) && status) {
        CoTaskMemFree(status->szVendorInfo);
        CoTaskMemFree(status);
    } else if (isConnectionLost(hr)) {
        server_.Reset();
        throw ClientError("server " + progId + " ended right after it started (" + systemDescription(hr) + ")" +
                              kDataSourceHint,
                          kExitNoServer);
    }
    // So that the server's operator sees who is connected; a server that does not care may refuse.
    korvex::com::ComPtr<IOPCCommon> common;
    if (SUCCEEDED(server_.As(&common))) common->SetClientName(L"korvex-opc");
}

std::string Connection::statusText(HRESULT code) const {
    std::string text;
    if (server_ && !isConnectionLost(code)) {
        korvex::com::ComPtr<IOPCCommon> common;
        LPWSTR serverText = nullptr;
        if (SUCCEEDED(server_.As(&common)) && SUCCEEDED(common->GetErrorString(code, &serverText)) && serverText) {
            text = korvex::com::toUtf8(serverText);
        }
        CoTaskMemFree(serverText);
    }
    return text.empty() ? systemMessage(code) : text;
}

std::string Connection::describe(HRESULT code) const {
    const std::string text = statusText(code);
    return codeAndName(code) + (text.empty() ? "" : ": " + text);
}

void Connection::check(HRESULT hr, std::string_view what) const {
    if (SUCCEEDED(hr)) return;
    if (isConnectionLost(hr)) {
        throw ClientError(std::string(what) + ": the connection to the server was lost (" + describe(hr) + ")",
                          kExitServerGone);
    }
    throw ClientError(std::string(what) + ": " + describe(hr), kExitFailed);
}

bool Connection::alive() const {
    OPCSERVERSTATUS* status = nullptr;
    const HRESULT hr = server_->GetStatus(&status);
    if (SUCCEEDED(hr) && status) {
        CoTaskMemFree(status->szVendorInfo);
        CoTaskMemFree(status);
    }
    return !isConnectionLost(hr);
}

void Connection::failUnsupported(HRESULT hr, std::string_view interfaceName, std::string_view purpose) const {
    check(isConnectionLost(hr) ? hr : S_OK, interfaceName);
    throw ClientError("server " + progId_ + " does not offer " + std::string(interfaceName) + " (" +
                          std::string(purpose) + "): " + describe(hr),
                      kExitFailed);
}

}  // namespace opcclient
