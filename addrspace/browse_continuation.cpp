#include "addrspace/browse_continuation.h"

#include "addrspace/address_space.h"

#include <algorithm>

bool BrowseContinuation::TakeFirstPage(const COPCAddressSpaceMgt& space, const Keys& keys, DWORD maxElements,
                                       Page& page) {
    std::lock_guard guard(lock_);
    if (list_.empty() || !(keys == keys_)) return false;
    PageFrom(space, 0, maxElements, page);
    return true;
}

void BrowseContinuation::Replace(const COPCAddressSpaceMgt& space, Keys keys, std::vector<NodeNumber> list,
                                 DWORD maxElements, Page& page) {
    std::unordered_map<NodeNumber, std::size_t> placeOf;
    placeOf.reserve(list.size());
    for (std::size_t i = 0; i < list.size(); ++i) placeOf.try_emplace(list[i], i);
    std::lock_guard guard(lock_);
    keys_ = std::move(keys);
    list_ = std::move(list);
    placeOf_ = std::move(placeOf);
    handedOut_.clear();
    PageFrom(space, 0, maxElements, page);
}

bool BrowseContinuation::TakePage(const COPCAddressSpaceMgt& space, const Keys& keys,
                                  std::string_view continuationPoint, DWORD maxElements, Page& page) {
    std::lock_guard guard(lock_);
    if (!(keys == keys_)) return false;
    std::size_t start = 0;
    if (const auto given = handedOut_.find(std::string(continuationPoint)); given != handedOut_.end()) {
        start = given->second;
    } else {
        const auto place = placeOf_.find(space.ResolveItemId(continuationPoint));
        if (place == placeOf_.end()) return false;
        start = place->second;
    }
    PageFrom(space, start, maxElements, page);
    return true;
}

void BrowseContinuation::PageFrom(const COPCAddressSpaceMgt& space, std::size_t start, DWORD maxElements,
                                  Page& page) {
    const std::size_t remaining = list_.size() - std::min(start, list_.size());
    const std::size_t count = maxElements == 0 ? remaining : std::min<std::size_t>(maxElements, remaining);
    page.nodes.assign(list_.begin() + static_cast<std::ptrdiff_t>(start),
                      list_.begin() + static_cast<std::ptrdiff_t>(start + count));
    page.continuationPoint.clear();
    if (count < remaining) {
        space.GetFullItemId(list_[start + count], page.continuationPoint);
        handedOut_[page.continuationPoint] = start + count;
    }
}
