// The groups of one client, listed by name in the order they were added. The server object and its
// groups share the table: a group that its client still holds after releasing the server finds the
// table closed rather than a destroyed server. Its lock is the server lock (taken before any
// group's lock).
#pragma once

#include "com/com_ptr.h"
#include "opcda.h"

#include <windows.h>

#include <list>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

class COPCGroup;

class GroupTable {
public:
    struct Entry {
        std::wstring name;
        korvex::com::ComPtr<COPCGroup> group;  // the server's own reference
    };

    GroupTable() = default;
    ~GroupTable();
    GroupTable(const GroupTable&) = delete;
    GroupTable& operator=(const GroupTable&) = delete;

    std::recursive_mutex& lock() const { return lock_; }

    // All of the following take the lock themselves.
    bool Contains(std::wstring_view name) const;
    std::size_t Count() const;
    // False when the name is taken or the table is closed.
    bool Add(std::wstring name, korvex::com::ComPtr<COPCGroup> group);
    korvex::com::ComPtr<COPCGroup> Find(std::wstring_view name) const;
    korvex::com::ComPtr<COPCGroup> FindByHandle(OPCHANDLE serverHandle) const;
    // Whether the table lists this very group; takes no reference on it.
    bool Lists(const COPCGroup* group) const;
    // Re-keys an entry; false when the new name is taken (or the old one is gone).
    bool Rename(std::wstring_view oldName, std::wstring newName);
    // Takes the entry out and hands back the server's reference, to be released without the lock.
    korvex::com::ComPtr<COPCGroup> Remove(std::wstring_view name);
    std::vector<Entry> Snapshot() const;
    // Empties and closes the table (the server object is going away).
    std::vector<Entry> Close();

    // "Group%d" with the client's counter, skipping names in use; the counter never goes back.
    std::wstring NextDefaultName();

    // When one of this client's groups last sent a data change (UTC).
    FILETIME LastUpdateTime() const;
    void SetLastUpdateTime(const FILETIME& time);

private:
    using Entries = std::list<Entry>;

    mutable std::recursive_mutex lock_;
    Entries entries_;
    std::unordered_map<std::wstring, Entries::iterator> byName_;
    std::unordered_map<OPCHANDLE, Entries::iterator> byHandle_;
    bool closed_ = false;
    int nameCounter_ = 1;
    FILETIME lastUpdateTime_{};
};
