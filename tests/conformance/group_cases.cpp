// Cases of the group object: its state, its items and their attributes, deadbands and sampling.
#include "cases.h"

#include "canned_space.h"
#include "conformance_protocol.h"

namespace conformance::client {

namespace {

const std::wstring kLong = longText();
const std::wstring kChineseItem = L"\u6cf5\u7ad9.\u51fa\u6c34\u6e29\u5ea6";  // 泵站.出水温度

// An item definition as the test writes it; def() points into it.
struct Definition {
    std::optional<std::wstring> accessPath;
    std::wstring itemId;
    BOOL active;
    OPCHANDLE clientHandle;
    std::vector<BYTE> blob;
    VARTYPE requestedType;

    OPCITEMDEF def() const {
        OPCITEMDEF d{};
        d.szAccessPath = accessPath ? const_cast<LPWSTR>(accessPath->c_str()) : nullptr;
        d.szItemID = const_cast<LPWSTR>(itemId.c_str());
        d.bActive = active;
        d.hClient = clientHandle;
        d.dwBlobSize = static_cast<DWORD>(blob.size());
        d.pBlob = blob.empty() ? nullptr : const_cast<BYTE*>(blob.data());
        d.vtRequestedDataType = requestedType;
        return d;
    }
    // The result's blob: the definition's, then the access path's UTF-16LE bytes.
    std::vector<BYTE> resultBlob() const {
        std::vector<BYTE> bytes = blob;
        if (accessPath) {
            const auto* raw = reinterpret_cast<const BYTE*>(accessPath->data());
            bytes.insert(bytes.end(), raw, raw + accessPath->size() * sizeof(wchar_t));
        }
        return bytes;
    }
};

std::vector<OPCITEMDEF> defs(const std::vector<Definition>& definitions) {
    std::vector<OPCITEMDEF> all;
    for (const Definition& d : definitions) all.push_back(d.def());
    return all;
}

std::vector<BYTE> bytes(const BYTE* data, DWORD size) {
    return data ? std::vector<BYTE>(data, data + size) : std::vector<BYTE>();
}

VARTYPE canonicalType(const std::wstring& itemId) { return V_VT(&canned(itemId).get()); }

// What IEnumOPCItemAttributes must hand out for an item added from `d` as `serverHandle`.
void expectAttributes(const OPCITEMATTRIBUTES& got, const Definition& d, OPCHANDLE serverHandle) {
    SCOPED_TRACE("attributes of " + utf8(d.itemId));
    EXPECT_EQ(text(got.szAccessPath), Text(d.accessPath.value_or(L"")));
    EXPECT_EQ(text(got.szItemID), Text(d.itemId));
    EXPECT_EQ(got.bActive, d.active);
    EXPECT_EQ(got.hClient, d.clientHandle);
    EXPECT_EQ(got.hServer, serverHandle);
    EXPECT_EQ(got.dwAccessRights, OPC_READABLE | OPC_WRITEABLE);
    EXPECT_EQ(bytes(got.pBlob, got.dwBlobSize), d.blob);
    EXPECT_EQ(got.vtRequestedDataType, d.requestedType);
    EXPECT_EQ(got.vtCanonicalDataType, canonicalType(d.itemId));
    EXPECT_EQ(got.dwEUType, cannedEuType(d.itemId));
    Variant euInfo;
    require(cannedEuInfo(d.itemId, euInfo.put()), "canned EU info");
    EXPECT_TRUE(sameVariant(got.vEUInfo, euInfo.get()));
}

using ReceivedAttributes = Received<OPCITEMATTRIBUTES, FreeItemAttributes>;

// Every item's attributes, through CreateEnumerator and Next.
std::vector<OPCITEMATTRIBUTES> attributes(const Session::Group& group, ReceivedAttributes& keep) {
    ComPtr<IUnknown> enumerator;
    const HRESULT hr = group.as<IOPCItemMgt>()->CreateEnumerator(IID_IEnumOPCItemAttributes,
                                                                 enumerator.ReleaseAndGetAddressOf());
    require(hr, "CreateEnumerator");
    if (hr == S_FALSE) return {};
    ULONG fetched = 0;
    require(require<IEnumOPCItemAttributes>(enumerator.Get(), "enumerator")->Next(100, keep.put(), &fetched), "Next");
    keep.setCount(fetched);
    return std::vector<OPCITEMATTRIBUTES>(keep.get(), keep.get() + fetched);
}

std::vector<OPCHANDLE> addDefinitions(const Session::Group& group, const std::vector<Definition>& definitions) {
    std::vector<OPCITEMDEF> all = defs(definitions);
    const auto count = static_cast<DWORD>(all.size());
    Received<OPCITEMRESULT, FreeItemResult> results(count);
    ReceivedErrors errors(count);
    require(group.as<IOPCItemMgt>()->AddItems(count, all.data(), results.put(), errors.put()), "AddItems");
    std::vector<OPCHANDLE> handles;
    for (DWORD i = 0; i < count; ++i) handles.push_back(SUCCEEDED(errors[i]) ? results[i].hServer : 0);
    return handles;
}

const std::vector<Definition>& itemDefinitions() {
    static const std::vector<Definition> all = {
        {std::nullopt, L"Values.I4", TRUE, 1, {}, VT_EMPTY},
        {kChinese, L"Values.Text", FALSE, 2, {1, 2, 3}, VT_BSTR},
        {L"COM1", kChineseItem, TRUE, 3, {0xFF}, VT_R8},
        {L"", L"Values.Nope", TRUE, 4, {9}, VT_EMPTY},
        {L"", L"Values.R8", TRUE, 5, {}, VT_DISPATCH},
        {kLong, L"Values.Texts", TRUE, 6, std::vector<BYTE>(1000, 0xA5), VT_ARRAY | VT_BSTR},
        {L"", L"", TRUE, 7, {}, VT_EMPTY},
    };
    return all;
}
const HRESULT kItemErrors[] = {S_OK, S_OK, S_OK, OPC_E_UNKNOWNITEMID, OPC_E_BADTYPE, S_OK, OPC_E_UNKNOWNITEMID};

}  // namespace

// Group state ------------------------------------------------------------------------------------

void groupGetState(Session& s) {
    for (const std::wstring& name : {kAscii, kChinese, kLong, std::wstring()}) {
        SCOPED_TRACE("group \"" + utf8(name.substr(0, 20)) + "\"");
        const Session::Group group = s.addGroup(name, 0xC0DE);
        const GroupStateSeen state = groupState(group.object.Get());
        EXPECT_EQ(Hr{state.hr}, Hr{S_OK});
        EXPECT_EQ(state.name, Text(name.empty() ? L"\u7ec4" + std::to_wstring(group.serverHandle) : name));
        EXPECT_EQ(state.updateRate, 1000u);
        EXPECT_TRUE(state.active);
        EXPECT_EQ(state.timeBias, kServerTimeBias);
        EXPECT_EQ(state.lcid, 0x409u);
        EXPECT_EQ(state.clientHandle, 0xC0DEu);
        EXPECT_EQ(state.serverHandle, group.serverHandle);
    }
}

void groupSetState(Session& s) {
    const Session::Group group = s.addGroup(kAscii, 0x10);
    ComPtr<IOPCGroupStateMgt> state = group.as<IOPCGroupStateMgt>();
    struct Step {
        const char* name;
        std::optional<DWORD> rate;
        std::optional<BOOL> active;
        std::optional<LONG> timeBias;
        std::optional<FLOAT> deadband;
        std::optional<DWORD> lcid;
        std::optional<OPCHANDLE> clientHandle;
        HRESULT expected;
        DWORD revised;  // the group's rate after the step
    };
    const Step steps[] = {
        {"nothing given", {}, {}, {}, {}, {}, {}, S_OK, 1000},
        {"a rate to revise", 5, {}, {}, {}, {}, {}, OPC_S_UNSUPPORTEDRATE, 10},
        {"everything but the rate", {}, FALSE, 120, 33.5f, 0x804, 0xABCD, S_OK, 10},
        {"everything", 0xFFFFFFFF, TRUE, -720, 0.0f, 0x409, 0, S_OK, 0xFFFFFFFF},
        {"deadband over 100: nothing changes", 2000, FALSE, 1, 100.5f, 1, 1, E_INVALIDARG, 0xFFFFFFFF},
    };
    GroupStateSeen expected = groupState(group.object.Get());
    for (const Step& step : steps) {
        SCOPED_TRACE(step.name);
        DWORD rate = step.rate.value_or(0);
        BOOL active = step.active.value_or(FALSE);
        LONG timeBias = step.timeBias.value_or(0);
        FLOAT deadband = step.deadband.value_or(0);
        DWORD lcid = step.lcid.value_or(0);
        OPCHANDLE clientHandle = step.clientHandle.value_or(0);
        DWORD revised = 0xBAD;
        EXPECT_EQ(Hr{state->SetState(step.rate ? &rate : nullptr, &revised, step.active ? &active : nullptr,
                                     step.timeBias ? &timeBias : nullptr, step.deadband ? &deadband : nullptr,
                                     step.lcid ? &lcid : nullptr, step.clientHandle ? &clientHandle : nullptr)},
                  Hr{step.expected});
        if (SUCCEEDED(step.expected)) {
            EXPECT_EQ(revised, step.revised);
            expected.updateRate = step.revised;
            expected.active = step.active.value_or(expected.active);
            expected.timeBias = step.timeBias.value_or(expected.timeBias);
            expected.percentDeadband = step.deadband.value_or(expected.percentDeadband);
            expected.lcid = step.lcid.value_or(expected.lcid);
            expected.clientHandle = step.clientHandle.value_or(expected.clientHandle);
        }
        const GroupStateSeen seen = groupState(group.object.Get());
        EXPECT_EQ(seen.updateRate, expected.updateRate);
        EXPECT_EQ(seen.active, expected.active);
        EXPECT_EQ(seen.timeBias, expected.timeBias);
        EXPECT_EQ(seen.percentDeadband, expected.percentDeadband);
        EXPECT_EQ(seen.lcid, expected.lcid);
        EXPECT_EQ(seen.clientHandle, expected.clientHandle);
        EXPECT_EQ(seen.name, Text(kAscii));
    }
}

void groupSetName(Session& s) {
    const Session::Group group = s.addGroup(kAscii);
    s.addGroup(L"taken");
    ComPtr<IOPCGroupStateMgt> state = group.as<IOPCGroupStateMgt>();
    struct Step {
        std::wstring name;
        HRESULT expected;
        std::wstring after;
    };
    const Step steps[] = {
        {kChinese, S_OK, kChinese},
        {L"taken", OPC_E_DUPLICATENAME, kChinese},
        {L"", E_INVALIDARG, kChinese},
        {kLong, S_OK, kLong},
        {kChinese, S_OK, kChinese},  // its own former name is free again
    };
    for (const Step& step : steps) {
        SCOPED_TRACE("SetName(\"" + utf8(step.name.substr(0, 20)) + "\")");
        EXPECT_EQ(Hr{state->SetName(step.name.c_str())}, Hr{step.expected});
        EXPECT_EQ(groupState(group.object.Get()).name, Text(step.after));
    }
}

void cloneGroup(Session& s) {
    const Session::Group original = s.addGroup(kAscii, 0x77);
    s.addItems(original, {L"Values.I4", kChineseItem});
    ComPtr<IOPCGroupStateMgt> state = original.as<IOPCGroupStateMgt>();
    const GroupStateSeen originalState = groupState(original.object.Get());
    struct Case {
        const char* name;
        std::wstring cloneName;
        const IID* iid;
        HRESULT expected;
    };
    const Case cases[] = {
        {"Chinese name, IOPCItemMgt", kChinese, &IID_IOPCItemMgt, S_OK},
        {"empty name: the server names it", L"", &IID_IOPCGroupStateMgt2, S_OK},
        {"name in use", kChinese, &IID_IUnknown, OPC_E_DUPLICATENAME},
        {"interface the group lacks", L"other", &IID_IOPCServer, E_NOINTERFACE},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ComPtr<IUnknown> clone;
        EXPECT_EQ(Hr{state->CloneGroup(c.cloneName.c_str(), *c.iid, clone.ReleaseAndGetAddressOf())}, Hr{c.expected});
        if (FAILED(c.expected)) {
            EXPECT_EQ(clone.Get(), nullptr);
            continue;
        }
        ASSERT_TRUE(clone);
        ComPtr<IUnknown> asked;
        require(clone->QueryInterface(*c.iid, reinterpret_cast<void**>(asked.ReleaseAndGetAddressOf())), "QI");
        EXPECT_EQ(asked.Get(), clone.Get()) << "the pointer came back as the interface asked for";
        const GroupStateSeen cloneState = groupState(clone.Get());
        EXPECT_NE(cloneState.serverHandle, originalState.serverHandle);
        EXPECT_EQ(cloneState.name,
                  Text(c.cloneName.empty() ? L"\u7ec4" + std::to_wstring(cloneState.serverHandle) : c.cloneName));
        EXPECT_FALSE(cloneState.active) << "clones start inactive";
        EXPECT_EQ(cloneState.updateRate, originalState.updateRate);
        EXPECT_EQ(cloneState.clientHandle, originalState.clientHandle);
        ReceivedAttributes keep(0);
        std::vector<Text> itemIds;
        for (const OPCITEMATTRIBUTES& a : attributes({clone, cloneState.serverHandle}, keep))
            itemIds.push_back(text(a.szItemID));
        EXPECT_EQ(itemIds, texts({L"Values.I4", kChineseItem}));
    }
}

void keepAlive(Session& s) {
    ComPtr<IOPCGroupStateMgt2> state = s.addGroup(kAscii).as<IOPCGroupStateMgt2>();
    struct Step {
        DWORD set;
        HRESULT expected;
        DWORD revised;
    };
    const Step steps[] = {
        {1000, S_OK, 1000}, {1001, OPC_S_UNSUPPORTEDRATE, 1100}, {50, OPC_S_UNSUPPORTEDRATE, 100}, {0, S_OK, 0}};
    DWORD current = 0xBAD;
    ASSERT_EQ(Hr{state->GetKeepAlive(&current)}, Hr{S_OK});
    EXPECT_EQ(current, 0u) << "no keep-alive at first";
    for (const Step& step : steps) {
        SCOPED_TRACE("SetKeepAlive(" + std::to_string(step.set) + ")");
        DWORD revised = 0xBAD;
        EXPECT_EQ(Hr{state->SetKeepAlive(step.set, &revised)}, Hr{step.expected});
        EXPECT_EQ(revised, step.revised);
        EXPECT_EQ(Hr{state->GetKeepAlive(&current)}, Hr{S_OK});
        EXPECT_EQ(current, step.revised);
    }
}

void publicGroupState(Session& s) {
    const Session::Group group = s.addGroup(kChinese);
    ComPtr<IOPCPublicGroupStateMgt> state = group.as<IOPCPublicGroupStateMgt>();
    BOOL isPublic = TRUE;
    EXPECT_EQ(Hr{state->GetState(&isPublic)}, Hr{S_OK});
    EXPECT_FALSE(isPublic);
    EXPECT_EQ(Hr{state->MoveToPublic()}, Hr{S_OK});
    EXPECT_EQ(Hr{state->GetState(&isPublic)}, Hr{S_OK});
    EXPECT_TRUE(isPublic);
    EXPECT_EQ(Hr{state->MoveToPublic()}, Hr{OPC_E_PUBLIC}) << "public already";
    ComPtr<IUnknown> found;
    EXPECT_EQ(Hr{require<IOPCServerPublicGroups>(s.server.Get(), "server")
                     ->GetPublicGroupByName(kChinese.c_str(), IID_IUnknown, found.ReleaseAndGetAddressOf())},
              Hr{S_OK});
}

// Items --------------------------------------------------------------------------------------------

void addItems(Session& s) {
    const Session::Group group = s.addGroup(kAscii);
    const std::vector<Definition>& definitions = itemDefinitions();
    std::vector<OPCITEMDEF> all = defs(definitions);
    const auto count = static_cast<DWORD>(all.size());
    Received<OPCITEMRESULT, FreeItemResult> results(count);
    ReceivedErrors errors(count);
    ASSERT_EQ(Hr{group.as<IOPCItemMgt>()->AddItems(count, all.data(), results.put(), errors.put())}, Hr{S_FALSE});
    ASSERT_TRUE(results && errors);
    std::vector<std::pair<const Definition*, OPCHANDLE>> added;
    for (DWORD i = 0; i < count; ++i) {
        const Definition& d = definitions[i];
        SCOPED_TRACE("item " + std::to_string(i) + " \"" + utf8(d.itemId) + "\"");
        EXPECT_EQ(Hr{errors[i]}, Hr{kItemErrors[i]});
        const OPCITEMRESULT& r = results[i];
        if (FAILED(kItemErrors[i])) {
            EXPECT_EQ(r.hServer, 0u);
            EXPECT_EQ(r.pBlob, nullptr);
            EXPECT_EQ(r.dwBlobSize, 0u);
            continue;
        }
        EXPECT_NE(r.hServer, 0u);
        EXPECT_EQ(r.vtCanonicalDataType, canonicalType(d.itemId));
        EXPECT_EQ(r.dwAccessRights, OPC_READABLE | OPC_WRITEABLE);
        EXPECT_EQ(r.wReserved, 0);
        EXPECT_EQ(bytes(r.pBlob, r.dwBlobSize), d.resultBlob());
        added.emplace_back(&d, r.hServer);
    }
    // What arrived besides the item IDs: the attributes give back active, client handle,
    // requested type, access path and blob.
    ReceivedAttributes keep(0);
    const std::vector<OPCITEMATTRIBUTES> seen = attributes(group, keep);
    ASSERT_EQ(seen.size(), added.size());
    for (std::size_t i = 0; i < seen.size(); ++i) expectAttributes(seen[i], *added[i].first, added[i].second);
}

void validateItems(Session& s) {
    const Session::Group group = s.addGroup(kAscii);
    const std::vector<Definition>& definitions = itemDefinitions();
    std::vector<OPCITEMDEF> all = defs(definitions);
    const auto count = static_cast<DWORD>(all.size());
    for (BOOL withBlob : {TRUE, FALSE}) {
        SCOPED_TRACE(withBlob ? "with blobs" : "without blobs");
        Received<OPCITEMRESULT, FreeItemResult> results(count);
        ReceivedErrors errors(count);
        ASSERT_EQ(Hr{group.as<IOPCItemMgt>()->ValidateItems(count, all.data(), withBlob, results.put(), errors.put())},
                  Hr{S_FALSE});
        for (DWORD i = 0; i < count; ++i) {
            SCOPED_TRACE("item " + std::to_string(i) + " \"" + utf8(definitions[i].itemId) + "\"");
            EXPECT_EQ(Hr{errors[i]}, Hr{kItemErrors[i]});
            EXPECT_EQ(results[i].hServer, 0u) << "validating adds nothing";
            if (FAILED(kItemErrors[i])) continue;
            EXPECT_EQ(results[i].vtCanonicalDataType, canonicalType(definitions[i].itemId));
            EXPECT_EQ(bytes(results[i].pBlob, results[i].dwBlobSize),
                      withBlob ? definitions[i].resultBlob() : std::vector<BYTE>());
        }
    }
    ReceivedAttributes keep(0);
    EXPECT_TRUE(attributes(group, keep).empty());
}

namespace {

// A group with three items, for the calls that change items by handle.
struct ThreeItems {
    Session::Group group;
    std::vector<OPCHANDLE> handles;
    static constexpr OPCHANDLE kBad = 0xBAD0;

