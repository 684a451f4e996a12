// The library stand-in's Rt* calls over a bound image: what the server's database walk relies on
// (counts, by-index records, handles) and what it must never get from a wrong argument (anything
// but 0 or null).
#include "rtdb/rt_library.h"
#include "rtdb/standin/rt_image.h"

#include <gtest/gtest.h>

#include <array>
#include <climits>
#include <set>
#include <string>
#include <vector>

namespace {

using rtimage::Station;

class RtLibrary : public ::testing::Test {
protected:
    void SetUp() override {
        plant_ = {
            {"S1", true, {{"A1", "", 0, 0, false, 1.0}, {"A2", "", 0, 0, false, 2.0}}, {{"W1", "", false, 1}}},
            {"S2", false, {}, {{"W2", "", false, 0}, {"W3", "", false, 1}, {"W4", "", false, 0}}},
            {"S3", true, {{"A3", "", 0, 0, false, 3.0}}, {}},
        };
        image_ = rtimage::buildImage(plant_);
        descriptor_ = rtimage::makeMemoryDescriptor(static_cast<std::uint32_t>(image_.size()));
        ASSERT_NE(RtInitMemory(image_.data(), descriptor_.data(), 0), 0);
    }

    void TearDown() override {
        for (RtHandle h : opened_) RtCloseDb(h);
    }

    RtHandle open(RtHandle h) {
        if (h) opened_.push_back(h);
        return h;
    }

    void* station(int index) {
        const RtHandle h = open(RtOpenStationDb());
        return RtGetStationDataByIndex(h, index);
    }

