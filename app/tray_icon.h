// The notification-area icon of the main window: its tip shows the client count, its mouse
// messages come to the window as kTrayCallbackMessage.
#pragma once

#include <windows.h>
#include <shellapi.h>

#include <string>

namespace app {

class TrayIcon {
public:
    static constexpr UINT kIconId = 128;

    TrayIcon() = default;
    ~TrayIcon() { Remove(); }
    TrayIcon(const TrayIcon&) = delete;
    TrayIcon& operator=(const TrayIcon&) = delete;

    // Adds the icon with `icon` (copied by the shell; the caller keeps its handle) and `tip`.
    // A shell that refuses it (no notification area) is not an error: the server runs without.
    bool Add(HWND window, UINT callbackMessage, HICON icon, const std::wstring& tip);
    bool SetTip(const std::wstring& tip);
    void Remove();

private:
    NOTIFYICONDATAW data_{};
    bool added_ = false;
};

}  // namespace app
