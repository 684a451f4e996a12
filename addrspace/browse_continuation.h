// The process-wide record behind IOPCBrowse's continuation points: the keys and the full result
// list of the last browse computed afresh, by whichever client. A continuation point is the item ID
// of the first entry not yet handed out; it stays usable while the record holds the list it came
// from. Paging costs time in the entries handed out, not in the length of the list.
#pragma once

#include <windows.h>

#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

class COPCAddressSpaceMgt;

class BrowseContinuation {
public:
    using NodeNumber = DWORD;

    struct Keys {
        std::wstring itemId;
        DWORD browseFilter = 1;
        std::wstring elementNameFilter;
        std::wstring vendorFilter;
        bool operator==(const Keys&) const = default;
    };

    struct Page {
        std::vector<NodeNumber> nodes;
        std::string continuationPoint;  // empty when nothing remains
    };

    // The first page of the record's list, when the record holds at least one entry for these
    // keys; false, and nothing taken, otherwise.
    bool TakeFirstPage(const COPCAddressSpaceMgt& space, const Keys& keys, DWORD maxElements, Page& page);
    // Replaces the record with these keys and list and takes the first page.
    void Replace(const COPCAddressSpaceMgt& space, Keys keys, std::vector<NodeNumber> list, DWORD maxElements,
                 Page& page);
    // The page that starts at a continuation point: false when the record no longer holds the
    // list for these keys or the point names no entry of it.
    bool TakePage(const COPCAddressSpaceMgt& space, const Keys& keys, std::string_view continuationPoint,
                  DWORD maxElements, Page& page);

private:
    // Under the lock.
    void PageFrom(const COPCAddressSpaceMgt& space, std::size_t start, DWORD maxElements, Page& page);

    std::mutex lock_;
    Keys keys_;
    std::vector<NodeNumber> list_;
    std::unordered_map<NodeNumber, std::size_t> placeOf_;
    // The continuation points handed out for the list: they find their entry even where the item
    // ID does not resolve back to it (a name holding '.', two siblings of the same name).
    std::unordered_map<std::string, std::size_t> handedOut_;
};
