// status: IOPCServer::GetStatus.
#include "tools/opcclient/commands.h"

#include "tools/opcclient/item_value_format.h"

#include "com/string_convert.h"

#include <cstdio>

namespace opcclient {

namespace {

std::string stateName(OPCSERVERSTATE state) {
    switch (state) {
    case OPC_STATUS_RUNNING: return "running";
    case OPC_STATUS_FAILED: return "failed";
    case OPC_STATUS_NOCONFIG: return "no configuration";
    case OPC_STATUS_SUSPENDED: return "suspended";
    case OPC_STATUS_TEST: return "test";
    case OPC_STATUS_COMM_FAULT: return "communication fault";
    default: return "state " + std::to_string(state);
    }
}

}  // namespace

int runStatus(const Connection& connection, const Options& options, Output& out) {
    OPCSERVERSTATUS* status = nullptr;
    connection.check(connection.server()->GetStatus(&status), "GetStatus");
    const std::string vendor = korvex::com::toUtf8(status->szVendorInfo ? status->szVendorInfo : L"");
    const std::string version = std::to_string(status->wMajorVersion) + "." + std::to_string(status->wMinorVersion) +
                                "." + std::to_string(status->wBuildNumber);
    const OPCSERVERSTATE state = status->dwServerState;
    if (options.json) {
        out.object({{"server", connection.progId()},
                    {"state", stateName(state)},
                    {"stateCode", state},
                    {"vendor", vendor},
                    {"version", version},
                    {"startTime", isoTime(status->ftStartTime)},
                    {"currentTime", isoTime(status->ftCurrentTime)},
                    {"lastUpdateTime", isoTime(status->ftLastUpdateTime)},
                    {"groupCount", status->dwGroupCount},
                    {"bandWidth", status->dwBandWidth}});
    } else {
        out.line("server        " + connection.progId());
        out.line("state         " + stateName(state));
        out.line("vendor        " + vendor);
        out.line("version       " + version);
        out.line("started       " + isoTime(status->ftStartTime));
        out.line("current time  " + isoTime(status->ftCurrentTime));
        out.line("last update   " + isoTime(status->ftLastUpdateTime));
        out.line("groups        " + std::to_string(status->dwGroupCount));
    }
    CoTaskMemFree(status->szVendorInfo);
    CoTaskMemFree(status);
    // For health checks: a server that answers but does not run counts as a failure.
    return state == OPC_STATUS_RUNNING ? kExitOk : kExitFailed;
}

}  // namespace opcclient
