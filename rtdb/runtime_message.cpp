#include "rtdb/runtime_message.h"

#include "rtdb/rt_library.h"

#include <cstring>
#include <string_view>

namespace rtdb {
namespace {

using namespace rt::message;
constexpr std::int32_t kControlConstantValue = 1000;

void PutText(RuntimeMessage& message, std::size_t at, std::string_view text) {
    std::memcpy(message.payload.data() + at, text.data(), std::min<std::size_t>(text.size(), 31));
}

template <class T>
void Put(RuntimeMessage& message, std::size_t at, T value) {
    std::memcpy(message.payload.data() + at, &value, sizeof value);
}

}  // namespace

bool BuildRuntimeMessage(const PointDescriptor& point, const VARIANT& value, RuntimeMessage& message) {
    message = RuntimeMessage{};
    std::array<std::byte, 8> field{};
    if (point.pointKind == rt::kAnalogKind) {
        const double widened = value.fltVal;
        std::memcpy(field.data(), &widened, sizeof widened);
    } else if (point.pointKind == rt::kSwitchKind) {
        // On exactly for VARIANT_TRUE; any other value, 1 included, is off.
        field[0] = std::byte{value.boolVal == VARIANT_TRUE ? std::uint8_t{1} : std::uint8_t{0}};
    } else {
        return false;
    }
    const bool control = point.stationFlag != 0;
    message.code = control ? rt::message::kControlCode : rt::message::kSetValueCode;
    message.size = control ? rt::message::kControlSize : rt::message::kSetValueSize;
    PutText(message, kStationText, point.Station());
    PutText(message, kPointText, point.Point());
    Put<std::int32_t>(message, kKind, point.pointKind);
    std::memcpy(message.payload.data() + (control ? kControlValue : kSetValueValue), field.data(), field.size());
    if (control) Put<std::int32_t>(message, kControlConstant, kControlConstantValue);
    return true;
}

bool SendRuntimeMessage(HWND runtimeWindow, const RuntimeMessage& message, UINT timeoutMs) {
    COPYDATASTRUCT data{message.code, message.size, const_cast<std::byte*>(message.payload.data())};
    DWORD_PTR result = 0;
    return SendMessageTimeoutA(runtimeWindow, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data),
                               SMTO_ABORTIFHUNG | SMTO_NORMAL, timeoutMs, &result) != 0;
}

}  // namespace rtdb
