// The messages that carry a client's write to the SCADA runtime's main window (WM_COPYDATA):
// the set-value message, and the control message for points of transfer stations.
#pragma once

#include "rtdb/point_descriptor.h"

#include <windows.h>
#include <oaidl.h>

#include <array>
#include <cstddef>

namespace rtdb {

struct RuntimeMessage {
    DWORD code = 0;  // 5008 set value, 6112 control
    std::array<std::byte, 152> payload{};
    DWORD size = 0;  // 76 or 152
};

// Packs a value already in the point's canonical type (VT_R4 or VT_BOOL); false for any other kind.
bool BuildRuntimeMessage(const PointDescriptor& point, const VARIANT& value, RuntimeMessage& message);

// How long a write waits for the runtime's window. A window the system reports hung is not waited
// for at all: a hung runtime must not hold the writer, nor through the point's lock its readers.
constexpr UINT kRuntimeWriteTimeoutMs = 3000;

// Sends the message and waits until the runtime's window has handled it, at most the time-out.
bool SendRuntimeMessage(HWND runtimeWindow, const RuntimeMessage& message, UINT timeoutMs = kRuntimeWriteTimeoutMs);

}  // namespace rtdb