    explicit ThreeItems(Session& s)
        : group(s.addGroup(kAscii)), handles(s.addItems(group, {L"Values.I4", L"Values.Text", kChineseItem})) {}

    std::vector<OPCITEMATTRIBUTES> attributes(ReceivedAttributes& keep) const {
        return conformance::client::attributes(group, keep);
    }
};

std::vector<HRESULT> errorList(const ReceivedErrors& errors, std::size_t count) {
    return std::vector<HRESULT>(errors.get(), errors.get() + count);
}

std::vector<Hr> hrs(std::vector<HRESULT> codes) {
    std::vector<Hr> all;
    for (HRESULT code : codes) all.push_back(Hr{code});
    return all;
}

}  // namespace

void removeItems(Session& s) {
    ThreeItems items(s);
    ComPtr<IOPCItemMgt> mgt = items.group.as<IOPCItemMgt>();
    OPCHANDLE first[] = {items.handles[0], ThreeItems::kBad, items.handles[2]};
    ReceivedErrors errors(3);
    EXPECT_EQ(Hr{mgt->RemoveItems(3, first, errors.put())}, Hr{S_FALSE});
    EXPECT_EQ(hrs(errorList(errors, 3)), hrs({S_OK, OPC_E_INVALIDHANDLE, S_OK}));
    OPCHANDLE again[] = {items.handles[0]};
    EXPECT_EQ(Hr{mgt->RemoveItems(1, again, errors.put())}, Hr{S_FALSE});
    EXPECT_EQ(Hr{errors[0]}, Hr{OPC_E_INVALIDHANDLE}) << "removed already";
    EXPECT_EQ(Hr{mgt->RemoveItems(0, again, errors.put())}, Hr{E_INVALIDARG});
    EXPECT_EQ(errors.get(), nullptr);
    ReceivedAttributes keep(0);
    const auto left = items.attributes(keep);
    ASSERT_EQ(left.size(), 1u);
    EXPECT_EQ(left[0].hServer, items.handles[1]);
}

void setActiveState(Session& s) {
    ThreeItems items(s);
    ComPtr<IOPCItemMgt> mgt = items.group.as<IOPCItemMgt>();
    OPCHANDLE handles[] = {items.handles[0], ThreeItems::kBad, items.handles[2]};
    ReceivedErrors errors(3);
    EXPECT_EQ(Hr{mgt->SetActiveState(3, handles, FALSE, errors.put())}, Hr{S_FALSE});
    EXPECT_EQ(hrs(errorList(errors, 3)), hrs({S_OK, OPC_E_INVALIDHANDLE, S_OK}));
    ReceivedAttributes keep(0);
    auto seen = items.attributes(keep);
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ((std::vector<BOOL>{seen[0].bActive, seen[1].bActive, seen[2].bActive}),
              (std::vector<BOOL>{FALSE, TRUE, FALSE}));
    EXPECT_EQ(Hr{mgt->SetActiveState(1, handles, TRUE, errors.put())}, Hr{S_OK});
    seen = items.attributes(keep);
    EXPECT_TRUE(seen[0].bActive);
}

void setClientHandles(Session& s) {
    ThreeItems items(s);
    OPCHANDLE handles[] = {items.handles[2], items.handles[0], ThreeItems::kBad};
    OPCHANDLE clientHandles[] = {0xC2, 0xFFFFFFFF, 0xC3};
    ReceivedErrors errors(3);
    EXPECT_EQ(Hr{items.group.as<IOPCItemMgt>()->SetClientHandles(3, handles, clientHandles, errors.put())},
              Hr{S_FALSE});
    EXPECT_EQ(hrs(errorList(errors, 3)), hrs({S_OK, S_OK, OPC_E_INVALIDHANDLE}));
    ReceivedAttributes keep(0);
    const auto seen = items.attributes(keep);
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ((std::vector<OPCHANDLE>{seen[0].hClient, seen[1].hClient, seen[2].hClient}),
              (std::vector<OPCHANDLE>{0xFFFFFFFF, 0x101, 0xC2}));
}

void setDatatypes(Session& s) {
    ThreeItems items(s);
    OPCHANDLE handles[] = {items.handles[0], items.handles[1], ThreeItems::kBad, items.handles[2]};
    VARTYPE types[] = {VT_R8, VT_DISPATCH, VT_I4, VT_ARRAY | VT_BSTR};
    ReceivedErrors errors(4);
    EXPECT_EQ(Hr{items.group.as<IOPCItemMgt>()->SetDatatypes(4, handles, types, errors.put())}, Hr{S_FALSE});
    EXPECT_EQ(hrs(errorList(errors, 4)), hrs({S_OK, OPC_E_BADTYPE, OPC_E_INVALIDHANDLE, S_OK}));
    ReceivedAttributes keep(0);
    const auto seen = items.attributes(keep);
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ((std::vector<VARTYPE>{seen[0].vtRequestedDataType, seen[1].vtRequestedDataType,
                                    seen[2].vtRequestedDataType}),
              (std::vector<VARTYPE>{VT_R8, VT_EMPTY, VT_ARRAY | VT_BSTR}));
}

void createEnumerator(Session& s) {
    const Session::Group group = s.addGroup(kAscii);
    ComPtr<IOPCItemMgt> mgt = group.as<IOPCItemMgt>();
    ComPtr<IUnknown> enumerator;
    EXPECT_EQ(Hr{mgt->CreateEnumerator(IID_IEnumOPCItemAttributes, enumerator.ReleaseAndGetAddressOf())},
              Hr{S_FALSE});
    EXPECT_EQ(enumerator.Get(), nullptr) << "no items: no enumerator";
    s.addItems(group, {L"Values.R8"});
    EXPECT_EQ(Hr{mgt->CreateEnumerator(IID_IOPCServer, enumerator.ReleaseAndGetAddressOf())}, Hr{E_NOINTERFACE});
    EXPECT_EQ(enumerator.Get(), nullptr);
    EXPECT_EQ(Hr{mgt->CreateEnumerator(IID_IEnumOPCItemAttributes, enumerator.ReleaseAndGetAddressOf())}, Hr{S_OK});
    ASSERT_TRUE(enumerator);
    ComPtr<IEnumOPCItemAttributes> typed = query<IEnumOPCItemAttributes>(enumerator.Get());
    EXPECT_EQ(static_cast<IUnknown*>(typed.Get()), enumerator.Get()) << "came back as IEnumOPCItemAttributes";
}

void itemAttributes(Session& s) {
    const Session::Group group = s.addGroup(kAscii);
    const std::vector<Definition> definitions = {
        {L"", L"Values.R8", TRUE, 0x10, {}, VT_EMPTY},                 // analog: EU [0, 100]
        {kChinese, L"Values.Bool", FALSE, 0x11, {7, 7}, VT_I2},        // enumerated: EU labels
        {L"COM1", kChineseItem, TRUE, 0x12, {}, VT_R8},                // no EU
        {kLong, L"Values.Text", TRUE, 0x13, {1, 2, 3, 4}, VT_BSTR},
    };
    const std::vector<OPCHANDLE> handles = addDefinitions(group, definitions);
    ComPtr<IUnknown> created;
    require(group.as<IOPCItemMgt>()->CreateEnumerator(IID_IEnumOPCItemAttributes, created.ReleaseAndGetAddressOf()),
            "CreateEnumerator");
    ComPtr<IEnumOPCItemAttributes> items = require<IEnumOPCItemAttributes>(created.Get(), "enumerator");

    enum class Op { next, skip, reset, clone };
    struct Step {
        const char* name;
        Op op;
        ULONG count;
        HRESULT expected;
        std::vector<std::size_t> items;  // indexes into `definitions`
    };
    const Step steps[] = {
        {"Next 2 of 4", Op::next, 2, S_OK, {0, 1}},
        {"Next 10 of the 2 left", Op::next, 10, S_FALSE, {2, 3}},
        {"Next at the end", Op::next, 1, S_FALSE, {}},
        {"Reset", Op::reset, 0, S_OK, {}},
        {"Skip 3", Op::skip, 3, S_OK, {}},
        {"Next 5 after the skip", Op::next, 5, S_FALSE, {3}},
        {"Skip past the end", Op::skip, 1, S_FALSE, {}},
        {"Reset again", Op::reset, 0, S_OK, {}},
        {"Skip 1", Op::skip, 1, S_OK, {}},
        {"Clone keeps the position", Op::clone, 0, S_OK, {1, 2, 3}},
        {"the original is where it was", Op::next, 5, S_FALSE, {1, 2, 3}},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.name);
        switch (step.op) {
        case Op::next:
        case Op::clone: {
            ComPtr<IEnumOPCItemAttributes> from = items;
            if (step.op == Op::clone) {
                EXPECT_EQ(Hr{items->Clone(from.ReleaseAndGetAddressOf())}, Hr{step.expected});
                ASSERT_TRUE(from);
            }
            ReceivedAttributes received(0);
            ULONG fetched = 0xBAD;
            const ULONG count = step.op == Op::clone ? 10 : step.count;
            const HRESULT hr = from->Next(count, received.put(), &fetched);
            received.setCount(fetched == 0xBAD ? 0 : fetched);
            if (step.op == Op::next) {
                EXPECT_EQ(Hr{hr}, Hr{step.expected});
            }
            ASSERT_EQ(fetched, step.items.size());
            if (fetched == 0) {
                EXPECT_EQ(received.get(), nullptr);
            }
            for (ULONG i = 0; i < fetched; ++i)
                expectAttributes(received[i], definitions[step.items[i]], handles[step.items[i]]);
            break;
        }
        case Op::skip:
            EXPECT_EQ(Hr{items->Skip(step.count)}, Hr{step.expected});
            break;
        case Op::reset:
            EXPECT_EQ(Hr{items->Reset()}, Hr{step.expected});
            break;
        }
    }
}

