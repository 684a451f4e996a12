// The configuration database file that dbGetSysInfo reads (<working directory>\Out\scada.dat):
//
//   0  char[8] magic "KVXCFGDB"
//   8  u32 format version (1)
//  12  u32 record size (832)
//  16  the 832-byte system-information record
//
// Nothing else is stored: the server reads only the system-information record.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace configdb {

constexpr std::array<char, 8> kMagic{'K', 'V', 'X', 'C', 'F', 'G', 'D', 'B'};
constexpr std::uint32_t kFormatVersion = 1;
constexpr std::size_t kHeaderSize = 16;
constexpr std::size_t kRecordSize = 832;
constexpr std::size_t kMaxTextBytes = 63;

using SystemInfoRecord = std::array<std::byte, kRecordSize>;

// The About box texts, already in the database's code page.
struct SystemTexts {
    std::string productLabel;
    std::string rightsNotice;
    std::string companyName;
    std::string webAddress;
};

// Throws std::invalid_argument when a text does not fit its 64-byte field.
SystemInfoRecord makeSystemInfoRecord(const SystemTexts& texts);

// Writes the file, replacing any old one; false when it cannot be written.
bool writeConfigDatabase(const std::string& path, const SystemInfoRecord& record);

// dbGetSysInfo's results; every one but Ok is nonzero.
enum class SysInfoResult : int {
    Ok = 0,
    BadArgument = 1,   // null path or buffer
    AccessDenied = 2,  // wrong access strings
    BadFlags = 3,
    BadBufferSize = 4,
    CannotOpen = 5,
    NotAConfigDatabase = 6,
    UnsupportedVersion = 7,
    BadLength = 8,  // truncated, trailing bytes, or a record size other than 832
};

}  // namespace configdb
