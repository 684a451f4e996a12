// A group's items in the order they were added, indexed by server handle. The same point may be
// added twice: both items carry its handle, and a lookup finds the first in list order. Guarded by
// the group lock.
#pragma once

#include "group/group_item.h"

#include <list>
#include <unordered_map>
#include <vector>

class GroupItems {
public:
    using List = std::list<GroupItem>;

    GroupItem& Append(GroupItem item);
    // The first item in list order with this handle, or null (0 never matches); with `occurrence`
    // n, the (n+1)-th such item.
    GroupItem* Find(OPCHANDLE serverHandle, std::size_t occurrence = 0);
    // Removes the first item with this handle; false when there is none.
    bool Remove(OPCHANDLE serverHandle);

    // Sets the item's active flag; the count of active items follows.
    void SetActive(GroupItem& item, bool active);
    std::size_t activeCount() const { return active_; }

    List& list() { return items_; }
    const List& list() const { return items_; }
    std::size_t size() const { return items_.size(); }
    bool empty() const { return items_.empty(); }

private:
    List items_;
    std::size_t active_ = 0;  // kept, not counted: the operator's view asks for it every second
    // Per handle, its items in list order: appends go to the back of both. A vector, not a deque:
    // a handle almost always has one item, and a deque's first element costs a 512-byte block (a
    // group item took 830 bytes of the server's memory with it, 200 without).
    std::unordered_map<OPCHANDLE, std::vector<List::iterator>> byHandle_;
};
