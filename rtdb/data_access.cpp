#include "data_access.h"

#include "rt_library.h"
#include "values/quality.h"

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace rtdb {
namespace {

constexpr const char* kSettingsKey = "Software\\Korvex\\Scada\\Settings";
constexpr const char* kOnlyShowTransferTagValue = "OPC Server Only Show Tranfer Tag";
constexpr const char* kWriteableValue = "OPC Server Writeable";
constexpr const char* kWorkingKey = "SoftWare\\KorvexSettings";
constexpr const char* kWorkingValue = "Working";
constexpr const char* kConfigurationDatabase = "\\Out\\scada.dat";

// How often the runtime's window is checked for life by the readers.
constexpr ULONGLONG kAliveCheckIntervalMs = 50;
// A double that the runtime writes while we read it is read again until two reads agree.
constexpr int kStableReadAttempts = 64;

// The copy of the mailbox's system block: the library keeps the address of its memory
// descriptor, so the copy lives as long as the process.
std::array<std::byte, rt::mailbox::kSystemBlockSize> g_systemBlock{};

// Reads a setting as 4 raw bytes whatever its registry type; longer values leave it off.
bool ReadRawSetting(HKEY key, const char* name) {
    DWORD raw = 0;
    DWORD size = sizeof raw;
    if (RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(&raw), &size) != ERROR_SUCCESS)
        return false;
    return raw != 0;
}

// One 8-byte load: atomic on x86 while the value does not cross a cache line. Reading the bytes one
// at a time would let a runtime store land between two of them, and two such torn reads can agree.
std::uint64_t LoadValueBits(const std::byte* source) {
    return __atomic_load_n(reinterpret_cast<const std::uint64_t*>(source), __ATOMIC_RELAXED);
}

// The double at an odd offset may straddle a cache line, where even one load can tear: two
// consecutive reads that agree are a value the runtime really wrote.
bool ReadStableDouble(const std::byte* source, double& value) {
    std::uint64_t previous = LoadValueBits(source);
    for (int attempt = 0; attempt < kStableReadAttempts; ++attempt) {
        const std::uint64_t current = LoadValueBits(source);
        if (current == previous) {
            value = std::bit_cast<double>(current);
            return true;
        }
        previous = current;
    }
    return false;
}

// Record texts are NUL-terminated within their field.
std::string_view FieldText(const std::byte* record, std::size_t offset, std::size_t width) {
    const char* text = reinterpret_cast<const char*>(record + offset);
    return {text, strnlen(text, width)};
}

}  // namespace

Settings Settings::Read() {
    Settings settings;
    korvex::com::UniqueHkey key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kSettingsKey, 0, KEY_READ, key.put()) == ERROR_SUCCESS) {
        settings.onlyShowTransferTag = ReadRawSetting(key.get(), kOnlyShowTransferTagValue);
        settings.writeable = ReadRawSetting(key.get(), kWriteableValue);
    }
    return settings;
}

CDataAccessEx::CDataAccessEx(HWND serverWindow, Settings settings) : settings_(settings), serverWindow_(serverWindow) {
    OpenMailbox();
}

CDataAccessEx::~CDataAccessEx() {
    // The owners then unmap the database and close its mapping.
    ReleaseServerWindow();
}

bool CDataAccessEx::OpenMailbox() {
    // The view keeps the mailbox mapped; the mapping handle is not needed beyond this function.
    const korvex::com::UniqueHandle mapping{OpenFileMappingA(FILE_MAP_WRITE, TRUE, rt::mailbox::kName)};
    if (!mapping) return false;
    korvex::com::UniqueMappedView view{
        MapViewOfFile(mapping.get(), FILE_MAP_ALL_ACCESS, 0, 0, rt::mailbox::kMappedSize)};
    if (!view) return false;
    auto* mailbox = static_cast<std::byte*>(view.get());
    DWORD windowHalves[2];
    std::memcpy(windowHalves, mailbox + rt::mailbox::kScadaWindow, sizeof windowHalves);
    const HWND scada = reinterpret_cast<HWND>(static_cast<ULONG_PTR>(windowHalves[0]));
    if ((windowHalves[0] == 0 && windowHalves[1] == 0) || !IsWindow(scada)) return false;
    mailboxView_ = std::move(view);
    std::memcpy(g_systemBlock.data(), mailbox + rt::mailbox::kSystemBlock, g_systemBlock.size());
    const LONG64 server = static_cast<LONG>(reinterpret_cast<LONG_PTR>(serverWindow_));
    std::memcpy(mailbox + rt::mailbox::kServerWindow, &server, sizeof server);
    scadaWindow_ = windowHalves[0];
    return true;
}

