// What other threads see of the address space while it is being built.
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
