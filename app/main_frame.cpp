#include "app/main_frame.h"

#include "addrspace/address_space.h"
#include "app/about_dlg.h"
#include "app/message_box.h"
#include "app/registration.h"
#include "app/resource.h"
#include "app/shutdown_monitor.h"
#include "app/string_resources.h"
#include "com/module_lock.h"
#include "server/server_module.h"

namespace {

constexpr const wchar_t* kServerCaption = L"KorvexOPCServer";
constexpr const wchar_t* kDataSideCaption = L"OPC Server";

bool RegisterWindowClass(HINSTANCE instance, WNDPROC procedure) {
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    if (GetClassInfoExW(instance, CMainFrame::kWindowClass, &windowClass)) return true;
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = procedure;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(IDR_MAINFRAME));
    windowClass.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // IDC_ARROW
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    windowClass.lpszMenuName = MAKEINTRESOURCEW(IDR_MAINFRAME);
    windowClass.lpszClassName = CMainFrame::kWindowClass;
    return RegisterClassExW(&windowClass) != 0;
}

}  // namespace

CMainFrame::CMainFrame(app::ShutdownMonitor* monitor) : monitor_(monitor) {}

CMainFrame::~CMainFrame() {
    if (hwnd_ != nullptr) DestroyWindow(hwnd_);
}

HWND CMainFrame::Create(HINSTANCE instance) {
    if (!RegisterWindowClass(instance, &CMainFrame::WindowProc)) return nullptr;
    // Not visible: only the tray icon shows at start.
    CreateWindowExW(0, kWindowClass, kServerCaption, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                    CW_USEDEFAULT, nullptr, nullptr, instance, this);
    return hwnd_;
}

void CMainFrame::HoldModuleLock() {
    if (hwnd_ == nullptr || holdsModuleLock_) return;
    korvex::com::ModuleLock::lock();
    holdsModuleLock_ = true;
}

LRESULT CALLBACK CMainFrame::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    CMainFrame* frame = nullptr;
    if (message == WM_NCCREATE) {
        frame = static_cast<CMainFrame*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        frame->hwnd_ = window;
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(frame));
    } else {
        frame = reinterpret_cast<CMainFrame*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    }
    if (frame == nullptr) return DefWindowProcW(window, message, wParam, lParam);
    const LRESULT result = frame->HandleMessage(message, wParam, lParam);
    if (message == WM_NCDESTROY) {
        SetWindowLongPtrW(window, GWLP_USERDATA, 0);
        frame->hwnd_ = nullptr;
    }
    return result;
}

LRESULT CMainFrame::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case server::kClientCountMessage: OnClientCountChanged(); return 0;
    case server::kRuntimeStoppedMessage: OnRuntimeStopped(); return 0;
    case server::kTrayCallbackMessage: OnTrayNotify(LOWORD(lParam)); return 0;
    case WM_SYSCOMMAND:
        if (OnSysCommand(wParam)) return 0;
        break;
    case WM_CREATE: return OnCreate();
    case WM_DESTROY: OnDestroy(); return 0;
    case WM_CLOSE: OnClose(); return 0;
    case WM_COMMAND:
        if (OnCommand(LOWORD(wParam))) return 0;
        break;
    case WM_SIZE:
        if (view_ != nullptr) MoveWindow(view_, 0, 0, LOWORD(lParam), HIWORD(lParam), TRUE);
        return 0;
    default: break;
    }
    return DefWindowProcW(hwnd_, message, wParam, lParam);
}

int CMainFrame::OnCreate() {
    access_ = std::make_unique<rtdb::CDataAccessEx>(hwnd_);
    if (!access_->IsScadaRunning() || !access_->AttachDatabase()) {
        app::ShowMessageBox(hwnd_, app::LoadResourceString(IDS_SCADA_NOT_RUNNING), kDataSideCaption, MB_OK);
        return -1;
    }
    // Without an address space the server still comes up and tells its clients so.
    if (!addressSpace_.BuildAddressSpace(*access_)) serverState_.SetStatus(OPC_STATUS_NOCONFIG);

    if (rtdb::SystemInfo info; rtdb::LoadSystemInfo(info)) systemInfo_ = info;

    view_ = viewDialog_.Create(hwnd_, context_, access_->scadaWindow());

    app::RegisterServer();
    SetRegisteredMarks(true);

    const std::wstring title = TitleText();
    SetWindowTextW(hwnd_, title.c_str());

    MoveWindow(hwnd_, 0, 0, kWidth, kHeight, FALSE);

    const HICON icon = static_cast<HICON>(
        LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDR_MAINFRAME), IMAGE_ICON, 0, 0, LR_DEFAULTSIZE));
    tray_.Add(hwnd_, server::kTrayCallbackMessage, icon, title);
    if (icon != nullptr) DestroyIcon(icon);
    return 0;
}

