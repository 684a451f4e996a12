// KorvexOPCServer.exe as a process, through real COM: the single-instance guard, the registry it
// writes and deletes, the title that counts the clients, the exit question with clients connected
// and the shutdown request that every subscribed sink then receives, and the operator's view, read
// from its lists as another program reads them. (Its refusal to run without the runtime is
// opcclient_test's first case; its end when the last client leaves ends every cross-process test
// program.)
// Message boxes are answered and recorded by the dialog watchdog.
#include "tests/support/dialog_watchdog.h"
#include "com/string_convert.h"
#include "tests/support/hresult.h"
#include "tests/support/proxy_registration.h"
#include "tests/support/simulator_launch.h"
#include "tests/support/wine_process.h"

#include "app/main_frame.h"
#include "app/resource.h"
#include "app/server_clsid.h"
#include "com/data_callback_sink.h"
#include "com/com_ptr.h"
#include "opccomn.h"
#include "opcda.h"

#include <commctrl.h>

#include <gtest/gtest.h>
#include <windows.h>
#include <objbase.h>
#include <ocidl.h>

#include <chrono>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace {

using korvex::com::ComPtr;
using korvex::test::ChildProcess;
using korvex::test::DialogButton;
using korvex::test::DialogWatchdog;
using namespace std::chrono_literals;

constexpr const char* kServerProgram = "KorvexOPCServer.exe";
constexpr const wchar_t* kClassKey = L"CLSID\\{B445967B-4C3E-4E38-9C91-6A8DDD94430C}";

// The main window of process `processId`, found by its class.
HWND WaitForMainWindow(DWORD processId, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    do {
        for (HWND window = FindWindowExW(nullptr, nullptr, CMainFrame::kWindowClass, nullptr); window != nullptr;
             window = FindWindowExW(nullptr, window, CMainFrame::kWindowClass, nullptr)) {
            DWORD owner = 0;
            GetWindowThreadProcessId(window, &owner);
            if (owner == processId) return window;
        }
        Sleep(50);
    } while (std::chrono::steady_clock::now() < deadline);
    return nullptr;
}

// What another program reads: the title converted to the ANSI code page.
std::string TitleOf(HWND window) {
    char text[256] = {};
    GetWindowTextA(window, text, sizeof text);
    return text;
}

std::string TitleFor(int clients) { return "KorvexOPCServer - [Client: " + std::to_string(clients) + "]"; }

std::string WaitForTitle(HWND window, const std::string& expected, std::chrono::milliseconds timeout = 5s) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    std::string title = TitleOf(window);
    while (title != expected && std::chrono::steady_clock::now() < deadline) {
        Sleep(20);
        title = TitleOf(window);
    }
    return title;
}

ComPtr<IUnknown> Connect() {
    ComPtr<IUnknown> client;
    const HRESULT hr = CoCreateInstance(app::CLSID_KorvexOPCServer, nullptr, CLSCTX_LOCAL_SERVER, IID_IUnknown,
                                        reinterpret_cast<void**>(client.ReleaseAndGetAddressOf()));
    EXPECT_HR(hr, S_OK);
    return client;
}

// One registry key of a tree: its path below HKCR, its default value (none when unset) and how
// many other values it holds.
struct RegistryKey {
    std::wstring path;
    std::optional<std::wstring> value;
    DWORD otherValues = 0;
    bool operator==(const RegistryKey&) const = default;
};

std::string Describe(const RegistryKey& key) {
    return korvex::com::toUtf8(key.path) + " = " + (key.value ? "\"" + korvex::com::toUtf8(*key.value) + "\"" : "(no value)") +
           (key.otherValues ? " +" + std::to_string(key.otherValues) + " values" : "");
}

