// The address space: the tree of stations, point kinds and points that clients see, built once
// from the real-time database, and the point item table beside it (one point item per point,
// numbered from 1; the number is the server handle of every item of the point).
#pragma once

#include "addrspace/browse_continuation.h"
#include "addrspace/opc_item.h"
#include "rtdb/data_access.h"

#include <atomic>
#include <bit>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

class COPCAddressSpaceMgt {
public:
    using NodeNumber = DWORD;  // position in the node table from 1, equal to the node id; 0: none

    static constexpr const char* kRootName = "KorvexOPCServer";
    static constexpr const char* kAnalogBranch = "analog";
    static constexpr const char* kSwitchBranch = "switch";
    // The update cycle's base rate, which is every point's scan rate.
    static constexpr float kScanRate = 200.0f;

    COPCAddressSpaceMgt() = default;
    ~COPCAddressSpaceMgt() = default;
    COPCAddressSpaceMgt(const COPCAddressSpaceMgt&) = delete;
    COPCAddressSpaceMgt& operator=(const COPCAddressSpaceMgt&) = delete;

    // Builds the tree and the point item table from the database; runs once. Other threads see
    // either nothing or the complete result.
    bool BuildAddressSpace(rtdb::CDataAccessEx& access);
    bool IsBuilt() const { return built_.load(std::memory_order_acquire); }

    NodeNumber GetRoot() const;
    NodeNumber GetParent(NodeNumber node) const;
    NodeNumber GetFirstChild(NodeNumber node) const;
    NodeNumber GetNextSibling(NodeNumber node) const;
    // An empty kind branch has no first child and so counts as a leaf.
    // A point: no children, three levels below the root. A kind branch without points is a branch
    // all the same, never an item.
    bool IsLeaf(NodeNumber node) const;
    std::string_view GetNodeName(NodeNumber node) const;
    DWORD GetNodeId(NodeNumber node) const;
    DWORD GetNodeCount() const { return IsBuilt() ? static_cast<DWORD>(nodes_.size()) : 0; }

    // The first child in child order with exactly this name (case-sensitive); 0 for none.
    NodeNumber FindChild(NodeNumber parent, std::string_view name) const;
    // Names joined by '.', without the root; the empty ID is the root.
    NodeNumber ResolveItemId(std::string_view itemId) const;
    bool GetFullItemId(NodeNumber node, std::string& itemId) const;

    DWORD GetPointCount() const;
    // The point with number 1..GetPointCount(), or null.
    COPCItem* GetPoint(DWORD pointNumber) const;
    COPCItem* FindPointByNodeId(DWORD nodeId) const;
    // The update tick under way: its number, which a point item keeps as `readInTick` when the tick
    // has read it, and its time, the timestamp of every value the tick reads.
    struct Tick {
        std::uint64_t number = 0;
        FILETIME time{};
    };
    // Starts the next update tick: every point counts as not yet read in it. Called by the update
    // thread only, before any read of the tick.
    void BeginTick();
    Tick CurrentTick() const {
        return {tickNumber_.load(std::memory_order_relaxed),
                std::bit_cast<FILETIME>(tickTime_.load(std::memory_order_relaxed))};
    }

    // Reads a point's current value from the database (the caller holds the point's lock). Fails
    // with the outputs untouched for an unknown point number or when the runtime has gone.
    bool ReadPointValue(DWORD pointNumber, VARIANT* value, WORD* quality, FILETIME* timestamp) const;
    // The same stamped with the time of the read the caller took once for many points.
    bool ReadPointValue(DWORD pointNumber, const FILETIME& readTime, VARIANT* value, WORD* quality,
                        FILETIME* timestamp) const;
    // How many times ReadPointValue has gone to the database: what shows that the update cycle
    // reads each point at most once per tick.
    std::uint64_t PointReadCount() const { return pointReads_.load(std::memory_order_relaxed); }
    // Sends a value in the point's canonical type to the runtime's main window (the caller holds
    // the point's lock and has run the write test). Quality and timestamp never reach the runtime.
    // False, nothing sent, for an unknown point or a runtime that has gone; false too when the
    // runtime's window did not take the message in time.
    bool WritePointValue(DWORD pointNumber, const VARIANT& value, const WORD* quality, const FILETIME* timestamp) const;
    // A device read of one point: under the point's lock, reads it and stores the reading in its
    // cache, which `reading` receives. False, cache unchanged, when the read fails. With
    // `onceThisTick` (the update thread's reads), a point already read in the current update tick is
    // taken from its cache instead, and a successful read counts as the tick's read of the point.
    bool ReadPointIntoCache(COPCItem& point, values::ValueRecord& reading, bool onceThisTick = false) const;
    // WritePointValue of the point; never under the point's lock.
    bool WritePoint(COPCItem& point, const VARIANT& value, const WORD* quality, const FILETIME* timestamp) const;
    // The data access the space was built from; null before the build.
    rtdb::CDataAccessEx* dataAccess() const { return access_; }
    // False once the runtime's main window is gone (and before the build).
    bool IsRuntimeAlive() const;

    // The record of the last DA 3.0 browse computed afresh, shared by every client.
    BrowseContinuation& browseContinuation() const { return continuation_; }

    // The runtime's narrow spelling of a client's item ID. The names are stored in the ANSI code
    // page, so an ID is one when it is not empty, holds no control character and comes back
    // unchanged from that code page: no best-fit mapping may turn, say, a fullwidth 'Ｐ' into 'P'.
    static bool NarrowItemId(std::wstring_view wide, std::string& narrow);
    // Station, kind and point names of at most 31 bytes each and the two dots between them.
    static constexpr std::size_t kMaxItemIdLength = 3 * 31 + 2;

private:
    struct Node {
        DWORD id = 0;
        char name[32] = {};
        NodeNumber parent = 0;
        NodeNumber firstChild = 0;
        NodeNumber nextSibling = 0;
        std::string_view Name() const { return {name, strnlen(name, sizeof name)}; }
    };
    struct ChildKey {
        NodeNumber parent;
        std::string_view name;
        bool operator==(const ChildKey&) const = default;
    };
    struct ChildKeyHash {
        std::size_t operator()(const ChildKey& key) const noexcept {
            return std::hash<std::string_view>{}(key.name) * 31 + key.parent;
        }
    };

    const Node* NodeAt(NodeNumber node) const;

    std::atomic<bool> built_{false};
    mutable std::atomic<std::uint64_t> pointReads_{0};
    // Tick 1 is the time before the first tick, in which no point has been read (`readInTick` 0).
    std::atomic<std::uint64_t> tickNumber_{1};
    std::atomic<std::uint64_t> tickTime_{0};  // FILETIME bits
    rtdb::CDataAccessEx* access_ = nullptr;
    std::vector<Node> nodes_;
    std::unordered_map<ChildKey, NodeNumber, ChildKeyHash> children_;
    std::unique_ptr<COPCItem[]> points_;
    std::vector<rtdb::PointRecord> pointRecords_;
    std::vector<DWORD> pointByNodeId_;  // node id -> point number, 0 for none
    std::atomic<DWORD> pointCount_{0};  // published after every point item is complete
    mutable BrowseContinuation continuation_;
};
