// The registry values that the server reads at start: the SCADA working directory and its two
// settings under the current user.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace sim {

constexpr const char* kWorkingKey = "SoftWare\\KorvexSettings";
constexpr const char* kWorkingValue = "Working";
constexpr const char* kSettingsKey = "Software\\Korvex\\Scada\\Settings";
constexpr const char* kOnlyTransferValue = "OPC Server Only Show Tranfer Tag";  // spelled as the server reads it
constexpr const char* kWriteableValue = "OPC Server Writeable";

struct ServerSettings {
    std::string workingDirectory;
    std::optional<std::uint32_t> writeable;     // none: the value is removed
    std::optional<std::uint32_t> onlyTransfer;  // none: the value is removed
};

// Returns an error text, empty on success.
std::string writeServerSettings(const ServerSettings& settings);

}  // namespace sim
