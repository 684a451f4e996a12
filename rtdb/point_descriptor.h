// The 192-byte point descriptor that the address-space build fills from the database records and
// every item of the point carries. Its byte layout is fixed; it also identifies the point to the
// SCADA runtime in write messages (station and point texts).
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <string_view>

struct PointDescriptor {
    std::uint32_t tagKey = 0;         // node id of the point's leaf
    std::uint16_t canonicalType = 0;  // VT_R4 or VT_BOOL
    std::uint16_t reserved1 = 0;
    std::uint32_t accessRights = 0;  // OPC_READABLE (1), or readable and writeable (3)
    float scanRate = 0;              // ms
    std::int32_t hasUnits = 0;
    char units[8] = {};
    std::int32_t hasDescription = 0;
    char description[64] = {};
    std::int32_t hasLimits = 0;
    std::uint32_t reserved2 = 0;
    double highLimit = 0;
    double lowLimit = 0;
    char stationText[32] = {};
    char pointText[32] = {};
    std::int32_t pointKind = 0;    // rt::kAnalogKind or rt::kSwitchKind
    std::int32_t stationFlag = 0;  // 1: a transfer station

    std::string_view Station() const { return {stationText, strnlen(stationText, sizeof stationText)}; }
    std::string_view Point() const { return {pointText, strnlen(pointText, sizeof pointText)}; }
    std::string_view Description() const { return {description, strnlen(description, sizeof description)}; }
    std::string_view Units() const { return {units, strnlen(units, sizeof units)}; }
    bool IsReadable() const { return accessRights == 1 || accessRights == 3; }
    bool IsWriteable() const { return accessRights == 2 || accessRights == 3; }
};

static_assert(sizeof(PointDescriptor) == 192);
static_assert(offsetof(PointDescriptor, accessRights) == 8);
static_assert(offsetof(PointDescriptor, units) == 20);
static_assert(offsetof(PointDescriptor, description) == 32);
static_assert(offsetof(PointDescriptor, highLimit) == 104);
static_assert(offsetof(PointDescriptor, stationText) == 120);
static_assert(offsetof(PointDescriptor, pointText) == 152);
static_assert(offsetof(PointDescriptor, pointKind) == 184);
static_assert(offsetof(PointDescriptor, stationFlag) == 188);
