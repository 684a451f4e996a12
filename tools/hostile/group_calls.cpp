// Operations on a group: IOPCGroupStateMgt(2), IOPCPublicGroupStateMgt, IOPCItemMgt with its
// enumerator, IOPCItemDeadbandMgt, IOPCItemSamplingMgt, and the data-callback connection point.
#include "tools/hostile/enumerators.h"
#include "tools/hostile/session.h"
#include "tools/hostile/with_group.h"

#include "opcerror.h"

#include <algorithm>

namespace hostile {

namespace {

std::string N(unsigned long long value) { return std::to_string(value); }

bool RateKept(DWORD rate) { return rate != 0 && rate % 200 == 0; }

const Codes kHandleCodes = {S_OK, OPC_E_INVALIDHANDLE};

}  // namespace


void Session::GetState() {
    WITH_GROUP(IOPCGroupStateMgt, IID_IOPCGroupStateMgt, "IOPCGroupStateMgt")
    DWORD rate = 0, lcid = 0;
    BOOL active = FALSE;
    LPWSTR name = nullptr;
    LONG bias = 0;
    FLOAT band = 0;
    OPCHANDLE client = 0, server = 0;
    const HRESULT hr = log_.call("IOPCGroupStateMgt::GetState", Gate(*group, {S_OK}), "", [&] {
        return object->GetState(&rate, &active, &name, &bias, &band, &lcid, &client, &server);
    });
    if (hr == S_OK && (server != group->serverHandle || !name || group->name != name))
        log_.finding("IOPCGroupStateMgt::GetState", "named the group otherwise than it was made");
    CoTaskMemFree(name);
}

void Session::SetState() {
    WITH_GROUP(IOPCGroupStateMgt, IID_IOPCGroupStateMgt, "IOPCGroupStateMgt")
    DWORD rate = random_.updateRate(), revised = 0, lcid = random_.locale();
    BOOL active = random_.chance(0.5);
    LONG bias = static_cast<LONG>(random_.any32());
    FLOAT band = random_.deadband();
    OPCHANDLE client = random_.any32();
    const bool giveRate = random_.chance(0.5), giveLcid = random_.chance(0.3);
    Codes normal{giveRate && !RateKept(rate) ? OPC_S_UNSUPPORTEDRATE : S_OK};
    if (giveLcid && lcid != 0x0800 && lcid != 0x0409) normal.push_back(E_INVALIDARG);
    log_.call("IOPCGroupStateMgt::SetState", Gate(*group, normal),
              (giveRate ? "rate " + N(rate) : "no rate") + ", deadband " + std::to_string(band) +
                  (giveLcid ? ", lcid " + N(lcid) : ""),
              [&] {
                  return object->SetState(giveRate ? &rate : nullptr, &revised, random_.chance(0.5) ? &active : nullptr,
                                          random_.chance(0.3) ? &bias : nullptr, random_.chance(0.5) ? &band : nullptr,
                                          giveLcid ? &lcid : nullptr, random_.chance(0.3) ? &client : nullptr);
              });
}

void Session::SetName() {
    WITH_GROUP(IOPCGroupStateMgt, IID_IOPCGroupStateMgt, "IOPCGroupStateMgt")
    std::wstring name = random_.name();
    if (random_.chance(0.2)) name = group->name;
    const int inUse = name == group->name ? 0 : NameInUse(name);
    Codes normal = name.empty() ? Codes{E_INVALIDARG} : inUse == 1 ? Codes{OPC_E_DUPLICATENAME} : Codes{S_OK};
    if (inUse == -1) normal.push_back(OPC_E_DUPLICATENAME);
    if (log_.call("IOPCGroupStateMgt::SetName", Gate(*group, normal), Describe(name),
                  [&] { return object->SetName(name.c_str()); }) == S_OK)
        group->name = name;
}

void Session::CloneGroup() {
    WITH_GROUP(IOPCGroupStateMgt, IID_IOPCGroupStateMgt, "IOPCGroupStateMgt")
    if (Mine().groups.size() >= 10) {
        RemoveGroup();
        return;
    }
    const std::wstring name = random_.chance(0.4) ? L"" : random_.name();
    const IID iid = random_.chance(0.7) ? IID_IOPCGroupStateMgt : random_.iid();
    const int inUse = name.empty() ? 0 : NameInUse(name);
    Codes normal = inUse == 1 ? Codes{OPC_E_DUPLICATENAME} : GroupHas(iid) ? Codes{S_OK} : Codes{E_NOINTERFACE};
    if (inUse == -1) normal.push_back(OPC_E_DUPLICATENAME);
    ComPtr<IUnknown> clone;
    const std::vector<OPCHANDLE> items = group->items;
    const HRESULT hr = log_.call("IOPCGroupStateMgt::CloneGroup", Gate(*group, normal), Describe(name),
                                 [&] { return object->CloneGroup(name.c_str(), iid, clone.ReleaseAndGetAddressOf()); });
    if (FAILED(hr) || !clone) return;
    GroupRecord record;
    record.object = std::move(clone);
    record.items = items;
    ComPtr<IOPCGroupStateMgt> state = As<IOPCGroupStateMgt>(record, IID_IOPCGroupStateMgt);
    DWORD r = 0, l = 0;
    BOOL a = FALSE;
    LPWSTR given = nullptr;
    LONG b = 0;
    FLOAT d = 0;
    OPCHANDLE client = 0;
    if (state && SUCCEEDED(log_.call("IOPCGroupStateMgt::GetState", {S_OK}, "a clone", [&] {
            return state->GetState(&r, &a, &given, &b, &d, &l, &client, &record.serverHandle);
        })) && given) {
        record.name = given;
        if (!name.empty() && record.name != name)
            log_.finding("IOPCGroupStateMgt::CloneGroup", "named the clone otherwise than asked");
        Mine().groups.push_back(std::move(record));
    }
    CoTaskMemFree(given);
}

void Session::KeepAlive() {
    WITH_GROUP(IOPCGroupStateMgt2, IID_IOPCGroupStateMgt2, "IOPCGroupStateMgt2")
    if (random_.chance(0.5)) {
        DWORD kept = 0;
        log_.call("IOPCGroupStateMgt2::GetKeepAlive", Gate(*group, {S_OK}), "", [&] { return object->GetKeepAlive(&kept); });
        return;
    }
    const DWORD time = random_.chance(0.3) ? 0 : random_.updateRate();
    DWORD revised = 0;
    log_.call("IOPCGroupStateMgt2::SetKeepAlive",
              Gate(*group, {time == 0 || RateKept(time) ? S_OK : OPC_S_UNSUPPORTEDRATE}), "time " + N(time),
              [&] { return object->SetKeepAlive(time, &revised); });
}

void Session::PublicGroupState() {
    WITH_GROUP(IOPCPublicGroupStateMgt, IID_IOPCPublicGroupStateMgt, "IOPCPublicGroupStateMgt")
    // Public groups do not exist: refused before any other check.
    const Codes refused = group->life == GroupRecord::Life::cutOff ? DisconnectedCodes() : Codes{E_NOTIMPL};
    if (random_.chance(0.5)) {
        BOOL isPublic = FALSE;
        log_.call("IOPCPublicGroupStateMgt::GetState", refused, "", [&] { return object->GetState(&isPublic); });
    } else {
        log_.call("IOPCPublicGroupStateMgt::MoveToPublic", refused, "", [&] { return object->MoveToPublic(); });
    }
}

void Session::AddItems() {
    WITH_GROUP(IOPCItemMgt, IID_IOPCItemMgt, "IOPCItemMgt")
    const DWORD count = random_.count();
    std::vector<std::wstring> ids = ItemIds(count), paths(count);
    std::vector<OPCITEMDEF> definitions(count > 0 ? count : 1, OPCITEMDEF{});
    BYTE blob[16] = {};
    for (DWORD i = 0; i < count; ++i) {
        OPCITEMDEF& definition = definitions[i];
        definition.szItemID = random_.chance(0.02) ? nullptr : ids[i].data();
        paths[i] = ShortIfHuge(random_.chance(0.8) ? L"" : random_.name(), count);
        definition.szAccessPath = random_.chance(0.3) ? nullptr : paths[i].data();
        definition.bActive = random_.chance(0.7);
        definition.hClient = random_.any32();
        definition.vtRequestedDataType = random_.chance(0.6) ? VARTYPE{VT_EMPTY} : random_.varType();
        if (random_.chance(0.05)) {
            definition.dwBlobSize = sizeof blob;
            definition.pBlob = blob;
        }
    }
    OPCITEMRESULT* results = nullptr;
    HRESULT* errors = nullptr;
    const std::string args = N(count) + " items" + (count > 0 ? ", first " + Describe(ids[0]) : "");
    const HRESULT hr = log_.call("IOPCItemMgt::AddItems", Gate(*group, ItemArrayCodes(count)),
                                 args, [&] { return object->AddItems(count, definitions.data(), &results, &errors); });
    log_.checkItems("IOPCItemMgt::AddItems", hr, errors, count,
                    {S_OK, OPC_E_INVALIDITEMID, OPC_E_UNKNOWNITEMID, E_FAIL, OPC_E_BADTYPE}, args);
    for (DWORD i = 0; results && i < count; ++i) {
        if (errors && SUCCEEDED(errors[i]) && group->items.size() < 20000) group->items.push_back(results[i].hServer);
        CoTaskMemFree(results[i].pBlob);
    }
    CoTaskMemFree(results);
    CoTaskMemFree(errors);
}

void Session::ValidateItems() {
    WITH_GROUP(IOPCItemMgt, IID_IOPCItemMgt, "IOPCItemMgt")
    const DWORD count = random_.count();
    std::vector<std::wstring> ids = ItemIds(count);
    std::vector<OPCITEMDEF> definitions(count > 0 ? count : 1, OPCITEMDEF{});
    for (DWORD i = 0; i < count; ++i) {
        definitions[i].szItemID = ids[i].data();
        definitions[i].szAccessPath = random_.chance(0.5) ? nullptr : const_cast<LPWSTR>(L"");
        definitions[i].vtRequestedDataType = random_.chance(0.6) ? VARTYPE{VT_EMPTY} : random_.varType();
    }
    OPCITEMRESULT* results = nullptr;
    HRESULT* errors = nullptr;
    const std::string args = N(count) + " items" + (count > 0 ? ", first " + Describe(ids[0]) : "");
    const HRESULT hr = log_.call(
        "IOPCItemMgt::ValidateItems", Gate(*group, ItemArrayCodes(count)), args,
        [&] { return object->ValidateItems(count, definitions.data(), random_.chance(0.5), &results, &errors); });
    log_.checkItems("IOPCItemMgt::ValidateItems", hr, errors, count,
                    {S_OK, OPC_E_INVALIDITEMID, OPC_E_UNKNOWNITEMID, E_FAIL, OPC_E_BADTYPE}, args);
    for (DWORD i = 0; results && i < count; ++i) CoTaskMemFree(results[i].pBlob);
    CoTaskMemFree(results);
    CoTaskMemFree(errors);
}

void Session::RemoveItems() {
    WITH_GROUP(IOPCItemMgt, IID_IOPCItemMgt, "IOPCItemMgt")
    const DWORD count = random_.count();
    std::vector<OPCHANDLE> handles = Handles(*group, count);
    HRESULT* errors = nullptr;
    const std::string args = N(count) + " handles";
    const HRESULT hr = log_.call("IOPCItemMgt::RemoveItems",
                                 Gate(*group, ItemArrayCodes(count)), args,
                                 [&] { return object->RemoveItems(count, handles.data(), &errors); });
    log_.checkItems("IOPCItemMgt::RemoveItems", hr, errors, count, kHandleCodes, args);
    for (DWORD i = 0; errors && i < count; ++i) {
        const auto known = std::find(group->items.begin(), group->items.end(), handles[i]);
        if (known == group->items.end()) continue;
        if (errors[i] != S_OK)
            log_.finding("IOPCItemMgt::RemoveItems", "refused a handle of the group with " + Hex(errors[i]));
        group->removedItems.push_back(handles[i]);
        group->items.erase(known);
    }
    CoTaskMemFree(errors);
}

void Session::SetActiveState() {
    WITH_GROUP(IOPCItemMgt, IID_IOPCItemMgt, "IOPCItemMgt")
    const DWORD count = random_.count();
    std::vector<OPCHANDLE> handles = Handles(*group, count);
    HRESULT* errors = nullptr;
    const std::string args = N(count) + " handles";
    const HRESULT hr = log_.call("IOPCItemMgt::SetActiveState",
                                 Gate(*group, ItemArrayCodes(count)), args, [&] {
                                     return object->SetActiveState(count, handles.data(), random_.chance(0.5), &errors);
                                 });
    log_.checkItems("IOPCItemMgt::SetActiveState", hr, errors, count, kHandleCodes, args);
    CoTaskMemFree(errors);
}

void Session::SetClientHandles() {
    WITH_GROUP(IOPCItemMgt, IID_IOPCItemMgt, "IOPCItemMgt")
    const DWORD count = random_.count();
    std::vector<OPCHANDLE> handles = Handles(*group, count), clients(count > 0 ? count : 1);
    for (OPCHANDLE& client : clients) client = random_.any32();
    HRESULT* errors = nullptr;
    const std::string args = N(count) + " handles";
    const HRESULT hr = log_.call("IOPCItemMgt::SetClientHandles",
                                 Gate(*group, ItemArrayCodes(count)), args,
                                 [&] { return object->SetClientHandles(count, handles.data(), clients.data(), &errors); });
    log_.checkItems("IOPCItemMgt::SetClientHandles", hr, errors, count, kHandleCodes, args);
    CoTaskMemFree(errors);
}

void Session::SetDatatypes() {
    WITH_GROUP(IOPCItemMgt, IID_IOPCItemMgt, "IOPCItemMgt")
    const DWORD count = random_.count();
    std::vector<OPCHANDLE> handles = Handles(*group, count);
    std::vector<VARTYPE> types(count > 0 ? count : 1);
    for (VARTYPE& type : types) type = random_.varType();
    HRESULT* errors = nullptr;
    const std::string args = N(count) + " handles, first type " + N(types[0]);
    const HRESULT hr = log_.call("IOPCItemMgt::SetDatatypes",
                                 Gate(*group, ItemArrayCodes(count)), args,
                                 [&] { return object->SetDatatypes(count, handles.data(), types.data(), &errors); });
    log_.checkItems("IOPCItemMgt::SetDatatypes", hr, errors, count, {S_OK, OPC_E_INVALIDHANDLE, OPC_E_BADTYPE}, args);
    CoTaskMemFree(errors);
}

void Session::CreateEnumerator() {
    WITH_GROUP(IOPCItemMgt, IID_IOPCItemMgt, "IOPCItemMgt")
    const IID iid = random_.chance(0.8) ? IID_IEnumOPCItemAttributes : random_.iid();
    const bool attributes = IsEqualIID(iid, IID_IEnumOPCItemAttributes);
    Codes normal = !attributes ? Codes{E_INVALIDARG, E_NOINTERFACE} : group->items.empty() ? Codes{S_FALSE} : Codes{S_OK};
    // Items the client does not know of: a clone's, or those added under handles it never learnt.
    if (attributes && group->items.empty()) normal.push_back(S_OK);
    ComPtr<IUnknown> result;
    const HRESULT hr = log_.call("IOPCItemMgt::CreateEnumerator", Gate(*group, normal), "",
                                 [&] { return object->CreateEnumerator(iid, result.ReleaseAndGetAddressOf()); });
    if (hr == S_OK && attributes && result)
        ExerciseEnumerator(log_, random_, static_cast<IEnumOPCItemAttributes*>(static_cast<IUnknown*>(result.Get())));
}

void Session::SetItemDeadband() {
    WITH_GROUP(IOPCItemDeadbandMgt, IID_IOPCItemDeadbandMgt, "IOPCItemDeadbandMgt")
    const DWORD count = random_.count();
    std::vector<OPCHANDLE> handles = Handles(*group, count);
    std::vector<FLOAT> bands(count > 0 ? count : 1);
    for (FLOAT& band : bands) band = random_.deadband();
    HRESULT* errors = nullptr;
    const std::string args = N(count) + " handles, first deadband " + std::to_string(bands[0]);
    const HRESULT hr = log_.call("IOPCItemDeadbandMgt::SetItemDeadband",
                                 Gate(*group, ItemArrayCodes(count)), args,
                                 [&] { return object->SetItemDeadband(count, handles.data(), bands.data(), &errors); });
    log_.checkItems("IOPCItemDeadbandMgt::SetItemDeadband", hr, errors, count,
                    {S_OK, E_INVALIDARG, OPC_E_INVALIDHANDLE, OPC_E_DEADBANDNOTSUPPORTED}, args);
    CoTaskMemFree(errors);
}

void Session::GetItemDeadband() {
    WITH_GROUP(IOPCItemDeadbandMgt, IID_IOPCItemDeadbandMgt, "IOPCItemDeadbandMgt")
    const DWORD count = random_.count();
    std::vector<OPCHANDLE> handles = Handles(*group, count);
    FLOAT* bands = nullptr;
    HRESULT* errors = nullptr;
    const std::string args = N(count) + " handles";
    const HRESULT hr = log_.call("IOPCItemDeadbandMgt::GetItemDeadband",
                                 Gate(*group, ItemArrayCodes(count)), args,
                                 [&] { return object->GetItemDeadband(count, handles.data(), &bands, &errors); });
    log_.checkItems("IOPCItemDeadbandMgt::GetItemDeadband", hr, errors, count,
                    {S_OK, OPC_E_INVALIDHANDLE, OPC_E_DEADBANDNOTSUPPORTED, OPC_E_DEADBANDNOTSET}, args);
    CoTaskMemFree(bands);
    CoTaskMemFree(errors);
}

void Session::ClearItemDeadband() {
    WITH_GROUP(IOPCItemDeadbandMgt, IID_IOPCItemDeadbandMgt, "IOPCItemDeadbandMgt")
    const DWORD count = random_.count();
    std::vector<OPCHANDLE> handles = Handles(*group, count);
    HRESULT* errors = nullptr;
    const std::string args = N(count) + " handles";
    const HRESULT hr = log_.call("IOPCItemDeadbandMgt::ClearItemDeadband",
                                 Gate(*group, ItemArrayCodes(count)), args,
                                 [&] { return object->ClearItemDeadband(count, handles.data(), &errors); });
    log_.checkItems("IOPCItemDeadbandMgt::ClearItemDeadband", hr, errors, count,
                    {S_OK, OPC_E_INVALIDHANDLE, OPC_E_DEADBANDNOTSUPPORTED, OPC_E_DEADBANDNOTSET}, args);
    CoTaskMemFree(errors);
}

void Session::Sampling() {
    WITH_GROUP(IOPCItemSamplingMgt, IID_IOPCItemSamplingMgt, "IOPCItemSamplingMgt")
    const DWORD count = random_.count();
    std::vector<OPCHANDLE> handles = Handles(*group, count);
    std::vector<DWORD> rates(count > 0 ? count : 1);
    std::vector<BOOL> enable(count > 0 ? count : 1);
    for (DWORD i = 0; i < count; ++i) {
        rates[i] = random_.updateRate();
        enable[i] = random_.chance(0.5);
    }
    // Per-item sampling and buffering are not offered: refused whatever the arguments.
    Codes refused = Gate(*group, {E_NOTIMPL});
    if (group->life == GroupRecord::Life::removePending) refused.push_back(E_NOTIMPL);
    if (count == 0 && group->life == GroupRecord::Life::live) refused.push_back(E_INVALIDARG);
    DWORD* dwords = nullptr;
    BOOL* bools = nullptr;
    HRESULT* errors = nullptr;
    const std::string args = N(count) + " handles";
    switch (random_.between(0, 4)) {
    case 0:
        log_.call("IOPCItemSamplingMgt::SetItemSamplingRate", refused, args,
                  [&] { return object->SetItemSamplingRate(count, handles.data(), rates.data(), &dwords, &errors); });
        break;
    case 1:
        log_.call("IOPCItemSamplingMgt::GetItemSamplingRate", refused, args,
                  [&] { return object->GetItemSamplingRate(count, handles.data(), &dwords, &errors); });
        break;
    case 2:
        log_.call("IOPCItemSamplingMgt::ClearItemSamplingRate", refused, args,
                  [&] { return object->ClearItemSamplingRate(count, handles.data(), &errors); });
        break;
    case 3:
        log_.call("IOPCItemSamplingMgt::SetItemBufferEnable", refused, args,
                  [&] { return object->SetItemBufferEnable(count, handles.data(), enable.data(), &errors); });
        break;
    default:
        log_.call("IOPCItemSamplingMgt::GetItemBufferEnable", refused, args,
                  [&] { return object->GetItemBufferEnable(count, handles.data(), &bools, &errors); });
        break;
    }
    CoTaskMemFree(dwords);
    CoTaskMemFree(bools);
    CoTaskMemFree(errors);
}

void Session::DataConnectionPoint() {
    WITH_GROUP(IConnectionPointContainer, IID_IConnectionPointContainer, "IConnectionPointContainer")
    // The connection point is an object of its own: whether a forced removal cuts it off too is
    // the transport's business, so a cut-off group's point may answer either way.
    const bool cutOff = group->life == GroupRecord::Life::cutOff;
    const auto codes = [cutOff](Codes normal) {
        if (cutOff) normal.insert(normal.end(), DisconnectedCodes().begin(), DisconnectedCodes().end());
        return normal;
    };
    if (random_.chance(0.15)) {
        ComPtr<IEnumConnectionPoints> points;
        if (SUCCEEDED(log_.call("IConnectionPointContainer::EnumConnectionPoints",
                                codes({S_OK}), "a group's",
                                [&] { return object->EnumConnectionPoints(points.ReleaseAndGetAddressOf()); })) &&
            points)
            ExerciseEnumerator(log_, random_, points.Get());
        return;
    }
    if (!group->point || random_.chance(0.15)) {
        const IID iid = random_.chance(0.8) ? IID_IOPCDataCallback : random_.chance(0.5) ? IID_IOPCShutdown : random_.iid();
        const bool offered = IsEqualIID(iid, IID_IOPCDataCallback);
        ComPtr<IConnectionPoint> point;
        log_.call("IConnectionPointContainer::FindConnectionPoint",
                  codes({offered ? S_OK : CONNECT_E_NOCONNECTION}), "a group's",
                  [&] { return object->FindConnectionPoint(iid, point.ReleaseAndGetAddressOf()); });
        if (offered && point && !group->point) group->point = point;
        return;
    }
    IConnectionPoint* point = group->point.Get();
    switch (random_.between(0, 3)) {
    case 0: {
        // Passed back to its own server, an object cut off cannot be unmarshaled: only live ones.
        const bool wrongSink = group->life == GroupRecord::Life::live && random_.chance(0.2);
        DWORD cookie = 0;
        Codes normal = wrongSink ? Codes{CONNECT_E_CANNOTCONNECT, E_NOINTERFACE} : Codes{S_OK, CONNECT_E_ADVISELIMIT};
        const HRESULT hr = log_.call("IConnectionPoint::Advise", codes(normal),
                                     wrongSink ? "a group's, the group itself as the sink" : "a group's", [&] {
                                         return point->Advise(wrongSink ? group->object.Get()
                                                                        : static_cast<IOPCDataCallback*>(sink_.Get()),
                                                              &cookie);
                                     });
        if (SUCCEEDED(hr) && group->cookie == 0) group->cookie = cookie;
        break;
    }
    case 1: {
        const DWORD cookie = group->cookie && random_.chance(0.7) ? group->cookie : random_.any32();
        const bool ours = cookie == group->cookie && cookie != 0;
        log_.call("IConnectionPoint::Unadvise",
                  codes(ours ? Codes{S_OK} : Codes{CONNECT_E_NOCONNECTION, S_OK}),
                  "a group's, cookie " + N(cookie), [&] { return point->Unadvise(cookie); });
        if (ours) group->cookie = 0;
        break;
    }
    case 2: {
        IID iid{};
        if (log_.call("IConnectionPoint::GetConnectionInterface", codes({S_OK}),
                      "a group's", [&] { return point->GetConnectionInterface(&iid); }) == S_OK &&
            !IsEqualIID(iid, IID_IOPCDataCallback))
            log_.finding("IConnectionPoint::GetConnectionInterface", "of a group named another interface");
        break;
    }
    default: {
        ComPtr<IEnumConnections> connections;
        if (SUCCEEDED(log_.call("IConnectionPoint::EnumConnections", codes({S_OK, E_NOTIMPL}),
                                "a group's",
                                [&] { return point->EnumConnections(connections.ReleaseAndGetAddressOf()); })) &&
            connections)
            ExerciseEnumerator(log_, random_, connections.Get());
        break;
    }
    }
}

}  // namespace hostile