// The whole tree below HKCR\<path>, depth first, subkeys in the registry's order; empty when the
// key does not exist.
void ReadTree(const std::wstring& path, std::vector<RegistryKey>& keys) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return;
    RegistryKey entry{path, std::nullopt, 0};
    DWORD valueCount = 0;
    RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &valueCount, nullptr, nullptr, nullptr,
                     nullptr);
    DWORD type = 0, bytes = 0;
    if (RegQueryValueExW(key, nullptr, nullptr, &type, nullptr, &bytes) == ERROR_SUCCESS) {
        std::wstring value(bytes / sizeof(wchar_t), L'\0');
        RegQueryValueExW(key, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(value.data()), &bytes);
        while (!value.empty() && value.back() == L'\0') value.pop_back();
        entry.value = type == REG_SZ ? value : L"(type " + std::to_wstring(type) + L")";
        --valueCount;
    }
    entry.otherValues = valueCount;
    keys.push_back(entry);
    std::vector<std::wstring> subkeys;
    wchar_t name[256];
    for (DWORD i = 0;; ++i) {
        DWORD length = 256;
        if (RegEnumKeyExW(key, i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        subkeys.emplace_back(name, length);
    }
    RegCloseKey(key);
    for (const std::wstring& subkey : subkeys) ReadTree(path + L"\\" + subkey, keys);
}

std::vector<RegistryKey> ServerRegistration() {
    std::vector<RegistryKey> keys;
    ReadTree(L"Korvex.OPCServer.2", keys);
    ReadTree(kClassKey, keys);
    return keys;
}

class AppHost : public ::testing::Test {
protected:
    static void SetUpTestSuite() { CoInitializeEx(nullptr, COINIT_MULTITHREADED); }

    void SetUp() override { DialogWatchdog::instance().reset(); }

    // A server that is killed spoils every later activation in this wineserver: end it the
    // orderly way, as the user would.
    void TearDown() override {
        if (server_ && server_->running() && window_ != nullptr) {
            DialogWatchdog::instance().answer(DialogButton::yes);
            PostMessageW(window_, WM_COMMAND, ID_APP_EXIT, 0);
            EXPECT_EQ(server_->waitForExit(15s), std::optional<DWORD>(0)) << "the server did not end when told";
        }
        server_.reset();
        simulator_.reset();
    }

    void StartRuntime() {
        simulator_ = std::make_unique<ChildProcess>(korvex::test::startSimulator({"--frozen", "--registry"}));
        ASSERT_TRUE(simulator_->waitForLine("ready")) << simulator_->output();
    }

    void StartServer() {
        server_ = std::make_unique<ChildProcess>(kServerProgram);
        window_ = WaitForMainWindow(server_->id(), 20s);
        ASSERT_NE(window_, nullptr) << "no main window; output: " << server_->output();
    }

    std::unique_ptr<ChildProcess> simulator_;
    std::unique_ptr<ChildProcess> server_;
    HWND window_ = nullptr;
};

TEST_F(AppHost, ASecondStartIsRefused) {
    StartRuntime();
    StartServer();
    // One that COM started for a client (several clients activating at once) ends quietly: nobody
    // is there to close a box.
    for (const char* embedding : {"-Embedding", "/embedding"}) {
        ChildProcess byCom(kServerProgram, {embedding});
        EXPECT_EQ(byCom.waitForExit(15s), std::optional<DWORD>(0)) << embedding;
    }
    EXPECT_FALSE(DialogWatchdog::instance().waitFor("服务器已经启动", 1s).has_value()) << "a box for COM";
    ChildProcess second(kServerProgram);
    EXPECT_EQ(second.waitForExit(15s), std::optional<DWORD>(0));
    const auto box = DialogWatchdog::instance().waitFor("服务器已经启动", 1s);
    ASSERT_TRUE(box.has_value()) << "no message box of string 62330";
    EXPECT_EQ(box->caption, "KorvexOPCServer");
    EXPECT_EQ(box->processId, second.id());
    EXPECT_EQ(korvex::test::runningProcesses(kServerProgram), std::vector<DWORD>{server_->id()});
    EXPECT_TRUE(IsWindow(window_)) << "the first instance is undisturbed";
}

TEST_F(AppHost, RegistrationTreeIsWrittenAndDeletedWhole) {
    StartRuntime();
    StartServer();
    const std::wstring serverPath = korvex::com::fromUtf8(korvex::test::programPath(kServerProgram));
    const std::wstring categories = std::wstring(kClassKey) + L"\\Implemented Categories";
    const std::vector<RegistryKey> registered = {
        {L"Korvex.OPCServer.2", L"KorvexOPCServer", 0},
        {L"Korvex.OPCServer.2\\CLSID", L"{B445967B-4C3E-4E38-9C91-6A8DDD94430C}", 0},
        {L"Korvex.OPCServer.2\\OPC", std::nullopt, 0},
        {kClassKey, L"KorvexOPCServer", 0},
        {categories, std::nullopt, 0},
        {categories + L"\\{63D5F430-CFE4-11D1-B2C8-0060083BA1FB}", std::nullopt, 0},
        {categories + L"\\{63D5F432-CFE4-11D1-B2C8-0060083BA1FB}", std::nullopt, 0},
        {categories + L"\\{CC603642-66D7-48F1-B69A-B625E73652D7}", std::nullopt, 0},
        {std::wstring(kClassKey) + L"\\LocalServer32", L'"' + serverPath + L'"', 0},
        {std::wstring(kClassKey) + L"\\ProgID", L"Korvex.OPCServer.2", 0},
    };
    // Another class beside ours must survive our unregistration.
    const std::wstring neighbour = L"CLSID\\{0E7C6A51-2B3D-4F60-8A9B-7C5D4E3F2A10}";
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CLASSES_ROOT, (neighbour + L"\\LocalServer32").c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &key, nullptr),
              ERROR_SUCCESS);
    RegCloseKey(key);

    const struct {
        const char* step;
        UINT command;  // 0: as the window's creation left it
        bool isRegistered;
    } steps[] = {
        {"after start", 0, true},
        {"Register again", ID_SERVER_REGISTER, true},
        {"Unregister", ID_SERVER_UNREGISTER, false},
        {"Unregister with nothing registered", ID_SERVER_UNREGISTER, false},
        {"Register after unregistering", ID_SERVER_REGISTER, true},
    };
    for (const auto& step : steps) {
        if (step.command != 0) SendMessageW(window_, WM_COMMAND, step.command, 0);
        const std::vector<RegistryKey> actual = ServerRegistration();
        const std::vector<RegistryKey>& expected = step.isRegistered ? registered : std::vector<RegistryKey>{};
        EXPECT_EQ(actual, expected) << step.step;
        if (actual != expected) {
            for (const RegistryKey& k : actual) ADD_FAILURE() << step.step << ": has " << Describe(k);
        }
        std::vector<RegistryKey> other;
        ReadTree(neighbour, other);
        EXPECT_EQ(other.size(), 2u) << step.step << ": another class's key was touched";
    }
    RegDeleteTreeW(HKEY_CLASSES_ROOT, neighbour.c_str());
}

