// The group's part of the update tick: the scan that finds changed items, and the keep-alive.
#include "group/opc_group.h"

#include "addrspace/address_space.h"

#include <cmath>

namespace {

// A value already in the record's type is stored as it is: a record holds only VT_EMPTY, VT_R4 and
// VT_BOOL, plain bytes, and the platform's coercion costs more than the rest of a read.
void StoreReading(values::ValueRecord& record, VARTYPE type, const VARIANT& value, WORD quality,
                  const FILETIME& timestamp) {
    if (value.vt == type) {
        record.value = value;
        record.quality = quality;
        record.timestamp = timestamp;
    } else {
        values::StoreValue(record, type, &value, &quality, &timestamp);
    }
}

// The same for handing a value out: the item's value as its client asked for it.
HRESULT ReportedValue(const GroupItem& item, VARIANT* value, WORD* quality, FILETIME* timestamp) {
    const VARTYPE canonical = item.point->canonicalType();
    const VARTYPE requested = item.requestedType == VT_EMPTY ? canonical : item.requestedType;
    if (item.value.value.vt != requested)
        return values::GetValue(item.value, canonical, item.requestedType, value, quality, timestamp);
    *value = item.value.value;
    *quality = item.value.quality;
    *timestamp = item.value.timestamp;
    return S_OK;
}

// The point's value of this tick: read from the database by the first item of any group that
// needs it in this tick, from the point item's cache by every later one. Every value the tick reads
// carries the tick's time.
const values::ValueRecord& ReadForTick(const COPCAddressSpaceMgt& space, const COPCAddressSpaceMgt::Tick& tick,
                                       COPCItem& point) {
    if (point.readInTick() != tick.number) {
        point.SetReadInTick(tick.number);
        VARIANT value;
        VariantInit(&value);
        WORD quality = values::kQualityBad;
        FILETIME timestamp = tick.time;
        // A failed read is no error of the scan: a value of bad quality, reported if it differs.
        if (!space.ReadPointValue(point.serverHandle(), tick.time, &value, &quality, &timestamp)) {
            VariantClear(&value);
            quality = space.IsRuntimeAlive() ? values::kQualityBad : values::kQualityCommFailure;
            timestamp = tick.time;
        }
        StoreReading(point.cache(), point.canonicalType(), value, quality, timestamp);
    }
    return point.cache();
}

double AsDouble(const VARIANT& value) {
    return value.vt == VT_R4 ? value.fltVal : 0.0;  // an empty cache counts as 0.0
}

// Both values are held in the point's canonical type, so an item that asked for another type is
// compared like any other and not reported at every scan.
bool SameValue(const VARIANT& a, const VARIANT& b) {
    if (a.vt != b.vt) return false;
    switch (a.vt) {
    case VT_R4:
        // A NaN stays the same NaN: reported once, with its bad quality, not at every scan.
        return a.fltVal == b.fltVal || (std::isnan(a.fltVal) && std::isnan(b.fltVal));
    case VT_BOOL: return a.boolVal == b.boolVal;
    default: return true;  // both empty
    }
}

}  // namespace

bool COPCGroup::Tick(DWORD elapsed, CallbackOutbox& outbox) {
    // Requests that arrive while the tick runs wait for the next one.
    const std::uint64_t lastQueued = requests_.LastQueued();
    bool keepAliveDue = false;
    {
        std::lock_guard guard(lock_);
        keepAliveArmed_ = true;
        updateCountdown_ -= elapsed;
        if (updateCountdown_ < 1) {
            Scan(outbox);
            updateCountdown_ = state_.updateRate;  // a new rate takes effect here
        }
        if (state_.keepAliveTime != 0 && keepAliveArmed_) {
            keepAliveElapsed_ += elapsed;
            keepAliveDue = keepAliveElapsed_ >= state_.keepAliveTime;
            if (keepAliveDue) keepAliveElapsed_ = 0;
        }
    }
    if (keepAliveDue) {
        // A keep-alive goes whatever the group's active state and callback switch.
        GroupCallback keepAlive;
        keepAlive.sinks = dataCallbacks_.Sinks();
        keepAlive.clientGroupHandle = state().clientGroupHandle;
        if (!keepAlive.sinks.empty()) outbox.push_back(std::move(keepAlive));
    }
    // After the scan, so that device reads share the points it read in this tick.
    return ExecuteQueuedRequests(lastQueued, outbox);
}

void COPCGroup::Scan(CallbackOutbox& outbox) {
    const COPCAddressSpaceMgt& space = context_.addressSpace;
    if (!state_.active || items_.empty() || space.GetPointCount() == 0) return;
    const COPCAddressSpaceMgt::Tick tick = space.CurrentTick();
    std::vector<GroupItem*> changed;
    for (GroupItem& item : items_.list()) {
        if (!item.active || !item.point->IsReadable()) continue;
        values::ValueRecord reading;
        {
            std::lock_guard guard(item.point->lock());
            reading = ReadForTick(space, tick, *item.point);
        }
        const double range = item.point->DeadbandRange();
        bool isChanged = reading.quality != item.value.quality;
        if (range > 0) {
            const double deadband = item.deadbandSet ? item.itemDeadband : state_.percentDeadband;
            const double band = deadband / 100.0 * range;
            isChanged = isChanged || std::fabs(AsDouble(item.value.value) - AsDouble(reading.value)) > band;
            if (isChanged) {
                item.value = reading;
            } else {
                // Small moves add up against the value last reported until they pass the band.
                item.value.timestamp = reading.timestamp;
            }
        } else {
            isChanged = isChanged || !SameValue(item.value.value, reading.value);
            item.value = reading;
        }
        if (isChanged) changed.push_back(&item);
    }
    // Changes made while callbacks are disabled are not sent later: the caches already hold them.
    if (changed.empty() || !callbacksEnabled_) return;

    GroupCallback callback;
    callback.sinks = dataCallbacks_.Sinks();
    callback.clientGroupHandle = state_.clientGroupHandle;
    callback.clientHandles.reserve(changed.size());
    callback.values.resize(changed.size());
    callback.qualities.resize(changed.size());
    callback.timestamps.resize(changed.size());
    callback.errors.resize(changed.size(), S_OK);
    for (std::size_t i = 0; i < changed.size(); ++i) {
        const GroupItem& item = *changed[i];
        callback.clientHandles.push_back(item.clientHandle);
        VariantInit(&callback.values[i]);
        callback.errors[i] = ReportedValue(item, &callback.values[i], &callback.qualities[i], &callback.timestamps[i]);
        if (FAILED(callback.errors[i])) callback.masterQuality = callback.masterError = S_FALSE;
    }
    FILETIME now;
    CoFileTimeNow(&now);
    table_->SetLastUpdateTime(now);
    keepAliveElapsed_ = 0;
    keepAliveArmed_ = false;
    if (!callback.sinks.empty()) outbox.push_back(std::move(callback));
}