bool CDataAccessEx::AttachDatabase() {
    if (scadaWindow_ == 0) return false;
    rtMapping_.reset(OpenFileMappingA(FILE_MAP_WRITE, TRUE, rt::kDatabaseName));
    if (!rtMapping_) return false;
    std::byte* descriptor = g_systemBlock.data() + rt::mailbox::kMemoryDescriptor;
    DWORD databaseSize = 0;
    std::memcpy(&databaseSize, descriptor, sizeof databaseSize);
    // Size 0 would map the whole section, whatever its size: a descriptor saying 0 is no database.
    if (databaseSize != 0) rtView_.reset(MapViewOfFile(rtMapping_.get(), FILE_MAP_ALL_ACCESS, 0, 0, databaseSize));
    if (!rtView_) {
        rtMapping_.reset();
        return false;
    }
    databaseSize_ = databaseSize;
    RtInitMemory(rtView_.get(), descriptor, 0);
    return true;
}

// The library hands out pointers into the database it was given; one that points elsewhere (a
// corrupt image, or a library that trusts it) is treated as a missing record, never read.
const std::byte* CDataAccessEx::InDatabase(const void* record, std::size_t extent) const {
    const auto* first = static_cast<const std::byte*>(rtView_.get());
    const auto* at = static_cast<const std::byte*>(record);
    if (!at || !first || at < first || extent > databaseSize_) return nullptr;
    return static_cast<std::size_t>(at - first) <= databaseSize_ - extent ? at : nullptr;
}

int CDataAccessEx::GetStationCount() const {
    const RtHandle table = RtOpenStationDb();
    if (!table) return 0;
    const int count = RtGetStationDataCount(table);
    RtCloseDb(table);
    return count;
}

const std::byte* CDataAccessEx::GetStationByIndex(int index) const {
    const RtHandle table = RtOpenStationDb();
    if (!table) return nullptr;
    const void* station = RtGetStationDataByIndex(table, index);
    RtCloseDb(table);
    return InDatabase(station, rt::station::kExtent);
}

int CDataAccessEx::GetAnalogCount(const std::byte* station) const {
    const RtHandle table = RtOpenAnalogDb(const_cast<std::byte*>(station));
    if (!table) return 0;
    const int count = RtGetAnalogDataCount(table);
    RtCloseDb(table);
    return count;
}

const std::byte* CDataAccessEx::GetAnalogByIndex(const std::byte* station, int index) const {
    auto* stationRecord = const_cast<std::byte*>(station);
    const RtHandle table = RtOpenAnalogDb(stationRecord);
    if (!table) return nullptr;
    const void* point = RtGetAnalogDataByIndex(table, stationRecord, index);
    RtCloseDb(table);
    return InDatabase(point, rt::analog::kExtent);
}

int CDataAccessEx::GetSwitchCount(const std::byte* station) const {
    const RtHandle table = RtOpenStatusDb(const_cast<std::byte*>(station));
    if (!table) return 0;
    const int count = RtGetStatusDataCount(table);
    RtCloseDb(table);
    return count;
}

const std::byte* CDataAccessEx::GetSwitchByIndex(const std::byte* station, int index) const {
    auto* stationRecord = const_cast<std::byte*>(station);
    const RtHandle table = RtOpenStatusDb(stationRecord);
    if (!table) return nullptr;
    const void* point = RtGetStatusDataByIndex(table, stationRecord, index);
    RtCloseDb(table);
    return InDatabase(point, rt::status::kExtent);
}

std::string CDataAccessEx::PointKey(std::string_view stationName, int kind, std::string_view pointName) {
    char key[256];
    std::snprintf(key, sizeof key, "%.*s_%d_%.*s", static_cast<int>(stationName.size()), stationName.data(), kind,
                  static_cast<int>(pointName.size()), pointName.data());
    return key;
}

