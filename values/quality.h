// The OPC qualities this server produces; no limit bits are ever set.
#pragma once

#include <windows.h>

namespace values {

constexpr WORD kQualityBad = 0x00;
constexpr WORD kQualityCommFailure = 0x18;  // bad: the SCADA runtime is gone
constexpr WORD kQualityOutOfService = 0x1C;
constexpr WORD kQualityGood = 0xC0;

}  // namespace values
