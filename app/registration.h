// The server's self-registration under HKEY_CLASSES_ROOT: the versioned ProgID, the class key with
// its local server and the three OPC DA server categories.
#pragma once

#include <string>

namespace app {

// Writes the registration for the running executable. Keys that cannot be written are skipped;
// the result says whether every key was written.
bool RegisterServer();

// Deletes the class key and the ProgID key with all their subkeys; keys that do not exist are
// not an error. The result says whether both trees are gone.
bool UnregisterServer();

// Creates or opens HKCR\<keyPath>[\<subkey>] and, when `value` is given, writes it as the key's
// default value (REG_SZ). False only when the key cannot be created.
bool WriteRegistryValue(const std::wstring& keyPath, const wchar_t* subkey, const wchar_t* value);

// The full path of the running executable, however long.
std::wstring ExecutablePath();

// The class key's path below HKCR: "CLSID\{...}".
std::wstring ServerClassKey();

}  // namespace app
