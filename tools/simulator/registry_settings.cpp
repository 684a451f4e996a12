#include "tools/simulator/registry_settings.h"

#include <windows.h>

namespace sim {

namespace {

class Key {
public:
    explicit Key(const char* path)
        : status_(
              RegCreateKeyExA(HKEY_CURRENT_USER, path, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key_, nullptr)) {}
    ~Key() {
        if (status_ == ERROR_SUCCESS) RegCloseKey(key_);
    }
    Key(const Key&) = delete;
    Key& operator=(const Key&) = delete;

    LSTATUS status() const { return status_; }
    LSTATUS setText(const char* name, const std::string& text) const {
        return RegSetValueExA(key_, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                              static_cast<DWORD>(text.size() + 1));
    }
    LSTATUS setNumber(const char* name, std::optional<std::uint32_t> number) const {
        if (!number) {
            const LSTATUS status = RegDeleteValueA(key_, name);
            return status == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : status;
        }
        const DWORD value = *number;
        return RegSetValueExA(key_, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
    }

private:
    HKEY key_ = nullptr;
    LSTATUS status_;
};

std::string failure(const char* what, LSTATUS status) {
    return std::string("cannot write the registry: ") + what + " (error " + std::to_string(status) + ")";
}

}  // namespace

std::string writeServerSettings(const ServerSettings& settings) {
    const Key working(kWorkingKey);
    if (working.status() != ERROR_SUCCESS) return failure(kWorkingKey, working.status());
    if (const LSTATUS s = working.setText(kWorkingValue, settings.workingDirectory); s != ERROR_SUCCESS)
        return failure(kWorkingValue, s);

    const Key server(kSettingsKey);
    if (server.status() != ERROR_SUCCESS) return failure(kSettingsKey, server.status());
    if (const LSTATUS s = server.setNumber(kWriteableValue, settings.writeable); s != ERROR_SUCCESS)
        return failure(kWriteableValue, s);
    if (const LSTATUS s = server.setNumber(kOnlyTransferValue, settings.onlyTransfer); s != ERROR_SUCCESS)
        return failure(kOnlyTransferValue, s);
    return {};
}

}  // namespace sim