void CMainFrame::OnDestroy() {
    server::SetMainWindow(nullptr);
    if (holdsModuleLock_) {
        // When only the window kept the server up, nothing is left to wait for.
        if (korvex::com::ModuleLock::count() == 1 && monitor_ != nullptr) {
            monitor_->SetIdleTimeout(0);
            monitor_->SetPause(0);
        }
        holdsModuleLock_ = false;
        korvex::com::ModuleLock::unlock();
    }
    if (access_) access_->ReleaseServerWindow();
    tray_.Remove();
}

void CMainFrame::OnClose() {
    if (askingToClose_) {
        closeRequestedMeanwhile_ = true;
        return;
    }
    if (const std::size_t clients = server::ClientCount(); clients > 0) {
        askingToClose_ = true;
        closeRequestedMeanwhile_ = false;
        const std::wstring question = app::FormatResourceString(IDS_CONFIRM_EXIT, static_cast<long long>(clients));
        const int answer = app::ShowMessageBox(hwnd_, question, kServerCaption, MB_YESNO | MB_ICONQUESTION);
        askingToClose_ = false;
        if (answer != IDYES) {
            // The last client may have left while the question was open.
            if (closeRequestedMeanwhile_) PostMessageW(hwnd_, WM_CLOSE, 0, 0);
            return;
        }
    }
    const std::wstring reason = app::LoadResourceString(IDS_SHUTDOWN_REASON);
    server::NotifyShutdown(reason.c_str());
    // The update thread (server/) stops after the clients were told, before the window goes.
    server::StopUpdateThread();
    DestroyWindow(hwnd_);
    PostQuitMessage(0);
}

void CMainFrame::OnRuntimeStopped() {
    // The clients receive their last, bad values first, then the notice; nobody is asked.
    server::WaitForCallbackDeliveries(std::chrono::milliseconds(2000));
    const std::wstring reason = app::LoadResourceString(IDS_RUNTIME_STOPPED);
    server::NotifyShutdown(reason.c_str());
    server::StopUpdateThread();
    DestroyWindow(hwnd_);
    PostQuitMessage(0);
}

void CMainFrame::OnClientCountChanged() {
    const std::wstring title = TitleText();
    SetWindowTextW(hwnd_, title.c_str());
    tray_.SetTip(title);
}

void CMainFrame::OnTrayNotify(UINT mouseMessage) {
    switch (mouseMessage) {
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK: Show(); break;
    case WM_RBUTTONUP: ShowTrayMenu(); break;
    default: break;
    }
}

void CMainFrame::Show() {
    // The view is current from the moment it shows, not a timer period later.
    viewDialog_.Refresh();
    ShowWindow(hwnd_, SW_SHOW);
}

void CMainFrame::ShowTrayMenu() {
    const HMENU menu = LoadMenuW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDR_TRAY_MENU));
    if (menu == nullptr) return;
    if (const HMENU popup = GetSubMenu(menu, 0)) {
        SetMenuDefaultItem(popup, 0, TRUE);
        POINT cursor{};
        GetCursorPos(&cursor);
        // Without the foreground the menu would not close when the user clicks elsewhere.
        SetForegroundWindow(hwnd_);
        TrackPopupMenu(popup, TPM_RIGHTBUTTON, cursor.x, cursor.y, 0, hwnd_, nullptr);
        PostMessageW(hwnd_, WM_NULL, 0, 0);
    }
    DestroyMenu(menu);
}

bool CMainFrame::OnSysCommand(WPARAM command) {
    const WPARAM which = command & 0xFFF0;
    if (which != SC_MINIMIZE && which != SC_CLOSE) return false;
    // The close box never ends the server: only Exit does.
    ShowWindow(hwnd_, SW_HIDE);
    return true;
}

bool CMainFrame::OnCommand(UINT id) {
    switch (id) {
    case ID_APP_EXIT: PostMessageW(hwnd_, WM_CLOSE, 0, 0); return true;
    case ID_APP_ABOUT: {
        const HWND active = GetActiveWindow();
        CAboutDlg(systemInfo()).DoModal(active != nullptr ? active : hwnd_);
        return true;
    }
    case ID_SERVER_REGISTER:
        app::RegisterServer();
        SetRegisteredMarks(true);
        return true;
    case ID_SERVER_UNREGISTER:
        app::UnregisterServer();
        SetRegisteredMarks(false);
        return true;
    case ID_WINDOW_SHOW: Show(); return true;
    case ID_WINDOW_HIDE: ShowWindow(hwnd_, SW_HIDE); return true;
    default: return false;
    }
}

void CMainFrame::SetRegisteredMarks(bool registered) {
    const HMENU menu = GetMenu(hwnd_);
    CheckMenuItem(menu, ID_SERVER_REGISTER, MF_BYCOMMAND | (registered ? MF_CHECKED : MF_UNCHECKED));
    CheckMenuItem(menu, ID_SERVER_UNREGISTER, MF_BYCOMMAND | (registered ? MF_UNCHECKED : MF_CHECKED));
}

std::wstring CMainFrame::TitleText() const {
    return app::FormatResourceString(IDS_TITLE_FORMAT, static_cast<long long>(server::ClientCount()));
}