void CDataAccessEx::RegisterPoint(std::string_view stationName, int kind, std::string_view pointName,
                                  const std::byte* record) {
    if (!record || stationName.empty() || pointName.empty()) return;
    if (kind != rt::kAnalogKind && kind != rt::kSwitchKind) return;
    pointMap_.try_emplace(PointKey(stationName, kind, pointName), record);
}

PointRecord CDataAccessEx::LookupPoint(std::string_view stationName, int kind, std::string_view pointName) const {
    if (stationName.empty() || pointName.empty()) return {};
    const auto found = pointMap_.find(PointKey(stationName, kind, pointName));
    if (found == pointMap_.end() || !found->second) return {};
    return {found->second, kind};
}

bool CDataAccessEx::IsScadaAlive() const {
    if (scadaWindow_ == 0 || !scadaAlive_.load(std::memory_order_acquire)) return false;
    const ULONGLONG now = GetTickCount64();
    ULONGLONG last = lastAliveCheck_.load(std::memory_order_relaxed);
    if (now - last < kAliveCheckIntervalMs) return true;
    if (lastAliveCheck_.compare_exchange_strong(last, now) && !IsWindow(scadaWindow()))
        scadaAlive_.store(false, std::memory_order_release);
    return scadaAlive_.load(std::memory_order_acquire);
}

bool CDataAccessEx::ReadPoint(const PointRecord& point, VARIANT* value, WORD* quality, FILETIME* timestamp) const {
    if (!IsScadaAlive()) return false;
    VariantClear(value);
    *quality = 0;  // OPC_QUALITY_BAD
    CoFileTimeNow(timestamp);
    return ReadRecord(point, value, quality);
}

bool CDataAccessEx::ReadPoint(const PointRecord& point, const FILETIME& readTime, VARIANT* value, WORD* quality,
                              FILETIME* timestamp) const {
    if (!IsScadaAlive()) return false;
    VariantClear(value);
    *quality = 0;  // OPC_QUALITY_BAD
    *timestamp = readTime;
    return ReadRecord(point, value, quality);
}

bool CDataAccessEx::ReadRecord(const PointRecord& point, VARIANT* value, WORD* quality) {
    if (!point.record) return false;
    if (point.kind == rt::kAnalogKind) {
        double measured = 0;
        if (!ReadStableDouble(point.record + rt::analog::kValue, measured)) return false;
        value->vt = VT_R4;
        value->fltVal = static_cast<float>(measured);
        // A NaN, an infinity or a value beyond the float range is no measurement.
        if (!std::isfinite(value->fltVal)) {
            *quality = 0;  // OPC_QUALITY_BAD
            return true;
        }
    } else if (point.kind == rt::kSwitchKind) {
        const auto state = *reinterpret_cast<const volatile unsigned char*>(point.record + rt::status::kState);
        value->vt = VT_BOOL;
        value->boolVal = state ? VARIANT_TRUE : VARIANT_FALSE;
    } else {
        return false;
    }
    *quality = values::kQualityGood;
    return true;
}

void CDataAccessEx::ReleaseServerWindow() {
    if (!mailboxView_) return;
    const LONG64 none = 0;
    std::memcpy(static_cast<std::byte*>(mailboxView_.get()) + rt::mailbox::kServerWindow, &none, sizeof none);
    mailboxView_.reset();
}

bool LoadSystemInfo(SystemInfo& info) {
    char working[MAX_PATH] = {};
    korvex::com::UniqueHkey key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kWorkingKey, 0, KEY_READ, key.put()) == ERROR_SUCCESS) {
        DWORD size = sizeof working - 1;
        if (RegQueryValueExA(key.get(), kWorkingValue, nullptr, nullptr, reinterpret_cast<BYTE*>(working), &size) !=
            ERROR_SUCCESS)
            working[0] = '\0';
        working[sizeof working - 1] = '\0';
    }
    if (working[0] == '\0') return false;
    const std::string path = std::string(working) + kConfigurationDatabase;
    info.fill(std::byte{0});
    if (dbGetSysInfo(path.c_str(), rt::sysinfo::kAccessName, rt::sysinfo::kAccessKey, rt::sysinfo::kFlags, info.data(),
                     static_cast<int>(info.size())) != 0) {
        info.fill(std::byte{0});
        return false;
    }
    return true;
}

std::string SystemInfoText(const SystemInfo& info, std::size_t offset) {
    return std::string(FieldText(info.data(), offset, rt::sysinfo::kTextField));
}

}  // namespace rtdb
