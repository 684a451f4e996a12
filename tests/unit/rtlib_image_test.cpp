// The database image that the runtime simulator publishes and the library stand-in serves: the
// server reads its records at fixed byte offsets, so every named field must sit exactly there, and
// a damaged image must be refused rather than walked.
#include "rtdb/rt_library.h"
#include "rtdb/standin/rt_image.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using rtimage::AnalogPoint;
using rtimage::Station;
using rtimage::SwitchPoint;

std::vector<Station> samplePlant() {
    return {
        {"S1",
         true,
         {{"A1", "first analog", 100.0, -5.0, true, 12.5}, {"A2", "second", 0.0, 0.0, false, -1e300}},
         {{"W1", "first switch", true, 1}}},
        {"S2", false, {}, {{"W2", "", false, 0}, {"W3", "raw", true, 2}}},
        {"S3", true, {{"A3", "", 1.0, 2.0, false, 3.0}}, {}},
    };
}

std::string text(const std::byte* at) { return reinterpret_cast<const char*>(at); }

TEST(RtImageLayout, FieldsSitAtTheOffsetsTheServerReads) {
    const auto plant = samplePlant();
    std::vector<std::byte> image = rtimage::buildImage(plant);
    const auto view = rtimage::ImageView::open(image.data(), image.size());
    ASSERT_TRUE(view);
    ASSERT_EQ(view->stationCount(), 3u);

    for (std::size_t s = 0; s < plant.size(); ++s) {
        const std::byte* station = view->station(s);
        SCOPED_TRACE("station " + plant[s].name);
        EXPECT_EQ(text(station + rt::station::kName), plant[s].name);
        EXPECT_EQ(std::to_integer<int>(station[rt::station::kNonTransferFlag]), plant[s].transfer ? 0 : 1);
        ASSERT_EQ(view->analogCount(s), plant[s].analogs.size());
        ASSERT_EQ(view->switchCount(s), plant[s].switches.size());

        for (std::size_t i = 0; i < plant[s].analogs.size(); ++i) {
            const AnalogPoint& expected = plant[s].analogs[i];
            const std::byte* record = view->analog(s, i);
            SCOPED_TRACE("analog " + expected.name);
            EXPECT_EQ(text(record + rt::analog::kName), expected.name);
            EXPECT_EQ(text(record + rt::analog::kDescription), expected.description);
            EXPECT_EQ(rtimage::readDouble(record + rt::analog::kHighLimit), expected.highLimit);
            EXPECT_EQ(rtimage::readDouble(record + rt::analog::kLowLimit), expected.lowLimit);
            EXPECT_EQ(std::to_integer<int>(record[rt::analog::kWritableFlag]), expected.writable ? 1 : 0);
            EXPECT_EQ(rtimage::readDouble(record + rt::analog::kValue), expected.value);
        }
        for (std::size_t i = 0; i < plant[s].switches.size(); ++i) {
            const SwitchPoint& expected = plant[s].switches[i];
            const std::byte* record = view->switchPoint(s, i);
            SCOPED_TRACE("switch " + expected.name);
            EXPECT_EQ(text(record + rt::status::kName), expected.name);
            EXPECT_EQ(text(record + rt::status::kDescription), expected.description);
            EXPECT_EQ(std::to_integer<int>(record[rt::status::kWritableFlag]), expected.writable ? 1 : 0);
            EXPECT_EQ(std::to_integer<int>(record[rt::status::kState]), expected.state);
        }
    }
    EXPECT_EQ(view->station(3), nullptr);
    EXPECT_EQ(view->analog(0, 2), nullptr);
    EXPECT_EQ(view->switchPoint(2, 0), nullptr);
}

// Readers in other processes read a value while the simulator writes it: each value must lie inside
// one 64-byte line (so one store is atomic) and still at an odd address, as in the real database.
TEST(RtImageLayout, LiveValuesAreOddButNeverCrossACacheLine) {
    std::vector<Station> plant(2);
    for (int i = 0; i < 9; ++i)
        plant[i % 2].analogs.push_back({"P" + std::to_string(i), "", 0, 0, false, i * 1.5});
    std::vector<std::byte> image = rtimage::buildImage(plant);
    const auto view = rtimage::ImageView::open(image.data(), image.size());
    ASSERT_TRUE(view);
    for (std::size_t s = 0; s < 2; ++s) {
        for (std::size_t i = 0; i < view->analogCount(s); ++i) {
            const auto offset = static_cast<std::size_t>(view->analog(s, i) + rt::analog::kValue - image.data());
            EXPECT_EQ(offset % 2, 1u) << "station " << s << " point " << i;
            EXPECT_LE(offset % 64 + 8, 64u) << "station " << s << " point " << i << " at " << offset;
        }
    }
}

