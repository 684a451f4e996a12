// The hostile client's connections to the server and what it knows of them: its groups (live, with
// their removal pending, or cut off by a forced removal), their items' server handles and the
// handles it removed, so that each call can be made with valid, stale and foreign arguments and
// its result checked against what that call may return in that situation. Two connections are
// kept: each one's handles are the other's foreign ones. Every call is one of the operations
// below; Step() picks one at random.
#pragma once

#include "tools/hostile/call_log.h"
#include "tools/hostile/random_arguments.h"

#include "com/com_object.h"
#include "com/com_ptr.h"
#include "opccomn.h"
#include "opcda.h"

#include <ocidl.h>
#include <olectl.h>

#include <atomic>
#include <utility>
#include <string>
#include <vector>

namespace hostile {

using korvex::com::ComPtr;

// Receives the callbacks of the hostile client's groups and answers them with random codes (which
// the server must ignore).
class Sink final : public korvex::com::ComObject<Sink, IOPCDataCallback, IOPCShutdown, korvex::com::no_module_lock> {
public:
    HRESULT STDMETHODCALLTYPE OnDataChange(DWORD, OPCHANDLE, HRESULT, HRESULT, DWORD, OPCHANDLE*, VARIANT*, WORD*,
                                           FILETIME*, HRESULT*) override;
    HRESULT STDMETHODCALLTYPE OnReadComplete(DWORD, OPCHANDLE, HRESULT, HRESULT, DWORD, OPCHANDLE*, VARIANT*, WORD*,
                                             FILETIME*, HRESULT*) override;
    HRESULT STDMETHODCALLTYPE OnWriteComplete(DWORD, OPCHANDLE, HRESULT, DWORD, OPCHANDLE*, HRESULT*) override;
    HRESULT STDMETHODCALLTYPE OnCancelComplete(DWORD, OPCHANDLE) override;
    HRESULT STDMETHODCALLTYPE ShutdownRequest(LPCWSTR) override;

    std::atomic<unsigned long long> callbacks{0};
    std::atomic<bool> shutdownRequested{false};

private:
    HRESULT answer();
    std::atomic<unsigned> answers_{0};
};

struct GroupRecord {
    enum class Life { live, removePending, cutOff };
    ComPtr<IUnknown> object;  // null once the client let go of a live group (the server keeps it)
    OPCHANDLE serverHandle = 0;
    std::wstring name;
    Life life = Life::live;
    std::vector<OPCHANDLE> items;         // server handles of its items
    std::vector<OPCHANDLE> removedItems;  // handles it no longer has
    ComPtr<IConnectionPoint> point;       // its data-callback connection point, once found
    DWORD cookie = 0;                     // of our subscription, 0 when none
    // Interfaces asked for before: a query through the proxy is a round trip of its own.
    mutable std::vector<std::pair<IID, ComPtr<IUnknown>>> interfaces;
};

struct Connection {
    ComPtr<IOPCServer> server;
    std::vector<GroupRecord> groups;
    std::vector<OPCHANDLE> removedGroups;  // server handles of its groups that are gone
    std::vector<std::wstring> fadingNames;  // names of groups let go while their removal was pending
    std::vector<std::pair<IID, ComPtr<IUnknown>>> interfaces;  // of the server object, asked for before
    ComPtr<IConnectionPoint> shutdownPoint;
    DWORD shutdownCookie = 0;
    LCID locale = 0x0800;
};

class Session {
public:
    Session(CallLog& log, RandomArguments& random, const CLSID& server, std::vector<std::wstring> knownItems);

    // Connects both connections; false when the server cannot be reached.
    bool Open();
    // One operation with random arguments, on one of the two connections.
    void Step();
    // Lets go of everything.
    void Close();

private:
    using Operation = void (Session::*)();
    static const std::vector<Operation>& Operations();

