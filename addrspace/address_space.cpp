#include "address_space.h"

#include "com/string_convert.h"
#include "rtdb/rt_library.h"
#include "rtdb/runtime_message.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

constexpr std::size_t kNodeNameMax = 31;
constexpr std::size_t kDescriptionMax = 63;

std::string_view RecordText(const std::byte* record, std::size_t offset, std::size_t width) {
    const char* text = reinterpret_cast<const char*>(record + offset);
    return {text, strnlen(text, width)};
}

// Station names are NUL-terminated without a stated width; the record holds them before the flag.
std::string_view StationName(const std::byte* station) {
    return RecordText(station, rt::station::kName, rt::station::kNonTransferFlag);
}

double RecordDouble(const std::byte* record, std::size_t offset) {
    double value;
    std::memcpy(&value, record + offset, sizeof value);
    return value;
}

template <std::size_t N>
void CopyText(char (&field)[N], std::string_view text, std::size_t max = N - 1) {
    const std::size_t length = std::min({text.size(), max, N - 1});
    std::memcpy(field, text.data(), length);
    field[length] = '\0';
}

// Where one station's points begin and what the database says about it.
struct StationPlan {
    const std::byte* record;
    int analogCount;
    int switchCount;
};

}  // namespace

bool COPCAddressSpaceMgt::BuildAddressSpace(rtdb::CDataAccessEx& access) {
    if (IsBuilt()) return false;  // the tree never changes once clients can see it
    const int stationCount = access.GetStationCount();
    if (stationCount <= 0) return false;

    // Gather the shown stations first: a station's next sibling is the next station shown.
    std::vector<StationPlan> stations;
    for (int index = 0; index < stationCount; ++index) {
        const std::byte* station = access.GetStationByIndex(index);
        if (!station) return false;
        const bool transfer = static_cast<unsigned char>(station[rt::station::kNonTransferFlag]) == 0;
        if (access.onlyShowTransferTag() && !transfer) continue;
        stations.push_back(
            {station, std::max(access.GetAnalogCount(station), 0), std::max(access.GetSwitchCount(station), 0)});
    }

    std::vector<Node> nodes;
    std::vector<PointDescriptor> descriptors;
    std::vector<std::string> stationNames;  // full names, for the point keys
    auto addNode = [&nodes](std::string_view name, NodeNumber parent) -> Node& {
        Node& node = nodes.emplace_back();
        node.id = static_cast<DWORD>(nodes.size());
        CopyText(node.name, name, kNodeNameMax);
        node.parent = parent;
        return node;
    };

    addNode(kRootName, 0).firstChild = stations.empty() ? 0 : 2;
    for (std::size_t s = 0; s < stations.size(); ++s) {
        const StationPlan& plan = stations[s];
        const std::string_view stationName = StationName(plan.record);
        const bool transfer = static_cast<unsigned char>(plan.record[rt::station::kNonTransferFlag]) == 0;
        const DWORD stationId = static_cast<DWORD>(nodes.size()) + 1;
        const DWORD analogId = stationId + 1;
        const DWORD switchId = stationId + 2 + plan.analogCount;
        const DWORD nextStationId = switchId + 1 + plan.switchCount;

        Node& stationNode = addNode(stationName, 1);
        stationNode.firstChild = analogId;
        stationNode.nextSibling = s + 1 < stations.size() ? nextStationId : 0;

        auto addKind = [&](const char* kindName, DWORD kindId, int kind, int count, DWORD nextSibling) -> bool {
            Node& kindNode = addNode(kindName, stationId);
            kindNode.firstChild = count > 0 ? kindId + 1 : 0;
            kindNode.nextSibling = nextSibling;
            for (int j = 0; j < count; ++j) {
                const std::byte* record = kind == rt::kAnalogKind ? access.GetAnalogByIndex(plan.record, j)
                                                                  : access.GetSwitchByIndex(plan.record, j);
                if (!record) return false;
                const bool analog = kind == rt::kAnalogKind;
                const std::string_view pointName =
                    RecordText(record, analog ? rt::analog::kName : rt::status::kName, rt::kNameField);
                Node& leaf = addNode(pointName, kindId);
                leaf.nextSibling = j + 1 < count ? leaf.id + 1 : 0;

                PointDescriptor& d = descriptors.emplace_back();
                d.tagKey = leaf.id;
                d.canonicalType = analog ? VT_R4 : VT_BOOL;
                const std::size_t writableAt = analog ? rt::analog::kWritableFlag : rt::status::kWritableFlag;
                const bool writable = static_cast<unsigned char>(record[writableAt]) != 0;
                d.accessRights = access.writeable() && writable ? OPC_READABLE | OPC_WRITEABLE : OPC_READABLE;
                d.scanRate = kScanRate;
                d.hasDescription = 1;
                CopyText(d.description,
                         RecordText(record, analog ? rt::analog::kDescription : rt::status::kDescription,
                                    kDescriptionMax + 1),
                         kDescriptionMax);
                if (analog) {
                    d.highLimit = RecordDouble(record, rt::analog::kHighLimit);
                    d.lowLimit = RecordDouble(record, rt::analog::kLowLimit);
                    d.hasLimits = d.highLimit > d.lowLimit ? 1 : 0;  // false for NaN too
                }
                CopyText(d.stationText, stationName, kNodeNameMax);
                CopyText(d.pointText, pointName, kNodeNameMax);
                d.pointKind = kind;
                d.stationFlag = transfer ? 1 : 0;
                stationNames.emplace_back(stationName);
                access.RegisterPoint(stationName, kind, pointName, record);
            }
            return true;
        };
        if (!addKind(kAnalogBranch, analogId, rt::kAnalogKind, plan.analogCount, switchId)) return false;
        if (!addKind(kSwitchBranch, switchId, rt::kSwitchKind, plan.switchCount, 0)) return false;
    }

    nodes_ = std::move(nodes);
    children_.clear();
    for (const Node& node : nodes_) children_.try_emplace(ChildKey{node.parent, node.Name()}, node.id);
    access_ = &access;
    built_.store(true, std::memory_order_release);

    if (descriptors.empty()) return true;
    // Each point's record is resolved once through its key, so a duplicate key reads the record
    // registered first, and reads never look anything up by text.
    auto points = std::make_unique<COPCItem[]>(descriptors.size());
    pointRecords_.resize(descriptors.size());
    pointByNodeId_.assign(nodes_.size() + 1, 0);
    for (std::size_t k = 0; k < descriptors.size(); ++k) {
        const PointDescriptor& d = descriptors[k];
        COPCItem& point = points[k];
        point.ApplyDescriptor(d);
        point.SetServerHandle(static_cast<DWORD>(k + 1));
        std::string itemId;
        GetFullItemId(d.tagKey, itemId);
        point.SetItemId(std::move(itemId));
        pointRecords_[k] = access.LookupPoint(stationNames[k], d.pointKind, d.Point());
        if (pointByNodeId_[d.tagKey] == 0) pointByNodeId_[d.tagKey] = static_cast<DWORD>(k + 1);
    }
    points_ = std::move(points);
    pointCount_.store(static_cast<DWORD>(descriptors.size()), std::memory_order_release);
    return true;
}

