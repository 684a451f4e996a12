// BASELINE, for the benchmark only: the address space's lookups as the server was first designed,
// kept small so that the figures compare like with like.
//   FindChild          walks the parent's children along the sibling links, comparing names;
//   FindPointByNodeId  scans the point item table from the start;
//   ReadPoint          asks IsWindow about the runtime window, then looks the point's record up in a
//                      std::map by its text key "<station>_<kind>_<point>".
// The server uses COPCAddressSpaceMgt's hash index, node-to-point table and pre-resolved records.
#pragma once

#include "addrspace/address_space.h"

#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace bench {

class NaiveAddressSpace {
public:
    // Copies the node table of a built space and fills the text-key map by walking the database,
    // as the original build registered every point.
    NaiveAddressSpace(const COPCAddressSpaceMgt& space, const rtdb::CDataAccessEx& access);

    DWORD FindChild(DWORD parent, std::string_view name) const;
    DWORD ResolveItemId(std::string_view itemId) const;
    const COPCItem* FindPointByNodeId(DWORD nodeId) const;
    bool ReadPoint(DWORD pointNumber, VARIANT* value, WORD* quality, FILETIME* timestamp) const;

private:
    struct Node {
        char name[32];
        DWORD firstChild;
        DWORD nextSibling;
    };

    const COPCAddressSpaceMgt& space_;
    HWND scadaWindow_;
    std::vector<Node> nodes_;  // node number k at k - 1
    std::map<std::string, const std::byte*> pointMap_;
};

}  // namespace bench
