// The main window's client area, the operator's view: a list of the connected clients (name,
// connection time, groups, active items, data changes sent over the last minute, last callback
// and its result, delivery state), the groups of the selected client, and a status line of the
// server. It shows a snapshot of the server's state, taken once a second while the window is
// visible and never while it is hidden.
#pragma once

#include "group/server_context.h"
#include "server/client_snapshot.h"

#include <windows.h>

#include <cstdint>
#include <string>

class COrvicOPCServerView {
public:
    static constexpr UINT_PTR kRefreshTimer = 1;
    static constexpr UINT kRefreshPeriodMs = 1000;

    // Creates the view as a child of `parent`, showing the server of `context` and the state of
    // the runtime's window `runtimeWindow`; null on failure.
    HWND Create(HWND parent, const ServerContext& context, HWND runtimeWindow);

    // Takes a snapshot and shows it.
    void Refresh();

private:
    static INT_PTR CALLBACK DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
    void OnInitDialog(HWND dialog);
    void Layout();
    void ShowClients();
    void ShowGroups();
    std::wstring StatusText() const;

    const ServerContext* context_ = nullptr;
    HWND runtimeWindow_ = nullptr;
    HWND dialog_ = nullptr;
    HWND clients_ = nullptr;
    HWND groups_ = nullptr;
    HWND status_ = nullptr;
    server::ServerSnapshot shown_;
    std::uint64_t selected_ = 0;  // the number of the client whose groups are shown; 0: none
    bool filling_ = false;        // the lists are being rewritten: selection notices are ours
};
