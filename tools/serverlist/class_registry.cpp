#include "tools/serverlist/class_registry.h"

#include "com/unique_any.h"

#include <windows.h>

#include <algorithm>
#include <array>
#include <set>

namespace serverlist {
namespace {

using korvex::com::UniqueHkey;

constexpr bool k64BitProcess = sizeof(void*) == 8;
// On 32-bit Windows both flags are ignored and name the one view there is; the duplicate classes
// that gives are dropped like any other.
constexpr std::array<REGSAM, 2> kViews = {k64BitProcess ? KEY_WOW64_64KEY : KEY_WOW64_32KEY,
                                          k64BitProcess ? KEY_WOW64_32KEY : KEY_WOW64_64KEY};

UniqueHkey OpenKey(HKEY parent, const std::wstring& path, REGSAM access = KEY_READ) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(parent, path.c_str(), 0, access, &key) != ERROR_SUCCESS) return {};
    return UniqueHkey(key);
}

// The default value (REG_SZ) of `key`\`subkey`, however long.
std::optional<std::wstring> DefaultValue(HKEY key, const wchar_t* subkey) {
    for (;;) {
        DWORD bytes = 0;
        if (RegGetValueW(key, subkey, nullptr, RRF_RT_REG_SZ, nullptr, nullptr, &bytes) != ERROR_SUCCESS)
            return std::nullopt;
        std::wstring text(bytes / sizeof(wchar_t) + 1, L'\0');
        bytes = static_cast<DWORD>(text.size() * sizeof(wchar_t));
        const LSTATUS status = RegGetValueW(key, subkey, nullptr, RRF_RT_REG_SZ, nullptr, text.data(), &bytes);
        if (status == ERROR_MORE_DATA) continue;  // it grew meanwhile
        if (status != ERROR_SUCCESS) return std::nullopt;
        text.resize(wcsnlen(text.c_str(), text.size()));
        return text;
    }
}

// Only the braced form: IIDFromString accepts other spellings on some systems.
std::optional<GUID> ParseGuid(const std::wstring& text) {
    GUID guid{};
    if (text.size() != 38 || text.front() != L'{' || text.back() != L'}') return std::nullopt;
    if (FAILED(IIDFromString(text.c_str(), &guid))) return std::nullopt;
    return guid;
}

bool Implements(HKEY classes, const std::wstring& classKey, const std::vector<std::wstring>& anyOf,
                const std::vector<std::wstring>& allOf) {
    const UniqueHkey categories = OpenKey(classes, classKey + L"\\Implemented Categories");
    if (!categories) return anyOf.empty() && allOf.empty();
    const auto has = [&](const std::wstring& category) {
        return static_cast<bool>(OpenKey(categories.get(), category));
    };
    return (anyOf.empty() || std::ranges::any_of(anyOf, has)) && std::ranges::all_of(allOf, has);
}

std::vector<std::wstring> Texts(std::span<const CATID> guids) {
    std::vector<std::wstring> texts;
    for (const CATID& guid : guids) texts.push_back(GuidText(guid));
    return texts;
}

}  // namespace

std::wstring GuidText(REFGUID guid) {
    wchar_t text[40] = {};
    StringFromGUID2(guid, text, 40);
    return text;
}

std::vector<CLSID> ClassesOfCategories(std::span<const CATID> anyOf, std::span<const CATID> allOf) {
    const std::vector<std::wstring> anyOfTexts = Texts(anyOf), allOfTexts = Texts(allOf);
    std::vector<CLSID> found;
    std::set<std::wstring> seen;
    for (const REGSAM view : kViews) {
        const UniqueHkey classes = OpenKey(HKEY_CLASSES_ROOT, L"CLSID", KEY_READ | view);
        if (!classes) continue;
        for (DWORD index = 0;; ++index) {
            wchar_t name[256];
            DWORD length = 256;
            const LSTATUS status =
                RegEnumKeyExW(classes.get(), index, name, &length, nullptr, nullptr, nullptr, nullptr);
            if (status == ERROR_NO_MORE_ITEMS) break;
            if (status != ERROR_SUCCESS) continue;
            const std::optional<GUID> clsid = ParseGuid(name);
            if (!clsid || !seen.insert(GuidText(*clsid)).second) continue;
            if (Implements(classes.get(), name, anyOfTexts, allOfTexts)) found.push_back(*clsid);
        }
    }
    return found;
}

std::optional<ClassDetails> FindClassDetails(REFCLSID clsid) {
    for (const REGSAM view : kViews) {
        const UniqueHkey classKey = OpenKey(HKEY_CLASSES_ROOT, L"CLSID\\" + GuidText(clsid), KEY_READ | view);
        if (!classKey) continue;
        const std::optional<std::wstring> progId = DefaultValue(classKey.get(), L"ProgID");
        if (!progId || progId->empty()) return std::nullopt;
        return ClassDetails{*progId, DefaultValue(classKey.get(), nullptr).value_or(L""),
                            DefaultValue(classKey.get(), L"VersionIndependentProgID").value_or(*progId)};
    }
    return std::nullopt;
}

std::optional<CLSID> FindClassOfProgId(const std::wstring& progId) {
    for (const REGSAM view : kViews) {
        // One CurVer step leads from a version-independent ProgID to the current one; an empty name
        // would open HKEY_CLASSES_ROOT itself.
        std::wstring name = progId;
        for (int step = 0; step < 2 && !name.empty(); ++step) {
            const UniqueHkey key = OpenKey(HKEY_CLASSES_ROOT, name, KEY_READ | view);
            if (!key) break;
            if (const std::optional<std::wstring> clsid = DefaultValue(key.get(), L"CLSID")) {
                if (const std::optional<GUID> guid = ParseGuid(*clsid)) return *guid;
                break;
            }
            name = DefaultValue(key.get(), L"CurVer").value_or(L"");
        }
    }
    return std::nullopt;
}

}  // namespace serverlist
