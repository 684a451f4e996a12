#include "tools/simulator/runtime_message.h"

#include "rtdb/rt_library.h"
#include "tools/rtlib/rt_image.h"

namespace sim {

namespace {
constexpr std::size_t kStation = 0;
constexpr std::size_t kPoint = 32;
constexpr std::size_t kKind = 64;
constexpr std::size_t kSetValueValue = 68;
constexpr std::size_t kControlValue = 132;
}  // namespace

std::optional<RuntimeWrite> decodeRuntimeMessage(std::uint32_t code, std::span<const std::byte> payload) {
    std::size_t valueOffset;
    if (code == rt::message::kSetValueCode && payload.size() == rt::message::kSetValueSize)
        valueOffset = kSetValueValue;
    else if (code == rt::message::kControlCode && payload.size() == rt::message::kControlSize)
        valueOffset = kControlValue;
    else
        return std::nullopt;

    RuntimeWrite write;
    write.kind = static_cast<std::int32_t>(rtimage::readU32(payload.data() + kKind));
    if (write.kind != rt::kAnalogKind && write.kind != rt::kSwitchKind) return std::nullopt;
    write.station = rtimage::readText(payload.data() + kStation, rt::kNameField);
    write.point = rtimage::readText(payload.data() + kPoint, rt::kNameField);
    write.analogValue = rtimage::readDouble(payload.data() + valueOffset);
    write.switchState = std::to_integer<std::uint8_t>(payload[valueOffset]);
    return write;
}

}  // namespace sim