// Deadbands and sampling ---------------------------------------------------------------------------

void deadbands(Session& s) {
    const Session::Group group = s.addGroup(kAscii);
    const std::vector<OPCHANDLE> h = s.addItems(group, {L"Values.R8", L"Values.Text", L"Values.I4"});
    const OPCHANDLE bad = 0xBAD0;
    ComPtr<IOPCItemDeadbandMgt> mgt = group.as<IOPCItemDeadbandMgt>();

    OPCHANDLE setHandles[] = {h[0], h[1], h[2], bad};
    FLOAT setValues[] = {12.5f, 1.0f, 100.5f, 5.0f};
    ReceivedErrors errors(4);
    EXPECT_EQ(Hr{mgt->SetItemDeadband(4, setHandles, setValues, errors.put())}, Hr{S_FALSE});
    EXPECT_EQ(hrs(errorList(errors, 4)),
              hrs({S_OK, OPC_E_DEADBANDNOTSUPPORTED, E_INVALIDARG, OPC_E_INVALIDHANDLE}));

    OPCHANDLE getHandles[] = {h[0], h[2], h[1], bad};
    Received<FLOAT> values(4);
    EXPECT_EQ(Hr{mgt->GetItemDeadband(4, getHandles, values.put(), errors.put())}, Hr{S_FALSE});
    ASSERT_TRUE(values);
    EXPECT_EQ(values[0], 12.5f);
    EXPECT_EQ(hrs(errorList(errors, 4)),
              hrs({S_OK, OPC_E_DEADBANDNOTSET, OPC_E_DEADBANDNOTSUPPORTED, OPC_E_INVALIDHANDLE}));

    OPCHANDLE clearHandles[] = {h[0], h[2]};
    EXPECT_EQ(Hr{mgt->ClearItemDeadband(2, clearHandles, errors.put())}, Hr{S_FALSE});
    EXPECT_EQ(hrs(errorList(errors, 2)), hrs({S_OK, OPC_E_DEADBANDNOTSET}));
    EXPECT_EQ(Hr{mgt->GetItemDeadband(1, clearHandles, values.put(), errors.put())}, Hr{S_FALSE});
    EXPECT_EQ(Hr{errors[0]}, Hr{OPC_E_DEADBANDNOTSET}) << "cleared";
}

