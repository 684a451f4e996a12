// The simulator's decoding of the runtime messages: a 4-byte message code, then the payload.
#include "tools/simulator/runtime_message.h"

#include "rtdb/rt_library.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 4) return 0;
    std::uint32_t code;
    std::memcpy(&code, data, sizeof code);
    // An exact-size copy, so that ASan reports the first byte read past the payload.
    const std::size_t length = size - sizeof code;
    auto payload = std::make_unique<std::byte[]>(length);
    std::memcpy(payload.get(), data + sizeof code, length);
    if (const auto write = sim::decodeRuntimeMessage(code, {payload.get(), length}))
        if (write->station.size() > rt::kNameField || write->point.size() > rt::kNameField) std::abort();
    return 0;
}