TEST_F(AppHost, TitleCountsTheClients) {
    StartRuntime();
    StartServer();
    EXPECT_EQ(WaitForTitle(window_, TitleFor(0)), TitleFor(0));
    std::vector<ComPtr<IUnknown>> clients;
    for (int count = 1; count <= 2; ++count) {
        clients.push_back(Connect());
        EXPECT_EQ(WaitForTitle(window_, TitleFor(count)), TitleFor(count)) << count << " clients";
    }
    clients.pop_back();
    EXPECT_EQ(WaitForTitle(window_, TitleFor(1)), TitleFor(1)) << "after one of two left";
    EXPECT_TRUE(server_->running());
}

TEST_F(AppHost, ExitWithoutClientsEndsAtOnce) {
    StartRuntime();
    StartServer();
    PostMessageW(window_, WM_COMMAND, ID_APP_EXIT, 0);
    EXPECT_EQ(server_->waitForExit(5s), std::optional<DWORD>(0));
    EXPECT_TRUE(DialogWatchdog::instance().seen().empty());
}

// Records every shutdown request with the name of the sink that got it, in arrival order.
class ShutdownLog {
public:
    void Add(const std::string& sink, const std::wstring& reason) {
        std::lock_guard guard(lock_);
        calls_.push_back(sink + ": " + korvex::com::toUtf8(reason));
    }
    std::vector<std::string> Calls() const {
        std::lock_guard guard(lock_);
        return calls_;
    }

private:
    mutable std::mutex lock_;
    std::vector<std::string> calls_;
};

