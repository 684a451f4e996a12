// Operations on the server object: IOPCServer, IOPCCommon, IOPCServerPublicGroups, the shutdown
// connection point.
#include "tools/hostile/enumerators.h"
#include "tools/hostile/session.h"

#include "opcerror.h"

namespace hostile {

namespace {

std::string Args(std::initializer_list<std::string> parts) {
    std::string text;
    for (const std::string& part : parts) text += (text.empty() ? "" : ", ") + part;
    return text;
}

std::string N(unsigned long long value) { return std::to_string(value); }

}  // namespace

void Session::AddGroup() {
    Connection& connection = Mine();
    if (connection.groups.size() >= 10) {
        RemoveGroup();
        return;
    }
    const std::wstring name = random_.chance(0.3) ? L"" : random_.name();
    const DWORD rate = random_.updateRate();
    LONG bias = static_cast<LONG>(random_.any32());
    FLOAT band = random_.deadband();
    const LCID lcid = random_.locale();
    const IID iid = random_.chance(0.7) ? IID_IOPCItemMgt : random_.iid();
    const BOOL active = random_.chance(0.5);
    const int inUse = name.empty() ? 0 : NameInUse(name);
    Codes allowed = inUse == 1                ? Codes{OPC_E_DUPLICATENAME}
                    : !GroupHas(iid)          ? Codes{E_NOINTERFACE}
                    : rate % 200 == 0 && rate ? Codes{S_OK}
                                              : Codes{OPC_S_UNSUPPORTEDRATE};
    if (inUse == -1) allowed.push_back(OPC_E_DUPLICATENAME);
    OPCHANDLE handle = 0;
    DWORD revised = 0;
    ComPtr<IUnknown> group;
    const HRESULT hr = log_.call(
        "IOPCServer::AddGroup", allowed,
        Args({Describe(name), "rate " + N(rate), "deadband " + std::to_string(band), "lcid " + N(lcid)}), [&] {
            return connection.server->AddGroup(name.c_str(), active, rate, random_.any32(),
                                               random_.chance(0.5) ? &bias : nullptr,
                                               random_.chance(0.5) ? &band : nullptr, lcid, &handle, &revised, iid,
                                               group.ReleaseAndGetAddressOf());
        });
    if (FAILED(hr) || !group) return;
    if (revised < 200 || revised % 200 != 0 || (hr == S_OK) != (revised == rate))
        log_.finding("IOPCServer::AddGroup", "revised the rate " + N(rate) + " to " + N(revised) + " with " + Hex(hr));
    GroupRecord record;
    record.object = std::move(group);
    record.serverHandle = handle;
    record.name = name;
    if (name.empty()) {
        // The server chose the name: GetState tells it.
        ComPtr<IOPCGroupStateMgt> state;
        record.object->QueryInterface(IID_IOPCGroupStateMgt, reinterpret_cast<void**>(state.ReleaseAndGetAddressOf()));
        DWORD r = 0, l = 0;
        BOOL a = FALSE;
        LPWSTR given = nullptr;
        LONG b = 0;
        FLOAT d = 0;
        OPCHANDLE hc = 0, hs = 0;
        if (state && SUCCEEDED(log_.call("IOPCGroupStateMgt::GetState", {S_OK}, "", [&] {
                return state->GetState(&r, &a, &given, &b, &d, &l, &hc, &hs);
            })) && given)
            record.name = given;
        CoTaskMemFree(given);
    }
    connection.groups.push_back(std::move(record));
}

void Session::GetErrorString() {
    const HRESULT code = random_.errorCode();
    LPWSTR text = nullptr;
    const bool noText = code == S_OK || code == S_FALSE || code == E_POINTER;
    log_.call("IOPCServer::GetErrorString", noText ? Codes{E_INVALIDARG} : Codes{S_OK, E_INVALIDARG},
              "code " + Hex(code), [&] { return Mine().server->GetErrorString(code, random_.locale(), &text); });
    CoTaskMemFree(text);
}

void Session::CommonGetErrorString() {
    IOPCCommon* common = Server<IOPCCommon>(IID_IOPCCommon);
    const HRESULT code = random_.errorCode();
    LPWSTR text = nullptr;
    const bool noText = code == S_OK || code == S_FALSE || code == E_POINTER;
    log_.call("IOPCCommon::GetErrorString", noText ? Codes{E_INVALIDARG} : Codes{S_OK, E_INVALIDARG},
              "code " + Hex(code), [&] { return common->GetErrorString(code, &text); });
    CoTaskMemFree(text);
}

void Session::GetGroupByName() {
    std::wstring name = random_.name();
    if (!Mine().groups.empty() && random_.chance(0.6)) name = random_.pick(Mine().groups).name;
    const IID iid = random_.chance(0.7) ? IID_IOPCGroupStateMgt : random_.iid();
    const int inUse = name.empty() ? 0 : NameInUse(name);
    const HRESULT found = GroupHas(iid) ? S_OK : E_NOINTERFACE;
    Codes allowed = name.empty() ? Codes{E_INVALIDARG} : inUse == 1 ? Codes{found} : Codes{E_FAIL};
    if (inUse == -1) allowed.push_back(found);
    ComPtr<IUnknown> group;
    log_.call("IOPCServer::GetGroupByName", allowed, Describe(name),
              [&] { return Mine().server->GetGroupByName(name.c_str(), iid, group.ReleaseAndGetAddressOf()); });
}

void Session::GetStatus() {
    OPCSERVERSTATUS* status = nullptr;
    if (SUCCEEDED(log_.call("IOPCServer::GetStatus", {S_OK}, "", [&] { return Mine().server->GetStatus(&status); })) &&
        status) {
        if (status->dwServerState != OPC_STATUS_RUNNING)
            log_.finding("IOPCServer::GetStatus", "reported the state " + N(status->dwServerState));
        std::size_t listed = 0;
        for (const GroupRecord& group : Mine().groups) listed += group.life != GroupRecord::Life::cutOff;
        if (status->dwGroupCount < listed ||
            status->dwGroupCount > listed + Mine().fadingNames.size())
            log_.finding("IOPCServer::GetStatus", "counted " + N(status->dwGroupCount) + " groups; " + N(listed) +
                                                      " are listed");
        CoTaskMemFree(status->szVendorInfo);
        CoTaskMemFree(status);
    }
}

void Session::RemoveGroup() {
    Connection& connection = Mine();
    OPCHANDLE handle = random_.handle({}, {}, connection.removedGroups);
    if (!connection.groups.empty() && random_.chance(0.7)) handle = random_.pick(connection.groups).serverHandle;
    if (!Other().groups.empty() && random_.chance(0.1)) handle = random_.pick(Other().groups).serverHandle;
    const BOOL force = random_.chance(0.5);
    GroupRecord* group = GroupByHandle(handle);
    using Life = GroupRecord::Life;
    Codes allowed{E_INVALIDARG};
    if (group && group->life == Life::live)
        allowed = group->object ? Codes{force ? S_OK : OPC_S_INUSE} : Codes{S_OK, OPC_S_INUSE};
    else if (group && group->life == Life::removePending)
        allowed = force ? Codes{S_OK} : Codes{OPC_S_INUSE, S_OK, E_INVALIDARG, E_FAIL};
    const HRESULT hr = log_.call("IOPCServer::RemoveGroup", allowed,
                                 "handle " + N(handle) + (force ? ", forced" : ""),
                                 [&] { return connection.server->RemoveGroup(handle, force); });
    if (!group || FAILED(hr) || (group = GroupByHandle(handle)) == nullptr) return;
    if (force) {
        group->life = Life::cutOff;
        if (!group->object) Forget(*group);
    } else if (hr == OPC_S_INUSE) {
        group->life = Life::removePending;
        if (!group->object) Forget(*group);
    } else if (hr == S_OK) {
        group->life = Life::cutOff;
        Forget(*group);
    }
}

void Session::CreateGroupEnumerator() {
    const IID iid = random_.chance(0.4) ? IID_IEnumString : random_.chance(0.6) ? IID_IEnumUnknown : random_.iid();
    const bool enumerator = IsEqualIID(iid, IID_IEnumString) || IsEqualIID(iid, IID_IEnumUnknown);
    std::size_t listed = 0;
    for (const GroupRecord& group : Mine().groups) listed += group.life != GroupRecord::Life::cutOff;
    Codes allowed = !enumerator ? Codes{E_INVALIDARG} : listed > 0 ? Codes{S_OK} : Codes{S_FALSE};
    if (enumerator && listed == 0 && !Mine().fadingNames.empty()) allowed.push_back(S_OK);
    ComPtr<IUnknown> result;
    const auto scope = static_cast<OPCENUMSCOPE>(random_.enumValue(1, 6));
    const HRESULT hr = log_.call("IOPCServer::CreateGroupEnumerator", allowed, "scope " + N(scope), [&] {
        return Mine().server->CreateGroupEnumerator(scope, iid, result.ReleaseAndGetAddressOf());
    });
    if (FAILED(hr) || !result) return;
    if (IsEqualIID(iid, IID_IEnumString))
        ExerciseEnumerator(log_, random_, static_cast<IEnumString*>(static_cast<IUnknown*>(result.Get())));
    else
        ExerciseEnumerator(log_, random_, static_cast<IEnumUnknown*>(static_cast<IUnknown*>(result.Get())));
}

void Session::SetLocaleID() {
    IOPCCommon* common = Server<IOPCCommon>(IID_IOPCCommon);
    const LCID locale = random_.locale();
    const bool supported = locale == 0x0800 || locale == 0x0409;
    if (SUCCEEDED(log_.call("IOPCCommon::SetLocaleID", {supported ? S_OK : E_INVALIDARG}, "lcid " + N(locale),
                            [&] { return common->SetLocaleID(locale); })))
        Mine().locale = locale;
}

void Session::GetLocaleID() {
    IOPCCommon* common = Server<IOPCCommon>(IID_IOPCCommon);
    LCID locale = 0;
    if (SUCCEEDED(log_.call("IOPCCommon::GetLocaleID", {S_OK}, "", [&] { return common->GetLocaleID(&locale); })) &&
        locale != Mine().locale)
        log_.finding("IOPCCommon::GetLocaleID", "gave " + N(locale) + " after " + N(Mine().locale) + " was set");
}

void Session::QueryAvailableLocaleIDs() {
    IOPCCommon* common = Server<IOPCCommon>(IID_IOPCCommon);
    DWORD count = 0;
    LCID* locales = nullptr;
    if (SUCCEEDED(log_.call("IOPCCommon::QueryAvailableLocaleIDs", {S_OK}, "",
                            [&] { return common->QueryAvailableLocaleIDs(&count, &locales); })) &&
        (count != 2 || !locales || locales[0] != 0x0800 || locales[1] != 0x0409))
        log_.finding("IOPCCommon::QueryAvailableLocaleIDs", "listed " + N(count) + " locales");
    CoTaskMemFree(locales);
}

void Session::SetClientName() {
    IOPCCommon* common = Server<IOPCCommon>(IID_IOPCCommon);
    const std::wstring name = random_.name();
    log_.call("IOPCCommon::SetClientName", {S_OK}, Describe(name), [&] { return common->SetClientName(name.c_str()); });
}

void Session::PublicGroups() {
    IOPCServerPublicGroups* publicGroups = Server<IOPCServerPublicGroups>(IID_IOPCServerPublicGroups);
    if (!publicGroups) {
        log_.finding("IOPCServerPublicGroups", "is not offered");
        return;
    }
    if (random_.chance(0.5)) {
        const std::wstring name = random_.name();
        ComPtr<IUnknown> group;
        log_.call("IOPCServerPublicGroups::GetPublicGroupByName", {E_NOTIMPL}, Describe(name), [&] {
            return publicGroups->GetPublicGroupByName(name.c_str(), random_.iid(), group.ReleaseAndGetAddressOf());
        });
    } else {
        const OPCHANDLE handle = random_.handle({}, {}, Mine().removedGroups);
        log_.call("IOPCServerPublicGroups::RemovePublicGroup", {E_NOTIMPL}, "handle " + N(handle),
                  [&] { return publicGroups->RemovePublicGroup(handle, random_.chance(0.5)); });
    }
}

void Session::ShutdownConnectionPoint() {
    Connection& connection = Mine();
    IConnectionPointContainer* container = Server<IConnectionPointContainer>(IID_IConnectionPointContainer);
    if (!container) {
        log_.finding("IConnectionPointContainer", "is not offered by the server object");
        return;
    }
    if (random_.chance(0.2)) {
        ComPtr<IEnumConnectionPoints> points;
        if (SUCCEEDED(log_.call("IConnectionPointContainer::EnumConnectionPoints", {S_OK}, "",
                                [&] { return container->EnumConnectionPoints(points.ReleaseAndGetAddressOf()); })) &&
            points)
            ExerciseEnumerator(log_, random_, points.Get());
        return;
    }
    if (!connection.shutdownPoint || random_.chance(0.2)) {
        const IID iid = random_.chance(0.7) ? IID_IOPCShutdown : random_.chance(0.5) ? IID_IOPCDataCallback : random_.iid();
        const bool offered = IsEqualIID(iid, IID_IOPCShutdown);
        ComPtr<IConnectionPoint> point;
        log_.call("IConnectionPointContainer::FindConnectionPoint", {offered ? S_OK : CONNECT_E_NOCONNECTION}, "",
                  [&] { return container->FindConnectionPoint(iid, point.ReleaseAndGetAddressOf()); });
        if (offered && point && !connection.shutdownPoint) connection.shutdownPoint = point;
        return;
    }
    IConnectionPoint* point = connection.shutdownPoint.Get();
    switch (random_.between(0, 4)) {
    case 0: {
        IID iid{};
        if (SUCCEEDED(log_.call("IConnectionPoint::GetConnectionInterface", {S_OK}, "",
                                [&] { return point->GetConnectionInterface(&iid); })) &&
            !IsEqualIID(iid, IID_IOPCShutdown))
            log_.finding("IConnectionPoint::GetConnectionInterface", "named another interface than IOPCShutdown");
        break;
    }
    case 1: {
        ComPtr<IConnectionPointContainer> back;
        log_.call("IConnectionPoint::GetConnectionPointContainer", {S_OK}, "",
                  [&] { return point->GetConnectionPointContainer(back.ReleaseAndGetAddressOf()); });
        break;
    }
    case 2: {
        // Our sink, or an object without IOPCShutdown (the server's own group).
        GroupRecord* group = AnyGroup();
        // Passed back to its own server, an object cut off cannot be unmarshaled: only live ones.
        const bool wrongSink = group && group->life == GroupRecord::Life::live && random_.chance(0.3);
        DWORD cookie = 0;
        const HRESULT hr = log_.call(
            "IConnectionPoint::Advise",
            wrongSink ? Codes{CONNECT_E_CANNOTCONNECT, E_NOINTERFACE} : Codes{S_OK, CONNECT_E_ADVISELIMIT},
            wrongSink ? "a group as the sink" : "", [&] {
                return point->Advise(wrongSink ? group->object.Get() : static_cast<IOPCShutdown*>(sink_.Get()), &cookie);
            });
        if (SUCCEEDED(hr) && connection.shutdownCookie == 0) connection.shutdownCookie = cookie;
        break;
    }
    case 3: {
        const DWORD cookie = connection.shutdownCookie && random_.chance(0.6) ? connection.shutdownCookie : random_.any32();
        const bool ours = cookie == connection.shutdownCookie && cookie != 0;
        log_.call("IConnectionPoint::Unadvise", ours ? Codes{S_OK} : Codes{CONNECT_E_NOCONNECTION, S_OK},
                  "cookie " + N(cookie), [&] { return point->Unadvise(cookie); });
        if (ours) connection.shutdownCookie = 0;
        break;
    }
    default: {
        ComPtr<IEnumConnections> connections;
        if (SUCCEEDED(log_.call("IConnectionPoint::EnumConnections", {S_OK, E_NOTIMPL}, "",
                                [&] { return point->EnumConnections(connections.ReleaseAndGetAddressOf()); })) &&
            connections)
            ExerciseEnumerator(log_, random_, connections.Get());
        break;
    }
    }
}

}  // namespace hostile
