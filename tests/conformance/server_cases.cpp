// Cases of the server object: groups, error strings, status, locale, client name and shutdown,
// and the server browser interfaces.
#include "cases.h"

#include "conformance_protocol.h"

#include <algorithm>

namespace conformance::client {

namespace {

const std::wstring kLong = longText();

std::wstring generatedName(OPCHANDLE handle) { return L"\u7ec4" + std::to_wstring(handle); }

std::wstring guidText(const GUID& guid) {
    wchar_t text[39] = {};
    StringFromGUID2(guid, text, 39);
    return text;
}

// {6A0D9D33-3A9C-4F1B-9C57-4E2B1E6F2D10}: a class nobody registered.
constexpr GUID kSomeClass = {0x6a0d9d33, 0x3a9c, 0x4f1b, {0x9c, 0x57, 0x4e, 0x2b, 0x1e, 0x6f, 0x2d, 0x10}};

// The interface pointer came back as the interface asked for: its proxy is the one QueryInterface
// gives for that IID (a proxy of another interface would not be).
::testing::AssertionResult isInterface(IUnknown* object, REFIID iid) {
    if (!object) return ::testing::AssertionFailure() << "null interface pointer";
    IUnknown* asked = nullptr;
    const HRESULT hr = object->QueryInterface(iid, reinterpret_cast<void**>(&asked));
    if (FAILED(hr)) return ::testing::AssertionFailure() << "QueryInterface " << hex(hr);
    asked->Release();
    if (asked != object) return ::testing::AssertionFailure() << "a pointer of another interface came back";
    return ::testing::AssertionSuccess();
}

ComPtr<IUnknown> addPublicGroup(Session& s, const std::wstring& name, OPCHANDLE* handle) {
    Session::Group group = s.addGroup(name);
    require(group.as<IOPCPublicGroupStateMgt>()->MoveToPublic(), "MoveToPublic");
    *handle = group.serverHandle;
    return group.object;
}

}  // namespace

void addGroup(Session& s) {
    struct Case {
        const char* name;
        std::wstring groupName;
        BOOL active;
        DWORD rate;
        OPCHANDLE clientHandle;
        std::optional<LONG> timeBias;
        std::optional<FLOAT> deadband;
        DWORD lcid;
        const IID* iid;
        HRESULT expected;
        DWORD expectedRate;
    };
    const Case cases[] = {
        {"ASCII name, every value given", kAscii, TRUE, 1000, 0x11, -60, 12.5f, 0x804, &IID_IOPCItemMgt, S_OK, 1000},
        {"Chinese name, no bias or deadband, rate revised", kChinese, FALSE, 5, 0xFFFFFFFF, std::nullopt,
         std::nullopt, 0x409, &IID_IOPCGroupStateMgt2, OPC_S_UNSUPPORTEDRATE, 10},
        {"long name, extremes", kLong, TRUE, 0xFFFFFFFF, 0, 0x7FFFFFFF, 100.0f, 0, &IID_IUnknown, S_OK, 0xFFFFFFFF},
        {"empty name: the server names it", L"", TRUE, 250, 7, 0, 0.0f, 0x409, &IID_IOPCSyncIO, S_OK, 250},
        {"name in use", kAscii, TRUE, 1000, 1, std::nullopt, std::nullopt, 0, &IID_IUnknown, OPC_E_DUPLICATENAME, 0},
        {"interface the group lacks", L"x", TRUE, 1000, 1, std::nullopt, std::nullopt, 0, &IID_IOPCServer,
         E_NOINTERFACE, 0},
        {"deadband over 100", L"y", TRUE, 1000, 1, std::nullopt, 100.5f, 0, &IID_IUnknown, E_INVALIDARG, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LONG timeBias = c.timeBias.value_or(0);
        FLOAT deadband = c.deadband.value_or(0);
        OPCHANDLE handle = 0xBADBAD;
        DWORD revised = 0xBADBAD;
        ComPtr<IUnknown> group;
        const HRESULT hr = s.server->AddGroup(c.groupName.c_str(), c.active, c.rate, c.clientHandle,
                                              c.timeBias ? &timeBias : nullptr, c.deadband ? &deadband : nullptr,
                                              c.lcid, &handle, &revised, *c.iid,
                                              group.ReleaseAndGetAddressOf());
        EXPECT_EQ(Hr{hr}, Hr{c.expected});
        EXPECT_EQ(revised, c.expectedRate);
        if (FAILED(c.expected)) {
            EXPECT_EQ(group.Get(), nullptr);
            EXPECT_EQ(handle, 0u);
            continue;
        }
        EXPECT_NE(handle, 0u);
        EXPECT_TRUE(isInterface(group.Get(), *c.iid));
        const GroupStateSeen state = groupState(group.Get());
        EXPECT_EQ(Hr{state.hr}, Hr{S_OK});
        EXPECT_EQ(state.name, Text(c.groupName.empty() ? generatedName(handle) : c.groupName));
        EXPECT_EQ(state.updateRate, c.expectedRate);
        EXPECT_EQ(state.active, c.active);
        EXPECT_EQ(state.timeBias, c.timeBias.value_or(kServerTimeBias));
        EXPECT_EQ(state.percentDeadband, c.deadband.value_or(0.0f));
        EXPECT_EQ(state.lcid, c.lcid);
        EXPECT_EQ(state.clientHandle, c.clientHandle);
        EXPECT_EQ(state.serverHandle, handle);
    }
}

void serverGetErrorString(Session& s) {
    struct Case {
        HRESULT code;
        LCID locale;
        HRESULT expected;
        std::optional<std::wstring> text;
    };
    std::vector<Case> cases;
    for (HRESULT code : {S_OK, E_FAIL, OPC_E_UNKNOWNITEMID, OPC_S_UNSUPPORTEDRATE}) {
        for (LCID locale : {kEnglish, kChineseLocale}) cases.push_back({code, locale, S_OK, errorText(code, locale)});
        cases.push_back({code, LOCALE_SYSTEM_DEFAULT, S_OK, errorText(code, kEnglish)});  // the server's: English
    }
    cases.push_back({static_cast<HRESULT>(0x80001234), kEnglish, E_INVALIDARG, std::nullopt});
    cases.push_back({E_FAIL, 0x407, E_INVALIDARG, std::nullopt});
    for (const Case& c : cases) {
        SCOPED_TRACE("GetErrorString(" + hex(c.code) + ", " + std::to_string(c.locale) + ")");
        LPWSTR received = nullptr;
        EXPECT_EQ(Hr{s.server->GetErrorString(c.code, c.locale, &received)}, Hr{c.expected});
        EXPECT_EQ(text(received), Text(c.text));
        CoTaskMemFree(received);
    }
}

void getGroupByName(Session& s) {
    const Session::Group ascii = s.addGroup(kAscii);
    const Session::Group chinese = s.addGroup(kChinese);
    OPCHANDLE publicHandle = 0;
    addPublicGroup(s, L"\u516c\u5171", &publicHandle);  // 公共
    struct Case {
        const char* name;
        std::wstring groupName;
        const IID* iid;
        HRESULT expected;
        OPCHANDLE expectedHandle;
    };
    const Case cases[] = {
        {"Chinese name", kChinese, &IID_IOPCGroupStateMgt, S_OK, chinese.serverHandle},
        {"ASCII name", kAscii, &IID_IOPCItemMgt, S_OK, ascii.serverHandle},
        {"public group", L"\u516c\u5171", &IID_IUnknown, E_INVALIDARG, 0},
        {"unknown name", L"absent", &IID_IUnknown, E_INVALIDARG, 0},
        {"empty name", L"", &IID_IUnknown, E_INVALIDARG, 0},
        {"interface the group lacks", kAscii, &IID_IOPCServer, E_NOINTERFACE, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ComPtr<IUnknown> group;
        EXPECT_EQ(Hr{s.server->GetGroupByName(c.groupName.c_str(), *c.iid, group.ReleaseAndGetAddressOf())},
                  Hr{c.expected});
        if (FAILED(c.expected)) {
            EXPECT_EQ(group.Get(), nullptr);
            continue;
        }
        EXPECT_TRUE(isInterface(group.Get(), *c.iid));
        const GroupStateSeen state = groupState(group.Get());
        EXPECT_EQ(state.serverHandle, c.expectedHandle);
        EXPECT_EQ(state.name, Text(c.groupName));
    }
}

void getStatus(Session& s) {
    auto check = [&](const char* when, DWORD groups, const std::wstring& vendor) {
        SCOPED_TRACE(when);
        OPCSERVERSTATUS* status = nullptr;
        ASSERT_EQ(Hr{s.server->GetStatus(&status)}, Hr{S_OK});
        ASSERT_NE(status, nullptr);
        EXPECT_EQ(status->ftStartTime, kStartTime);
        EXPECT_EQ(status->ftCurrentTime, kCurrentTime);
        EXPECT_EQ(status->ftLastUpdateTime, FILETIME{});
        EXPECT_EQ(status->dwServerState, OPC_STATUS_RUNNING);
        EXPECT_EQ(status->dwGroupCount, groups);
        EXPECT_EQ(status->dwBandWidth, 0xFFFFFFFFu);
        EXPECT_EQ(status->wMajorVersion, 3);
        EXPECT_EQ(status->wMinorVersion, 0);
        EXPECT_EQ(status->wBuildNumber, 0x1234);
        EXPECT_EQ(status->wReserved, 0);
        EXPECT_EQ(text(status->szVendorInfo), Text(vendor));
        CoTaskMemFree(status->szVendorInfo);
        CoTaskMemFree(status);
    };
    check("fresh server", 0, kVendorInfo);
    s.addGroup(L"a");
    s.addGroup(L"b");
    require(require<IOPCCommon>(s.server.Get(), "server")->SetClientName(kChinese.c_str()), "SetClientName");
    check("two groups, a client name", 2, std::wstring(kVendorInfo) + L"; " + kChinese);
}

void removeGroup(Session& s) {
    const Session::Group first = s.addGroup(L"first");
    const Session::Group second = s.addGroup(L"\u7b2c\u4e8c");  // 第二
    OPCHANDLE publicHandle = 0;
    addPublicGroup(s, L"public", &publicHandle);
    struct Case {
        const char* name;
        OPCHANDLE handle;
        BOOL force;
        HRESULT expected;
    };
    const Case cases[] = {
        {"forced", first.serverHandle, TRUE, (Echo{} << first.serverHandle << TRUE).code()},
        {"not forced", second.serverHandle, FALSE, (Echo{} << second.serverHandle << FALSE).code()},
        {"removed already", first.serverHandle, TRUE, E_INVALIDARG},
        {"public group", publicHandle, TRUE, E_INVALIDARG},
        {"unknown handle", 0xDEAD, FALSE, E_INVALIDARG},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(Hr{s.server->RemoveGroup(c.handle, c.force)}, Hr{c.expected});
    }
    ComPtr<IUnknown> gone;
    EXPECT_EQ(Hr{s.server->GetGroupByName(L"first", IID_IUnknown, gone.ReleaseAndGetAddressOf())}, Hr{E_INVALIDARG});
}

void createGroupEnumerator(Session& s) {
    {
        SCOPED_TRACE("no group");
        ComPtr<IUnknown> empty;
        EXPECT_EQ(Hr{s.server->CreateGroupEnumerator(OPC_ENUM_ALL, IID_IEnumString, empty.ReleaseAndGetAddressOf())},
                  Hr{S_FALSE});
        ComPtr<IEnumString> strings = query<IEnumString>(empty.Get());
        ASSERT_TRUE(strings) << "an enumerator even when there is nothing to enumerate";
        EXPECT_TRUE(readAll(strings.Get()).empty());
    }
    const Session::Group generated = s.addGroup(L"");
    s.addGroup(kAscii);
    OPCHANDLE publicHandle = 0;
    addPublicGroup(s, kChinese, &publicHandle);
    s.addGroup(kLong);
    const std::wstring first = generatedName(generated.serverHandle);

    struct Case {
        const char* name;
        OPCENUMSCOPE scope;
        const IID* iid;
        HRESULT expected;
        std::vector<std::wstring> names;
    };
    const Case cases[] = {
        {"private connections, names", OPC_ENUM_PRIVATE_CONNECTIONS, &IID_IEnumString, S_OK, {first, kAscii, kLong}},
        {"private, names", OPC_ENUM_PRIVATE, &IID_IEnumString, S_OK, {first, kAscii, kLong}},
        {"public, names", OPC_ENUM_PUBLIC, &IID_IEnumString, S_OK, {kChinese}},
        {"all, names", OPC_ENUM_ALL, &IID_IEnumString, S_OK, {first, kAscii, kChinese, kLong}},
        {"all connections, objects", OPC_ENUM_ALL_CONNECTIONS, &IID_IEnumUnknown, S_OK,
         {first, kAscii, kChinese, kLong}},
        {"public connections, objects", OPC_ENUM_PUBLIC_CONNECTIONS, &IID_IEnumUnknown, S_OK, {kChinese}},
        {"neither strings nor objects", OPC_ENUM_ALL, &IID_IOPCServer, E_NOINTERFACE, {}},
        {"unknown scope", static_cast<OPCENUMSCOPE>(99), &IID_IEnumString, E_INVALIDARG, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ComPtr<IUnknown> enumerator;
        EXPECT_EQ(Hr{s.server->CreateGroupEnumerator(c.scope, *c.iid, enumerator.ReleaseAndGetAddressOf())},
                  Hr{c.expected});
        if (FAILED(c.expected)) {
            EXPECT_EQ(enumerator.Get(), nullptr);
            continue;
        }
        ASSERT_TRUE(isInterface(enumerator.Get(), *c.iid));
        std::vector<Text> names;
        if (*c.iid == IID_IEnumString) {
            names = readAll(query<IEnumString>(enumerator.Get()).Get());
        } else {
            ComPtr<IEnumUnknown> objects = query<IEnumUnknown>(enumerator.Get());
            IUnknown* batch[8] = {};
            ULONG fetched = 0;
            EXPECT_EQ(Hr{objects->Next(8, batch, &fetched)}, Hr{S_FALSE});
            for (ULONG i = 0; i < fetched; ++i) {
                names.push_back(groupState(batch[i]).name);
                batch[i]->Release();
            }
        }
        EXPECT_EQ(names, texts(c.names));
    }
}

void getPublicGroupByName(Session& s) {
    OPCHANDLE publicHandle = 0;
    addPublicGroup(s, kChinese, &publicHandle);
    s.addGroup(kAscii);
    struct Case {
        const char* name;
        std::wstring groupName;
        const IID* iid;
        HRESULT expected;
    };
    const Case cases[] = {
        {"public group", kChinese, &IID_IOPCPublicGroupStateMgt, S_OK},
        {"private group", kAscii, &IID_IUnknown, E_INVALIDARG},
        {"unknown name", L"absent", &IID_IUnknown, E_INVALIDARG},
        {"interface the group lacks", kChinese, &IID_IOPCBrowse, E_NOINTERFACE},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ComPtr<IUnknown> group;
        EXPECT_EQ(Hr{require<IOPCServerPublicGroups>(s.server.Get(), "server")->GetPublicGroupByName(
                      c.groupName.c_str(), *c.iid, group.ReleaseAndGetAddressOf())},
                  Hr{c.expected});
        if (FAILED(c.expected)) {
            EXPECT_EQ(group.Get(), nullptr);
            continue;
        }
        EXPECT_TRUE(isInterface(group.Get(), *c.iid));
        BOOL isPublic = FALSE;
        EXPECT_EQ(Hr{require<IOPCPublicGroupStateMgt>(group.Get(), "group")->GetState(&isPublic)}, Hr{S_OK});
        EXPECT_TRUE(isPublic);
        EXPECT_EQ(groupState(group.Get()).serverHandle, publicHandle);
    }
}

void removePublicGroup(Session& s) {
    OPCHANDLE publicHandle = 0;
    addPublicGroup(s, kChinese, &publicHandle);
    const Session::Group privateGroup = s.addGroup(kAscii);
    ComPtr<IOPCServerPublicGroups> publicGroups = require<IOPCServerPublicGroups>(s.server.Get(), "server");
    struct Case {
        const char* name;
        OPCHANDLE handle;
        BOOL force;
        HRESULT expected;
    };
    const Case cases[] = {
        {"private group", privateGroup.serverHandle, TRUE, E_INVALIDARG},
        {"public group, not forced", publicHandle, FALSE, (Echo{} << publicHandle << FALSE).code()},
        {"removed already", publicHandle, TRUE, E_INVALIDARG},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(Hr{publicGroups->RemovePublicGroup(c.handle, c.force)}, Hr{c.expected});
    }
}

void localeIds(Session& s) {
    ComPtr<IOPCCommon> common = require<IOPCCommon>(s.server.Get(), "server");
    DWORD count = 0;
    LCID* available = nullptr;
    ASSERT_EQ(Hr{common->QueryAvailableLocaleIDs(&count, &available)}, Hr{S_OK});
    EXPECT_EQ(std::vector<LCID>(available, available + count),
              (std::vector<LCID>{kEnglish, kChineseLocale, LOCALE_SYSTEM_DEFAULT, LOCALE_USER_DEFAULT}));
    CoTaskMemFree(available);

    struct Step {
        LCID set;
        HRESULT expected;
        LCID after;
    };
    const Step steps[] = {
        {kChineseLocale, S_OK, kChineseLocale},
        {0x407, E_INVALIDARG, kChineseLocale},
        {LOCALE_SYSTEM_DEFAULT, S_OK, LOCALE_SYSTEM_DEFAULT},
        {kEnglish, S_OK, kEnglish},
    };
    LCID locale = 0;
    ASSERT_EQ(Hr{common->GetLocaleID(&locale)}, Hr{S_OK});
    EXPECT_EQ(locale, kEnglish) << "a new server's locale";
    for (const Step& step : steps) {
        SCOPED_TRACE("SetLocaleID(" + std::to_string(step.set) + ")");
        EXPECT_EQ(Hr{common->SetLocaleID(step.set)}, Hr{step.expected});
        EXPECT_EQ(Hr{common->GetLocaleID(&locale)}, Hr{S_OK});
        EXPECT_EQ(locale, step.after);
    }
}

void commonGetErrorString(Session& s) {
    ComPtr<IOPCCommon> common = require<IOPCCommon>(s.server.Get(), "server");
    struct Case {
        LCID locale;  // set first
        HRESULT code;
        HRESULT expected;
        std::optional<std::wstring> text;
    };
    const Case cases[] = {
        {kEnglish, S_OK, S_OK, L""},
        {kEnglish, E_FAIL, S_OK, errorText(E_FAIL, kEnglish)},
        {kChineseLocale, E_FAIL, S_OK, errorText(E_FAIL, kChineseLocale)},
        {kChineseLocale, OPC_E_UNKNOWNITEMID, S_OK, errorText(OPC_E_UNKNOWNITEMID, kChineseLocale)},
        {LOCALE_USER_DEFAULT, OPC_E_UNKNOWNITEMID, S_OK, errorText(OPC_E_UNKNOWNITEMID, kEnglish)},
        {kEnglish, OPC_S_UNSUPPORTEDRATE, S_OK, kLong},
        {kEnglish, static_cast<HRESULT>(0xC0049999), E_INVALIDARG, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("GetErrorString(" + hex(c.code) + ") in locale " + std::to_string(c.locale));
        require(common->SetLocaleID(c.locale), "SetLocaleID");
        LPWSTR received = nullptr;
        EXPECT_EQ(Hr{common->GetErrorString(c.code, &received)}, Hr{c.expected});
        EXPECT_EQ(text(received), Text(c.text));
        CoTaskMemFree(received);
    }
}

void clientNameAndShutdown(Session& s) {
    ComPtr<IOPCCommon> common = require<IOPCCommon>(s.server.Get(), "server");
    ComPtr<ShutdownSink> sink = korvex::com::make<ShutdownSink>();
    const Advice advice(s.server.Get(), IID_IOPCShutdown, sink->identity());
    for (const std::wstring& name : {kAscii, std::wstring(), kChinese, kLong}) {
        SCOPED_TRACE("client name \"" + utf8(name.substr(0, 20)) + "\"");
        EXPECT_EQ(Hr{common->SetClientName(name.c_str())}, Hr{S_OK});
        EXPECT_EQ(sink->next(), Text(name)) << "the shutdown reason, sent from a server thread";

        OPCSERVERSTATUS* status = nullptr;
        require(s.server->GetStatus(&status), "GetStatus");
        EXPECT_EQ(text(status->szVendorInfo),
                  Text(name.empty() ? std::wstring(kVendorInfo) : std::wstring(kVendorInfo) + L"; " + name));
        CoTaskMemFree(status->szVendorInfo);
        CoTaskMemFree(status);
    }
}

namespace {

template <class Enumerator>
std::vector<GUID> readGuids(Enumerator* enumerator) {
    std::vector<GUID> all;
    GUID batch[16];
    ULONG fetched = 0;
    for (HRESULT hr = S_OK; hr == S_OK;) {
        hr = enumerator->Next(16, batch, &fetched);
        all.insert(all.end(), batch, batch + fetched);
    }
    return all;
}

struct ClassDetails {
    HRESULT hr;
    Text progId, userType, versionIndependentProgId;
};

ClassDetails details(IOPCServerList* list, const GUID& clsid) {
    LPOLESTR progId = nullptr, userType = nullptr;
    ClassDetails d{list->GetClassDetails(clsid, &progId, &userType), text(progId), text(userType), Text()};
    CoTaskMemFree(progId);
    CoTaskMemFree(userType);
    return d;
}

ClassDetails details(IOPCServerList2* list, const GUID& clsid) {
    LPOLESTR progId = nullptr, userType = nullptr, independent = nullptr;
    ClassDetails d{list->GetClassDetails(clsid, &progId, &userType, &independent), text(progId), text(userType),
                   text(independent)};
    CoTaskMemFree(progId);
    CoTaskMemFree(userType);
    CoTaskMemFree(independent);
    return d;
}

// Both server list interfaces: EnumClassesOfCategories, GetClassDetails, CLSIDFromProgID.
template <class List, class Enumerator>
void checkServerList(List* list, bool versionIndependent) {
    {
        SCOPED_TRACE("EnumClassesOfCategories");
        CATID implemented[] = {CATID_OPCDAServer20, CATID_OPCDAServer30};
        CATID required[] = {kSomeClass};
        ComPtr<Enumerator> classes;
        ASSERT_EQ(Hr{list->EnumClassesOfCategories(2, implemented, 1, required, classes.ReleaseAndGetAddressOf())},
                  Hr{S_OK});
        EXPECT_EQ(readGuids(classes.Get()),
                  (std::vector<GUID>{CATID_OPCDAServer20, CATID_OPCDAServer30, kSomeClass, kServerClsid}));
        CATID none[1] = {};
        ASSERT_EQ(Hr{list->EnumClassesOfCategories(0, none, 0, none, classes.ReleaseAndGetAddressOf())}, Hr{S_OK});
        EXPECT_EQ(readGuids(classes.Get()), std::vector<GUID>{kServerClsid});
    }
    struct DetailCase {
        const char* name;
        GUID clsid;
        HRESULT expected;
        Text progId, userType, versionIndependentProgId;
    };
    const DetailCase detailCases[] = {
        {"our class", kServerClsid, S_OK, kProgId, kUserType,
         versionIndependent ? Text(kVersionIndependentProgId) : Text()},
        {"another class", kSomeClass, S_OK, L"Unregistered." + guidText(kSomeClass), L"", Text()},
        {"no class", CLSID_NULL, E_INVALIDARG, Text(), Text(), Text()},
    };
    for (const DetailCase& c : detailCases) {
        SCOPED_TRACE(std::string("GetClassDetails, ") + c.name);
        const ClassDetails d = details(list, c.clsid);
        EXPECT_EQ(Hr{d.hr}, Hr{c.expected});
        EXPECT_EQ(d.progId, c.progId);
        EXPECT_EQ(d.userType, c.userType);
        EXPECT_EQ(d.versionIndependentProgId, c.versionIndependentProgId);
    }
    struct ProgIdCase {
        std::wstring progId;
        HRESULT expected;
        GUID clsid;
    };
    const ProgIdCase progIdCases[] = {
        {kProgId, S_OK, kServerClsid},
        {kVersionIndependentProgId, S_OK, kServerClsid},
        {L"\u7ec4\u4ef6." + guidText(kSomeClass), S_OK, kSomeClass},  // 组件.{...}
        {L"nodots", CO_E_CLASSSTRING, CLSID_NULL},
    };
    for (const ProgIdCase& c : progIdCases) {
        SCOPED_TRACE("CLSIDFromProgID(\"" + utf8(c.progId) + "\")");
        CLSID clsid = kSomeClass;
        EXPECT_EQ(Hr{list->CLSIDFromProgID(c.progId.c_str(), &clsid)}, Hr{c.expected});
        EXPECT_EQ(clsid, c.clsid);
    }
}

}  // namespace

void serverList(Session& s) {
    checkServerList<IOPCServerList, IEnumGUID>(require<IOPCServerList>(s.server.Get(), "server").Get(), false);
}

void serverList2(Session& s) {
    checkServerList<IOPCServerList2, IOPCEnumGUID>(require<IOPCServerList2>(s.server.Get(), "server").Get(), true);
}

void enumGuid(Session& s) {
    ComPtr<IOPCServerList2> list = require<IOPCServerList2>(s.server.Get(), "server");
    CATID implemented[] = {CATID_OPCDAServer10, CATID_OPCDAServer20, CATID_OPCDAServer30};
    ComPtr<IOPCEnumGUID> classes;
    require(list->EnumClassesOfCategories(3, implemented, 0, implemented, classes.ReleaseAndGetAddressOf()),
            "EnumClassesOfCategories");
    const std::vector<GUID> all = {CATID_OPCDAServer10, CATID_OPCDAServer20, CATID_OPCDAServer30, kServerClsid};

    enum class Op { next, skip, reset, clone };
    struct Step {
        const char* name;
        Op op;
        ULONG count;
        HRESULT expected;
        std::vector<GUID> items;
    };
    const Step steps[] = {
        {"Next 2 of 4", Op::next, 2, S_OK, {all[0], all[1]}},
        {"Next 5 of the 2 left", Op::next, 5, S_FALSE, {all[2], all[3]}},
        {"Next at the end", Op::next, 1, S_FALSE, {}},
        {"Reset", Op::reset, 0, S_OK, {}},
        {"Skip 3", Op::skip, 3, S_OK, {}},
        {"Next 1 after the skip", Op::next, 1, S_OK, {all[3]}},
        {"Skip past the end", Op::skip, 5, S_FALSE, {}},
        {"Reset again", Op::reset, 0, S_OK, {}},
        {"Skip 1", Op::skip, 1, S_OK, {}},
        {"Clone keeps the position", Op::clone, 0, S_OK, {all[1], all[2], all[3]}},
        {"the original is where it was", Op::next, 4, S_FALSE, {all[1], all[2], all[3]}},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.name);
        GUID received[8];
        ULONG fetched = 0xBAD;
        switch (step.op) {
        case Op::next:
            EXPECT_EQ(Hr{classes->Next(step.count, received, &fetched)}, Hr{step.expected});
            EXPECT_EQ(std::vector<GUID>(received, received + std::min<ULONG>(fetched, 8)), step.items);
            break;
        case Op::skip:
            EXPECT_EQ(Hr{classes->Skip(step.count)}, Hr{step.expected});
            break;
        case Op::reset:
            EXPECT_EQ(Hr{classes->Reset()}, Hr{step.expected});
            break;
        case Op::clone: {
            ComPtr<IOPCEnumGUID> clone;
            EXPECT_EQ(Hr{classes->Clone(clone.ReleaseAndGetAddressOf())}, Hr{step.expected});
            ASSERT_TRUE(clone);
            EXPECT_EQ(readGuids(clone.Get()), step.items);
            break;
        }
        }
    }
}

}  // namespace conformance::client