const COPCAddressSpaceMgt::Node* COPCAddressSpaceMgt::NodeAt(NodeNumber node) const {
    if (!IsBuilt() || node == 0 || node > nodes_.size()) return nullptr;
    return &nodes_[node - 1];
}

COPCAddressSpaceMgt::NodeNumber COPCAddressSpaceMgt::GetRoot() const { return IsBuilt() && !nodes_.empty() ? 1 : 0; }

COPCAddressSpaceMgt::NodeNumber COPCAddressSpaceMgt::GetParent(NodeNumber node) const {
    const Node* n = NodeAt(node);
    return n ? n->parent : 0;
}

COPCAddressSpaceMgt::NodeNumber COPCAddressSpaceMgt::GetFirstChild(NodeNumber node) const {
    const Node* n = NodeAt(node);
    return n ? n->firstChild : 0;
}

COPCAddressSpaceMgt::NodeNumber COPCAddressSpaceMgt::GetNextSibling(NodeNumber node) const {
    const Node* n = NodeAt(node);
    return n ? n->nextSibling : 0;
}

std::string_view COPCAddressSpaceMgt::GetNodeName(NodeNumber node) const {
    const Node* n = NodeAt(node);
    return n ? n->Name() : std::string_view{};
}

DWORD COPCAddressSpaceMgt::GetNodeId(NodeNumber node) const {
    const Node* n = NodeAt(node);
    return n ? n->id : 0;
}

