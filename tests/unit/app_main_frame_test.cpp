// The main window in the test process, over a runtime published here: a client leaving while the
// exit question is open, hiding instead of closing, the check marks, the module lock it gives back
// and the About box. Message boxes are answered by the test; app_host_test covers the process as a
// whole (its start without the runtime, its title, the exit question).
#include "addrspace/address_space.h"
#include "app/about_dlg.h"
#include "app/main_frame.h"
#include "app/message_box.h"
#include "app/registration.h"
#include "app/resource.h"
#include "app/shutdown_monitor.h"
#include "com/com_ptr.h"
#include "com/module_lock.h"
#include "server/server_module.h"
#include "app/tray_icon.h"
#include "tests/support/in_process_runtime.h"
#include "rtdb/standin/config_database.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace {

using korvex::com::ComPtr;
using korvex::com::ModuleLock;

struct ShownBox {
    std::wstring text;
    std::wstring caption;
    UINT flags;
};

std::vector<ShownBox> g_boxes;
int g_answer = IDOK;
std::function<void()> g_whileShown;

int RecordBox(HWND, const wchar_t* text, const wchar_t* caption, UINT flags) {
    g_boxes.push_back({text, caption, flags});
    if (g_whileShown) g_whileShown();
    return g_answer;
}

std::vector<rtimage::Station> Plant() {
    rtimage::Station station{"S1", true, {}, {}};
    station.analogs.push_back({"P1", "level", 100, 0, true, 12.5});
    station.switches.push_back({"K1", "breaker", true, 1});
    return {station};
}

bool ProgIdRegistered() {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, L"Korvex.OPCServer.2", 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}

// Dispatches what is queued; true when WM_QUIT was among it.
bool Pump() {
    bool quit = false;
    MSG message;
    for (int idle = 0; idle < 3; ++idle) {
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            idle = 0;
            if (message.message == WM_QUIT) {
                quit = true;
                continue;
            }
            DispatchMessageW(&message);
        }
        Sleep(20);
    }
    return quit;
}

ComPtr<IUnknown> Connect(const ServerContext& context) {
    ComPtr<IUnknown> client;
    EXPECT_EQ(server::CreateServer(context, IID_IUnknown, reinterpret_cast<void**>(client.ReleaseAndGetAddressOf())), S_OK);
    return client;
}

class MainFrame : public ::testing::Test {
protected:
    static void SetUpTestSuite() { CoInitializeEx(nullptr, COINIT_MULTITHREADED); }

    void SetUp() override {
        app::SetMessageBoxFunction(&RecordBox);
        g_boxes.clear();
        g_answer = IDOK;
        g_whileShown = nullptr;
        app::UnregisterServer();
        Pump();
    }
    void TearDown() override {
        server::SetMainWindow(nullptr);
        app::SetMessageBoxFunction(nullptr);
        // The registration names this test program as the server: take it away again.
        app::UnregisterServer();
        Pump();
    }
};

TEST_F(MainFrame, RegisterAndUnregisterToggleTheCheckMarks) {
    InProcessRuntime runtime(Plant());
    CMainFrame frame;
    const HWND window = frame.Create(GetModuleHandleW(nullptr));
    ASSERT_NE(window, nullptr);
    const HMENU menu = GetMenu(window);
    ASSERT_NE(menu, nullptr);
    auto checked = [&](UINT id) { return (GetMenuState(menu, id, MF_BYCOMMAND) & MF_CHECKED) != 0; };

    const struct {
        const char* step;
        UINT command;  // 0: right after creation
        bool registered;
    } steps[] = {
        {"after creation", 0, true},
        {"Unregister", ID_SERVER_UNREGISTER, false},
        {"Unregister again", ID_SERVER_UNREGISTER, false},
        {"Register", ID_SERVER_REGISTER, true},
        {"Register again", ID_SERVER_REGISTER, true},
    };
    for (const auto& step : steps) {
        if (step.command != 0) SendMessageW(window, WM_COMMAND, step.command, 0);
        EXPECT_EQ(checked(ID_SERVER_REGISTER), step.registered) << step.step;
        EXPECT_EQ(checked(ID_SERVER_UNREGISTER), !step.registered) << step.step;
        EXPECT_EQ(ProgIdRegistered(), step.registered) << step.step;
    }
}

