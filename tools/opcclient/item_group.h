// A private group of this client with its items: created for one command and removed with it.
// Items the server refuses keep their status codes, for the command to report.
#pragma once

#include "tools/opcclient/connection.h"

#include <string>
#include <vector>

namespace opcclient {

struct GroupItem {
    std::string itemId;
    HRESULT addResult = E_FAIL;  // AddItems' code for the item: it is in the group when this succeeded
    OPCHANDLE serverHandle = 0;
    VARTYPE canonicalType = VT_EMPTY;
    DWORD accessRights = 0;
};

class ItemGroup {
public:
    // AddGroup (with `updateRateMs`, active or not) and AddItems for `itemIds`, each active, with the
    // client handle of its position in `itemIds`, in its canonical type. Throws ClientError when the
    // group cannot be created.
    ItemGroup(const Connection& connection, const std::vector<std::string>& itemIds, bool active,
              DWORD updateRateMs = 1000);
    ~ItemGroup();
    ItemGroup(const ItemGroup&) = delete;
    ItemGroup& operator=(const ItemGroup&) = delete;

    // Every item asked for, accepted or not, indexed by client handle.
    const std::vector<GroupItem>& items() const { return items_; }
    // The server handles of the accepted items and their client handles, in the same order.
    std::vector<OPCHANDLE> serverHandles() const;
    std::vector<OPCHANDLE> clientHandles() const;

    // One of the group's interfaces; ClientError naming it when the group lacks it.
    template <class Interface>
    korvex::com::ComPtr<Interface> require(std::string_view interfaceName) const {
        korvex::com::ComPtr<Interface> found;
        connection_.check(group_->QueryInterface(__uuidof(Interface), reinterpret_cast<void**>(found.ReleaseAndGetAddressOf())),
                          "the group's " + std::string(interfaceName));
        return found;
    }

private:
    const Connection& connection_;
    korvex::com::ComPtr<IOPCItemMgt> group_;
    OPCHANDLE serverGroup_ = 0;
    std::vector<GroupItem> items_;
};

}  // namespace opcclient
