// The exact bytes of the two runtime messages (the bounded wait for a hung runtime: sync_io_cases).
#include "rtdb/runtime_message.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>
#include <thread>

namespace {

PointDescriptor Point(int kind, int stationFlag, const std::string& station, const std::string& point) {
    PointDescriptor d;
    d.pointKind = kind;
    d.stationFlag = stationFlag;
    d.canonicalType = kind == 3 ? VT_R4 : VT_BOOL;
    std::memcpy(d.stationText, station.data(), std::min<std::size_t>(station.size(), 31));
    std::memcpy(d.pointText, point.data(), std::min<std::size_t>(point.size(), 31));
    return d;
}

VARIANT R4(float value) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_R4;
    v.fltVal = value;
    return v;
}

VARIANT Bool(short value) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_BOOL;
    v.boolVal = value;
    return v;
}

template <class T>
T At(const rtdb::RuntimeMessage& m, std::size_t offset) {
    T value;
    std::memcpy(&value, m.payload.data() + offset, sizeof value);
    return value;
}

std::string Text(const rtdb::RuntimeMessage& m, std::size_t offset) {
    return std::string(reinterpret_cast<const char*>(m.payload.data() + offset));
}

bool ZeroExcept(const rtdb::RuntimeMessage& m, std::initializer_list<std::pair<std::size_t, std::size_t>> used) {
    for (std::size_t i = 0; i < m.payload.size(); ++i) {
        bool inUse = false;
        for (const auto& [from, size] : used) inUse = inUse || (i >= from && i < from + size);
        if (!inUse && m.payload[i] != std::byte{0}) return false;
    }
    return true;
}

TEST(RuntimeMessage, SetValueForAnalogPointOfOrdinaryStation) {
    rtdb::RuntimeMessage m;
    ASSERT_TRUE(rtdb::BuildRuntimeMessage(Point(3, 0, "PumpStation", "PumpSpeed"), R4(12.5f), m));
    EXPECT_EQ(m.code, 5008u);
    EXPECT_EQ(m.size, 76u);
    EXPECT_EQ(Text(m, 0), "PumpStation");
    EXPECT_EQ(Text(m, 32), "PumpSpeed");
    EXPECT_EQ(At<std::int32_t>(m, 64), 3);
    EXPECT_EQ(At<double>(m, 68), 12.5);
    EXPECT_TRUE(ZeroExcept(m, {{0, 11}, {32, 9}, {64, 4}, {68, 8}}));
}

TEST(RuntimeMessage, ControlMessageForEveryPointOfTransferStation) {
    rtdb::RuntimeMessage m;
    const std::string name31(31, 'N');
    ASSERT_TRUE(rtdb::BuildRuntimeMessage(Point(3, 1, name31, name31), R4(0.1f), m));
    EXPECT_EQ(m.code, 6112u);
    EXPECT_EQ(m.size, 152u);
    EXPECT_EQ(Text(m, 0), name31) << "31 characters arrive whole";
    EXPECT_EQ(Text(m, 32), name31);
    EXPECT_EQ(At<double>(m, 132), static_cast<double>(0.1f)) << "the single value widened without change";
    EXPECT_EQ(At<std::int32_t>(m, 144), 1000);
    EXPECT_TRUE(ZeroExcept(m, {{0, 31}, {32, 31}, {64, 4}, {132, 8}, {144, 4}}));

    ASSERT_TRUE(rtdb::BuildRuntimeMessage(Point(4, 1, "North", "Breaker1"), Bool(VARIANT_TRUE), m));
    EXPECT_EQ(m.code, 6112u);
    EXPECT_EQ(At<std::int32_t>(m, 64), 4);
    EXPECT_EQ(At<std::uint8_t>(m, 132), 1);
}

TEST(RuntimeMessage, SwitchStates) {
    const struct {
        short value;
        std::uint8_t sent;
    } cases[] = {{VARIANT_TRUE, 1}, {VARIANT_FALSE, 0}, {1, 0}, {2, 0}};
    for (const auto& c : cases) {
        rtdb::RuntimeMessage m;
        ASSERT_TRUE(rtdb::BuildRuntimeMessage(Point(4, 0, "S", "K"), Bool(c.value), m));
        EXPECT_EQ(At<std::uint8_t>(m, 68), c.sent) << c.value;
        EXPECT_TRUE(ZeroExcept(m, {{0, 1}, {32, 1}, {64, 4}, {68, 1}})) << c.value;
    }
    rtdb::RuntimeMessage m;
    EXPECT_FALSE(rtdb::BuildRuntimeMessage(Point(5, 0, "S", "K"), Bool(0), m)) << "no other kind";
}

}  // namespace
