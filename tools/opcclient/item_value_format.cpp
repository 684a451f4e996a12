#include "tools/opcclient/item_value_format.h"

#include "tools/opcclient/value_text.h"

#include "opcda.h"

#include <chrono>
#include <cstdio>

namespace opcclient {

std::string isoTime(const FILETIME& utc) {
    using namespace std::chrono;
    const std::uint64_t ticks = (static_cast<std::uint64_t>(utc.dwHighDateTime) << 32) | utc.dwLowDateTime;
    if (ticks == 0) return "-";
    // FILETIME counts 100 ns from 1601-01-01; the Unix epoch lies 11644473600 s later.
    constexpr std::int64_t kEpochOffsetSeconds = 11644473600;
    const auto sinceUnix = milliseconds(static_cast<std::int64_t>(ticks / 10000)) - seconds(kEpochOffsetSeconds);
    const sys_time<milliseconds> time(sinceUnix);
    const sys_days day = floor<days>(time);
    const year_month_day date(day);
    const hh_mm_ss<milliseconds> clock(time - day);
    char text[40];
    std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02d.%03dZ", static_cast<int>(date.year()),
                  static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                  static_cast<int>(clock.hours().count()), static_cast<int>(clock.minutes().count()),
                  static_cast<int>(clock.seconds().count()), static_cast<int>(clock.subseconds().count()));
    return text;
}

std::string qualityWord(WORD quality) {
    if ((quality & OPC_STATUS_MASK) == OPC_QUALITY_OUT_OF_SERVICE) return "out of service";
    switch (quality & OPC_QUALITY_MASK) {
    case OPC_QUALITY_GOOD: return "good";
    case OPC_QUALITY_UNCERTAIN: return "uncertain";
    case OPC_QUALITY_BAD: return "bad";
    default: return "invalid";  // 0x80 is not an OPC quality
    }
}

std::string itemValueLine(const ItemValue& item) {
    return isoTime(item.timestamp) + "  " + item.itemId + "  " + formatValue(*item.value) + "  " + qualityWord(item.quality);
}

nlohmann::json itemValueJson(const ItemValue& item) {
    return {{"time", isoTime(item.timestamp)},
            {"item", item.itemId},
            {"value", valueToJson(*item.value)},
            {"quality", qualityWord(item.quality)},
            {"qualityCode", item.quality}};
}

}  // namespace opcclient