class ShutdownSink final : public korvex::com::ComObject<ShutdownSink, IOPCShutdown> {
public:
    // With `hangUntil`, the request does not return until that event is set.
    ShutdownSink(std::string name, ShutdownLog& log, HANDLE hangUntil)
        : name_(std::move(name)), log_(log), hangUntil_(hangUntil) {}
    HRESULT STDMETHODCALLTYPE ShutdownRequest(LPCWSTR reason) override {
        log_.Add(name_, reason != nullptr ? reason : L"(null)");
        if (hangUntil_ != nullptr) WaitForSingleObject(hangUntil_, 60000);
        return S_OK;
    }

private:
    std::string name_;
    ShutdownLog& log_;
    HANDLE hangUntil_;
};

struct Subscription {
    ComPtr<IConnectionPoint> point;
    DWORD cookie = 0;
};

Subscription Subscribe(IUnknown* client, const std::string& name, ShutdownLog& log, HANDLE hangUntil = nullptr) {
    Subscription subscription;
    ComPtr<IConnectionPointContainer> container;
    EXPECT_HR(client->QueryInterface(IID_IConnectionPointContainer,
                                     reinterpret_cast<void**>(container.ReleaseAndGetAddressOf())),
              S_OK);
    if (!container) return subscription;
    EXPECT_HR(container->FindConnectionPoint(IID_IOPCShutdown, subscription.point.ReleaseAndGetAddressOf()), S_OK);
    if (!subscription.point) return subscription;
    ComPtr<ShutdownSink> sink = korvex::com::make<ShutdownSink>(name, log, hangUntil);
    EXPECT_HR(subscription.point->Advise(sink->identity(), &subscription.cookie), S_OK) << name;
    return subscription;
}

TEST_F(AppHost, ExitWithClientsAsksAndNotifiesEverySubscribedSinkOnYes) {
    // The server calls the clients' sinks through the OPC proxy/stub DLL.
    ASSERT_HR(korvex::test::RegisterProxyStub(), S_OK);
    StartRuntime();
    StartServer();
    ShutdownLog log;
    std::vector<ComPtr<IUnknown>> clients{Connect(), Connect(), Connect()};
    ASSERT_EQ(WaitForTitle(window_, TitleFor(3)), TitleFor(3));
    // The first client subscribes two sinks and takes a third back, the second none, the third one.
    std::vector<Subscription> subscriptions{Subscribe(clients[0].Get(), "first A", log),
                                            Subscribe(clients[0].Get(), "first B", log),
                                            Subscribe(clients[2].Get(), "third", log)};
    const Subscription withdrawn = Subscribe(clients[0].Get(), "first withdrawn", log);
    ASSERT_TRUE(withdrawn.point);
    EXPECT_HR(withdrawn.point->Unadvise(withdrawn.cookie), S_OK);
    const std::string question = "有[3]客户端与Korvex OPC Server连接";

    DialogWatchdog::instance().answer(DialogButton::no);
    PostMessageW(window_, WM_CLOSE, 0, 0);
    auto box = DialogWatchdog::instance().waitFor(question, 10s);
    ASSERT_TRUE(box.has_value()) << "no exit question showing the count";
    EXPECT_EQ(box->caption, "KorvexOPCServer");
    EXPECT_EQ(box->pressed, IDNO);
    EXPECT_EQ(server_->waitForExit(1500ms), std::nullopt) << "No leaves the server running";
    EXPECT_TRUE(IsWindow(window_));
    EXPECT_TRUE(log.Calls().empty()) << "No tells no client";

    DialogWatchdog::instance().reset();
    DialogWatchdog::instance().answer(DialogButton::yes);
    PostMessageW(window_, WM_CLOSE, 0, 0);
    box = DialogWatchdog::instance().waitFor(question, 10s);
    ASSERT_TRUE(box.has_value());
    EXPECT_EQ(box->pressed, IDYES);
    EXPECT_EQ(server_->waitForExit(15s), std::optional<DWORD>(0));
    const std::vector<std::string> expected{"first A: 用户强制关闭", "first B: 用户强制关闭", "third: 用户强制关闭"};
    EXPECT_EQ(log.Calls(), expected);
}

