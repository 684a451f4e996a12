#include "group/group_table.h"

#include "group/opc_group.h"

#include <cstdio>

using korvex::com::ComPtr;

GroupTable::~GroupTable() = default;

bool GroupTable::Contains(std::wstring_view name) const {
    std::lock_guard guard(lock_);
    return byName_.count(std::wstring(name)) != 0;
}

std::size_t GroupTable::Count() const {
    std::lock_guard guard(lock_);
    return entries_.size();
}

bool GroupTable::Add(std::wstring name, ComPtr<COPCGroup> group) {
    std::lock_guard guard(lock_);
    if (closed_ || byName_.count(name) != 0) return false;
    const OPCHANDLE handle = group->serverGroupHandle();
    const auto entry = entries_.insert(entries_.end(), Entry{name, std::move(group)});
    byName_.emplace(std::move(name), entry);
    byHandle_.emplace(handle, entry);
    return true;
}

ComPtr<COPCGroup> GroupTable::Find(std::wstring_view name) const {
    std::lock_guard guard(lock_);
    const auto found = byName_.find(std::wstring(name));
    return found == byName_.end() ? nullptr : found->second->group;
}

ComPtr<COPCGroup> GroupTable::FindByHandle(OPCHANDLE serverHandle) const {
    std::lock_guard guard(lock_);
    const auto found = byHandle_.find(serverHandle);
    return found == byHandle_.end() ? nullptr : found->second->group;
}

bool GroupTable::Lists(const COPCGroup* group) const {
    std::lock_guard guard(lock_);
    const auto found = byHandle_.find(group->serverGroupHandle());
    return found != byHandle_.end() && found->second->group.Get() == group;
}

bool GroupTable::Rename(std::wstring_view oldName, std::wstring newName) {
    std::lock_guard guard(lock_);
    const auto found = byName_.find(std::wstring(oldName));
    if (found == byName_.end() || byName_.count(newName) != 0) return false;
    const auto entry = found->second;
    byName_.erase(found);
    entry->name = newName;
    byName_.emplace(std::move(newName), entry);
    return true;
}

ComPtr<COPCGroup> GroupTable::Remove(std::wstring_view name) {
    std::lock_guard guard(lock_);
    const auto found = byName_.find(std::wstring(name));
    if (found == byName_.end()) return nullptr;
    const auto entry = found->second;
    ComPtr<COPCGroup> group = std::move(entry->group);
    byHandle_.erase(group->serverGroupHandle());
    byName_.erase(found);
    entries_.erase(entry);
    return group;
}

std::vector<GroupTable::Entry> GroupTable::Snapshot() const {
    std::lock_guard guard(lock_);
    return {entries_.begin(), entries_.end()};
}

std::vector<GroupTable::Entry> GroupTable::Close() {
    std::lock_guard guard(lock_);
    closed_ = true;
    std::vector<Entry> taken(std::make_move_iterator(entries_.begin()), std::make_move_iterator(entries_.end()));
    entries_.clear();
    byName_.clear();
    byHandle_.clear();
    return taken;
}

std::wstring GroupTable::NextDefaultName() {
    std::lock_guard guard(lock_);
    for (;;) {
        wchar_t name[32];
        std::swprintf(name, std::size(name), L"Group%d", nameCounter_++);
        if (byName_.count(name) == 0) return name;
    }
}

FILETIME GroupTable::LastUpdateTime() const {
    std::lock_guard guard(lock_);
    return lastUpdateTime_;
}

void GroupTable::SetLastUpdateTime(const FILETIME& time) {
    std::lock_guard guard(lock_);
    lastUpdateTime_ = time;
}