    bool Connect(Connection& connection);
    Connection& Mine() { return connections_[mine_]; }
    Connection& Other() { return connections_[1 - mine_]; }
    // A group of mine that the client holds (null when there is none).
    GroupRecord* AnyGroup();
    // My group with that server handle, held or not (null when none).
    GroupRecord* GroupByHandle(OPCHANDLE handle);
    // Whether a group object gives out `iid`.
    static bool GroupHas(REFIID iid);
    // The group's interface, null when it lacks it (or was cut off and the proxy does not know it).
    template <class Interface>
    static ComPtr<Interface> As(const GroupRecord& group, REFIID iid) {
        for (const auto& [known, object] : group.interfaces)
            if (IsEqualIID(known, iid)) return ComPtr<Interface>(static_cast<Interface*>(object.Get()));
        ComPtr<Interface> result;
        group.object->QueryInterface(iid, reinterpret_cast<void**>(result.ReleaseAndGetAddressOf()));
        if (result) group.interfaces.emplace_back(iid, ComPtr<IUnknown>(static_cast<IUnknown*>(result.Get())));
        return result;
    }
    // The server object's interface, kept for later calls.
    template <class Interface>
    Interface* Server(REFIID iid) {
        Connection& connection = Mine();
        for (const auto& [known, object] : connection.interfaces)
            if (IsEqualIID(known, iid)) return static_cast<Interface*>(object.Get());
        ComPtr<Interface> result;
        connection.server->QueryInterface(iid, reinterpret_cast<void**>(result.ReleaseAndGetAddressOf()));
        if (!result) return nullptr;
        connection.interfaces.emplace_back(iid, ComPtr<IUnknown>(static_cast<IUnknown*>(result.Get())));
        return result.Get();
    }
    // The codes a group call may give: `normal` for a live group, E_FAIL while its removal is
    // pending, the transport's for a group cut off.
    static Codes Gate(const GroupRecord& group, Codes normal);
    // What a call on `count` items returns: E_INVALIDARG for none, else S_OK or S_FALSE.
    static Codes ItemArrayCodes(DWORD count) { return count == 0 ? Codes{E_INVALIDARG} : Codes{S_OK, S_FALSE}; }
    // Handles for a call on `group`: valid, another group's, stale or made up.
    std::vector<OPCHANDLE> Handles(const GroupRecord& group, DWORD count);
    std::vector<std::wstring> ItemIds(DWORD count);
    // `text` cut to a few dozen characters when it is one of the `count` strings of a huge call.
    static std::wstring ShortIfHuge(std::wstring text, DWORD count);
    // The client lets go of the group: a live one stays in the server's table; one whose removal
    // was pending or that was cut off goes.
    void LetGo(GroupRecord& group);
    void Forget(GroupRecord& group);
    // Whether a group of mine might hold `name` in the server's table: 1 surely, 0 surely not, -1
    // perhaps (a group let go while its removal was pending leaves the table when COM releases it).
    int NameInUse(const std::wstring& name) const;

    // IOPCServer
    void AddGroup();
    void GetErrorString();
    void GetGroupByName();
    void GetStatus();
    void RemoveGroup();
    void CreateGroupEnumerator();
    // IOPCCommon
    void SetLocaleID();
    void GetLocaleID();
    void QueryAvailableLocaleIDs();
    void CommonGetErrorString();
    void SetClientName();
    // IOPCServerPublicGroups
    void PublicGroups();
    // IOPCBrowseServerAddressSpace
    void QueryOrganization();
    void ChangeBrowsePosition();
    void BrowseOPCItemIDs();
    void GetItemID();
    void BrowseAccessPaths();
    // IOPCItemProperties
    void QueryAvailableProperties();
    void GetItemProperties();
    void LookupItemIDs();
    // IOPCBrowse
    void GetProperties();
    void Browse();
    // IOPCItemIO
    void ItemIORead();
    void ItemIOWriteVQT();
    // The shutdown connection point, and the connection points of groups
    void ShutdownConnectionPoint();
    void DataConnectionPoint();
    // IOPCGroupStateMgt(2), IOPCPublicGroupStateMgt
    void GetState();
    void SetState();
    void SetName();
    void CloneGroup();
    void KeepAlive();
    void PublicGroupState();
    // IOPCItemMgt and its enumerator
    void AddItems();
    void ValidateItems();
    void RemoveItems();
    void SetActiveState();
    void SetClientHandles();
    void SetDatatypes();
    void CreateEnumerator();
    // IOPCSyncIO(2)
    void SyncRead();
    void SyncWrite();
    void SyncReadMaxAge();
    void SyncWriteVQT();
    // IOPCAsyncIO (refused), IOPCAsyncIO2, IOPCAsyncIO3
    void AsyncIO1();
    void AsyncRead();
    void AsyncWrite();
    void Refresh2();
    void Cancel2();
    void Enable();
    void AsyncReadMaxAge();
    void AsyncWriteVQT();
    void RefreshMaxAge();
    // IOPCItemDeadbandMgt, IOPCItemSamplingMgt
    void SetItemDeadband();
    void GetItemDeadband();
    void ClearItemDeadband();
    void Sampling();
    // A connection dropped with whatever it holds, and a new one made
    void Reconnect();

    CallLog& log_;
    RandomArguments& random_;
    const CLSID clsid_;
    const std::vector<std::wstring> knownItems_;
    Connection connections_[2];
    int mine_ = 0;
    ComPtr<Sink> sink_;
    std::vector<DWORD> cancelIds_;
};

}  // namespace hostile
