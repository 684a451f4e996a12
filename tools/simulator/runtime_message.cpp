#include "tools/simulator/runtime_message.h"

#include "rtdb/rt_library.h"
#include "rtdb/standin/rt_image.h"

namespace sim {

using namespace rt::message;

std::optional<RuntimeWrite> decodeRuntimeMessage(std::uint32_t code, std::span<const std::byte> payload) {
    std::size_t valueOffset;
    if (code == kSetValueCode && payload.size() == kSetValueSize)
        valueOffset = kSetValueValue;
    else if (code == kControlCode && payload.size() == kControlSize)
        valueOffset = kControlValue;
    else
        return std::nullopt;

    RuntimeWrite write;
    write.kind = static_cast<std::int32_t>(rtimage::readU32(payload.data() + kKind));
    if (write.kind != rt::kAnalogKind && write.kind != rt::kSwitchKind) return std::nullopt;
    write.station = rtimage::readText(payload.data() + kStationText, rt::kNameField);
    write.point = rtimage::readText(payload.data() + kPointText, rt::kNameField);
    write.analogValue = rtimage::readDouble(payload.data() + valueOffset);
    write.switchState = std::to_integer<std::uint8_t>(payload[valueOffset]);
    return write;
}

}  // namespace sim