// The SCADA runtime dies under subscribed clients: every client is told why, the server lets go of
// the runtime's memory and ends, the runtime can start again and a client reconnects to a new server.
TEST_F(AppHost, WhenTheRuntimeDiesTheClientsAreToldAndTheServerEnds) {
    ASSERT_HR(korvex::test::RegisterProxyStub(), S_OK);
    StartRuntime();
    StartServer();
    ShutdownLog log;
    std::vector<ComPtr<IUnknown>> clients{Connect(), Connect()};
    std::vector<Subscription> subscriptions{Subscribe(clients[0].Get(), "first", log),
                                            Subscribe(clients[1].Get(), "second", log)};
    simulator_->kill();
    EXPECT_EQ(server_->waitForExit(15s), std::optional<DWORD>(0)) << "the server did not end";
    const std::vector<std::string> expected{"first: SCADA运行系统已停止", "second: SCADA运行系统已停止"};
    EXPECT_EQ(log.Calls(), expected);
    EXPECT_TRUE(DialogWatchdog::instance().seen().empty()) << "no dialog on the way out";
    subscriptions.clear();
    clients.clear();
    server_.reset();

    StartRuntime();  // refused while anybody still maps the runtime's memory
    ComPtr<IOPCServer> again;
    ASSERT_HR(CoCreateInstance(app::CLSID_KorvexOPCServer, nullptr, CLSCTX_LOCAL_SERVER, IID_IOPCServer,
                               reinterpret_cast<void**>(again.ReleaseAndGetAddressOf())),
              S_OK);
    OPCSERVERSTATUS* status = nullptr;
    ASSERT_HR(again->GetStatus(&status), S_OK);
    EXPECT_EQ(status->dwServerState, OPC_STATUS_RUNNING);
    CoTaskMemFree(status->szVendorInfo);
    CoTaskMemFree(status);
}

TEST_F(AppHost, AClientHungInItsShutdownRequestDelaysTheExitOnlyBriefly) {
    ASSERT_HR(korvex::test::RegisterProxyStub(), S_OK);
    StartRuntime();
    StartServer();
    ShutdownLog log;
    std::vector<ComPtr<IUnknown>> clients{Connect(), Connect()};
    ASSERT_EQ(WaitForTitle(window_, TitleFor(2)), TitleFor(2));
    const HANDLE release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::vector<Subscription> subscriptions{Subscribe(clients[0].Get(), "hung", log, release),
                                            Subscribe(clients[1].Get(), "healthy", log)};

    DialogWatchdog::instance().answer(DialogButton::yes);
    const auto asked = std::chrono::steady_clock::now();
    PostMessageW(window_, WM_CLOSE, 0, 0);
    ASSERT_TRUE(DialogWatchdog::instance().waitFor("有[2]客户端与Korvex OPC Server连接", 10s).has_value());
    const std::optional<DWORD> exitCode = server_->waitForExit(20s);
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - asked);
    SetEvent(release);
    EXPECT_EQ(exitCode, std::optional<DWORD>(0));
    EXPECT_LT(took, 10s) << "the server waited " << took.count() << " ms for the hung client";
    const std::vector<std::string> expected{"hung: 用户强制关闭", "healthy: 用户强制关闭"};
    EXPECT_EQ(log.Calls(), expected) << "the client after the hung one is told as well";
    CloseHandle(release);
}

// A data sink; with `hangUntil`, a call does not return until that event is set.
class DataSink final : public korvex::com::DataCallbackSink<DataSink> {
public:
    explicit DataSink(HANDLE hangUntil) : hangUntil_(hangUntil) {}
    HRESULT STDMETHODCALLTYPE OnDataChange(DWORD, OPCHANDLE, HRESULT, HRESULT, DWORD, OPCHANDLE*, VARIANT*, WORD*,
                                           FILETIME*, HRESULT*) override {
        if (hangUntil_ != nullptr) WaitForSingleObject(hangUntil_, 60000);
        return S_OK;
    }

private:
    HANDLE hangUntil_;
};

// A client named `name` (none when null) with, when `items` are given, a group of them whose data
// changes go to `sink`, activated once subscribed: its first scan reports every item.
struct ViewClient {
    ComPtr<IOPCServer> server;
    ComPtr<IOPCItemMgt> group;
};

