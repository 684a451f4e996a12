// The point item: one per point of the address space. It carries the point's descriptor, item ID
// and server handle, and caches the point's latest value for every reader in every group.
#pragma once

#include "opcda.h"
#include "rtdb/point_descriptor.h"
#include "rtdb/rt_library.h"
#include "values/value_record.h"

#include <array>
#include <cstdint>
#include <mutex>
#include <span>
#include <string>
#include <string_view>

// One property of a point: its name (the last part of its property item ID), ID and declared type.
// The values are not stored with the records: they come from the descriptor and, for the value,
// quality and timestamp, from the point's cache at the moment they are asked for.
struct PropertyRecord {
    std::string_view name;
    DWORD id = 0;
    VARTYPE type = VT_EMPTY;
};

// Aligned to a cache line: what the update scan needs of a point (its lock, cache, last tick read
// and the few descriptor facts below) lies on the first two lines, so that a scan of 100,000 items
// does not touch the descriptor, property records and item ID in between.
class alignas(64) COPCItem {
public:
    COPCItem() : value_(values::ValueRecord::Fresh()) {}
    ~COPCItem() = default;
    COPCItem(const COPCItem&) = delete;
    COPCItem& operator=(const COPCItem&) = delete;

    void ApplyDescriptor(const PointDescriptor& descriptor) {
        descriptor_ = descriptor;
        canonicalType_ = descriptor.canonicalType;
        readable_ = descriptor.IsReadable();
        deadbandRange_ = descriptor.pointKind == rt::kAnalogKind && descriptor.highLimit > descriptor.lowLimit
                             ? descriptor.highLimit - descriptor.lowLimit
                             : 0;
        FillPropertyRecords();
    }
    void SetServerHandle(DWORD handle) { serverHandle_ = handle; }
    void SetItemId(std::string itemId) { itemId_ = std::move(itemId); }

    const PointDescriptor& descriptor() const { return descriptor_; }
    DWORD nodeId() const { return descriptor_.tagKey; }
    DWORD serverHandle() const { return serverHandle_; }
    const std::string& itemId() const { return itemId_; }
    VARTYPE canonicalType() const { return canonicalType_; }
    bool IsReadable() const { return readable_; }
    // The width of the range a deadband is a percentage of: analog points whose high limit is above
    // the low limit; 0 for the others, whose changes are any difference at all.
    double DeadbandRange() const { return deadbandRange_; }
    // The point has an engineering range ("EUType" 1): its writes are range-tested.
    bool HasAnalogEU() const { return descriptor_.hasLimits != 0; }

    // The cached value; read and written under `lock()`.
    std::mutex& lock() const { return lock_; }
    values::ValueRecord& cache() { return value_; }
    const values::ValueRecord& cache() const { return value_; }
    // A copy of the cached value taken under the lock.
    values::ValueRecord Snapshot() const {
        std::lock_guard guard(lock_);
        return value_;
    }

    // The point's properties in list order: 1 to 8, then "Units" (100), "Description" (101),
    // "fHLimit" (104) and "fLLimit" (105) as the descriptor has them.
    std::span<const PropertyRecord> properties() const { return {properties_.data(), propertyCount_}; }
    // The record of a property ID, or null when the point does not have it.
    const PropertyRecord* FindProperty(DWORD id) const {
        for (const PropertyRecord& record : properties())
            if (record.id == id) return &record;
        return nullptr;
    }
    // The number of the last update tick in which the update cycle or an asynchronous read read the
    // point (COPCAddressSpaceMgt::CurrentTick): a new tick needs no pass over every point to forget
    // the previous one's reads. Read and written under `lock()`.
    std::uint64_t readInTick() const { return readInTick_; }
    void SetReadInTick(std::uint64_t tick) { readInTick_ = tick; }

private:
    void FillPropertyRecords();

    mutable std::mutex lock_;
    values::ValueRecord value_;
    std::uint64_t readInTick_ = 0;
    DWORD serverHandle_ = 0;
    VARTYPE canonicalType_ = VT_EMPTY;
    bool readable_ = false;
    double deadbandRange_ = 0;
    PointDescriptor descriptor_;
    std::array<PropertyRecord, 12> properties_{};
    std::size_t propertyCount_ = 0;
    std::string itemId_;
};

inline void COPCItem::FillPropertyRecords() {
    const PointDescriptor& d = descriptor_;
    std::size_t n = 0;
    auto add = [&](std::string_view name, DWORD id, VARTYPE type) { properties_[n++] = {name, id, type}; };
    add("DataType", OPC_PROPERTY_DATATYPE, VT_I2);
    add("Value", OPC_PROPERTY_VALUE, d.canonicalType);
    add("Quality", OPC_PROPERTY_QUALITY, VT_I2);
    add("TimeStamp", OPC_PROPERTY_TIMESTAMP, VT_DATE);
    add("AccessRights", OPC_PROPERTY_ACCESS_RIGHTS, VT_I4);
    add("ScanRate", OPC_PROPERTY_SCAN_RATE, VT_R4);
    add("EUType", OPC_PROPERTY_EU_TYPE, VT_I4);
    add("EUInfo", OPC_PROPERTY_EU_INFO, VT_ARRAY | VT_BSTR);
    if (d.hasUnits) add("Units", OPC_PROPERTY_EU_UNITS, VT_BSTR);
    if (d.hasDescription) add("Description", OPC_PROPERTY_DESCRIPTION, VT_BSTR);
    if (d.hasLimits) {
        add("fHLimit", OPC_PROPERTY_HIGH_IR, VT_R8);
        add("fLLimit", OPC_PROPERTY_LOW_IR, VT_R8);
    }
    propertyCount_ = n;
}
