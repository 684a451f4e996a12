// KorvexServerList.exe: the OPC server list as a local COM server, for the machines where no other
// product provides one. /RegServer and /UnregServer write and remove its registration; started by
// COM (-Embedding) it serves until its last object is gone. It never shows a window: it runs on
// plant machines unattended, and a message box there would block it for good.
// Exit codes: 0 done; 1 registering failed; 2 unknown command line; 3 another program's server
// list is registered (left as it is).
#include "com/module_lock.h"
#include "tools/serverlist/class_factory.h"
#include "tools/serverlist/registration.h"

#include <windows.h>
#include <objbase.h>
#include <shellapi.h>

#include <string>
#include <vector>

namespace {

enum ExitCode : int { kDone = 0, kFailed = 1, kUsage = 2, kAnotherProgram = 3 };

// How long the program waits for the client that COM started it for, and for an end that a
// client's last release did not bring (a client that died keeps its objects under Wine).
constexpr DWORD kIdleCheckMs = 30'000;

HANDLE idleEvent = nullptr;

std::vector<std::wstring> Arguments() {
    int count = 0;
    LPWSTR* args = CommandLineToArgvW(GetCommandLineW(), &count);
    std::vector<std::wstring> arguments;
    for (int i = 1; args != nullptr && i < count; ++i) arguments.emplace_back(args[i]);
    LocalFree(args);
    return arguments;
}

// "/RegServer" and "-RegServer", in any case.
bool IsSwitch(const std::wstring& argument, const wchar_t* name) {
    return argument.size() > 1 && (argument[0] == L'/' || argument[0] == L'-') &&
           _wcsicmp(argument.c_str() + 1, name) == 0;
}

int ExitCodeOf(serverlist::RegistrationResult result) {
    switch (result) {
    case serverlist::RegistrationResult::done: return kDone;
    case serverlist::RegistrationResult::anotherProgram: return kAnotherProgram;
    default: return kFailed;
    }
}

int Serve() {
    idleEvent = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    if (idleEvent == nullptr) return kFailed;
    korvex::com::ModuleLock::onZero([]() noexcept { SetEvent(idleEvent); });
    if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) return kFailed;
    {
        serverlist::ClassObjectRegistration classObject;
        if (FAILED(classObject.Register())) {
            CoUninitialize();
            return kFailed;
        }
        for (;;) {
            if (WaitForSingleObject(idleEvent, kIdleCheckMs) == WAIT_FAILED) break;
            if (korvex::com::ModuleLock::count() > 0) continue;
            // New activations start a new process from here on; a client that got the factory just
            // before is still served to its end.
            classObject.Revoke();
            if (korvex::com::ModuleLock::count() == 0) break;
        }
    }
    CoUninitialize();
    return kDone;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    const std::vector<std::wstring> arguments = Arguments();
    if (arguments.size() != 1) return kUsage;
    if (IsSwitch(arguments[0], L"RegServer")) return ExitCodeOf(serverlist::RegisterServerList());
    if (IsSwitch(arguments[0], L"UnregServer")) return ExitCodeOf(serverlist::UnregisterServerList());
    if (IsSwitch(arguments[0], L"Embedding")) return Serve();
    return kUsage;
}
