// watch: a subscription. An active group with the items, the data-change sink on its connection
// point and the shutdown sink on the server's; every data change is printed as it arrives, until
// Ctrl-C, --duration, the server's shutdown notice, or the server no longer answering.
#include "tools/opcclient/commands.h"

#include "tools/opcclient/item_group.h"
#include "tools/opcclient/subscription.h"
#include "tools/opcclient/watch_sinks.h"

#include <algorithm>
#include <chrono>

namespace opcclient {

namespace {

// How often the loop asks the server whether it still answers: a killed server sends nothing.
constexpr DWORD kAlivePollMs = 1000;

HANDLE g_stop = nullptr;

BOOL WINAPI OnConsoleControl(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT) return FALSE;
    SetEvent(g_stop);
    return TRUE;
}

// Activates the group, with the deadband when there is one. The first update after activation
// reports every item, so the sink sees the current values first.
void activate(const Connection& connection, const ItemGroup& group, float deadbandPercent) {
    const auto state = group.require<IOPCGroupStateMgt>("IOPCGroupStateMgt");
    DWORD revisedRate = 0;
    BOOL active = TRUE;
    connection.check(state->SetState(nullptr, &revisedRate, &active, nullptr,
                                     deadbandPercent > 0.0f ? &deadbandPercent : nullptr, nullptr, nullptr),
                     "SetState (activating the group)");
}

}  // namespace

int runWatch(const Connection& connection, const Options& options, Output& out) {
    // Inactive until the sink is subscribed: an update before that would count as sent.
    const ItemGroup group(connection, options.operands, false, options.rateMs);
    int exitCode = kExitOk;
    for (const GroupItem& item : group.items()) {
        if (FAILED(item.addResult)) {
            out.itemFailure(connection, item.itemId, item.addResult);
            exitCode = kExitFailed;
        }
    }
    if (group.serverHandles().empty()) return exitCode;

    g_stop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    SetConsoleCtrlHandler(OnConsoleControl, TRUE);
    const auto shutdownSink = korvex::com::make<ShutdownSink>(g_stop);
    const auto dataSink = korvex::com::make<DataChangeSink>(connection, group, out);
    HRESULT hr = S_OK;
    // Without a shutdown connection point the loop still notices a server that is gone.
    const Subscription shutdown(connection.server(), IID_IOPCShutdown, shutdownSink->identity(), hr);
    const Subscription dataChanges(group.require<IOPCItemMgt>("IOPCItemMgt").Get(), IID_IOPCDataCallback,
                                   dataSink->identity(), hr);
    connection.check(hr, "subscribing to data changes (IOPCDataCallback)");
    activate(connection, group, options.deadbandPercent);

    using Clock = std::chrono::steady_clock;
    const auto deadline = options.durationSeconds
                              ? Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                                   std::chrono::duration<double>(*options.durationSeconds))
                              : Clock::time_point::max();
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) break;
        if (WaitForSingleObject(g_stop, static_cast<DWORD>(std::min<long long>(left, kAlivePollMs))) == WAIT_OBJECT_0) {
            if (const auto reason = shutdownSink->reason()) {
                out.error("server " + connection.progId() + " is shutting down: " + *reason);
                return kExitServerGone;
            }
            break;  // Ctrl-C
        }
        if (!connection.alive()) {
            out.error("watch: the connection to server " + connection.progId() + " was lost");
            return kExitServerGone;
        }
    }
    return exitCode;
}

}  // namespace opcclient