ViewClient ConnectViewClient(const wchar_t* name, std::initializer_list<const wchar_t*> items = {},
                             IOPCDataCallback* sink = nullptr) {
    ViewClient c;
    EXPECT_HR(CoCreateInstance(app::CLSID_KorvexOPCServer, nullptr, CLSCTX_LOCAL_SERVER, IID_IOPCServer,
                               reinterpret_cast<void**>(c.server.ReleaseAndGetAddressOf())),
              S_OK);
    if (!c.server) return c;
    ComPtr<IOPCCommon> common;
    c.server->QueryInterface(IID_IOPCCommon, reinterpret_cast<void**>(common.ReleaseAndGetAddressOf()));
    if (name != nullptr) {
        EXPECT_HR(common->SetClientName(name), S_OK);
    }
    if (items.size() == 0) return c;
    OPCHANDLE handle = 0;
    DWORD revised = 0;
    EXPECT_HR(c.server->AddGroup(L"Mimic", FALSE, 1000, 1, nullptr, nullptr, 0, &handle, &revised, IID_IOPCItemMgt,
                                 reinterpret_cast<LPUNKNOWN*>(c.group.ReleaseAndGetAddressOf())),
              S_OK);
    for (const wchar_t* id : items) {
        OPCITEMDEF d{const_cast<LPWSTR>(L""), const_cast<LPWSTR>(id), TRUE, 0, 0, nullptr, VT_EMPTY, 0};
        OPCITEMRESULT* results = nullptr;
        HRESULT* errors = nullptr;
        EXPECT_HR(c.group->AddItems(1, &d, &results, &errors), S_OK);
        CoTaskMemFree(results);
        CoTaskMemFree(errors);
    }
    ComPtr<IConnectionPointContainer> container;
    ComPtr<IConnectionPoint> point;
    DWORD cookie = 0;
    c.group->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(container.ReleaseAndGetAddressOf()));
    EXPECT_HR(container->FindConnectionPoint(IID_IOPCDataCallback, point.ReleaseAndGetAddressOf()), S_OK);
    EXPECT_HR(point->Advise(sink, &cookie), S_OK);
    ComPtr<IOPCGroupStateMgt> state;
    c.group->QueryInterface(IID_IOPCGroupStateMgt, reinterpret_cast<void**>(state.ReleaseAndGetAddressOf()));
    BOOL active = TRUE;
    EXPECT_HR(state->SetState(nullptr, &revised, &active, nullptr, nullptr, nullptr, nullptr), S_OK);
    return c;
}

using Rows = std::vector<std::vector<std::string>>;

// The texts of a list of another process, row by row: the list writes them into memory of its own
// process, which is read from here.
Rows ListRows(HWND list, int columns) {
    Rows rows;
    DWORD processId = 0;
    GetWindowThreadProcessId(list, &processId);
    const korvex::com::UniqueHandle process(
        OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, processId));
    constexpr int kChars = 256;
    auto* remote = static_cast<char*>(VirtualAllocEx(process.get(), nullptr, sizeof(LVITEMW) + kChars * sizeof(wchar_t),
                                                     MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
    if (remote == nullptr) return rows;
    const int count = static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
    for (int r = 0; r < count; ++r) {
        std::vector<std::string>& row = rows.emplace_back();
        for (int c = 0; c < columns; ++c) {
            LVITEMW item{};
            item.iSubItem = c;
            item.pszText = reinterpret_cast<LPWSTR>(remote + sizeof(LVITEMW));
            item.cchTextMax = kChars;
            wchar_t text[kChars] = {};
            WriteProcessMemory(process.get(), remote, &item, sizeof item, nullptr);
            const auto length = SendMessageW(list, LVM_GETITEMTEXTW, r, reinterpret_cast<LPARAM>(remote));
            ReadProcessMemory(process.get(), remote + sizeof(LVITEMW), text, sizeof text, nullptr);
            row.push_back(korvex::com::toUtf8(std::wstring(text, static_cast<std::size_t>(length))));
        }
    }
    VirtualFreeEx(process.get(), remote, 0, MEM_RELEASE);
    return rows;
}

// The rows once `done` holds for them, or the last rows read after `timeout`.
template <class Done>
Rows WaitForRows(HWND list, int columns, Done done, std::chrono::milliseconds timeout = 15s) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    Rows rows = ListRows(list, columns);
    while (!done(rows) && std::chrono::steady_clock::now() < deadline) {
        Sleep(100);
        rows = ListRows(list, columns);
    }
    return rows;
}