void samplingRates(Session& s) {
    const Session::Group group = s.addGroup(kAscii);
    const std::vector<OPCHANDLE> h = s.addItems(group, {L"Values.R8", L"Values.Text", L"Values.I4"});
    ComPtr<IOPCItemSamplingMgt> mgt = group.as<IOPCItemSamplingMgt>();

    OPCHANDLE setHandles[] = {h[0], h[1], 0xBAD0};
    DWORD requested[] = {100, 15, 50};
    Received<DWORD> revised(3);
    ReceivedErrors errors(3);
    EXPECT_EQ(Hr{mgt->SetItemSamplingRate(3, setHandles, requested, revised.put(), errors.put())}, Hr{S_FALSE});
    ASSERT_TRUE(revised);
    EXPECT_EQ((std::vector<DWORD>{revised[0], revised[1], revised[2]}), (std::vector<DWORD>{100, 20, 0}));
    EXPECT_EQ(hrs(errorList(errors, 3)), hrs({S_OK, OPC_S_UNSUPPORTEDRATE, OPC_E_INVALIDHANDLE}));

    OPCHANDLE getHandles[] = {h[0], h[1], h[2]};
    Received<DWORD> rates(3);
    EXPECT_EQ(Hr{mgt->GetItemSamplingRate(3, getHandles, rates.put(), errors.put())}, Hr{S_FALSE});
    ASSERT_TRUE(rates);
    EXPECT_EQ((std::vector<DWORD>{rates[0], rates[1], rates[2]}), (std::vector<DWORD>{100, 20, 0}));
    EXPECT_EQ(hrs(errorList(errors, 3)), hrs({S_OK, S_OK, OPC_E_RATENOTSET}));

    OPCHANDLE clearHandles[] = {h[0], h[2]};
    EXPECT_EQ(Hr{mgt->ClearItemSamplingRate(2, clearHandles, errors.put())}, Hr{S_FALSE});
    EXPECT_EQ(hrs(errorList(errors, 2)), hrs({S_OK, OPC_E_RATENOTSET}));
    EXPECT_EQ(Hr{mgt->GetItemSamplingRate(1, clearHandles, rates.put(), errors.put())}, Hr{S_FALSE});
    EXPECT_EQ(Hr{errors[0]}, Hr{OPC_E_RATENOTSET}) << "cleared";
}

