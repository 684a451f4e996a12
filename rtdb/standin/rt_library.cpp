// The real-time database library stand-in: serves the Rt* calls over a database image
// (rt_image.h) that RtInitMemory binds. Table handles are numbered from 1 and never reused, so a
// closed or made-up handle is recognised as such and yields 0 or null.
#include "rtdb/rt_library.h"

#include "rtdb/standin/rt_image.h"

#include <mutex>
#include <optional>
#include <unordered_map>

namespace {

enum class TableKind { Stations, Analogs, Switches };

struct OpenTable {
    TableKind kind;
    std::size_t stationIndex;  // for point tables
};

class Library {
public:
    int bind(void* base, const void* descriptor) {
        std::lock_guard lock(mutex_);
        tables_.clear();
        view_ = rtimage::ImageView::open(static_cast<std::byte*>(base), static_cast<const std::byte*>(descriptor));
        return view_ ? 1 : 0;
    }

    RtHandle openStations() {
        std::lock_guard lock(mutex_);
        return view_ ? add({TableKind::Stations, 0}) : 0;
    }

    RtHandle openPoints(TableKind kind, const void* station) {
        std::lock_guard lock(mutex_);
        if (!view_ || !station) return 0;
        const auto index = view_->stationIndex(station);
        return index ? add({kind, *index}) : 0;
    }

    int count(RtHandle handle, TableKind kind) {
        std::lock_guard lock(mutex_);
        const OpenTable* table = find(handle, kind);
        if (!table) return 0;
        switch (kind) {
        case TableKind::Stations: return static_cast<int>(view_->stationCount());
        case TableKind::Analogs: return static_cast<int>(view_->analogCount(table->stationIndex));
        case TableKind::Switches: return static_cast<int>(view_->switchCount(table->stationIndex));
        }
        return 0;
    }

    void* station(RtHandle handle, int index) {
        std::lock_guard lock(mutex_);
        if (!find(handle, TableKind::Stations) || index < 0) return nullptr;
        return view_->station(static_cast<std::size_t>(index));
    }

    // The station argument must be the one the table was opened for.
    void* point(RtHandle handle, TableKind kind, const void* station, int index) {
        std::lock_guard lock(mutex_);
        const OpenTable* table = find(handle, kind);
        if (!table || index < 0 || station != view_->station(table->stationIndex)) return nullptr;
        const auto i = static_cast<std::size_t>(index);
        return kind == TableKind::Analogs ? view_->analog(table->stationIndex, i)
                                          : view_->switchPoint(table->stationIndex, i);
    }

    void close(RtHandle handle) {
        std::lock_guard lock(mutex_);
        tables_.erase(handle);
    }

private:
    RtHandle add(OpenTable table) {
        const RtHandle handle = nextHandle_++;
        tables_.emplace(handle, table);
        return handle;
    }

    const OpenTable* find(RtHandle handle, TableKind kind) const {
        const auto it = tables_.find(handle);
        return it != tables_.end() && it->second.kind == kind ? &it->second : nullptr;
    }

    std::mutex mutex_;
    std::optional<rtimage::ImageView> view_;
    std::unordered_map<RtHandle, OpenTable> tables_;
    RtHandle nextHandle_ = 1;
};

Library& library() {
    static Library instance;
    return instance;
}

}  // namespace

extern "C" {

int RtInitMemory(void* databaseBase, void* memoryDescriptor, int /*reserved*/) {
    return library().bind(databaseBase, memoryDescriptor);
}

RtHandle RtOpenStationDb() { return library().openStations(); }

int RtGetStationDataCount(RtHandle stations) { return library().count(stations, TableKind::Stations); }

void* RtGetStationDataByIndex(RtHandle stations, int index) { return library().station(stations, index); }

RtHandle RtOpenAnalogDb(void* station) { return library().openPoints(TableKind::Analogs, station); }

int RtGetAnalogDataCount(RtHandle analogs) { return library().count(analogs, TableKind::Analogs); }

void* RtGetAnalogDataByIndex(RtHandle analogs, void* station, int index) {
    return library().point(analogs, TableKind::Analogs, station, index);
}

RtHandle RtOpenStatusDb(void* station) { return library().openPoints(TableKind::Switches, station); }

int RtGetStatusDataCount(RtHandle switches) { return library().count(switches, TableKind::Switches); }

void* RtGetStatusDataByIndex(RtHandle switches, void* station, int index) {
    return library().point(switches, TableKind::Switches, station, index);
}

void RtCloseDb(RtHandle table) { library().close(table); }

}  // extern "C"
