// KorvexOPCServer.exe: the process that hosts the OPC DA server class. It refuses to run twice,
// publishes the class factory, runs the main window's message loop and tears everything down in
// order. Start-up is the same whether COM (which passes -Embedding) or a user started the process,
// but for the refusal: only a user is told that the server runs already.
#include "app/class_factory.h"
#include "app/main_frame.h"
#include "app/message_box.h"
#include "app/resource.h"
#include "app/shutdown_monitor.h"
#include "app/string_resources.h"
#include "server/server_module.h"

#include <windows.h>
#include <objbase.h>
#include <shellapi.h>

namespace {

// The single-instance guard: a fixed name for the product.
constexpr const wchar_t* kInstanceMutexName = L"76667766-0225-432C-85BD-009C9AB985E1";

// COM starts a local server with "-Embedding" (or "/Embedding").
bool StartedByCom() {
    int count = 0;
    LPWSTR* args = CommandLineToArgvW(GetCommandLineW(), &count);
    if (args == nullptr) return false;
    bool embedding = false;
    for (int i = 1; i < count; ++i)
        embedding = embedding || _wcsicmp(args[i], L"-Embedding") == 0 || _wcsicmp(args[i], L"/Embedding") == 0;
    LocalFree(args);
    return embedding;
}

int RunMessageLoop(CMainFrame& frame, HINSTANCE instance) {
    if (frame.Create(instance) == nullptr) return 0;  // the SCADA runtime is not running

    // The update thread (server/): data changes, keep-alives and queued requests at the base rate.
    server::StartUpdateThread(frame.context());

    frame.HoldModuleLock();
    server::SetMainWindow(frame.hwnd());
    // Clients that connected while the window was being created found no window to notify.
    PostMessageW(frame.hwnd(), server::kClientCountMessage, 0, 0);

    MSG message{};
    BOOL got;
    while ((got = GetMessageW(&message, nullptr, 0, 0)) != 0) {
        if (got == -1) return 0;
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return static_cast<int>(message.wParam);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    // Constructed before COM and destroyed after it: the runtime access object it owns must
    // outlive every COM thread that may still read a point.
    app::ShutdownMonitor monitor(GetCurrentThreadId());
    CMainFrame frame(&monitor);

    const HRESULT initialized = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    if (FAILED(initialized)) return initialized;

    const HANDLE instanceMutex = CreateMutexW(nullptr, TRUE, kInstanceMutexName);
    if (GetLastError() == ERROR_ALREADY_EXISTS) {
        CloseHandle(instanceMutex);
        // When several clients activate the server at once COM may start more than one process;
        // the extra ones end at once, and the clients find the class object of the first.
        if (!StartedByCom()) {
            app::ShowMessageBox(nullptr, app::LoadResourceString(IDS_ALREADY_RUNNING), L"KorvexOPCServer",
                                MB_ICONINFORMATION);
        }
        CoUninitialize();
        return 0;
    }

    FILETIME startTime{};
    CoFileTimeNow(&startTime);
    frame.context().state.SetStartTime(startTime);

    monitor.Start();  // without it the process still ends through its main window

    app::ClassObjectRegistration classObject;
    classObject.Register(frame.context());  // on failure clients cannot connect; the window still comes up

    const int result = RunMessageLoop(frame, instance);

    classObject.Revoke();
    Sleep(monitor.Pause());
    CoUninitialize();
    if (instanceMutex != nullptr) CloseHandle(instanceMutex);
    return result;
}
