#include "tools/hostile/session.h"

#include <algorithm>

namespace hostile {

HRESULT Sink::answer() {
    static const HRESULT answers[] = {S_OK, S_OK, S_FALSE, E_FAIL, E_NOTIMPL, RPC_E_DISCONNECTED};
    return answers[answers_++ % std::size(answers)];
}

HRESULT Sink::OnDataChange(DWORD, OPCHANDLE, HRESULT, HRESULT, DWORD, OPCHANDLE*, VARIANT*, WORD*, FILETIME*, HRESULT*) {
    ++callbacks;
    return answer();
}

HRESULT Sink::OnReadComplete(DWORD, OPCHANDLE, HRESULT, HRESULT, DWORD, OPCHANDLE*, VARIANT*, WORD*, FILETIME*,
                             HRESULT*) {
    ++callbacks;
    return answer();
}

HRESULT Sink::OnWriteComplete(DWORD, OPCHANDLE, HRESULT, DWORD, OPCHANDLE*, HRESULT*) {
    ++callbacks;
    return answer();
}

HRESULT Sink::OnCancelComplete(DWORD, OPCHANDLE) {
    ++callbacks;
    return answer();
}

HRESULT Sink::ShutdownRequest(LPCWSTR) {
    shutdownRequested = true;
    return S_OK;
}

Session::Session(CallLog& log, RandomArguments& random, const CLSID& server, std::vector<std::wstring> knownItems)
    : log_(log), random_(random), clsid_(server), knownItems_(std::move(knownItems)),
      sink_(korvex::com::make<Sink>()) {}

const std::vector<Session::Operation>& Session::Operations() {
    static const std::vector<Operation> operations = {
        &Session::AddGroup, &Session::AddGroup, &Session::GetErrorString, &Session::GetGroupByName,
        &Session::GetStatus, &Session::RemoveGroup, &Session::CreateGroupEnumerator, &Session::SetLocaleID,
        &Session::GetLocaleID, &Session::QueryAvailableLocaleIDs, &Session::CommonGetErrorString,
        &Session::SetClientName, &Session::PublicGroups, &Session::QueryOrganization,
        &Session::ChangeBrowsePosition, &Session::BrowseOPCItemIDs, &Session::GetItemID,
        &Session::BrowseAccessPaths, &Session::QueryAvailableProperties, &Session::GetItemProperties,
        &Session::LookupItemIDs, &Session::GetProperties, &Session::Browse, &Session::ItemIORead,
        &Session::ItemIOWriteVQT, &Session::ShutdownConnectionPoint, &Session::DataConnectionPoint,
        &Session::GetState, &Session::SetState, &Session::SetName, &Session::CloneGroup, &Session::KeepAlive,
        &Session::PublicGroupState, &Session::AddItems, &Session::AddItems, &Session::ValidateItems,
        &Session::RemoveItems, &Session::SetActiveState, &Session::SetClientHandles, &Session::SetDatatypes,
        &Session::CreateEnumerator, &Session::SyncRead, &Session::SyncWrite, &Session::SyncReadMaxAge,
        &Session::SyncWriteVQT, &Session::AsyncIO1, &Session::AsyncRead, &Session::AsyncWrite, &Session::Refresh2,
        &Session::Cancel2, &Session::Enable, &Session::AsyncReadMaxAge, &Session::AsyncWriteVQT,
        &Session::RefreshMaxAge, &Session::SetItemDeadband, &Session::GetItemDeadband,
        &Session::ClearItemDeadband, &Session::Sampling};
    return operations;
}

bool Session::Connect(Connection& connection) {
    connection = Connection{};
    const HRESULT hr = log_.call("CoCreateInstance", {S_OK}, "", [&] {
        return CoCreateInstance(clsid_, nullptr, CLSCTX_LOCAL_SERVER, IID_IOPCServer,
                                reinterpret_cast<void**>(connection.server.ReleaseAndGetAddressOf()));
    });
    return SUCCEEDED(hr) && connection.server;
}

bool Session::Open() { return Connect(connections_[0]) && Connect(connections_[1]); }

void Session::Close() {
    for (Connection& connection : connections_) connection = Connection{};
}

void Session::Step() {
    mine_ = random_.chance(0.8) ? 0 : 1;
    if (random_.chance(1.0 / 600)) {
        Reconnect();
        return;
    }
    const auto& operations = Operations();
    (this->*operations[random_.between(0, static_cast<std::uint32_t>(operations.size() - 1))])();
}

void Session::Reconnect() {
    // Whatever the connection holds goes with it: groups, pending removals, subscriptions.
    Connect(Mine());
}

GroupRecord* Session::AnyGroup() {
    std::vector<GroupRecord*> held;
    for (GroupRecord& group : Mine().groups)
        if (group.object) held.push_back(&group);
    if (held.empty()) return nullptr;
    return random_.pick(held);
}

GroupRecord* Session::GroupByHandle(OPCHANDLE handle) {
    for (GroupRecord& group : Mine().groups)
        if (group.serverHandle == handle) return &group;
    return nullptr;
}

bool Session::GroupHas(REFIID iid) {
    static const IID groupInterfaces[] = {
        IID_IUnknown,         IID_IOPCItemMgt,         IID_IOPCGroupStateMgt, IID_IOPCGroupStateMgt2,
        IID_IOPCSyncIO,       IID_IOPCSyncIO2,         IID_IOPCAsyncIO,       IID_IOPCAsyncIO2,
        IID_IOPCAsyncIO3,     IID_IOPCItemDeadbandMgt, IID_IOPCItemSamplingMgt, IID_IOPCPublicGroupStateMgt,
        IID_IConnectionPointContainer};
    for (const IID& known : groupInterfaces)
        if (IsEqualIID(known, iid)) return true;
    return false;
}

int Session::NameInUse(const std::wstring& name) const {
    const Connection& connection = connections_[mine_];
    for (const GroupRecord& group : connection.groups)
        if (group.name == name && group.life != GroupRecord::Life::cutOff) return 1;
    for (const std::wstring& fading : connection.fadingNames)
        if (fading == name) return -1;
    return 0;
}

void Session::LetGo(GroupRecord& group) {
    if (group.life == GroupRecord::Life::live) {
        group.point.Reset();
        group.cookie = 0;
        group.interfaces.clear();
        group.object.Reset();
    } else {
        Forget(group);
    }
}


Codes Session::Gate(const GroupRecord& group, Codes normal) {
    switch (group.life) {
    case GroupRecord::Life::removePending: return {E_FAIL};
    case GroupRecord::Life::cutOff: return DisconnectedCodes();
    default: return normal;
    }
}

std::vector<OPCHANDLE> Session::Handles(const GroupRecord& group, DWORD count) {
    std::vector<OPCHANDLE> foreign, stale = group.removedItems;
    for (const Connection& connection : connections_)
        for (const GroupRecord& other : connection.groups)
            if (&other != &group) foreign.insert(foreign.end(), other.items.begin(), other.items.end());
    std::vector<OPCHANDLE> handles(count);
    for (OPCHANDLE& handle : handles) handle = random_.handle(group.items, foreign, stale);
    return handles;
}

std::vector<std::wstring> Session::ItemIds(DWORD count) {
    std::vector<std::wstring> ids(count);
    for (std::wstring& id : ids) id = ShortIfHuge(random_.itemId(knownItems_), count);
    return ids;
}

std::wstring Session::ShortIfHuge(std::wstring text, DWORD count) {
    // 100,000 strings of the lengths one may have (up to 70,000 characters) are some 140 MB, which
    // Wine's transport carries at about 3 MB/s under load: the call outlived its bound before the
    // server saw it. A huge call's strings are cut short; the long ones go in the smaller calls.
    constexpr DWORD kHugeCall = 1000;
    constexpr std::size_t kShortLength = 64;
    if (count > kHugeCall && text.size() > kShortLength) text.resize(kShortLength);
    return text;
}

void Session::Forget(GroupRecord& group) {
    Connection& connection = Mine();
    if (group.life == GroupRecord::Life::removePending) connection.fadingNames.push_back(group.name);
    connection.removedGroups.push_back(group.serverHandle);
    const auto at = connection.groups.begin() + (&group - connection.groups.data());
    // Its items' handles stay around as stale ones of the next group that is called.
    if (!connection.groups.empty()) {
        std::vector<OPCHANDLE>& stale = connection.groups.front().removedItems;
        stale.insert(stale.end(), group.items.begin(), group.items.end());
        if (stale.size() > 2000) stale.erase(stale.begin(), stale.begin() + 1000);
    }
    connection.groups.erase(at);
}

}  // namespace hostile
