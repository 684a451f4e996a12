#include "rtdb/standin/rt_image.h"

#include "rtdb/rt_library.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <limits>
#include <stdexcept>

namespace rtimage {

static_assert(station::kFirstAnalog > rt::station::kNonTransferFlag);
static_assert(station::kSwitchCount + 4 <= station::kRecordSize);
static_assert(rt::analog::kValue + 8 <= analog::kRecordSize);
static_assert(rt::analog::kDescription + analog::kDescriptionField <= rt::analog::kHighLimit);
static_assert(rt::status::kState + 1 <= status::kRecordSize);
static_assert(rt::status::kDescription + status::kDescriptionField <= rt::status::kWritableFlag);
// Each live value stays inside one cache line of a 64-aligned table.
static_assert(analog::kRecordSize % kTableAlignment == 0);
static_assert(rt::analog::kValue % kTableAlignment + 8 <= kTableAlignment);
static_assert(station::kRecordSize % kTableAlignment == 0 && status::kRecordSize % kTableAlignment == 0);

std::uint32_t readU32(const std::byte* at) {
    std::uint32_t value;
    std::memcpy(&value, at, sizeof value);
    return value;
}

void writeU32(std::byte* at, std::uint32_t value) { std::memcpy(at, &value, sizeof value); }

double readDouble(const std::byte* at) {
    double value;
    std::memcpy(&value, at, sizeof value);
    return value;
}

void writeDouble(std::byte* at, double value) { std::memcpy(at, &value, sizeof value); }

std::string readText(const std::byte* at, std::size_t field) {
    const auto* text = reinterpret_cast<const char*>(at);
    return std::string(text, std::find(text, text + field, '\0'));
}

void storeLiveDouble(std::byte* at, double value) {
    // One 8-byte store instruction; the pointer is deliberately unaligned (x86 allows it).
    __atomic_store_n(reinterpret_cast<std::uint64_t*>(at), std::bit_cast<std::uint64_t>(value), __ATOMIC_RELEASE);
}

namespace {

std::size_t alignUp(std::size_t n) { return (n + kTableAlignment - 1) / kTableAlignment * kTableAlignment; }

void writeText(std::byte* at, const std::string& text, std::size_t maxBytes, const char* what) {
    if (text.size() > maxBytes || text.find('\0') != std::string::npos)
        throw std::invalid_argument(std::string(what) + " \"" + text + "\" does not fit its " +
                                    std::to_string(maxBytes + 1) + "-byte field");
    std::memcpy(at, text.data(), text.size());
}

std::uint32_t toU32(std::size_t n) {
    if (n > std::numeric_limits<std::uint32_t>::max())
        throw std::invalid_argument("plant too large for the image");
    return static_cast<std::uint32_t>(n);
}

}  // namespace

std::vector<std::byte> buildImage(std::span<const Station> plant) {
    std::size_t analogTotal = 0, switchTotal = 0;
    for (const Station& s : plant) {
        analogTotal += s.analogs.size();
        switchTotal += s.switches.size();
    }
    const std::size_t stationTable = alignUp(header::kSize);
    const std::size_t analogTable = alignUp(stationTable + plant.size() * station::kRecordSize);
    const std::size_t switchTable = alignUp(analogTable + analogTotal * analog::kRecordSize);
    const std::size_t imageSize = alignUp(switchTable + switchTotal * status::kRecordSize);

    std::vector<std::byte> image(imageSize);
    std::byte* base = image.data();
    std::memcpy(base + header::kMagic, kMagic.data(), kMagic.size());
    writeU32(base + header::kVersion, kLayoutVersion);
    writeU32(base + header::kImageSize, toU32(imageSize));
    writeU32(base + header::kStationCount, toU32(plant.size()));
    writeU32(base + header::kStationTable, toU32(stationTable));
    writeU32(base + header::kStationRecordSize, station::kRecordSize);
    writeU32(base + header::kAnalogCount, toU32(analogTotal));
    writeU32(base + header::kAnalogTable, toU32(analogTable));
    writeU32(base + header::kAnalogRecordSize, analog::kRecordSize);
    writeU32(base + header::kSwitchCount, toU32(switchTotal));
    writeU32(base + header::kSwitchTable, toU32(switchTable));
    writeU32(base + header::kSwitchRecordSize, status::kRecordSize);

    std::size_t nextAnalog = 0, nextSwitch = 0;
    for (std::size_t i = 0; i < plant.size(); ++i) {
        const Station& s = plant[i];
        std::byte* rec = base + stationTable + i * station::kRecordSize;
        writeText(rec + rt::station::kName, s.name, kMaxNameBytes, "station name");
        rec[rt::station::kNonTransferFlag] = std::byte{s.transfer ? std::uint8_t{0} : std::uint8_t{1}};
        writeU32(rec + station::kFirstAnalog, toU32(nextAnalog));
        writeU32(rec + station::kAnalogCount, toU32(s.analogs.size()));
        writeU32(rec + station::kFirstSwitch, toU32(nextSwitch));
        writeU32(rec + station::kSwitchCount, toU32(s.switches.size()));

        for (const AnalogPoint& p : s.analogs) {
            std::byte* a = base + analogTable + nextAnalog++ * analog::kRecordSize;
            writeText(a + rt::analog::kName, p.name, kMaxNameBytes, "analog point name");
            writeText(a + rt::analog::kDescription, p.description, kMaxDescriptionBytes, "description");
            writeDouble(a + rt::analog::kHighLimit, p.highLimit);
            writeDouble(a + rt::analog::kLowLimit, p.lowLimit);
            a[rt::analog::kWritableFlag] = std::byte{p.writable};
            writeDouble(a + rt::analog::kValue, p.value);
        }
        for (const SwitchPoint& p : s.switches) {
            std::byte* w = base + switchTable + nextSwitch++ * status::kRecordSize;
            writeText(w + rt::status::kName, p.name, kMaxNameBytes, "switch point name");
            writeText(w + rt::status::kDescription, p.description, kMaxDescriptionBytes, "description");
            w[rt::status::kWritableFlag] = std::byte{p.writable};
            w[rt::status::kState] = std::byte{p.state};
        }
    }
    return image;
}

std::array<std::byte, kDescriptorSize> makeMemoryDescriptor(std::uint32_t imageSize) {
    std::array<std::byte, kDescriptorSize> descriptor{};
    writeU32(descriptor.data(), imageSize);
    writeU32(descriptor.data() + 4, kDescriptorMagic);
    writeU32(descriptor.data() + 8, kLayoutVersion);
    return descriptor;
}

void corrupt(std::byte* image, Corruption how) {
    const auto station = [image](std::size_t index) {
        return image + readU32(image + header::kStationTable) + index * station::kRecordSize;
    };
    switch (how) {
    case Corruption::StationCount: writeU32(image + header::kStationCount, 0x10000000); break;
    case Corruption::TableOffset: writeU32(image + header::kAnalogTable, 0xFFFFFFC0); break;
    case Corruption::PointRun: writeU32(station(0) + station::kFirstAnalog, 0x7FFFFFF0); break;
    case Corruption::UnterminatedNames:
        std::memset(station(1) + rt::station::kName, 'N', rt::station::kNonTransferFlag);
        std::memset(image + readU32(image + header::kSwitchTable) + rt::status::kName, 'P', rt::kNameField);
        break;
    }
}

std::optional<ImageView> ImageView::open(std::byte* base, const std::byte* descriptor) {
    if (!base || !descriptor) return std::nullopt;
    if (readU32(descriptor + 4) != kDescriptorMagic || readU32(descriptor + 8) != kLayoutVersion)
        return std::nullopt;
    return open(base, readU32(descriptor));
}

std::optional<ImageView> ImageView::open(std::byte* base, std::size_t size) {
    if (!base || size < header::kSize) return std::nullopt;
    if (std::memcmp(base + header::kMagic, kMagic.data(), kMagic.size()) != 0 ||
        readU32(base + header::kVersion) != kLayoutVersion || readU32(base + header::kImageSize) > size)
        return std::nullopt;

    ImageView view;
    view.base_ = base;
    view.size_ = size;
    auto table = [&](std::size_t countField, std::size_t offsetField, std::size_t sizeField,
                     std::size_t recordSize) -> std::optional<Table> {
        Table t{readU32(base + offsetField), readU32(base + countField), readU32(base + sizeField)};
        // 64-bit arithmetic: a corrupt count cannot wrap around.
        const std::uint64_t end = std::uint64_t{t.offset} + std::uint64_t{t.count} * t.recordSize;
        if (t.recordSize != recordSize || t.offset < header::kSize || t.offset % kTableAlignment != 0 ||
            end > size)
            return std::nullopt;
        return t;
    };
    auto stations =
        table(header::kStationCount, header::kStationTable, header::kStationRecordSize, station::kRecordSize);
    auto analogs =
        table(header::kAnalogCount, header::kAnalogTable, header::kAnalogRecordSize, analog::kRecordSize);
    auto switches =
        table(header::kSwitchCount, header::kSwitchTable, header::kSwitchRecordSize, status::kRecordSize);
    if (!stations || !analogs || !switches) return std::nullopt;
    view.stations_ = *stations;
    view.analogs_ = *analogs;
    view.switches_ = *switches;
    view.stationCount_ = stations->count;

    for (std::size_t i = 0; i < view.stationCount_; ++i) {
        const Run a = view.run(i, station::kFirstAnalog, station::kAnalogCount);
        const Run s = view.run(i, station::kFirstSwitch, station::kSwitchCount);
        if (std::uint64_t{a.first} + a.count > analogs->count ||
            std::uint64_t{s.first} + s.count > switches->count)
            return std::nullopt;
    }
    return view;
}

std::byte* ImageView::station(std::size_t index) const {
    if (index >= stationCount_) return nullptr;
    return base_ + stations_.offset + index * stations_.recordSize;
}

std::optional<std::size_t> ImageView::stationIndex(const void* record) const {
    const auto* p = static_cast<const std::byte*>(record);
    const std::byte* first = base_ + stations_.offset;
    if (p < first || p >= first + stationCount_ * stations_.recordSize) return std::nullopt;
    const auto offset = static_cast<std::size_t>(p - first);
    if (offset % stations_.recordSize != 0) return std::nullopt;
    return offset / stations_.recordSize;
}

ImageView::Run ImageView::run(std::size_t stationIndex, std::size_t firstField, std::size_t countField) const {
    const std::byte* rec = station(stationIndex);
    if (!rec) return {};
    return {readU32(rec + firstField), readU32(rec + countField)};
}

std::byte* ImageView::point(const Table& table, Run r, std::size_t index) const {
    // The run was checked when the view opened, but the runtime may have written it since.
    if (index >= r.count || std::uint64_t{r.first} + index >= table.count) return nullptr;
    return base_ + table.offset + (r.first + index) * table.recordSize;
}

std::size_t ImageView::analogCount(std::size_t stationIndex) const {
    return run(stationIndex, station::kFirstAnalog, station::kAnalogCount).count;
}

std::byte* ImageView::analog(std::size_t stationIndex, std::size_t index) const {
    return point(analogs_, run(stationIndex, station::kFirstAnalog, station::kAnalogCount), index);
}

std::size_t ImageView::switchCount(std::size_t stationIndex) const {
    return run(stationIndex, station::kFirstSwitch, station::kSwitchCount).count;
}

std::byte* ImageView::switchPoint(std::size_t stationIndex, std::size_t index) const {
    return point(switches_, run(stationIndex, station::kFirstSwitch, station::kSwitchCount), index);
}

}  // namespace rtimage
