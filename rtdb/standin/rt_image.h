// Memory image of the real-time database, shared by the library stand-in (which serves the Rt*
// calls over it) and the runtime simulator (which lays a plant out into it and moves its values).
//
// Layout, all numbers little-endian and packed:
//
//   header (64 bytes at offset 0)
//     0  char[8] magic "KVXRTDB"      24  u32 station record size    44  u32 switch table offset
//     8  u32 layout version (1)       28  u32 analog count           48  u32 switch record size
//    12  u32 image size               32  u32 analog table offset
//    16  u32 station count            36  u32 analog record size
//    20  u32 station table offset     40  u32 switch count
//   station table, analog table, switch table: arrays of fixed-size records, each table starting at
//   a multiple of 64. A station's analog and switch points are contiguous runs in their tables.
//
// Record fields the server reads sit at the offsets of rt_library.h; the fields below are ours.
// Record sizes are multiples of 64 so that every analog value (at 587, an odd offset) lies inside
// one 64-byte cache line: the simulator's single 8-byte store of a value is then atomic on x86, and
// a reader that re-reads until two reads agree never sees a torn double.
//
// Memory descriptor (the 20 bytes at the end of the mailbox's system block):
//   u32 image size (= size of the "rt_database" shared memory), u32 magic 0x4454524B ("KRTD"),
//   u32 layout version, u32 0, u32 0.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace rtimage {

constexpr std::array<char, 8> kMagic{'K', 'V', 'X', 'R', 'T', 'D', 'B', '\0'};
constexpr std::uint32_t kLayoutVersion = 1;
constexpr std::uint32_t kDescriptorMagic = 0x4454524B;
constexpr std::size_t kTableAlignment = 64;

namespace header {
constexpr std::size_t kMagic = 0;
constexpr std::size_t kVersion = 8;
constexpr std::size_t kImageSize = 12;
constexpr std::size_t kStationCount = 16;
constexpr std::size_t kStationTable = 20;
constexpr std::size_t kStationRecordSize = 24;
constexpr std::size_t kAnalogCount = 28;
constexpr std::size_t kAnalogTable = 32;
constexpr std::size_t kAnalogRecordSize = 36;
constexpr std::size_t kSwitchCount = 40;
constexpr std::size_t kSwitchTable = 44;
constexpr std::size_t kSwitchRecordSize = 48;
constexpr std::size_t kSize = 64;
}  // namespace header

// Our fields of the station record: where its points lie in the point tables.
namespace station {
constexpr std::size_t kFirstAnalog = 388;
constexpr std::size_t kAnalogCount = 392;
constexpr std::size_t kFirstSwitch = 396;
constexpr std::size_t kSwitchCount = 400;
constexpr std::size_t kRecordSize = 448;
}  // namespace station

namespace analog {
constexpr std::size_t kDescriptionField = 112;  // bytes 32..143, NUL included
constexpr std::size_t kRecordSize = 640;
}  // namespace analog

namespace status {
constexpr std::size_t kDescriptionField = 112;
constexpr std::size_t kRecordSize = 512;
}  // namespace status

// Longest texts the fields hold, NUL excluded.
constexpr std::size_t kMaxNameBytes = 31;
constexpr std::size_t kMaxDescriptionBytes = 111;

// A plant as the image holds it. Texts are already in the database's code page.
struct AnalogPoint {
    std::string name;
    std::string description;
    double highLimit = 0.0;
    double lowLimit = 0.0;
    bool writable = false;
    double value = 0.0;
};

struct SwitchPoint {
    std::string name;
    std::string description;
    bool writable = false;
    std::uint8_t state = 0;
};

struct Station {
    std::string name;
    bool transfer = false;
    std::vector<AnalogPoint> analogs;
    std::vector<SwitchPoint> switches;
};

// Lays the plant out into a fresh image. Throws std::invalid_argument when a text does not fit its
// field or the plant does not fit 32-bit offsets.
std::vector<std::byte> buildImage(std::span<const Station> plant);

// The ways a runtime's memory can be corrupt, laid into a valid image to test its readers: a
// station count beyond the image, the analog table outside it, the first station's analog points
// running beyond their table, and names (the second station's and the first switch point's) that
// fill their fields without a terminator.
enum class Corruption { StationCount, TableOffset, PointRun, UnterminatedNames };
void corrupt(std::byte* image, Corruption how);

constexpr std::size_t kDescriptorSize = 20;
std::array<std::byte, kDescriptorSize> makeMemoryDescriptor(std::uint32_t imageSize);

// A validated view of an image: every table and every station's point run lies inside it.
class ImageView {
public:
    // Null when the descriptor or the image is not one of ours or is inconsistent.
    static std::optional<ImageView> open(std::byte* base, const std::byte* descriptor);
    static std::optional<ImageView> open(std::byte* base, std::size_t size);

    std::byte* base() const { return base_; }
    std::size_t size() const { return size_; }

    std::size_t stationCount() const { return stationCount_; }
    std::byte* station(std::size_t index) const;  // null when out of range
    // Index of the station whose record starts at `record`, if it is one.
    std::optional<std::size_t> stationIndex(const void* record) const;

    std::size_t analogCount(std::size_t stationIndex) const;
    std::byte* analog(std::size_t stationIndex, std::size_t index) const;  // null when out of range
    std::size_t switchCount(std::size_t stationIndex) const;
    std::byte* switchPoint(std::size_t stationIndex, std::size_t index) const;

private:
    struct Table {
        std::size_t offset = 0;
        std::size_t count = 0;
        std::size_t recordSize = 0;
    };
    struct Run {
        std::size_t first = 0;
        std::size_t count = 0;
    };
    Run run(std::size_t stationIndex, std::size_t firstField, std::size_t countField) const;
    std::byte* point(const Table& table, Run run, std::size_t index) const;

    std::byte* base_ = nullptr;
    std::size_t size_ = 0;
    std::size_t stationCount_ = 0;
    Table stations_, analogs_, switches_;
};

// Field access. Records are packed, so every multi-byte field is read and written with memcpy.
std::uint32_t readU32(const std::byte* at);
void writeU32(std::byte* at, std::uint32_t value);
double readDouble(const std::byte* at);
void writeDouble(std::byte* at, double value);
// Reads a NUL-terminated text of at most `field` bytes.
std::string readText(const std::byte* at, std::size_t field);

// Stores a live value with one 8-byte store (atomic on x86 when it does not cross a cache line, as
// the layout guarantees), for records that a reader in another process may be reading.
void storeLiveDouble(std::byte* at, double value);

}  // namespace rtimage