    std::vector<Station> plant_;
    std::vector<std::byte> image_;
    std::array<std::byte, rtimage::kDescriptorSize> descriptor_{};
    std::vector<RtHandle> opened_;
};

std::string name(void* record) { return static_cast<const char*>(record); }

TEST_F(RtLibrary, WalksStationsAndTheirPointsInOrder) {
    const RtHandle stations = open(RtOpenStationDb());
    ASSERT_NE(stations, 0);
    ASSERT_EQ(RtGetStationDataCount(stations), 3);
    for (int s = 0; s < 3; ++s) {
        void* st = RtGetStationDataByIndex(stations, s);
        ASSERT_NE(st, nullptr) << "station " << s;
        EXPECT_EQ(name(st), plant_[s].name);
        const auto at = static_cast<std::byte*>(st);
        EXPECT_TRUE(at >= image_.data() && at < image_.data() + image_.size()) << "station " << s;

        const RtHandle analogs = open(RtOpenAnalogDb(st));
        ASSERT_NE(analogs, 0) << "station " << s;
        ASSERT_EQ(RtGetAnalogDataCount(analogs), static_cast<int>(plant_[s].analogs.size())) << "station " << s;
        for (int i = 0; i < RtGetAnalogDataCount(analogs); ++i) {
            void* a = RtGetAnalogDataByIndex(analogs, st, i);
            ASSERT_NE(a, nullptr) << "station " << s << " analog " << i;
            EXPECT_EQ(name(a), plant_[s].analogs[i].name);
        }
        const RtHandle switches = open(RtOpenStatusDb(st));
        ASSERT_NE(switches, 0) << "station " << s;
        ASSERT_EQ(RtGetStatusDataCount(switches), static_cast<int>(plant_[s].switches.size())) << "station " << s;
        for (int i = 0; i < RtGetStatusDataCount(switches); ++i) {
            void* w = RtGetStatusDataByIndex(switches, st, i);
            ASSERT_NE(w, nullptr) << "station " << s << " switch " << i;
            EXPECT_EQ(name(w), plant_[s].switches[i].name);
        }
    }
}

// The server keeps record pointers after closing the tables and reads live values through them.
TEST_F(RtLibrary, RecordPointersOutliveTheirHandlesAndShowLiveValues) {
    void* st = station(0);
    const RtHandle analogs = RtOpenAnalogDb(st);
    auto* record = static_cast<std::byte*>(RtGetAnalogDataByIndex(analogs, st, 1));
    RtCloseDb(analogs);
    ASSERT_NE(record, nullptr);
    const auto view = rtimage::ImageView::open(image_.data(), image_.size());
    rtimage::storeLiveDouble(view->analog(0, 1) + rt::analog::kValue, 99.5);
    EXPECT_EQ(rtimage::readDouble(record + rt::analog::kValue), 99.5);
}

TEST_F(RtLibrary, HandlesAreNonzeroDistinctAndDeadOnceClosed) {
    void* st = station(1);
    std::set<RtHandle> seen;
    for (int i = 0; i < 5; ++i) {
        for (RtHandle h : {RtOpenStationDb(), RtOpenAnalogDb(st), RtOpenStatusDb(st)}) {
            EXPECT_NE(h, 0);
            EXPECT_TRUE(seen.insert(h).second) << "handle " << h << " handed out twice";
            RtCloseDb(h);
        }
    }
    const RtHandle stations = RtOpenStationDb();
    RtCloseDb(stations);
    EXPECT_EQ(RtGetStationDataCount(stations), 0);
    EXPECT_EQ(RtGetStationDataByIndex(stations, 0), nullptr);
    RtCloseDb(stations);  // twice: no effect
    RtCloseDb(0);
}

TEST_F(RtLibrary, WrongHandlesGiveZeroOrNull) {
    void* st = station(1);  // S2: no analog points, three switch points
    const RtHandle stations = open(RtOpenStationDb());
    const RtHandle analogs = open(RtOpenAnalogDb(st));
    const RtHandle switches = open(RtOpenStatusDb(st));
    const RtHandle closed = RtOpenStationDb();
    RtCloseDb(closed);
    struct Case {
        const char* name;
        RtHandle handle;
        bool isStations, isAnalogs, isSwitches;
    };
    const Case cases[] = {
        {"0", 0, false, false, false},
        {"closed", closed, false, false, false},
        {"made up", 123456789, false, false, false},
        {"station table", stations, true, false, false},
        {"analog table", analogs, false, true, false},
        {"switch table", switches, false, false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(RtGetStationDataCount(c.handle) != 0, c.isStations);
        EXPECT_EQ(RtGetStationDataByIndex(c.handle, 0) != nullptr, c.isStations);
        // S2 has no analog points: even its own table yields 0.
        EXPECT_EQ(RtGetAnalogDataCount(c.handle), 0);
        EXPECT_EQ(RtGetAnalogDataByIndex(c.handle, st, 0), nullptr);
        EXPECT_EQ(RtGetStatusDataCount(c.handle) != 0, c.isSwitches);
        EXPECT_EQ(RtGetStatusDataByIndex(c.handle, st, 0) != nullptr, c.isSwitches);
    }
}

TEST_F(RtLibrary, IndicesOutsideTheTableGiveNull) {
    void* st = station(0);
    const RtHandle stations = open(RtOpenStationDb());
    const RtHandle analogs = open(RtOpenAnalogDb(st));
    const RtHandle switches = open(RtOpenStatusDb(st));
    for (int index : {-1, INT_MIN}) {
        EXPECT_EQ(RtGetStationDataByIndex(stations, index), nullptr) << index;
        EXPECT_EQ(RtGetAnalogDataByIndex(analogs, st, index), nullptr) << index;
        EXPECT_EQ(RtGetStatusDataByIndex(switches, st, index), nullptr) << index;
    }
    EXPECT_EQ(RtGetStationDataByIndex(stations, 3), nullptr);
    EXPECT_EQ(RtGetAnalogDataByIndex(analogs, st, 2), nullptr);
    EXPECT_EQ(RtGetStatusDataByIndex(switches, st, 1), nullptr);
    EXPECT_EQ(RtGetStationDataByIndex(stations, INT_MAX), nullptr);
    EXPECT_NE(RtGetAnalogDataByIndex(analogs, st, 1), nullptr) << "last valid index";
}

TEST_F(RtLibrary, PointTablesNeedAStationRecordOfThisDatabase) {
    auto* s0 = static_cast<std::byte*>(station(0));
    auto* s1 = static_cast<std::byte*>(station(1));
    const RtHandle analogs = open(RtOpenAnalogDb(s0));
    auto* analogRecord = static_cast<std::byte*>(RtGetAnalogDataByIndex(analogs, s0, 0));
    std::byte foreign[rtimage::station::kRecordSize]{};
    struct Case {
        const char* name;
        void* station;
    };
    const Case cases[] = {
        {"null", nullptr},
        {"inside a station record", s0 + 1},
        {"an analog record", analogRecord},
        {"past the last station", s1 + 2 * rtimage::station::kRecordSize},
        {"outside the database", foreign},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(RtOpenAnalogDb(c.station), 0) << c.name;
        EXPECT_EQ(RtOpenStatusDb(c.station), 0) << c.name;
    }
    // A table answers only for the station it was opened for.
    EXPECT_EQ(RtGetAnalogDataByIndex(analogs, s1, 0), nullptr);
    EXPECT_EQ(RtGetAnalogDataByIndex(analogs, nullptr, 0), nullptr);
}

TEST_F(RtLibrary, BindingAnotherImageEndsTheOldHandlesAndAFailedBindServesNothing) {
    const RtHandle before = RtOpenStationDb();
    ASSERT_NE(before, 0);

    std::vector<Station> other = {{"X", false, {}, {}}};
    std::vector<std::byte> otherImage = rtimage::buildImage(other);
    auto otherDescriptor = rtimage::makeMemoryDescriptor(static_cast<std::uint32_t>(otherImage.size()));
    ASSERT_NE(RtInitMemory(otherImage.data(), otherDescriptor.data(), 0), 0);
    EXPECT_EQ(RtGetStationDataCount(before), 0) << "handle of the old binding";
    const RtHandle after = open(RtOpenStationDb());
    EXPECT_EQ(RtGetStationDataCount(after), 1);
    EXPECT_EQ(name(RtGetStationDataByIndex(after, 0)), "X");

    otherImage[0] = std::byte{'?'};
    struct Case {
        const char* name;
        void* base;
        void* descriptor;
    };
    const Case failures[] = {
        {"null base", nullptr, otherDescriptor.data()},
        {"null descriptor", otherImage.data(), nullptr},
        {"damaged image", otherImage.data(), otherDescriptor.data()},
    };
    for (const Case& c : failures) {
        EXPECT_EQ(RtInitMemory(c.base, c.descriptor, 0), 0) << c.name;
        EXPECT_EQ(RtOpenStationDb(), 0) << c.name;
        EXPECT_EQ(RtGetStationDataCount(after), 0) << c.name;
    }
}

}  // namespace
