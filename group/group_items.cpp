#include "group/group_items.h"

GroupItem& GroupItems::Append(GroupItem item) {
    const auto at = items_.insert(items_.end(), std::move(item));
    byHandle_[at->serverHandle()].push_back(at);
    if (at->active) ++active_;
    return *at;
}

GroupItem* GroupItems::Find(OPCHANDLE serverHandle, std::size_t occurrence) {
    const auto found = byHandle_.find(serverHandle);
    if (found == byHandle_.end() || occurrence >= found->second.size()) return nullptr;
    return &*found->second[occurrence];
}

bool GroupItems::Remove(OPCHANDLE serverHandle) {
    const auto found = byHandle_.find(serverHandle);
    if (found == byHandle_.end()) return false;
    if (found->second.front()->active) --active_;
    items_.erase(found->second.front());
    found->second.erase(found->second.begin());
    if (found->second.empty()) byHandle_.erase(found);
    return true;
}

void GroupItems::SetActive(GroupItem& item, bool active) {
    if (item.active != active) active ? ++active_ : --active_;
    item.active = active;
}
