#include "tools/opcclient/item_group.h"

#include "com/string_convert.h"

namespace opcclient {

ItemGroup::ItemGroup(const Connection& connection, const std::vector<std::string>& itemIds, bool active,
                     DWORD updateRateMs)
    : connection_(connection) {
    DWORD revisedRate = 0;
    connection.check(connection.server()->AddGroup(L"", active ? TRUE : FALSE, updateRateMs, 0, nullptr, nullptr, 0, &serverGroup_,
                                                   &revisedRate, IID_IOPCItemMgt,
                                                   reinterpret_cast<LPUNKNOWN*>(group_.ReleaseAndGetAddressOf())),
                     "AddGroup");

    std::vector<std::wstring> wideIds;
    for (const std::string& id : itemIds) wideIds.push_back(korvex::com::fromUtf8(id));
    std::vector<OPCITEMDEF> definitions(itemIds.size());
    for (std::size_t i = 0; i < itemIds.size(); ++i) {
        definitions[i].szAccessPath = const_cast<LPWSTR>(L"");
        definitions[i].szItemID = wideIds[i].data();
        definitions[i].bActive = TRUE;
        definitions[i].hClient = static_cast<OPCHANDLE>(i);
        definitions[i].vtRequestedDataType = VT_EMPTY;
    }
    OPCITEMRESULT* results = nullptr;
    HRESULT* errors = nullptr;
    connection.check(group_->AddItems(static_cast<DWORD>(definitions.size()), definitions.data(), &results, &errors),
                     "AddItems");
    items_.resize(itemIds.size());
    for (std::size_t i = 0; i < itemIds.size(); ++i) {
        items_[i].itemId = itemIds[i];
        items_[i].addResult = errors[i];
        if (SUCCEEDED(errors[i])) {
            items_[i].serverHandle = results[i].hServer;
            items_[i].canonicalType = results[i].vtCanonicalDataType;
            items_[i].accessRights = results[i].dwAccessRights;
        }
        CoTaskMemFree(results[i].pBlob);
    }
    CoTaskMemFree(results);
    CoTaskMemFree(errors);
}

ItemGroup::~ItemGroup() {
    group_.Reset();
    // Nothing to report: a server that is gone has no group left either.
    if (serverGroup_ != 0) connection_.server()->RemoveGroup(serverGroup_, TRUE);
}

std::vector<OPCHANDLE> ItemGroup::serverHandles() const {
    std::vector<OPCHANDLE> handles;
    for (const GroupItem& item : items_)
        if (SUCCEEDED(item.addResult)) handles.push_back(item.serverHandle);
    return handles;
}

std::vector<OPCHANDLE> ItemGroup::clientHandles() const {
    std::vector<OPCHANDLE> handles;
    for (std::size_t i = 0; i < items_.size(); ++i)
        if (SUCCEEDED(items_[i].addResult)) handles.push_back(static_cast<OPCHANDLE>(i));
    return handles;
}

}  // namespace opcclient
