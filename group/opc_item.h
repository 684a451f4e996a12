// The point item: one per point of the address space. It carries the point's descriptor, item ID
// and server handle, and caches the point's latest value for every reader in every group.
#pragma once

#include "point_descriptor.h"
#include "values/value_record.h"

#include <atomic>
#include <mutex>
#include <string>

class COPCItem {
public:
    COPCItem() : value_(values::ValueRecord::Fresh()) {}
    virtual ~COPCItem() = default;
    COPCItem(const COPCItem&) = delete;
    COPCItem& operator=(const COPCItem&) = delete;

    void ApplyDescriptor(const PointDescriptor& descriptor) { descriptor_ = descriptor; }
    void SetServerHandle(DWORD handle) { serverHandle_ = handle; }
    void SetItemId(std::string itemId) { itemId_ = std::move(itemId); }

    const PointDescriptor& descriptor() const { return descriptor_; }
    DWORD nodeId() const { return descriptor_.tagKey; }
    DWORD serverHandle() const { return serverHandle_; }
    const std::string& itemId() const { return itemId_; }
    VARTYPE canonicalType() const { return descriptor_.canonicalType; }
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

    // Set when the update cycle or an asynchronous read has read the point in the current tick.
    std::atomic<bool> readThisTick{false};

private:
    PointDescriptor descriptor_;
    DWORD serverHandle_ = 0;
    std::string itemId_;
    mutable std::mutex lock_;
    values::ValueRecord value_;
};