void bufferEnable(Session& s) {
    const Session::Group group = s.addGroup(kAscii);
    const std::vector<OPCHANDLE> h = s.addItems(group, {L"Values.R8", L"Values.Text"});
    ComPtr<IOPCItemSamplingMgt> mgt = group.as<IOPCItemSamplingMgt>();
    OPCHANDLE setHandles[] = {h[0], h[1], 0xBAD0};
    BOOL enable[] = {TRUE, FALSE, TRUE};
    ReceivedErrors errors(3);
    EXPECT_EQ(Hr{mgt->SetItemBufferEnable(3, setHandles, enable, errors.put())}, Hr{S_FALSE});
    EXPECT_EQ(hrs(errorList(errors, 3)), hrs({S_OK, S_OK, OPC_E_INVALIDHANDLE}));
    OPCHANDLE getHandles[] = {h[1], h[0], 0xBAD0};
    Received<BOOL> enabled(3);
    EXPECT_EQ(Hr{mgt->GetItemBufferEnable(3, getHandles, enabled.put(), errors.put())}, Hr{S_FALSE});
    ASSERT_TRUE(enabled);
    EXPECT_EQ((std::vector<BOOL>{enabled[0], enabled[1], enabled[2]}), (std::vector<BOOL>{FALSE, TRUE, FALSE}));
    EXPECT_EQ(hrs(errorList(errors, 3)), hrs({S_OK, S_OK, OPC_E_INVALIDHANDLE}));
}

}  // namespace conformance::client
