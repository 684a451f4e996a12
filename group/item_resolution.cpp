#include "group/item_resolution.h"

#include "opcerror.h"

#include <string>

namespace {

void ReplaceAll(std::string& text, std::string_view from, std::string_view to) {
    for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
}

}  // namespace

ResolvedPoint ResolvePoint(const COPCAddressSpaceMgt& space, LPCWSTR itemId, KindAliases aliases) {
    std::string id;
    if (!COPCAddressSpaceMgt::NarrowItemId(itemId ? itemId : L"", id)) return {OPC_E_INVALIDITEMID, nullptr};
    if (aliases == KindAliases::apply) {
        ReplaceAll(id, ".3.", ".analog.");
        ReplaceAll(id, ".4.", ".switch.");
    }
    const DWORD nodeId = space.GetNodeId(space.ResolveItemId(id));
    if (nodeId == 0) return {OPC_E_UNKNOWNITEMID, nullptr};
    COPCItem* point = space.FindPointByNodeId(nodeId);
    if (!point) return {E_FAIL, nullptr};
    return {S_OK, point};
}
