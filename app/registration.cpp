#include "app/registration.h"

#include "app/server_clsid.h"
#include "com/unique_any.h"

#include <windows.h>
#include <objbase.h>

#include <array>

namespace app {
namespace {

constexpr const wchar_t* kServerName = L"KorvexOPCServer";

// The published OPC DA server categories, newest first, in the case the OPC Foundation writes them.
constexpr std::array<const wchar_t*, 3> kCategories = {
    L"{CC603642-66D7-48F1-B69A-B625E73652D7}",  // OPC DA 3.0
    L"{63D5F432-CFE4-11D1-B2C8-0060083BA1FB}",  // OPC DA 2.0
    L"{63D5F430-CFE4-11D1-B2C8-0060083BA1FB}",  // OPC DA 1.0
};

// The registry form, braces included; StringFromGUID2 writes into our buffer and cannot fail for
// lack of memory (an empty text would make the class key "CLSID\" and unregistration delete every
// class in the registry).
std::wstring ClassIdText() {
    wchar_t text[40] = {};
    StringFromGUID2(CLSID_KorvexOPCServer, text, 40);
    return text;
}

bool DeleteTree(const std::wstring& key) {
    const LSTATUS status = RegDeleteTreeW(HKEY_CLASSES_ROOT, key.c_str());
    return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND;
}

}  // namespace

std::wstring ExecutablePath() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length < path.size()) {
            path.resize(length);
            return path;
        }
        path.resize(path.size() * 2);
    }
}

std::wstring ServerClassKey() { return L"CLSID\\" + ClassIdText(); }

bool WriteRegistryValue(const std::wstring& keyPath, const wchar_t* subkey, const wchar_t* value) {
    std::wstring path = keyPath;
    if (subkey != nullptr) path.append(L"\\").append(subkey);
    korvex::com::UniqueHkey key;
    if (RegCreateKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr,
                        key.put(), nullptr) != ERROR_SUCCESS)
        return false;
    LSTATUS status = ERROR_SUCCESS;
    if (value != nullptr) {
        const DWORD bytes = static_cast<DWORD>((wcslen(value) + 1) * sizeof(wchar_t));
        status = RegSetValueExW(key.get(), nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value), bytes);
    }
    return status == ERROR_SUCCESS;
}

bool RegisterServer() {
    const std::wstring path = ExecutablePath();
    const std::wstring clsid = ClassIdText();
    const std::wstring classKey = ServerClassKey();

    // Every key is attempted: one that fails does not keep the others from being written.
    bool written = WriteRegistryValue(kServerProgId, nullptr, kServerName);
    written &= WriteRegistryValue(kServerProgId, L"CLSID", clsid.c_str());
    written &= WriteRegistryValue(kServerProgId, L"OPC", nullptr);

    written &= WriteRegistryValue(classKey, nullptr, kServerName);
    written &= WriteRegistryValue(classKey, L"ProgID", kServerProgId);
    // Quoted: in a folder whose name has a space (Program Files), an unquoted path would let
    // Windows try "C:\Program.exe" first.
    written &= WriteRegistryValue(classKey, L"LocalServer32", (L'"' + path + L'"').c_str());

    const std::wstring categories = classKey + L"\\Implemented Categories";
    written &= WriteRegistryValue(categories, nullptr, nullptr);
    for (const wchar_t* category : kCategories) written &= WriteRegistryValue(categories, category, nullptr);
    return written;
}

bool UnregisterServer() {
    const bool classGone = DeleteTree(ServerClassKey());
    const bool progIdGone = DeleteTree(kServerProgId);
    return classGone && progIdGone;
}

}  // namespace app
