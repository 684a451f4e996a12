// The connection to one OPC DA server: activation by ProgID, the interfaces a command needs, and
// failures turned into messages that name the call and give the status code with its text.
#pragma once

#include "tools/opcclient/exit_codes.h"

#include "com/com_ptr.h"
#include "opccomn.h"
#include "opcda.h"

#include <stdexcept>
#include <string>
#include <string_view>

namespace opcclient {

// A failure to report: the message names the call or the item; the exit code says what kind.
struct ClientError : std::runtime_error {
    ClientError(const std::string& message, int exitCode) : std::runtime_error(message), exitCode(exitCode) {}
    int exitCode;
};

// The server process has ended or the call could not reach it.
bool isConnectionLost(HRESULT code);

class Connection {
public:
    // Activates the server as a local server. Throws ClientError with kExitNoServer when the ProgID
    // is unknown, the server cannot be started or ends while starting.
    explicit Connection(const std::string& progId);

    IOPCServer* server() const { return server_.Get(); }
    const std::string& progId() const { return progId_; }

    // The server's interface; ClientError (kExitFailed) naming it when the server lacks it.
    template <class Interface>
    korvex::com::ComPtr<Interface> require(std::string_view interfaceName, std::string_view purpose) const {
        korvex::com::ComPtr<Interface> found;
        const HRESULT hr = server_->QueryInterface(__uuidof(Interface), reinterpret_cast<void**>(found.ReleaseAndGetAddressOf()));
        if (FAILED(hr)) failUnsupported(hr, interfaceName, purpose);
        return found;
    }

    // The server's own text for the code when it has one, else the system's; may be empty.
    std::string statusText(HRESULT code) const;
    // "0xC0040007 OPC_E_UNKNOWNITEMID: <statusText>"
    std::string describe(HRESULT code) const;

    // Throws ClientError "<what>: <describe(hr)>" when hr is a failure; kExitServerGone when the
    // connection is lost, kExitFailed otherwise.
    void check(HRESULT hr, std::string_view what) const;

    // Whether the server still answers.
    bool alive() const;

private:
    [[noreturn]] void failUnsupported(HRESULT hr, std::string_view interfaceName, std::string_view purpose) const;

    std::string progId_;
    korvex::com::ComPtr<IOPCServer> server_;
};

}  // namespace opcclient
