#include "rtdb/standin/config_database.h"

#include "rtdb/rt_library.h"
#include "rtdb/standin/rt_image.h"

#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <vector>

namespace configdb {

static_assert(kRecordSize == rt::sysinfo::kRecordSize);
static_assert(kMaxTextBytes + 1 == rt::sysinfo::kTextField);

namespace {

void writeText(SystemInfoRecord& record, std::size_t offset, const std::string& text) {
    if (text.size() > kMaxTextBytes || text.find('\0') != std::string::npos)
        throw std::invalid_argument("system text \"" + text + "\" does not fit its 64-byte field");
    std::memcpy(record.data() + offset, text.data(), text.size());
}

SysInfoResult readRecord(const char* path, void* buffer) {
    std::ifstream file(path, std::ios::binary);
    if (!file) return SysInfoResult::CannotOpen;
    const std::vector<char> bytes{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    if (bytes.size() < kHeaderSize || std::memcmp(bytes.data(), kMagic.data(), kMagic.size()) != 0)
        return SysInfoResult::NotAConfigDatabase;
    const auto* header = reinterpret_cast<const std::byte*>(bytes.data());
    if (rtimage::readU32(header + 8) != kFormatVersion) return SysInfoResult::UnsupportedVersion;
    if (rtimage::readU32(header + 12) != kRecordSize || bytes.size() != kHeaderSize + kRecordSize)
        return SysInfoResult::BadLength;
    std::memcpy(buffer, bytes.data() + kHeaderSize, kRecordSize);
    return SysInfoResult::Ok;
}

}  // namespace

SystemInfoRecord makeSystemInfoRecord(const SystemTexts& texts) {
    SystemInfoRecord record{};
    writeText(record, rt::sysinfo::kProductLabel, texts.productLabel);
    writeText(record, rt::sysinfo::kRightsNotice, texts.rightsNotice);
    writeText(record, rt::sysinfo::kCompanyName, texts.companyName);
    writeText(record, rt::sysinfo::kWebAddress, texts.webAddress);
    return record;
}

bool writeConfigDatabase(const std::string& path, const SystemInfoRecord& record) {
    std::array<std::byte, kHeaderSize> header{};
    std::memcpy(header.data(), kMagic.data(), kMagic.size());
    rtimage::writeU32(header.data() + 8, kFormatVersion);
    rtimage::writeU32(header.data() + 12, kRecordSize);
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(header.data()), header.size());
    file.write(reinterpret_cast<const char*>(record.data()), record.size());
    file.close();
    return !file.fail();
}

}  // namespace configdb

extern "C" int dbGetSysInfo(const char* path, const char* accessName, const char* accessKey, int flags,
                            void* buffer, int bufferSize) {
    using configdb::SysInfoResult;
    auto result = [](SysInfoResult r) { return static_cast<int>(r); };
    if (!path || !buffer) return result(SysInfoResult::BadArgument);
    if (!accessName || !accessKey || std::strcmp(accessName, rt::sysinfo::kAccessName) != 0 ||
        std::strcmp(accessKey, rt::sysinfo::kAccessKey) != 0)
        return result(SysInfoResult::AccessDenied);
    if (flags != rt::sysinfo::kFlags) return result(SysInfoResult::BadFlags);
    if (bufferSize != rt::sysinfo::kRecordSize) return result(SysInfoResult::BadBufferSize);
    return result(configdb::readRecord(path, buffer));
}
