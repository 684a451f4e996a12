// The value-setting messages that writers send to the runtime's main window as WM_COPYDATA:
// code 5008 (set value, 76 bytes) and code 6112 (control, 152 bytes). Both carry the station name
// at 0 and the point name at 32 (32-byte NUL-terminated ANSI texts), the point kind at 64 and an
// 8-byte value: at 68 in the set-value message, at 132 in the control message.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace sim {

struct RuntimeWrite {
    std::string station;  // ANSI
    std::string point;    // ANSI
    int kind = 0;         // rt::kAnalogKind or rt::kSwitchKind
    double analogValue = 0.0;
    std::uint8_t switchState = 0;  // the value field's first byte
};

// Null for an unknown code, a size that does not match the code, or an unknown point kind.
std::optional<RuntimeWrite> decodeRuntimeMessage(std::uint32_t code, std::span<const std::byte> payload);

}  // namespace sim
