// The point map: which registrations enter it, which record a key keeps, and how keys tell points
// apart.
#include "rtdb/data_access.h"

#include <gtest/gtest.h>

#include <array>
#include <cstddef>
#include <string>

namespace {

TEST(PointMap, RegistrationRulesAndLookups) {
    std::array<std::byte, 8> records{};
    const std::byte* const first = &records[0];
    const std::byte* const second = &records[1];
    const std::byte* const third = &records[2];
    const std::string longStation(200, 'X');

    // No runtime in this process: the map works without one.
    rtdb::CDataAccessEx access(nullptr, rtdb::Settings{});
    struct Registration {
        std::string station;
        int kind;
        std::string point;
        const std::byte* record;
    };
    const Registration registrations[] = {
        {"S1", 3, "P", first},
        {"S1", 3, "P", second},  // the key exists: the first record stays
        {"S1", 4, "P", third},   // same names, other kind: its own key
        {"S1", 3, "Null", nullptr},
        {"", 3, "NoStation", first},
        {"S1", 3, "", first},
        {"S1", 5, "Kind5", first},
        {"S1", 0, "Kind0", first},
        {"S2", 3, "Lower", first},
        {longStation, 3, std::string(60, 'Y') + "1", first},
        {longStation, 3, std::string(60, 'Y') + "2", second},  // differs beyond the key's 255 characters
    };
    for (const Registration& r : registrations) access.RegisterPoint(r.station, r.kind, r.point, r.record);

    struct Lookup {
        const char* name;
        std::string station;
        int kind;
        std::string point;
        const std::byte* record;
    };
    const Lookup lookups[] = {
        {"analog", "S1", 3, "P", first},
        {"switch of the same name", "S1", 4, "P", third},
        {"null record not registered", "S1", 3, "Null", nullptr},
        {"empty station name not registered", "", 3, "NoStation", nullptr},
        {"empty point name not registered", "S1", 3, "", nullptr},
        {"kind 5 not registered", "S1", 5, "Kind5", nullptr},
        {"kind 0 not registered", "S1", 0, "Kind0", nullptr},
        {"names are case-sensitive", "s2", 3, "Lower", nullptr},
        {"registered point", "S2", 3, "Lower", first},
        {"no such point", "S1", 3, "Q", nullptr},
        {"key cut at 255 characters", longStation, 3, std::string(60, 'Y') + "2", first},
    };
    for (const Lookup& l : lookups) {
        const rtdb::PointRecord found = access.LookupPoint(l.station, l.kind, l.point);
        EXPECT_EQ(found.record, l.record) << l.name;
        if (l.record) {
            EXPECT_EQ(found.kind, l.kind) << l.name;
        }
    }
}

}  // namespace
