// The server's only door to the SCADA runtime: finds the runtime through its mailbox, maps the
// real-time database, walks its stations and points for the address-space build and reads live
// point values from the mapped records.
#pragma once

#include "com/unique_any.h"

#include <windows.h>
#include <oaidl.h>

#include <array>
#include <atomic>
#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_map>

namespace rtdb {

// The two settings under HKCU "Software\Korvex\Scada\Settings", read once as 4 raw bytes.
struct Settings {
    bool onlyShowTransferTag = false;
    bool writeable = false;

    static Settings Read();
};

// A database record of one point, resolved once at build: reads never look anything up by text.
struct PointRecord {
    const std::byte* record = nullptr;
    int kind = 0;  // rt::kAnalogKind or rt::kSwitchKind
};

class CDataAccessEx {
public:
    // Reads the settings and opens the mailbox; `serverWindow` is published in it for the runtime.
    explicit CDataAccessEx(HWND serverWindow, Settings settings = Settings::Read());
    ~CDataAccessEx();
    CDataAccessEx(const CDataAccessEx&) = delete;
    CDataAccessEx& operator=(const CDataAccessEx&) = delete;

    bool OpenMailbox();
    bool IsScadaRunning() const { return scadaWindow_ != 0; }
    bool AttachDatabase();

    int GetStationCount() const;
    const std::byte* GetStationByIndex(int index) const;
    int GetAnalogCount(const std::byte* station) const;
    const std::byte* GetAnalogByIndex(const std::byte* station, int index) const;
    int GetSwitchCount(const std::byte* station) const;
    const std::byte* GetSwitchByIndex(const std::byte* station, int index) const;

    // Enters a point's record under its key "<station>_<kind>_<point>"; the first record of a key
    // stays, later ones are dropped.
    void RegisterPoint(std::string_view stationName, int kind, std::string_view pointName, const std::byte* record);
    // The record registered under the key, or an empty record.
    PointRecord LookupPoint(std::string_view stationName, int kind, std::string_view pointName) const;

    // Reads a point's current value in its canonical type (VT_R4 or VT_BOOL) with quality GOOD.
    // Fails, leaving the outputs untouched, when the runtime's window has gone; fails with VT_EMPTY,
    // quality BAD and the current time when the record is missing.
    bool ReadPoint(const PointRecord& point, VARIANT* value, WORD* quality, FILETIME* timestamp) const;
    // The same stamped with `readTime` instead of the current time: the update tick reads many
    // points at one moment, and asking the clock for each would cost more than the reads.
    bool ReadPoint(const PointRecord& point, const FILETIME& readTime, VARIANT* value, WORD* quality,
                   FILETIME* timestamp) const;

    // False from the moment the runtime's main window is gone; the runtime is never re-attached.
    bool IsScadaAlive() const;

    bool onlyShowTransferTag() const { return settings_.onlyShowTransferTag; }
    bool writeable() const { return settings_.writeable; }
    HWND scadaWindow() const { return reinterpret_cast<HWND>(static_cast<ULONG_PTR>(scadaWindow_)); }

    // Clears the server's window handle in the mailbox and unmaps it (main window destruction).
    void ReleaseServerWindow();

private:
    // The value of a record that exists; the caller has checked the runtime and set the outputs to
    // VT_EMPTY and quality BAD.
    static bool ReadRecord(const PointRecord& point, VARIANT* value, WORD* quality);
    static std::string PointKey(std::string_view stationName, int kind, std::string_view pointName);
    // `record` when its first `extent` bytes lie inside the mapped database, else null.
    const std::byte* InDatabase(const void* record, std::size_t extent) const;

    Settings settings_;
    HWND serverWindow_ = nullptr;
    korvex::com::UniqueHandle rtMapping_;
    korvex::com::UniqueMappedView rtView_;
    std::size_t databaseSize_ = 0;
    korvex::com::UniqueMappedView mailboxView_;
    DWORD scadaWindow_ = 0;
    std::unordered_map<std::string, const std::byte*> pointMap_;

    // Window liveness is asked of the system at most once per interval, not at every point read:
    // under Wine each IsWindow on another process's window is a round trip to the wineserver.
    mutable std::atomic<ULONGLONG> lastAliveCheck_{0};
    mutable std::atomic<bool> scadaAlive_{true};
};

// The system-information record (832 bytes) of the SCADA project's configuration database, found
// through the working directory in HKCU "SoftWare\KorvexSettings" "Working"; empty when unavailable.
using SystemInfo = std::array<std::byte, 832>;
bool LoadSystemInfo(SystemInfo& info);
// One of the record's 64-byte text fields.
std::string SystemInfoText(const SystemInfo& info, std::size_t offset);

}  // namespace rtdb
