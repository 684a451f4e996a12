// Reading live point values through the mapped database: value, quality and timestamp, and the
// failures that leave a caller's outputs untouched.
#include "addrspace/address_space.h"
#include "rtdb/rt_library.h"
#include "tests/support/in_process_runtime.h"

#include <gtest/gtest.h>
#include <oleauto.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

namespace {

using rtimage::AnalogPoint;
using rtimage::Station;
using rtimage::SwitchPoint;

class PointRead : public ::testing::Test {
protected:
    void SetUp() override {
        Station s1{"S1", true, {}, {}};
        s1.analogs.push_back(AnalogPoint{"A", "", 100, 0, true, 12.5});
        s1.analogs.push_back(AnalogPoint{"Big", "", 0, 0, false, 1e300});
        s1.analogs.push_back(AnalogPoint{"A", "duplicate", 0, 0, false, 99});
        s1.analogs.push_back(AnalogPoint{"", "no name", 0, 0, false, 5});
        s1.switches.push_back(SwitchPoint{"On", "", false, 2});
        s1.switches.push_back(SwitchPoint{"Off", "", false, 0});
        plant_ = {s1};
        runtime_ = std::make_unique<InProcessRuntime>(plant_);
        access_ = std::make_unique<rtdb::CDataAccessEx>(nullptr, rtdb::Settings{false, true});
        ASSERT_TRUE(access_->AttachDatabase());
        ASSERT_TRUE(space_.BuildAddressSpace(*access_));
    }

    struct Reading {
        bool ok;
        VARIANT value;
        WORD quality;
        FILETIME timestamp;
    };
    Reading Read(DWORD point) {
        Reading r{};
        VariantInit(&r.value);
        r.value.vt = VT_I4;
        r.value.lVal = 777;
        r.quality = 0x1234;
        r.timestamp = {1, 2};
        r.ok = space_.ReadPointValue(point, &r.value, &r.quality, &r.timestamp);
        return r;
    }
    static bool Untouched(const Reading& r) {
        return r.value.vt == VT_I4 && r.value.lVal == 777 && r.quality == 0x1234 && r.timestamp.dwLowDateTime == 1 &&
               r.timestamp.dwHighDateTime == 2;
    }

    std::vector<Station> plant_;
    std::unique_ptr<InProcessRuntime> runtime_;
    std::unique_ptr<rtdb::CDataAccessEx> access_;
    COPCAddressSpaceMgt space_;
};

TEST_F(PointRead, DuplicateNameReadsTheFirstRecord) {
    const Reading duplicate = Read(3);
    ASSERT_TRUE(duplicate.ok);
    EXPECT_EQ(duplicate.value.fltVal, 12.5f);
    EXPECT_EQ(space_.ResolveItemId("S1.analog.A"), space_.GetPoint(1)->nodeId());
}

TEST_F(PointRead, UnnamedPointFailsWithEmptyValueAndBadQuality) {
    const Reading r = Read(4);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.value.vt, VT_EMPTY);
    EXPECT_EQ(r.quality, 0);
    EXPECT_NE(r.timestamp.dwHighDateTime, 2u) << "stamped with the time of the read";
}

TEST_F(PointRead, OutOfRangePointNumbersLeaveOutputsUntouched) {
    for (const DWORD point : {0u, 7u, 0xFFFFFFFFu}) {
        const Reading r = Read(point);
        EXPECT_FALSE(r.ok) << point;
        EXPECT_TRUE(Untouched(r)) << point;
    }
}

}  // namespace
