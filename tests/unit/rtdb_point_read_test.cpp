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

TEST_F(PointRead, ValuesQualitiesAndTimestamps) {
    FILETIME before;
    CoFileTimeNow(&before);
    const Reading a = Read(1);
    ASSERT_TRUE(a.ok);
    EXPECT_EQ(a.value.vt, VT_R4);
    EXPECT_EQ(a.value.fltVal, 12.5f);
    EXPECT_EQ(a.quality, 0xC0);
    EXPECT_GE(CompareFileTime(&a.timestamp, &before), 0);

    const Reading big = Read(2);
    ASSERT_TRUE(big.ok);
    EXPECT_EQ(big.value.vt, VT_R4);
    EXPECT_TRUE(std::isinf(big.value.fltVal));
    EXPECT_EQ(big.quality, 0xC0);

    const Reading on = Read(5);
    ASSERT_TRUE(on.ok);
    EXPECT_EQ(on.value.vt, VT_BOOL);
    EXPECT_EQ(on.value.boolVal, VARIANT_TRUE) << "a state byte of 2 is on";
    const Reading off = Read(6);
    ASSERT_TRUE(off.ok);
    EXPECT_EQ(off.value.boolVal, VARIANT_FALSE);
}

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

TEST_F(PointRead, LiveValueChangesShowInTheNextRead) {
    rtimage::ImageView view = runtime_->view();
    rtimage::storeLiveDouble(view.analog(0, 0) + rt::analog::kValue, -7.25);
    view.switchPoint(0, 1)[rt::status::kState] = std::byte{1};
    EXPECT_EQ(Read(1).value.fltVal, -7.25f);
    EXPECT_EQ(Read(6).value.boolVal, VARIANT_TRUE);
}

TEST_F(PointRead, OutOfRangePointNumbersLeaveOutputsUntouched) {
    for (const DWORD point : {0u, 7u, 0xFFFFFFFFu}) {
        const Reading r = Read(point);
        EXPECT_FALSE(r.ok) << point;
        EXPECT_TRUE(Untouched(r)) << point;
    }
}

TEST_F(PointRead, AfterTheRuntimeWindowClosesEveryReadFailsUntouched) {
    ASSERT_TRUE(Read(1).ok);
    runtime_->CloseWindow();
    Sleep(100);  // past the interval in which liveness is taken as known
    for (const DWORD point : {1u, 5u}) {
        const Reading r = Read(point);
        EXPECT_FALSE(r.ok) << point;
        EXPECT_TRUE(Untouched(r)) << point;
    }
}

}  // namespace
