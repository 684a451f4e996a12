// The SCADA product's real-time database library and configuration database library, as this
// server calls them. The libraries are outside components; the build links either the project's
// own stand-in (rtdb/standin) or the runtime's import libraries (CMake option KORVEX_RTDB). Everything the server relies on is stated here: the calls,
// their results, and the byte layout of the records they hand out.
#pragma once

#include <cstddef>
#include <cstdint>

extern "C" {

// Table handle of an opened station, analog or switch ("status") table; 0 means failure.
using RtHandle = std::intptr_t;

// Binds the library to a mapped view of the "rt_database" shared memory. `memoryDescriptor`
// points at the 20-byte memory descriptor of the mailbox's system block and must stay in place
// while the database is in use. The result is not relied on.
int RtInitMemory(void* databaseBase, void* memoryDescriptor, int reserved);

RtHandle RtOpenStationDb();
int RtGetStationDataCount(RtHandle stations);
void* RtGetStationDataByIndex(RtHandle stations, int index);

RtHandle RtOpenAnalogDb(void* station);
int RtGetAnalogDataCount(RtHandle analogs);
void* RtGetAnalogDataByIndex(RtHandle analogs, void* station, int index);

RtHandle RtOpenStatusDb(void* station);
int RtGetStatusDataCount(RtHandle switches);
void* RtGetStatusDataByIndex(RtHandle switches, void* station, int index);

void RtCloseDb(RtHandle table);

// Fills `buffer` (832 bytes) with the system-information record of the configuration database at
// `path`. Returns 0 on success.
int dbGetSysInfo(const char* path, const char* accessName, const char* accessKey, int flags, void* buffer,
                 int bufferSize);

}  // extern "C"

namespace rt {

// Point kinds as the database numbers them.
enum PointKind : int { kAnalogKind = 3, kSwitchKind = 4 };

// Byte offsets of the fields the server reads. Records are packed: the doubles sit at odd offsets
// and must be read with memcpy.
namespace station {
constexpr std::size_t kName = 0;
constexpr std::size_t kNonTransferFlag = 384;
constexpr std::size_t kExtent = kNonTransferFlag + 1;  // the bytes of a record the server reads
}  // namespace station

namespace analog {
constexpr std::size_t kName = 0;  // 32 bytes
constexpr std::size_t kDescription = 32;
constexpr std::size_t kHighLimit = 144;
constexpr std::size_t kLowLimit = 160;
constexpr std::size_t kWritableFlag = 548;
constexpr std::size_t kValue = 587;
constexpr std::size_t kExtent = kValue + 8;
}  // namespace analog

namespace status {
constexpr std::size_t kName = 0;  // 32 bytes
constexpr std::size_t kDescription = 32;
constexpr std::size_t kWritableFlag = 467;
constexpr std::size_t kState = 493;
constexpr std::size_t kExtent = kState + 1;
}  // namespace status

constexpr std::size_t kNameField = 32;

// The mailbox "message_mem" that the runtime publishes.
namespace mailbox {
constexpr const char* kName = "message_mem";
constexpr std::size_t kMappedSize = 256000;
constexpr std::size_t kScadaWindow = 0;
constexpr std::size_t kServerWindow = 48;
constexpr std::size_t kSystemBlock = 57880;
constexpr std::size_t kSystemBlockSize = 296;
constexpr std::size_t kMemoryDescriptor = 276;  // within the system block
constexpr std::size_t kMemoryDescriptorSize = 20;
}  // namespace mailbox

constexpr const char* kDatabaseName = "rt_database";

// The configuration database's system-information record.
namespace sysinfo {
constexpr int kRecordSize = 832;
constexpr int kFlags = 0x30000;
constexpr std::size_t kTextField = 64;
constexpr std::size_t kProductLabel = 0;
constexpr std::size_t kRightsNotice = 64;
constexpr std::size_t kCompanyName = 128;
constexpr std::size_t kWebAddress = 192;
// The access strings the library's contract asks for.
constexpr const char* kAccessName = "KVX3";
constexpr const char* kAccessKey = "SYSINFO";
}  // namespace sysinfo

// Runtime messages (WM_COPYDATA codes) and their payload sizes.
namespace message {
constexpr unsigned kSetValueCode = 5008;
constexpr unsigned kSetValueSize = 76;
constexpr unsigned kControlCode = 6112;
constexpr unsigned kControlSize = 152;
// Payload offsets: both messages begin alike and carry the 8-byte value at their own place.
constexpr std::size_t kStationText = 0;  // 32 bytes, at most 31 characters
constexpr std::size_t kPointText = 32;   // 32 bytes, at most 31 characters
constexpr std::size_t kKind = 64;
constexpr std::size_t kSetValueValue = 68;
constexpr std::size_t kControlValue = 132;
constexpr std::size_t kControlConstant = 144;  // the constant 1000
}  // namespace message

}  // namespace rt
