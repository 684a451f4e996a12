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
    // Every valid ID is plain ASCII, so the syntax test runs on the wide text itself: a character
    // outside ASCII never becomes a valid byte through a code page.
    std::string id;
    for (const wchar_t* c = itemId; c && *c; ++c) {
        if (*c > 0x7F) return {OPC_E_INVALIDITEMID, nullptr};
        id.push_back(static_cast<char>(*c));
    }
    if (!COPCAddressSpaceMgt::IsValidItemIdSyntax(id)) return {OPC_E_INVALIDITEMID, nullptr};
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
