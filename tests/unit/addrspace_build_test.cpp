// The tree, the point table and item-ID resolution built from a database image published in
// this process.
#include "addrspace/address_space.h"
#include "com/string_convert.h"
#include "rtdb/rt_library.h"
#include "tests/support/in_process_runtime.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <optional>
#include <limits>
#include <memory>
#include <string>
#include <vector>

namespace {

using rtimage::AnalogPoint;
using rtimage::Station;
using rtimage::SwitchPoint;

// S1 (analog A and B, no switch points) and S2 (no analog points, switch C).
std::vector<Station> TwoStations() {
    Station s1{"S1", true, {}, {}};
    s1.analogs.push_back(AnalogPoint{"A", "first", 100, 0, true, 12.5});
    s1.analogs.push_back(AnalogPoint{"B", "second", 0, 0, false, -3});
    Station s2{"S2", false, {}, {}};
    s2.switches.push_back(SwitchPoint{"C", "breaker", true, 1});
    return {s1, s2};
}

struct Built {
    std::unique_ptr<InProcessRuntime> runtime;
    std::unique_ptr<rtdb::CDataAccessEx> access;
    std::unique_ptr<COPCAddressSpaceMgt> space;
};

Built Build(const std::vector<Station>& plant, rtdb::Settings settings = {false, true}) {
    Built b;
    b.runtime = std::make_unique<InProcessRuntime>(plant);
    b.access = std::make_unique<rtdb::CDataAccessEx>(nullptr, settings);
    EXPECT_TRUE(b.access->IsScadaRunning());
    EXPECT_TRUE(b.access->AttachDatabase());
    b.space = std::make_unique<COPCAddressSpaceMgt>();
    EXPECT_TRUE(b.space->BuildAddressSpace(*b.access));
    return b;
}

struct NodeRow {
    DWORD node;
    const char* name;
    DWORD parent, firstChild, nextSibling;
};

TEST(AddressSpaceBuild, Resolution) {
    const Built b = Build(TwoStations());
    const struct {
        const char* itemId;
        DWORD node;
    } cases[] = {
        {"", 1},          {"S1", 2},          {"S1.analog.A", 4}, {"s1.analog.A", 0}, {"S1.analog.", 0},
        {".S1", 0},       {"S1..analog", 0},  {"S1.analog", 3},   {"S2.switch.C", 10}, {"S1.3.A", 0},
        {"S1.analog.A.", 0}, {"S3", 0},       {"S1.switch.C", 0}, {"KorvexOPCServer", 0},
    };
    for (const auto& c : cases) EXPECT_EQ(b.space->ResolveItemId(c.itemId), c.node) << '"' << c.itemId << '"';

    std::string itemId = "x";
    EXPECT_TRUE(b.space->GetFullItemId(1, itemId));
    EXPECT_EQ(itemId, "");
    EXPECT_TRUE(b.space->GetFullItemId(9, itemId));
    EXPECT_EQ(itemId, "S2.switch");
    EXPECT_FALSE(b.space->GetFullItemId(11, itemId));
    EXPECT_EQ(itemId, "");
}

// A doubled '.' puts a '.' at the head of the next segment, which a name may really hold.
TEST(AddressSpaceBuild, DoubledDotFindsNameStartingWithDot) {
    std::vector<Station> plant = TwoStations();
    plant[0].analogs.push_back(AnalogPoint{".hidden", "", 0, 0, false, 0});
    const Built b = Build(plant);
    EXPECT_EQ(b.space->ResolveItemId("S1.analog..hidden"), 6u);
}

TEST(AddressSpaceBuild, DescriptorsFromRecords) {
    std::vector<Station> plant = TwoStations();
    plant[0].analogs.push_back(AnalogPoint{"N", std::string(80, 'd'), std::nan(""), 0, true, 0});
    plant[0].analogs.push_back(AnalogPoint{std::string(31, 'L'), "long", 5, 1, true, 0});
    const Built b = Build(plant);

    const PointDescriptor& a = b.space->GetPoint(1)->descriptor();
    EXPECT_EQ(a.canonicalType, VT_R4);
    EXPECT_EQ(a.accessRights, 3u);
    EXPECT_EQ(a.scanRate, 200.0f);
    EXPECT_EQ(a.hasDescription, 1);
    EXPECT_EQ(a.Description(), "first");
    EXPECT_EQ(a.hasLimits, 1);
    EXPECT_EQ(a.highLimit, 100.0);
    EXPECT_EQ(a.Station(), "S1");
    EXPECT_EQ(a.Point(), "A");
    EXPECT_EQ(a.pointKind, 3);
    EXPECT_EQ(a.stationFlag, 1);

    const PointDescriptor& bDesc = b.space->GetPoint(2)->descriptor();
    EXPECT_EQ(bDesc.accessRights, 1u) << "record not writable";
    EXPECT_EQ(bDesc.hasLimits, 0) << "equal limits";

    const PointDescriptor& n = b.space->GetPoint(3)->descriptor();
    EXPECT_EQ(n.hasLimits, 0) << "a NaN limit";
    EXPECT_EQ(n.Description().size(), 63u);

    EXPECT_EQ(b.space->GetPoint(4)->descriptor().Point(), std::string(31, 'L'));
    EXPECT_EQ(b.space->GetPoint(4)->itemId(), "S1.analog." + std::string(31, 'L'));

    const PointDescriptor& c = b.space->GetPoint(5)->descriptor();
    EXPECT_EQ(c.canonicalType, VT_BOOL);
    EXPECT_EQ(c.pointKind, 4);
    EXPECT_EQ(c.stationFlag, 0) << "S2 is not a transfer station";
    EXPECT_EQ(c.hasLimits, 0);
}

TEST(AddressSpaceBuild, SettingsGateWritesAndHideNonTransferStations) {
    {
        const Built b = Build(TwoStations(), {false, false});
        EXPECT_EQ(b.space->GetPoint(1)->descriptor().accessRights, 1u) << "writeable setting off";
    }
    {
        std::vector<Station> plant = TwoStations();
        plant.push_back(Station{"S3", false, {AnalogPoint{"D", "", 0, 0, false, 0}}, {}});
        plant.insert(plant.begin() + 1, Station{"Hidden", false, {}, {}});
        plant[2].transfer = true;  // S2 shown
        const Built b = Build(plant, {true, true});
        // Shown: S1 (2) and S2 (7); S2 is the last shown station, so its next sibling is 0.
        EXPECT_EQ(b.space->GetNodeName(7), "S2");
        EXPECT_EQ(b.space->GetNextSibling(2), 7u);
        EXPECT_EQ(b.space->GetNextSibling(7), 0u);
        EXPECT_EQ(b.space->ResolveItemId("Hidden"), 0u);
        EXPECT_EQ(b.space->ResolveItemId("S3.analog.D"), 0u);
        EXPECT_EQ(b.space->GetPointCount(), 3u);
    }
}

TEST(AddressSpaceBuild, AllStationsHiddenLeavesOnlyTheRoot) {
    std::vector<Station> plant = TwoStations();
    plant[0].transfer = false;
    const Built b = Build(plant, {true, true});
    EXPECT_EQ(b.space->GetNodeCount(), 1u);
    EXPECT_EQ(b.space->GetFirstChild(1), 0u);
    EXPECT_EQ(b.space->ResolveItemId(""), 1u);
    EXPECT_EQ(b.space->ResolveItemId("S1"), 0u);
    EXPECT_EQ(b.space->GetPoint(1), nullptr);
}

TEST(AddressSpaceBuild, NoStationsIsNoBuild) {
    InProcessRuntime runtime(std::vector<Station>{});
    rtdb::CDataAccessEx access(nullptr, {});
    ASSERT_TRUE(access.AttachDatabase());
    COPCAddressSpaceMgt space;
    EXPECT_FALSE(space.BuildAddressSpace(access));
    EXPECT_FALSE(space.IsBuilt());
    EXPECT_EQ(space.GetRoot(), 0u);
    EXPECT_EQ(space.ResolveItemId(""), 0u);
    EXPECT_EQ(space.GetPointCount(), 0u);
}

// The runtime's memory is input: a corrupt image is refused whole (the server then reports no
// configuration), whether it was corrupt when the server attached or became so before the build;
// a name without its terminator ends at its field. Nothing outside the mapping is ever read: an
// image that led there would crash this test.
TEST(AddressSpaceBuild, CorruptImages) {
    using rtimage::Corruption;
    const struct {
        const char* corruption;
        std::optional<Corruption> image;  // none: the memory descriptor says size 0
        bool beforeAttach, attached, built;
    } cases[] = {
        {"station count beyond the image", Corruption::StationCount, true, true, false},
        {"analog table outside the image", Corruption::TableOffset, true, true, false},
        {"a station's points beyond their table", Corruption::PointRun, true, true, false},
        {"a station's points moved beyond their table after the attach", Corruption::PointRun, false, true, false},
        {"memory descriptor of size 0", std::nullopt, true, false, false},
        {"names without their terminator", Corruption::UnterminatedNames, true, true, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.corruption);
        InProcessRuntime runtime(TwoStations());
        const auto corrupt = [&] {
            if (c.image)
                rtimage::corrupt(runtime.database(), *c.image);
            else
                std::memset(runtime.mailbox() + rt::mailbox::kSystemBlock + rt::mailbox::kMemoryDescriptor, 0, 4);
        };
        if (c.beforeAttach) corrupt();
        rtdb::CDataAccessEx access(nullptr, {false, true});
        ASSERT_EQ(access.AttachDatabase(), c.attached);
        if (!c.attached) continue;
        if (!c.beforeAttach) corrupt();
        COPCAddressSpaceMgt space;
        EXPECT_EQ(space.BuildAddressSpace(access), c.built);
        EXPECT_EQ(space.IsBuilt(), c.built);
        // Names keep the first 31 bytes of their field, as every name does.
        if (c.built) {
            EXPECT_NE(space.ResolveItemId(std::string(31, 'N') + ".switch." + std::string(31, 'P')), 0u);
        }
    }
}

// An item ID is any text that comes back unchanged from the runtime's code page (936 in the test
// prefix) and holds no control character.
TEST(AddressSpaceBuild, ItemIdsAreWhatTheCodePageHolds) {
    const struct {
        const wchar_t* text;
        const char* narrow;  // null: refused
    } cases[] = {
        {L"S1.analog.P7", "S1.analog.P7"},
        {L"S1.analog.Flow 2", "S1.analog.Flow 2"},
        {L"S1-A/B", "S1-A/B"},
        {L"\u51FA\u6C34", "\xB3\xF6\xCB\xAE"},
        {L"\uFF30", "\xA3\xD0"},  // fullwidth 'P' is a character of its own, not 'P'
        {L"", nullptr},
        {L"S1\tA", nullptr},
        {L"S1\u007FA", nullptr},
        {L"S1\u0085A", nullptr},
        {L"S1.\u0E01", nullptr},  // Thai
        {L"\u00E0\u0100", nullptr},  // best fit would make "aA" of them
    };
    std::string longest;
    EXPECT_TRUE(COPCAddressSpaceMgt::NarrowItemId(std::wstring(95, L'A'), longest));
    EXPECT_FALSE(COPCAddressSpaceMgt::NarrowItemId(std::wstring(96, L'A'), longest)) << "longer than any ID of the tree";
    for (const auto& c : cases) {
        std::string narrow = "left over";
        EXPECT_EQ(COPCAddressSpaceMgt::NarrowItemId(c.text, narrow), c.narrow != nullptr) << korvex::com::toUtf8(c.text);
        EXPECT_EQ(narrow, c.narrow ? c.narrow : "") << korvex::com::toUtf8(c.text);
    }
}

}  // namespace
