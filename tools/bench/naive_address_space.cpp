#include "naive_address_space.h"

#include "rtdb/rt_library.h"

#include <cstdio>
#include <cstring>

namespace bench {
namespace {

std::string PointKey(std::string_view station, int kind, std::string_view point) {
    char key[256];
    std::snprintf(key, sizeof key, "%.*s_%d_%.*s", static_cast<int>(station.size()), station.data(), kind,
                  static_cast<int>(point.size()), point.data());
    return key;
}

std::string_view RecordName(const std::byte* record) {
    const char* name = reinterpret_cast<const char*>(record + rt::analog::kName);
    return {name, strnlen(name, rt::kNameField)};
}

}  // namespace

NaiveAddressSpace::NaiveAddressSpace(const COPCAddressSpaceMgt& space, const rtdb::CDataAccessEx& access)
    : space_(space), scadaWindow_(access.scadaWindow()) {
    for (DWORD node = 1; node <= space.GetNodeCount(); ++node) {
        Node& copy = nodes_.emplace_back();
        const std::string_view name = space.GetNodeName(node);
        std::memset(copy.name, 0, sizeof copy.name);
        std::memcpy(copy.name, name.data(), name.size());
        copy.firstChild = space.GetFirstChild(node);
        copy.nextSibling = space.GetNextSibling(node);
    }
    for (int s = 0; s < access.GetStationCount(); ++s) {
        const std::byte* station = access.GetStationByIndex(s);
        const std::string_view stationName = reinterpret_cast<const char*>(station + rt::station::kName);
        for (int p = 0; p < access.GetAnalogCount(station); ++p) {
            const std::byte* record = access.GetAnalogByIndex(station, p);
            pointMap_.try_emplace(PointKey(stationName, rt::kAnalogKind, RecordName(record)), record);
        }
        for (int p = 0; p < access.GetSwitchCount(station); ++p) {
            const std::byte* record = access.GetSwitchByIndex(station, p);
            pointMap_.try_emplace(PointKey(stationName, rt::kSwitchKind, RecordName(record)), record);
        }
    }
}

DWORD NaiveAddressSpace::FindChild(DWORD parent, std::string_view name) const {
    if (name.empty() || parent == 0 || parent > nodes_.size()) return 0;
    for (DWORD child = nodes_[parent - 1].firstChild; child != 0; child = nodes_[child - 1].nextSibling) {
        if (std::string_view(nodes_[child - 1].name) == name) return child;
    }
    return 0;
}

DWORD NaiveAddressSpace::ResolveItemId(std::string_view itemId) const {
    DWORD node = nodes_.empty() ? 0 : 1;
    if (itemId.empty() || node == 0) return node;
    std::size_t start = 0;
    for (std::size_t i = 0; i < itemId.size(); ++i) {
        if (itemId[i] != '.') continue;
        node = FindChild(node, itemId.substr(start, i - start));
        if (node == 0 || i + 1 == itemId.size()) return 0;
        start = i + 1;
        ++i;
    }
    return FindChild(node, itemId.substr(start));
}

const COPCItem* NaiveAddressSpace::FindPointByNodeId(DWORD nodeId) const {
    const DWORD count = space_.GetPointCount();
    for (DWORD k = 1; k <= count; ++k) {
        const COPCItem* point = space_.GetPoint(k);
        if (point->nodeId() == nodeId) return point;
    }
    return nullptr;
}

bool NaiveAddressSpace::ReadPoint(DWORD pointNumber, VARIANT* value, WORD* quality, FILETIME* timestamp) const {
    const COPCItem* point = space_.GetPoint(pointNumber);
    if (!point || !IsWindow(scadaWindow_)) return false;
    VariantClear(value);
    *quality = 0;
    CoFileTimeNow(timestamp);
    const PointDescriptor& d = point->descriptor();
    const auto found = pointMap_.find(PointKey(d.Station(), d.pointKind, d.Point()));
    if (found == pointMap_.end()) return false;
    if (d.pointKind == rt::kAnalogKind) {
        double measured;
        std::memcpy(&measured, found->second + rt::analog::kValue, sizeof measured);
        value->vt = VT_R4;
        value->fltVal = static_cast<float>(measured);
    } else {
        value->vt = VT_BOOL;
        value->boolVal = found->second[rt::status::kState] != std::byte{0} ? VARIANT_TRUE : VARIANT_FALSE;
    }
    *quality = 0xC0;
    return true;
}

}  // namespace bench
