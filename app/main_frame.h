// The server's main window: normally hidden, with a tray icon; its creation starts the data side
// (runtime access, address space, registration), its title and tip show the client count, and
// closing it is the orderly way to end the server.
#pragma once

#include "addrspace/address_space.h"
#include "app/client_view.h"
#include "app/tray_icon.h"
#include "group/server_context.h"
#include "rtdb/data_access.h"

#include <windows.h>

#include <memory>
#include <optional>

namespace app {
class ShutdownMonitor;
}

class CMainFrame {
public:
    static constexpr const wchar_t* kWindowClass = L"KorvexOPCServerFrame";
    static constexpr int kWidth = 350;
    static constexpr int kHeight = 200;

    // `monitor` (may be null) learns when the window gave up the last module lock.
    explicit CMainFrame(app::ShutdownMonitor* monitor = nullptr);
    // The runtime access object and the address space live as long as the frame object, beyond the
    // window: readers on other threads may still use them while the process winds down.
    ~CMainFrame();
    CMainFrame(const CMainFrame&) = delete;
    CMainFrame& operator=(const CMainFrame&) = delete;

    // Creates the hidden window. Null when the SCADA runtime is not running (after telling the
    // user so) or the window cannot be created.
    HWND Create(HINSTANCE instance);
    HWND hwnd() const { return hwnd_; }

    // Takes the module lock that keeps the server up for as long as the window exists; the window
    // gives it back when it is destroyed.
    void HoldModuleLock();

    rtdb::CDataAccessEx* dataAccess() const { return access_.get(); }
    // What the server objects and the update thread work on: the address space the window's
    // creation builds and the server's state.
    const ServerContext& context() const { return context_; }
    const rtdb::SystemInfo* systemInfo() const { return systemInfo_ ? &*systemInfo_ : nullptr; }

private:
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);

    int OnCreate();
    void OnDestroy();
    void OnClose();
    void OnClientCountChanged();
    void OnRuntimeStopped();
    void OnTrayNotify(UINT mouseMessage);
    bool OnSysCommand(WPARAM command);
    bool OnCommand(UINT id);

    void Show();
    void ShowTrayMenu();
    void SetRegisteredMarks(bool registered);
    std::wstring TitleText() const;

    app::ShutdownMonitor* monitor_;
    HWND hwnd_ = nullptr;
    HWND view_ = nullptr;
    COrvicOPCServerView viewDialog_;
    app::TrayIcon tray_;
    std::unique_ptr<rtdb::CDataAccessEx> access_;
    COPCAddressSpaceMgt addressSpace_;
    ServerState serverState_;
    const ServerContext context_{addressSpace_, serverState_};
    std::optional<rtdb::SystemInfo> systemInfo_;
    bool holdsModuleLock_ = false;
    // WM_CLOSE while the exit question is open: asked again once it is answered.
    bool askingToClose_ = false;
    bool closeRequestedMeanwhile_ = false;
};