COPCAddressSpaceMgt::NodeNumber COPCAddressSpaceMgt::FindChild(NodeNumber parent, std::string_view name) const {
    // Node 0 is no node: the index's entry for parent 0 is the root, which is nobody's child.
    if (!IsBuilt() || parent == 0 || name.empty()) return 0;
    const auto found = children_.find(ChildKey{parent, name});
    return found == children_.end() ? 0 : found->second;
}

COPCAddressSpaceMgt::NodeNumber COPCAddressSpaceMgt::ResolveItemId(std::string_view itemId) const {
    if (!IsBuilt()) return 0;
    NodeNumber node = GetRoot();
    if (itemId.empty()) return node;
    // A '.' ends a segment; the character after it always belongs to the next segment, even
    // another '.', so "A..B" looks for a child ".B" of A. A trailing '.' names nothing.
    std::size_t start = 0;
    for (std::size_t i = 0; i < itemId.size(); ++i) {
        if (itemId[i] != '.') continue;
        node = FindChild(node, itemId.substr(start, i - start));
        if (node == 0 || i + 1 == itemId.size()) return 0;
        start = i + 1;
        ++i;  // taken into the next segment unchanged
    }
    return FindChild(node, itemId.substr(start));
}

bool COPCAddressSpaceMgt::IsRuntimeAlive() const { return access_ != nullptr && access_->IsScadaAlive(); }

bool COPCAddressSpaceMgt::IsLeaf(NodeNumber node) const {
    const Node* n = NodeAt(node);
    if (!n || n->firstChild != 0) return false;
    const NodeNumber station = GetParent(n->parent);
    return station != 0 && GetParent(station) == GetRoot();
}

bool COPCAddressSpaceMgt::GetFullItemId(NodeNumber node, std::string& itemId) const {
    itemId.clear();
    const Node* n = NodeAt(node);
    if (!n) return false;
    if (n->parent == 0) return true;  // the root
    itemId = n->Name();
    for (NodeNumber parent = n->parent; parent != 0 && parent != GetRoot(); parent = GetParent(parent)) {
        const std::string_view name = GetNodeName(parent);
        itemId.insert(0, 1, '.');
        itemId.insert(0, name);
    }
    return true;
}

DWORD COPCAddressSpaceMgt::GetPointCount() const {
    const DWORD published = pointCount_.load(std::memory_order_acquire);
    if (published != 0 || !IsBuilt()) return published;
    DWORD leaves = 0;
    for (const Node& node : nodes_) leaves += node.firstChild == 0 ? 1 : 0;
    return leaves;
}

COPCItem* COPCAddressSpaceMgt::GetPoint(DWORD pointNumber) const {
    const DWORD count = pointCount_.load(std::memory_order_acquire);
    if (pointNumber == 0 || pointNumber > count) return nullptr;
    return &points_[pointNumber - 1];
}

COPCItem* COPCAddressSpaceMgt::FindPointByNodeId(DWORD nodeId) const {
    if (pointCount_.load(std::memory_order_acquire) == 0 || nodeId >= pointByNodeId_.size()) return nullptr;
    return GetPoint(pointByNodeId_[nodeId]);
}

