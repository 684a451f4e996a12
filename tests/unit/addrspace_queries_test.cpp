// Address-space queries beyond resolution: FindChild on every kind of parent, spaces without a
// point table, and what other threads see while the space is being built.
#include "addrspace/address_space.h"
#include "tests/support/in_process_runtime.h"

#include <gtest/gtest.h>
#include <oleauto.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

using rtimage::AnalogPoint;
using rtimage::Station;
using rtimage::SwitchPoint;

struct Built {
    std::unique_ptr<InProcessRuntime> runtime;
    std::unique_ptr<rtdb::CDataAccessEx> access;
    std::unique_ptr<COPCAddressSpaceMgt> space;
};

Built Build(const std::vector<Station>& plant, rtdb::Settings settings = {}) {
    Built b;
    b.runtime = std::make_unique<InProcessRuntime>(plant);
    b.access = std::make_unique<rtdb::CDataAccessEx>(nullptr, settings);
    EXPECT_TRUE(b.access->AttachDatabase());
    b.space = std::make_unique<COPCAddressSpaceMgt>();
    EXPECT_TRUE(b.space->BuildAddressSpace(*b.access));
    return b;
}

TEST(AddressSpaceQueries, FindChild) {
    // 1 root; 2 S1; 3 analog; 4 A; 5 B; 6 A (again); 7 switch; 8 S2; 9 analog; 10 switch; 11 C.
    Station s1{"S1", true, {}, {}};
    s1.analogs = {AnalogPoint{"A", "", 0, 0, false, 0}, AnalogPoint{"B", "", 0, 0, false, 0},
                  AnalogPoint{"A", "", 0, 0, false, 0}};
    Station s2{"S2", true, {}, {SwitchPoint{"C", "", false, 0}}};
    const Built b = Build({s1, s2});
    const struct {
        DWORD parent;
        const char* name;
        DWORD child;
    } cases[] = {
        {1, "S1", 2},       {1, "S2", 8},     {2, "analog", 3},  {2, "switch", 7}, {3, "A", 4},
        {3, "B", 5},        {10, "C", 11},    {0, "KorvexOPCServer", 0},           {1, "", 0},
        {1, "analog", 0},   {2, "Analog", 0}, {4, "A", 0},       {9, "C", 0},      {12, "S1", 0},
        {0xFFFFFFFF, "S1", 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(b.space->FindChild(c.parent, c.name), c.child) << "parent " << c.parent << " name \"" << c.name << '"';
}

// Without a point table the count is the number of nodes without a first child, yet there is no
// point to find or read.
TEST(AddressSpaceQueries, SpacesWithoutPoints) {
    const struct {
        const char* name;
        std::vector<Station> plant;
        rtdb::Settings settings;
        DWORD pointCount;
    } cases[] = {
        {"all stations hidden", {Station{"S", false, {AnalogPoint{"A", "", 0, 0, false, 0}}, {}}}, {true, false}, 1},
        {"one station without points", {Station{"S", true, {}, {}}}, {}, 2},
        {"two stations without points", {Station{"S", true, {}, {}}, Station{"T", false, {}, {}}}, {}, 4},
    };
    for (const auto& c : cases) {
        const Built b = Build(c.plant, c.settings);
        EXPECT_EQ(b.space->GetPointCount(), c.pointCount) << c.name;
        EXPECT_EQ(b.space->GetPoint(1), nullptr) << c.name;
        for (DWORD node = 0; node <= b.space->GetNodeCount() + 1; ++node)
            EXPECT_EQ(b.space->FindPointByNodeId(node), nullptr) << c.name << ", node " << node;
        for (DWORD point = 0; point <= c.pointCount + 1; ++point) {
            VARIANT value;
            VariantInit(&value);
            value.vt = VT_I4;
            value.lVal = 777;
            WORD quality = 0x1234;
            FILETIME stamp{1, 2};
            EXPECT_FALSE(b.space->ReadPointValue(point, &value, &quality, &stamp)) << c.name << ", point " << point;
            EXPECT_TRUE(value.vt == VT_I4 && value.lVal == 777 && quality == 0x1234 && stamp.dwLowDateTime == 1)
                << c.name << ", point " << point << ": outputs touched";
        }
    }
    COPCAddressSpaceMgt unbuilt;
    EXPECT_EQ(unbuilt.GetPointCount(), 0u);
    EXPECT_EQ(unbuilt.FindPointByNodeId(1), nullptr);
}

// Clients can call in while the main thread builds: they see no space, or a space whose nodes are
// all there, and no point until every point item is complete.
TEST(AddressSpaceQueries, ReadersDuringTheBuildSeeNothingOrTheWhole) {
    constexpr int kStations = 40, kPoints = 250;
    std::vector<Station> plant;
    for (int s = 0; s < kStations; ++s) {
        Station station{"S" + std::to_string(s), true, {}, {}};
        for (int p = 0; p < kPoints; ++p) station.analogs.push_back({"P" + std::to_string(p), "", 0, 0, false, 1.0});
        plant.push_back(std::move(station));
    }
    InProcessRuntime runtime(plant);
    rtdb::CDataAccessEx access(nullptr, rtdb::Settings{});
    ASSERT_TRUE(access.AttachDatabase());
    COPCAddressSpaceMgt space;

    const DWORD lastPoint = kStations * kPoints;
    const std::string lastItemId = "S" + std::to_string(kStations - 1) + ".analog.P" + std::to_string(kPoints - 1);
    std::atomic<bool> done{false};
    std::atomic<int> violations{0};
    std::atomic<int> completeSightings{0};
    std::string firstViolation;
    std::thread reader([&] {
        auto violated = [&](const std::string& what) {
            if (violations++ == 0) firstViolation = what;
        };
        while (!done.load()) {
            const DWORD node = space.ResolveItemId(lastItemId);
            if (node != 0 && space.GetNodeName(node) != "P" + std::to_string(kPoints - 1))
                violated("resolved to node " + std::to_string(node));
            const COPCItem* first = space.GetPoint(1);
            const COPCItem* last = space.GetPoint(lastPoint);
            if (first && (first->itemId() != "S0.analog.P0" || first->serverHandle() != 1))
                violated("first point item incomplete: \"" + first->itemId() + '"');
            if (last && (last->itemId() != lastItemId || last->serverHandle() != lastPoint))
                violated("last point item incomplete: \"" + last->itemId() + '"');
            if (first && !last) violated("first point visible before the last");
            if (last && space.FindPointByNodeId(last->nodeId()) != last) violated("last point not found by node id");
            if (last) ++completeSightings;
        }
    });
    const bool built = space.BuildAddressSpace(access);
    while (built && completeSightings.load() == 0) std::this_thread::yield();
    done = true;
    reader.join();
    ASSERT_TRUE(built);
    EXPECT_EQ(violations.load(), 0) << firstViolation;
    EXPECT_EQ(space.GetPointCount(), lastPoint);
}

}  // namespace