// Columns: client, groups, active items, changes per minute, last callback's result, delivery.
std::vector<std::string> Summary(const std::vector<std::string>& row) {
    return row.size() < 8 ? row : std::vector<std::string>{row[0], row[2], row[3], row[4], row[6], row[7]};
}

TEST_F(AppHost, TheViewShowsEveryClientAndTheOneStalledInItsCallback) {
    ASSERT_HR(korvex::test::RegisterProxyStub(), S_OK);
    StartRuntime();
    StartServer();
    const HANDLE release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ComPtr<DataSink> steady = korvex::com::make<DataSink>(nullptr);
    ComPtr<DataSink> stuck = korvex::com::make<DataSink>(release);
    ViewClient historian = ConnectViewClient(
        L"Historian", {L"NorthSubstation.analog.BusbarVoltage", L"NorthSubstation.analog.FeederCurrent"}, steady.Get());
    ViewClient unnamed = ConnectViewClient(nullptr);
    ViewClient panel = ConnectViewClient(L"Panel 2", {L"NorthSubstation.switch.Breaker1"}, stuck.Get());
    PostMessageW(window_, WM_COMMAND, ID_WINDOW_SHOW, 0);
    const HWND view = FindWindowExW(window_, nullptr, L"#32770", nullptr);
    const HWND clients = GetDlgItem(view, IDC_VIEW_CLIENTS);
    const HWND groups = GetDlgItem(view, IDC_VIEW_GROUPS);
    ASSERT_NE(clients, nullptr);

    // The values of the frozen plant are sent once: two to the historian; the panel never returns.
    Rows rows = WaitForRows(clients, 8, [](const Rows& r) { return r.size() == 3 && r[2][7].starts_with("已停滞"); });
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(Summary(rows[0]), (std::vector<std::string>{"Historian", "1", "2", "2", "S_OK", "空闲"}));
    EXPECT_EQ(Summary(rows[1]), (std::vector<std::string>{"(未命名)", "0", "0", "0", "", "空闲"}));
    EXPECT_EQ(rows[1][5], "无") << "no callback yet";
    EXPECT_EQ(Summary(rows[2]), (std::vector<std::string>{"Panel 2", "1", "1", "0", "", rows[2][7]}));
    EXPECT_TRUE(rows[2][7].starts_with("已停滞 ") && rows[2][7].ends_with(" 秒")) << rows[2][7];
    wchar_t status[256] = {};
    SendMessageW(GetDlgItem(view, IDC_VIEW_STATUS), WM_GETTEXT, 256, reinterpret_cast<LPARAM>(status));
    const std::string statusLine = korvex::com::toUtf8(status);
    EXPECT_TRUE(statusLine.starts_with("服务器: 运行 | 点数: 18 | 更新耗时: ")) << statusLine;
    EXPECT_TRUE(statusLine.ends_with("| SCADA窗口: 正常")) << statusLine;

    // The operator selects the stalled client: its group shows.
    PostMessageW(clients, WM_KEYDOWN, VK_END, 0);
    const std::vector<std::string> mimic{"Mimic", "是", "1000", "0", "1", "0", "0"};
    EXPECT_EQ(WaitForRows(groups, 7, [&](const Rows& r) { return r == Rows{mimic}; }), Rows{mimic});

    // A client leaves; the selection stays with its client. The stalled one returns.
    unnamed = {};
    SetEvent(release);
    rows = WaitForRows(clients, 8, [](const Rows& r) { return r.size() == 2 && r[1][7] == "空闲"; });
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(Summary(rows[1]), (std::vector<std::string>{"Panel 2", "1", "1", "1", "S_OK", "空闲"}));
    EXPECT_EQ(ListRows(groups, 7), Rows{mimic});
    historian = {};
    panel = {};
    EXPECT_EQ(server_->waitForExit(10s), std::optional<DWORD>(0)) << "the last client has left";
    CloseHandle(release);
}

}  // namespace
