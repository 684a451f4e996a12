// The transport's own costs, measured in the same run as the figures they stand beside: this program
// started a second time as a canned server, whose group answers AddItems, RemoveItems and Read with
// canned arrays of the same shape as the real server's and whose GetLocaleID does nothing (the
// empty call), and started a third time as a canned sender of OnDataChange arrays like the server's
// (VT_R4 values, good quality, one timestamp) to this process's sink, back to back. Everything
// goes through the same proxy/stub as the calls to the real server.
#pragma once

#include "opc_calls.h"

#include "tests/support/wine_process.h"

#include <windows.h>

#include <initializer_list>
#include <string>
#include <vector>

namespace bench {

// The helper processes' entry points (main.cpp dispatches to them); each returns its exit code.
//   --canned-server                         prints "objref HEX" of its canned group, serves until released
//   --canned-changes OBJREF ITEMS CALLS     sends CALLS data changes of ITEMS items to the sink OBJREF
int RunCannedServer();
int RunCannedChanges(const std::vector<std::string>& args);

// The canned server's group, in its helper process while this lives, reached through the proxy.
class CannedServer {
public:
    CannedServer();  // throws std::runtime_error when the helper does not start
    ~CannedServer();
    CannedServer(const CannedServer&) = delete;
    CannedServer& operator=(const CannedServer&) = delete;

    IOPCItemMgt* items() const { return group_.Get(); }
    IOPCSyncIO* io() const { return io_.Get(); }
    IOPCCommon* common() const { return common_.Get(); }

private:
    korvex::test::ChildProcess process_;
    ComPtr<IOPCItemMgt> group_;
    ComPtr<IOPCSyncIO> io_;
    ComPtr<IOPCCommon> common_;
};

struct CallbackCeiling {
    DWORD items = 0;              // per call
    double msPerCall = 0;         // wall time of one OnDataChange
    double itemsPerSecond = 0;    // back to back
    double senderCpuUsPerItem = 0;  // the sending process's CPU per item
    double emptyCallbackMs = 0;     // an empty call in the callbacks' direction (OnCancelComplete)
};

struct TransportBaselines {
    double emptyCallMs = 0;
    double addItemsMs = 0;     // 10,000 items
    double removeItemsMs = 0;  // the same
    double readMs = 0;         // 10,000 items
    std::vector<CallbackCeiling> callbacks;

    // The ceiling measured for `items` items per call (the closest one measured).
    const CallbackCeiling& CeilingFor(DWORD items) const;
};

// Measured again by every section that needs it, right before its own figures: the machine's load
// changes from minute to minute. `calls`: the empty call, AddItems, RemoveItems, Read; then the
// callback ceiling for each item count.
TransportBaselines MeasureTransport(bool calls, std::initializer_list<DWORD> callbackItems);

}  // namespace bench
