#include "tools/serverlist/registration.h"

#include "app/registration.h"
#include "com/unique_any.h"
#include "opccomn.h"
#include "tools/serverlist/class_registry.h"

#include <windows.h>

#include <array>
#include <optional>
#include <string>

namespace serverlist {
namespace {

constexpr const wchar_t* kName = L"Korvex OPC Server List";
constexpr const wchar_t* kProgId = L"OPC.ServerList.1";
constexpr const wchar_t* kIndependentProgId = L"OPC.ServerList";
// Packet integrity: machines hardened against weak DCOM authentication refuse anything less.
constexpr DWORD kAuthenticationLevel = 5;

std::wstring ClassKey() { return L"CLSID\\" + GuidText(CLSID_OpcServerList); }

std::wstring FileNameOf(const std::wstring& path) {
    const std::size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

// The program a LocalServer32 value starts: quoted, or the whole value.
std::wstring ProgramOf(const std::wstring& command) {
    if (command.starts_with(L'"')) return command.substr(1, command.find(L'"', 1) - 1);
    return command;
}

// The class is registered for a program of another name: another product's server list.
bool RegisteredForAnotherProgram() {
    wchar_t command[2048];
    DWORD bytes = sizeof command;
    const std::wstring key = ClassKey() + L"\\LocalServer32";
    if (RegGetValueW(HKEY_CLASSES_ROOT, key.c_str(), nullptr, RRF_RT_REG_SZ, nullptr, command, &bytes) != ERROR_SUCCESS)
        return false;
    return _wcsicmp(FileNameOf(ProgramOf(command)).c_str(), FileNameOf(app::ExecutablePath()).c_str()) != 0;
}

// A named value; app::WriteRegistryValue writes default values only.
bool WriteNamedValue(const std::wstring& keyPath, const wchar_t* name, DWORD type, const void* data, DWORD bytes) {
    korvex::com::UniqueHkey key;
    if (RegCreateKeyExW(HKEY_CLASSES_ROOT, keyPath.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_SET_VALUE, nullptr,
                        key.put(), nullptr) != ERROR_SUCCESS)
        return false;
    return RegSetValueExW(key.get(), name, 0, type, static_cast<const BYTE*>(data), bytes) == ERROR_SUCCESS;
}

bool WriteNamedString(const std::wstring& keyPath, const wchar_t* name, const std::wstring& text) {
    return WriteNamedValue(keyPath, name, REG_SZ, text.c_str(),
                           static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
}

std::wstring AppIdOfProgramKey() { return L"AppID\\" + FileNameOf(app::ExecutablePath()); }

}  // namespace

RegistrationResult RegisterServerList() {
    if (RegisteredForAnotherProgram()) return RegistrationResult::anotherProgram;
    const std::wstring clsid = GuidText(CLSID_OpcServerList);
    const std::wstring classKey = ClassKey();
    const std::wstring command = L"\"" + app::ExecutablePath() + L"\"";
    const std::wstring appIdKey = L"AppID\\" + clsid;

    // Every key is attempted: one that fails does not keep the others from being written.
    bool written = app::WriteRegistryValue(classKey, nullptr, kName);
    written &= app::WriteRegistryValue(classKey, L"LocalServer32", command.c_str());
    written &= app::WriteRegistryValue(classKey, L"ProgID", kProgId);
    written &= app::WriteRegistryValue(classKey, L"VersionIndependentProgID", kIndependentProgId);
    for (const wchar_t* progId : {kProgId, kIndependentProgId}) {
        written &= app::WriteRegistryValue(progId, nullptr, kName);
        written &= app::WriteRegistryValue(progId, L"CLSID", clsid.c_str());
    }
    written &= app::WriteRegistryValue(kIndependentProgId, L"CurVer", kProgId);

    written &= WriteNamedString(classKey, L"AppID", clsid);
    written &= app::WriteRegistryValue(appIdKey, nullptr, kName);
    written &= WriteNamedValue(appIdKey, L"AuthenticationLevel", REG_DWORD, &kAuthenticationLevel, sizeof(DWORD));
    written &= WriteNamedString(AppIdOfProgramKey(), L"AppID", clsid);
    return written ? RegistrationResult::done : RegistrationResult::failed;
}

RegistrationResult UnregisterServerList() {
    if (RegisteredForAnotherProgram()) return RegistrationResult::anotherProgram;
    bool removed = true;
    for (const std::wstring& key : {ClassKey(), std::wstring(kProgId), std::wstring(kIndependentProgId),
                                    L"AppID\\" + GuidText(CLSID_OpcServerList), AppIdOfProgramKey()}) {
        const LSTATUS status = RegDeleteTreeW(HKEY_CLASSES_ROOT, key.c_str());
        removed &= status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND;
    }
    return removed ? RegistrationResult::done : RegistrationResult::failed;
}

}  // namespace serverlist