TEST_F(MainFrame, CloseBoxAndMinimiseHideTheWindow) {
    InProcessRuntime runtime(Plant());
    CMainFrame frame;
    const HWND window = frame.Create(GetModuleHandleW(nullptr));
    ASSERT_NE(window, nullptr);
    const struct {
        const char* step;
        UINT message;
        WPARAM wParam;
        LPARAM lParam;
        bool visible;
    } steps[] = {
        {"Show command", WM_COMMAND, ID_WINDOW_SHOW, 0, true},
        {"close box", WM_SYSCOMMAND, SC_CLOSE, 0, false},
        {"tray left click", server::kTrayCallbackMessage, app::TrayIcon::kIconId, WM_LBUTTONDOWN, true},
        {"minimise box", WM_SYSCOMMAND, SC_MINIMIZE, 0, false},
        {"tray double click", server::kTrayCallbackMessage, app::TrayIcon::kIconId, WM_LBUTTONDBLCLK, true},
        {"Hide command", WM_COMMAND, ID_WINDOW_HIDE, 0, false},
        {"tray mouse move", server::kTrayCallbackMessage, app::TrayIcon::kIconId, WM_MOUSEMOVE, false},
    };
    for (const auto& step : steps) {
        SendMessageW(window, step.message, step.wParam, step.lParam);
        EXPECT_TRUE(IsWindow(window)) << step.step;
        EXPECT_EQ(IsWindowVisible(window) != FALSE, step.visible) << step.step;
    }
    EXPECT_TRUE(g_boxes.empty());
    EXPECT_FALSE(Pump()) << "nothing ended the message loop";
}

TEST_F(MainFrame, LastClientLeavingWhileTheQuestionIsOpenEndsTheServer) {
    InProcessRuntime runtime(Plant());
    CMainFrame frame;
    const HWND window = frame.Create(GetModuleHandleW(nullptr));
    ASSERT_NE(window, nullptr);
    server::SetMainWindow(window);
    ComPtr<IUnknown> client = Connect(frame.context());
    Pump();

    // The user hesitates; meanwhile the client goes, which closes the window (a nested WM_CLOSE
    // reaches it through the box's own message loop). The user then says No.
    g_answer = IDNO;
    g_whileShown = [&] {
        client.Reset();
        SendMessageW(window, WM_CLOSE, 0, 0);
    };
    SendMessageW(window, WM_CLOSE, 0, 0);
    g_whileShown = nullptr;
    EXPECT_EQ(g_boxes.size(), 1u) << "the nested close did not ask a second time";
    EXPECT_TRUE(Pump()) << "with no client left, the window closed after all";
    EXPECT_FALSE(IsWindow(window));
    EXPECT_EQ(g_boxes.size(), 1u);
}

TEST_F(MainFrame, WindowThatHeldTheLastLockEndsWithoutDelay) {
    const struct {
        const char* name;
        int otherLocks;
        DWORD pause;
    } cases[] = {
        {"only the window's lock", 0, 0},
        {"a client still holds one", 1, app::ShutdownMonitor::kPause},
    };
    for (const auto& c : cases) {
        InProcessRuntime runtime(Plant());
        app::ShutdownMonitor monitor(GetCurrentThreadId());  // not started: only its settings count
        CMainFrame frame(&monitor);
        ASSERT_NE(frame.Create(GetModuleHandleW(nullptr)), nullptr) << c.name;
        const long before = ModuleLock::count();
        ASSERT_EQ(before, 0) << c.name << ": no COM object of an earlier test is left";
        frame.HoldModuleLock();
        for (int i = 0; i < c.otherLocks; ++i) ModuleLock::lock();
        EXPECT_EQ(ModuleLock::count(), before + 1 + c.otherLocks) << c.name;
        DestroyWindow(frame.hwnd());
        EXPECT_EQ(ModuleLock::count(), before + c.otherLocks) << c.name << ": the window gave its lock back";
        EXPECT_EQ(monitor.Pause(), c.pause) << c.name;
        for (int i = 0; i < c.otherLocks; ++i) ModuleLock::unlock();
        Pump();
    }
}

TEST(AboutBox, ShowsTheSystemInformationOrOurAddress) {
    const rtdb::SystemInfo record = configdb::makeSystemInfoRecord(
        {"Korvex SCADA 3.0", "Copyright (C) Korvex", "Korvex Automation Ltd.", "www.scada.example"});
    const struct {
        const char* name;
        const rtdb::SystemInfo* info;
        const wchar_t* product;
        const wchar_t* rights;
        const wchar_t* company;
        const wchar_t* web;
    } cases[] = {
        {"with the record", &record, L"Korvex SCADA 3.0", L"Copyright (C) Korvex", L"Korvex Automation Ltd.",
         L"www.scada.example"},
        {"without a record", nullptr, L"", L"", L"", CAboutDlg::kMakerWebAddress},
    };
    for (const auto& c : cases) {
        CAboutDlg about(c.info);
        const HWND dialog = about.CreateModeless(nullptr);
        ASSERT_NE(dialog, nullptr) << c.name;
        auto text = [&](int control) {
            wchar_t buffer[128] = {};
            GetDlgItemTextW(dialog, control, buffer, 128);
            return std::wstring(buffer);
        };
        EXPECT_EQ(text(IDC_PRODUCT_LABEL), c.product) << c.name;
        EXPECT_EQ(text(IDC_RIGHTS_NOTICE), c.rights) << c.name;
        EXPECT_EQ(text(IDC_COMPANY_NAME), c.company) << c.name;
        EXPECT_EQ(text(IDC_WEB_ADDRESS), c.web) << c.name;
        DestroyWindow(dialog);
    }
}

}  // namespace
