// What the host process asks of the server subsystem: process-wide state shared by all server
// objects, the creation of a server object per client activation, and the shutdown notice.
#pragma once

#include "group/server_context.h"
#include "group/update_rate.h"
#include "opcda.h"

#include <windows.h>

#include <chrono>
#include <cstddef>

namespace server {

// Private messages of the main window.
constexpr UINT kTrayCallbackMessage = 2025;
constexpr UINT kClientCountMessage = 2026;
// The SCADA runtime has stopped: the clients are told and the server ends, so that a restarted
// runtime finds its memory free and the clients reconnect to a new server.
constexpr UINT kRuntimeStoppedMessage = 2027;

// The main window receives the client-count notices (kClientCountMessage) and WM_CLOSE when the
// last client leaves; until it is set, no notices are posted.
void SetMainWindow(HWND window);
HWND MainWindow();
std::size_t ClientCount();

// Creates a server object over `context` for a client activation (the class factory's
// CreateInstance).
HRESULT CreateServer(const ServerContext& context, REFIID riid, void** object);

// The update thread: every base period it reads the points that active items need, sends data
// changes and keep-alives. Stop returns once the thread has ended and the clients' deliveries are
// done (or, for one stuck in a client's call, after a bounded wait).
void StartUpdateThread(const ServerContext& context);
void StopUpdateThread();

// One tick of the update thread, for tests that drive the cycle themselves. The callbacks it makes
// are delivered on the clients' own threads after it returns.
void RunUpdateTick(const ServerContext& context);
// Until no asynchronous write is waiting or running and no client has a callback waiting or in
// delivery, or the timeout passes; false on timeout.
bool WaitForCallbackDeliveries(std::chrono::milliseconds timeout);

// Sends IOPCShutdown::ShutdownRequest(reason) to every subscribed sink of every connected client,
// in registry and subscription order, without holding any lock during the calls. A client that
// does not return from its request holds up the caller for 2 s and the others not at all.
void NotifyShutdown(const wchar_t* reason);

}  // namespace server
