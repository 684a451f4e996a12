// Drives the running server's user interface for `make screenshots`:
//   ui_driver connect N SECONDS   connects N clients, waits until the title counts them, prints
//                                 "ready" and holds the clients for SECONDS
//   ui_driver command ID          posts WM_COMMAND ID to the main window
#include "app/main_frame.h"
#include "app/server_clsid.h"

#include <windows.h>
#include <objbase.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

HWND WaitForMainWindow(DWORD timeoutMs) {
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    for (;;) {
        if (HWND window = FindWindowW(CMainFrame::kWindowClass, nullptr)) return window;
        if (GetTickCount64() > deadline) return nullptr;
        Sleep(100);
    }
}

int Connect(int clients, int seconds) {
    const HWND window = WaitForMainWindow(20000);
    if (window == nullptr) {
        std::fprintf(stderr, "ui_driver: no main window\n");
        return 1;
    }
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    std::vector<IUnknown*> connected;
    for (int i = 0; i < clients; ++i) {
        IUnknown* server = nullptr;
        const HRESULT hr = CoCreateInstance(app::CLSID_KorvexOPCServer, nullptr, CLSCTX_LOCAL_SERVER, IID_IUnknown,
                                            reinterpret_cast<void**>(&server));
        if (FAILED(hr)) {
            std::fprintf(stderr, "ui_driver: CoCreateInstance failed: 0x%08lx\n", static_cast<unsigned long>(hr));
            return 1;
        }
        connected.push_back(server);
    }
    const std::string expected = "[Client: " + std::to_string(clients) + "]";
    for (int i = 0; i < 100; ++i) {
        char title[256] = {};
        GetWindowTextA(window, title, sizeof title);
        if (std::string(title).find(expected) != std::string::npos) break;
        Sleep(100);
    }
    std::printf("ready\n");
    std::fflush(stdout);
    Sleep(static_cast<DWORD>(seconds) * 1000);
    for (IUnknown* server : connected) server->Release();
    CoUninitialize();
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string verb = argc > 1 ? argv[1] : "";
    if (verb == "connect" && argc == 4) return Connect(std::atoi(argv[2]), std::atoi(argv[3]));
    if (verb == "command" && argc == 3) {
        const HWND window = WaitForMainWindow(20000);
        if (window == nullptr) return 1;
        return PostMessageW(window, WM_COMMAND, static_cast<WPARAM>(std::atoi(argv[2])), 0) ? 0 : 1;
    }
    std::fprintf(stderr, "usage: ui_driver connect N SECONDS | ui_driver command ID\n");
    return 2;
}
