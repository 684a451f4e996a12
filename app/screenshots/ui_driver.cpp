// Drives the running server's user interface for `make screenshots`:
//   ui_driver connect SECONDS   connects three named clients with subscribed groups, the last one
//                               stalled in its first callback; waits until the title counts them,
//                               prints "ready" and holds the clients for SECONDS
//   ui_driver command ID        posts WM_COMMAND ID to the main window
//   ui_driver view W H          sizes the main window to W x H and selects the view's last client
#include "app/main_frame.h"
#include "app/resource.h"
#include "app/server_clsid.h"
#include "com/data_callback_sink.h"
#include "com/com_ptr.h"
#include "opccomn.h"
#include "opcda.h"

#include <windows.h>
#include <commctrl.h>
#include <objbase.h>
#include <ocidl.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

using korvex::com::ComPtr;

HWND WaitForMainWindow(DWORD timeoutMs) {
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    for (;;) {
        if (HWND window = FindWindowW(CMainFrame::kWindowClass, nullptr)) return window;
        if (GetTickCount64() > deadline) return nullptr;
        Sleep(100);
    }
}

// Takes every data change; with `stall`, never returns from the first one while the driver runs.
class Sink final : public korvex::com::DataCallbackSink<Sink> {
public:
    explicit Sink(bool stall) : stall_(stall) {}
    HRESULT STDMETHODCALLTYPE OnDataChange(DWORD, OPCHANDLE, HRESULT, HRESULT, DWORD, OPCHANDLE*, VARIANT*, WORD*,
                                           FILETIME*, HRESULT*) override {
        if (stall_) Sleep(INFINITE);
        return S_OK;
    }

private:
    bool stall_;
};

struct Client {
    const wchar_t* name;
    const wchar_t* group;
    std::vector<const wchar_t*> items;
    bool stall;
};

// Connects, names the client, adds its group inactive, subscribes and then activates it, so that
// its first scan reports every item.
struct Connected {
    ComPtr<IOPCServer> server;
    ComPtr<IOPCItemMgt> group;
};

bool Connect(const Client& wanted, std::vector<Connected>& held) {
    ComPtr<IOPCServer> server;
    HRESULT hr = CoCreateInstance(app::CLSID_KorvexOPCServer, nullptr, CLSCTX_LOCAL_SERVER, IID_IOPCServer,
                                  reinterpret_cast<void**>(server.ReleaseAndGetAddressOf()));
    ComPtr<IOPCCommon> common;
    if (SUCCEEDED(hr))
        hr = server->QueryInterface(IID_IOPCCommon, reinterpret_cast<void**>(common.ReleaseAndGetAddressOf()));
    if (SUCCEEDED(hr)) hr = common->SetClientName(wanted.name);
    ComPtr<IOPCItemMgt> group;
    OPCHANDLE handle = 0;
    DWORD revised = 0;
    if (SUCCEEDED(hr))
        hr = server->AddGroup(wanted.group, FALSE, 1000, 1, nullptr, nullptr, 0, &handle, &revised, IID_IOPCItemMgt,
                              reinterpret_cast<LPUNKNOWN*>(group.ReleaseAndGetAddressOf()));
    for (std::size_t i = 0; SUCCEEDED(hr) && i < wanted.items.size(); ++i) {
        OPCITEMDEF d{const_cast<LPWSTR>(L""), const_cast<LPWSTR>(wanted.items[i]), TRUE, 0, 0, nullptr, VT_EMPTY, 0};
        OPCITEMRESULT* results = nullptr;
        HRESULT* errors = nullptr;
        hr = group->AddItems(1, &d, &results, &errors);
        CoTaskMemFree(results);
        CoTaskMemFree(errors);
    }
    ComPtr<IConnectionPointContainer> container;
    ComPtr<IConnectionPoint> point;
    DWORD cookie = 0;
    if (SUCCEEDED(hr))
        hr = group->QueryInterface(IID_IConnectionPointContainer,
                                   reinterpret_cast<void**>(container.ReleaseAndGetAddressOf()));
    if (SUCCEEDED(hr)) hr = container->FindConnectionPoint(IID_IOPCDataCallback, point.ReleaseAndGetAddressOf());
    if (SUCCEEDED(hr)) hr = point->Advise(korvex::com::make<Sink>(wanted.stall)->identity(), &cookie);
    ComPtr<IOPCGroupStateMgt> state;
    if (SUCCEEDED(hr))
        hr = group->QueryInterface(IID_IOPCGroupStateMgt, reinterpret_cast<void**>(state.ReleaseAndGetAddressOf()));
    BOOL active = TRUE;
    if (SUCCEEDED(hr)) hr = state->SetState(nullptr, &revised, &active, nullptr, nullptr, nullptr, nullptr);
    if (FAILED(hr)) {
        std::fprintf(stderr, "ui_driver: client %ls: 0x%08lx\n", wanted.name, static_cast<unsigned long>(hr));
        return false;
    }
    held.push_back({server, group});
    return true;
}

int ConnectClients(int seconds) {
    const HWND window = WaitForMainWindow(20000);
    if (window == nullptr) {
        std::fprintf(stderr, "ui_driver: no main window\n");
        return 1;
    }
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    const Client clients[] = {
        {L"Historian",
         L"Trends",
         {L"NorthSubstation.analog.BusbarVoltage", L"NorthSubstation.analog.FeederCurrent",
          L"WeatherMast.analog.AirTemperature", L"WeatherMast.analog.WindSpeed"},
         false},
        {L"Alarm logger", L"Breakers", {L"NorthSubstation.switch.Breaker1", L"NorthSubstation.switch.Breaker2"}, false},
        {L"Control room panel 2", L"Mimic", {L"NorthSubstation.analog.Setpoint"}, true},
    };
    std::vector<Connected> held;
    for (const Client& client : clients)
        if (!Connect(client, held)) return 1;
    const std::string expected = "[Client: " + std::to_string(std::size(clients)) + "]";
    for (int i = 0; i < 100; ++i) {
        char title[256] = {};
        GetWindowTextA(window, title, sizeof title);
        if (std::string(title).find(expected) != std::string::npos) break;
        Sleep(100);
    }
    std::printf("ready\n");
    std::fflush(stdout);
    Sleep(static_cast<DWORD>(seconds) * 1000);
    // The stalled client's call never returns: the process ends without letting go.
    ExitProcess(0);
}

int SizeView(int width, int height) {
    const HWND window = WaitForMainWindow(20000);
    if (window == nullptr) return 1;
    SetWindowPos(window, nullptr, 0, 0, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
    const HWND view = FindWindowExW(window, nullptr, L"#32770", nullptr);
    const HWND clients = GetDlgItem(view, IDC_VIEW_CLIENTS);
    // As the operator would: End selects the last client and shows its groups.
    return clients != nullptr && PostMessageW(clients, WM_KEYDOWN, VK_END, 0) ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string verb = argc > 1 ? argv[1] : "";
    if (verb == "connect" && argc == 3) return ConnectClients(std::atoi(argv[2]));
    if (verb == "view" && argc == 4) return SizeView(std::atoi(argv[2]), std::atoi(argv[3]));
    if (verb == "command" && argc == 3) {
        const HWND window = WaitForMainWindow(20000);
        if (window == nullptr) return 1;
        return PostMessageW(window, WM_COMMAND, static_cast<WPARAM>(std::atoi(argv[2])), 0) ? 0 : 1;
    }
    std::fprintf(stderr, "usage: ui_driver connect SECONDS | ui_driver command ID | ui_driver view WIDTH HEIGHT\n");
    return 2;
}