TEST(RtImageLayout, StoreLiveDoubleWritesExactlyTheEightValueBytes) {
    std::vector<std::byte> buffer(32, std::byte{0x5A});
    rtimage::storeLiveDouble(buffer.data() + 11, -7.25);
    EXPECT_EQ(rtimage::readDouble(buffer.data() + 11), -7.25);
    EXPECT_EQ(buffer[10], std::byte{0x5A});
    EXPECT_EQ(buffer[19], std::byte{0x5A});
}

TEST(RtImageLayout, DescriptorCarriesTheImageSizeAndOpensTheImage) {
    std::vector<std::byte> image = rtimage::buildImage(samplePlant());
    const auto descriptor = rtimage::makeMemoryDescriptor(static_cast<std::uint32_t>(image.size()));
    EXPECT_EQ(rtimage::readU32(descriptor.data()), image.size());
    const auto view = rtimage::ImageView::open(image.data(), descriptor.data());
    ASSERT_TRUE(view);
    EXPECT_EQ(view->size(), image.size());
}

TEST(RtImageLayout, TextsMustFitTheirFields) {
    struct Case {
        const char* name;
        std::function<void(Station&)> change;
        bool fits;
    };
    const Case cases[] = {
        {"31-byte station name", [](Station& s) { s.name = std::string(31, 'S'); }, true},
        {"32-byte station name", [](Station& s) { s.name = std::string(32, 'S'); }, false},
        {"31-byte analog name", [](Station& s) { s.analogs[0].name = std::string(31, 'A'); }, true},
        {"32-byte analog name", [](Station& s) { s.analogs[0].name = std::string(32, 'A'); }, false},
        {"32-byte switch name", [](Station& s) { s.switches[0].name = std::string(32, 'W'); }, false},
        {"111-byte description", [](Station& s) { s.analogs[0].description = std::string(111, 'd'); }, true},
        {"112-byte description", [](Station& s) { s.analogs[0].description = std::string(112, 'd'); }, false},
        {"112-byte switch description", [](Station& s) { s.switches[0].description = std::string(112, 'd'); },
         false},
        {"name with a NUL", [](Station& s) { s.analogs[0].name = std::string("A\0B", 3); }, false},
    };
    for (const Case& c : cases) {
        std::vector<Station> plant = samplePlant();
        c.change(plant[0]);
        if (c.fits) {
            EXPECT_NO_THROW(rtimage::buildImage(plant)) << c.name;
        } else {
            EXPECT_THROW(rtimage::buildImage(plant), std::invalid_argument) << c.name;
        }
    }
}

TEST(RtImageLayout, DamagedImagesAreRefused) {
    namespace h = rtimage::header;
    struct Case {
        const char* name;
        std::function<void(std::vector<std::byte>&)> damage;
    };
    const Case cases[] = {
        {"bad magic", [](auto& image) { image[h::kMagic] = std::byte{'X'}; }},
        {"other version", [](auto& image) { rtimage::writeU32(image.data() + h::kVersion, 2); }},
        {"image larger than the memory",
         [](auto& image) {
             rtimage::writeU32(image.data() + h::kImageSize, static_cast<std::uint32_t>(image.size() + 1));
         }},
        {"station table beyond the end",
         [](auto& image) { rtimage::writeU32(image.data() + h::kStationCount, 100000); }},
        {"huge analog count (wraps in 32 bits)",
         [](auto& image) { rtimage::writeU32(image.data() + h::kAnalogCount, 0x80000000u); }},
        {"other record size", [](auto& image) { rtimage::writeU32(image.data() + h::kSwitchRecordSize, 500); }},
        {"misaligned table", [](auto& image) { rtimage::writeU32(image.data() + h::kAnalogTable, 65); }},
        {"table over the header", [](auto& image) { rtimage::writeU32(image.data() + h::kStationTable, 0); }},
        {"station's points beyond the table",
         [](auto& image) {
             const std::size_t station0 = rtimage::readU32(image.data() + h::kStationTable);
             rtimage::writeU32(image.data() + station0 + rtimage::station::kAnalogCount, 4);
         }},
    };
    for (const Case& c : cases) {
        std::vector<std::byte> image = rtimage::buildImage(samplePlant());
        ASSERT_TRUE(rtimage::ImageView::open(image.data(), image.size())) << c.name;
        c.damage(image);
        EXPECT_FALSE(rtimage::ImageView::open(image.data(), image.size())) << c.name;
    }

    std::vector<std::byte> image = rtimage::buildImage(samplePlant());
    EXPECT_FALSE(rtimage::ImageView::open(image.data(), std::size_t{63})) << "shorter than the header";
    EXPECT_FALSE(rtimage::ImageView::open(nullptr, image.size())) << "no memory";
    auto descriptor = rtimage::makeMemoryDescriptor(static_cast<std::uint32_t>(image.size()));
    rtimage::writeU32(descriptor.data() + 4, 0);
    EXPECT_FALSE(rtimage::ImageView::open(image.data(), descriptor.data())) << "foreign descriptor";
    EXPECT_FALSE(rtimage::ImageView::open(image.data(), static_cast<const std::byte*>(nullptr)))
        << "no descriptor";
}

}  // namespace
