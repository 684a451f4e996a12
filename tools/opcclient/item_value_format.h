// One item's value as the client prints it, in a read or a data change: UTC time in ISO 8601,
// item ID, value and the quality as a word; or the same as one JSON object.
#pragma once

#include <nlohmann/json.hpp>

#include <windows.h>
#include <oleauto.h>

#include <string>

namespace opcclient {

// "2026-12-06T10:42:08.123Z"; a zero FILETIME (no time) gives "-".
std::string isoTime(const FILETIME& utc);

// good, uncertain, bad, or "out of service" for a bad quality of that status.
std::string qualityWord(WORD quality);

struct ItemValue {
    std::string itemId;
    const VARIANT* value = nullptr;
    WORD quality = 0;
    FILETIME timestamp{};
};

// "2026-12-06T10:42:08.123Z  NorthSubstation.analog.Setpoint  42  good"
std::string itemValueLine(const ItemValue& item);
// {"time": ..., "item": ..., "value": ..., "quality": "good", "qualityCode": 192}
nlohmann::json itemValueJson(const ItemValue& item);

}  // namespace opcclient