void COPCAddressSpaceMgt::BeginTick() {
    FILETIME now;
    CoFileTimeNow(&now);
    tickTime_.store(std::bit_cast<std::uint64_t>(now), std::memory_order_relaxed);
    tickNumber_.fetch_add(1, std::memory_order_relaxed);
}

bool COPCAddressSpaceMgt::ReadPointValue(DWORD pointNumber, VARIANT* value, WORD* quality, FILETIME* timestamp) const {
    if (!GetPoint(pointNumber) || !access_) return false;
    pointReads_.fetch_add(1, std::memory_order_relaxed);
    return access_->ReadPoint(pointRecords_[pointNumber - 1], value, quality, timestamp);
}

bool COPCAddressSpaceMgt::ReadPointValue(DWORD pointNumber, const FILETIME& readTime, VARIANT* value, WORD* quality,
                                         FILETIME* timestamp) const {
    if (!GetPoint(pointNumber) || !access_) return false;
    pointReads_.fetch_add(1, std::memory_order_relaxed);
    return access_->ReadPoint(pointRecords_[pointNumber - 1], readTime, value, quality, timestamp);
}

bool COPCAddressSpaceMgt::WritePointValue(DWORD pointNumber, const VARIANT& value, const WORD* /*quality*/,
                                          const FILETIME* /*timestamp*/) const {
    const COPCItem* point = GetPoint(pointNumber);
    if (!point || !access_ || !access_->IsScadaAlive()) return false;
    rtdb::RuntimeMessage message;
    if (!rtdb::BuildRuntimeMessage(point->descriptor(), value, message)) return false;
    return rtdb::SendRuntimeMessage(access_->scadaWindow(), message);
}

bool COPCAddressSpaceMgt::ReadPointIntoCache(COPCItem& point, values::ValueRecord& reading, bool onceThisTick) const {
    VARIANT value;
    VariantInit(&value);
    WORD quality = values::kQualityBad;
    FILETIME timestamp{};
    const std::uint64_t tick = tickNumber_.load(std::memory_order_relaxed);
    std::lock_guard guard(point.lock());
    if (!onceThisTick || point.readInTick() != tick) {
        if (!ReadPointValue(point.serverHandle(), &value, &quality, &timestamp)) return false;
        values::StoreValue(point.cache(), point.canonicalType(), &value, &quality, &timestamp);
        if (onceThisTick) point.SetReadInTick(tick);
    }
    reading = point.cache();
    return true;
}

bool COPCAddressSpaceMgt::WritePoint(COPCItem& point, const VARIANT& value, const WORD* quality,
                                     const FILETIME* timestamp) const {
    // Without the point's lock: the runtime may take seconds to answer, and the update scan needs
    // that lock to read the point. The message is made from the point's fixed description and the
    // caller's value; the runtime's window takes concurrent writes one at a time.
    return WritePointValue(point.serverHandle(), value, quality, timestamp);
}

bool COPCAddressSpaceMgt::NarrowItemId(std::wstring_view wide, std::string& narrow) {
    narrow.clear();
    // Longer than any ID of the tree: refused before anything is converted or looked up.
    if (wide.empty() || wide.size() > kMaxItemIdLength) return false;
    for (const wchar_t c : wide)
        if (c < 0x20 || (c >= 0x7F && c <= 0x9F)) return false;
    const int wideLength = static_cast<int>(wide.size());
    BOOL lossy = FALSE;
    const int length =
        WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), wideLength, nullptr, 0, nullptr, &lossy);
    if (length <= 0 || lossy) return false;
    narrow.resize(static_cast<std::size_t>(length));
    WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), wideLength, narrow.data(), length, nullptr, &lossy);
    const std::wstring back = korvex::com::toWide(narrow);
    if (lossy || back != wide) {
        narrow.clear();
        return false;
    }
    return true;
}
