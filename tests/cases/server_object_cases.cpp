// The server object and the group state operations, case by case with exact status codes. The
// same cases run in the test process and across processes through the proxy.
#include "tests/support/hresult.h"
#include "tests/support/server_session.h"

#include "opccomn.h"
#include "opcerror.h"

#include <gtest/gtest.h>
#include <olectl.h>

#include <string>
#include <vector>

namespace korvex::test {
namespace {

using com::ComPtr;

class ServerObject : public ::testing::Test {
protected:
    static void SetUpTestSuite() { StartServerSide(); }

    struct Added {
        HRESULT hr = E_UNEXPECTED;
        OPCHANDLE serverHandle = 0;
        DWORD revisedRate = 0;
        ComPtr<IOPCGroupStateMgt2> group;
    };

    Added Add(const wchar_t* name, DWORD rate = 1000, BOOL active = TRUE, FLOAT* deadband = nullptr,
              DWORD lcid = 0x800, LONG* timeBias = nullptr) {
        Added a;
        a.hr = server_->AddGroup(name, active, rate, 77, timeBias, deadband, lcid, &a.serverHandle, &a.revisedRate,
                                 IID_IOPCGroupStateMgt2, reinterpret_cast<LPUNKNOWN*>(a.group.ReleaseAndGetAddressOf()));
        return a;
    }

    static std::wstring NameOf(IOPCGroupStateMgt* group) {
        DWORD rate;
        BOOL active;
        LPWSTR name = nullptr;
        LONG bias;
        FLOAT deadband;
        DWORD lcid;
        OPCHANDLE client, handle;
        if (FAILED(group->GetState(&rate, &active, &name, &bias, &deadband, &lcid, &client, &handle))) return L"?";
        std::wstring result = name;
        CoTaskMemFree(name);
        return result;
    }

    DWORD GroupCount() {
        OPCSERVERSTATUS* status = nullptr;
        if (FAILED(server_->GetStatus(&status))) return 0xFFFFFFFF;
        const DWORD count = status->dwGroupCount;
        CoTaskMemFree(status->szVendorInfo);
        CoTaskMemFree(status);
        return count;
    }

    std::vector<std::wstring> EnumeratedNames() {
        ComPtr<IEnumString> names;
        std::vector<std::wstring> result;
        if (FAILED(server_->CreateGroupEnumerator(OPC_ENUM_ALL, IID_IEnumString,
                                                  reinterpret_cast<LPUNKNOWN*>(names.ReleaseAndGetAddressOf()))))
            return {L"<failed>"};
        LPOLESTR name = nullptr;
        ULONG fetched = 0;
        while (names->Next(1, &name, &fetched) == S_OK) {
            result.emplace_back(name);
            CoTaskMemFree(name);
        }
        return result;
    }

    ComPtr<IOPCServer> server_ = Connect();
};

TEST_F(ServerObject, UpdateRatesAreRevisedToTheBaseRate) {
    const struct {
        DWORD requested, revised;
        HRESULT hr;
    } cases[] = {
        {0, 200, OPC_S_UNSUPPORTEDRATE},    {1, 200, OPC_S_UNSUPPORTEDRATE},   {100, 200, OPC_S_UNSUPPORTEDRATE},
        {200, 200, S_OK},                   {250, 200, OPC_S_UNSUPPORTEDRATE}, {299, 200, OPC_S_UNSUPPORTEDRATE},
        {300, 400, OPC_S_UNSUPPORTEDRATE},  {1000, 1000, S_OK},                {1099, 1000, OPC_S_UNSUPPORTEDRATE},
        {1100, 1200, OPC_S_UNSUPPORTEDRATE}, {0xFFFFFFFF, 4294967200u, OPC_S_UNSUPPORTEDRATE},
    };
    for (const auto& c : cases) {
        const Added a = Add(L"", c.requested);
        EXPECT_HR(a.hr, c.hr) << "rate " << c.requested;
        EXPECT_EQ(a.revisedRate, c.revised) << "rate " << c.requested;
        ASSERT_TRUE(a.group) << "the group exists either way";
    }
}

TEST_F(ServerObject, GeneratedNamesSkipNamesTheClientChose) {
    // A null name is an empty one; the proxy refuses null strings, so only in process.
    const Added g1 = Add(CrossProcess() ? L"" : nullptr);
    const Added g2 = Add(L"");
    const Added g3 = Add(L"Group3");
    const Added g4 = Add(L"");
    const Added g5 = Add(L"");
    EXPECT_EQ(NameOf(g1.group.Get()), L"Group1");
    EXPECT_EQ(NameOf(g2.group.Get()), L"Group2");
    EXPECT_EQ(NameOf(g3.group.Get()), L"Group3");
    EXPECT_EQ(NameOf(g4.group.Get()), L"Group4");
    EXPECT_EQ(NameOf(g5.group.Get()), L"Group5");
    EXPECT_EQ(EnumeratedNames(), (std::vector<std::wstring>{L"Group1", L"Group2", L"Group3", L"Group4", L"Group5"}));
}

TEST_F(ServerObject, AddGroupStateRules) {
    FLOAT half = 0.5f, fifty = 50.0f, zero = 0.0f;
    LONG bias = -300;
    const struct {
        const wchar_t* name;
        FLOAT* deadband;
        DWORD lcid;
        LONG* bias;
        FLOAT expectedDeadband;
        DWORD expectedLcid;
    } cases[] = {
        {L"half", &half, 1033, nullptr, 0.5f, 1033},
        {L"fifty", &fifty, 1031, nullptr, 0.0f, 0x800},
        {L"zero", &zero, 0x800, &bias, 0.0f, 0x800},
        {L"none", nullptr, 2052, &bias, 0.0f, 0x800},
    };
    for (const auto& c : cases) {
        const Added a = Add(c.name, 1000, FALSE, c.deadband, c.lcid, c.bias);
        ASSERT_HR(a.hr, S_OK) << c.name;
        DWORD rate;
        BOOL active;
        LPWSTR name = nullptr;
        LONG timeBias;
        FLOAT deadband;
        DWORD lcid;
        OPCHANDLE client, handle;
        ASSERT_HR(a.group->GetState(&rate, &active, &name, &timeBias, &deadband, &lcid, &client, &handle), S_OK);
        EXPECT_EQ(std::wstring(name), c.name);
        CoTaskMemFree(name);
        EXPECT_EQ(deadband, c.expectedDeadband) << c.name;
        EXPECT_EQ(lcid, c.expectedLcid) << c.name;
        EXPECT_EQ(active, FALSE);
        EXPECT_EQ(client, 77u);
        EXPECT_EQ(handle, a.serverHandle);
        if (c.bias) {
            EXPECT_EQ(timeBias, -300) << c.name;
        }
    }
}

TEST_F(ServerObject, DuplicateNamesAndCaseSensitiveLookup) {
    ASSERT_HR(Add(L"Pumps").hr, S_OK);
    Added again = Add(L"Pumps");
    EXPECT_HR(again.hr, OPC_E_DUPLICATENAME);
    EXPECT_FALSE(again.group);
    EXPECT_EQ(GroupCount(), 1u);

    ComPtr<IUnknown> found;
    EXPECT_HR(server_->GetGroupByName(L"Pumps", IID_IUnknown, found.ReleaseAndGetAddressOf()), S_OK);
    EXPECT_TRUE(found);
    EXPECT_HR(server_->GetGroupByName(L"pumps", IID_IUnknown, found.ReleaseAndGetAddressOf()), E_FAIL);
    EXPECT_FALSE(found);
    EXPECT_HR(server_->GetGroupByName(L"", IID_IUnknown, found.ReleaseAndGetAddressOf()), E_INVALIDARG);
    EXPECT_HR(server_->GetGroupByName(L"Pumps", IID_IOPCShutdown, found.ReleaseAndGetAddressOf()), E_NOINTERFACE);

    // Names keep every character, whatever the code page.
    const wchar_t* chinese = L"泵站一组";
    const Added c = Add(chinese);
    ASSERT_HR(c.hr, S_OK);
    EXPECT_EQ(NameOf(c.group.Get()), chinese);
    const Added other = Add(L"泵站二组");
    EXPECT_HR(other.hr, S_OK) << "two different names never collide";
}

TEST_F(ServerObject, TwoClientsKeepTheirOwnGroups) {
    ComPtr<IOPCServer> second = Connect();
    const Added mine = Add(L"Group1");
    OPCHANDLE handle = 0;
    DWORD revised = 0;
    ComPtr<IUnknown> theirs;
    ASSERT_HR(second->AddGroup(L"Group1", TRUE, 1000, 1, nullptr, nullptr, 0, &handle, &revised, IID_IUnknown,
                               theirs.ReleaseAndGetAddressOf()),
              S_OK);
    EXPECT_NE(handle, mine.serverHandle);
    // Another client's group cannot be removed through this client.
    EXPECT_HR(server_->RemoveGroup(handle, TRUE), E_INVALIDARG);
    EXPECT_HR(server_->RemoveGroup(0, TRUE), E_INVALIDARG);
    EXPECT_HR(second->RemoveGroup(handle, FALSE), OPC_S_INUSE);
}

TEST_F(ServerObject, RemoveWithoutForceWhileHeldIsPending) {
    Added a = Add(L"Held");
    ASSERT_HR(a.hr, S_OK);
    EXPECT_HR(server_->RemoveGroup(a.serverHandle, FALSE), OPC_S_INUSE);
    EXPECT_EQ(GroupCount(), 1u) << "still counted while pending";
    EXPECT_EQ(EnumeratedNames(), std::vector<std::wstring>{L"Held"});
    DWORD keepAlive = 0;
    EXPECT_HR(a.group->GetKeepAlive(&keepAlive), E_FAIL);
    EXPECT_HR(a.group->SetName(L"Other"), E_FAIL);
    EXPECT_HR(server_->RemoveGroup(a.serverHandle, FALSE), OPC_S_INUSE) << "a second removal gives up nothing";

    a.group.Reset();  // the client lets go: the group leaves the list
    EXPECT_EQ(GroupCount(), 0u);
    EXPECT_TRUE(EnumeratedNames().empty());
    EXPECT_HR(Add(L"Held").hr, S_OK) << "the name is free again";
    EXPECT_HR(server_->RemoveGroup(a.serverHandle, TRUE), E_INVALIDARG) << "a destroyed group's handle names nothing";
}

TEST_F(ServerObject, RemoveWhenNotHeldAndForcedRemoval) {
    Added released = Add(L"Released");
    const OPCHANDLE releasedHandle = released.serverHandle;
    released.group.Reset();
    EXPECT_HR(server_->RemoveGroup(releasedHandle, FALSE), S_OK);

    Added forced = Add(L"Forced");
    EXPECT_HR(server_->RemoveGroup(forced.serverHandle, TRUE), S_OK);
    EXPECT_EQ(GroupCount(), 0u);
    EXPECT_HR(server_->RemoveGroup(forced.serverHandle, TRUE), E_INVALIDARG);
    // The client's reference was cut off (across processes) or still reaches a group no longer
    // listed (in process); either way it is not in the server's list any more.
    EXPECT_HR(Add(L"Forced").hr, S_OK);
}

TEST_F(ServerObject, GroupEnumerators) {
    ComPtr<IUnknown> enumerator;
    EXPECT_HR(server_->CreateGroupEnumerator(OPC_ENUM_ALL, IID_IEnumString, enumerator.ReleaseAndGetAddressOf()),
              S_FALSE);
    ASSERT_TRUE(enumerator) << "an empty enumerator is still handed out";
    EXPECT_HR(server_->CreateGroupEnumerator(OPC_ENUM_ALL, IID_IOPCServer, enumerator.ReleaseAndGetAddressOf()),
              E_INVALIDARG);

    const Added a = Add(L"A");
    const Added b = Add(L"B");
    for (const OPCENUMSCOPE scope : {OPC_ENUM_PRIVATE_CONNECTIONS, OPC_ENUM_PUBLIC, OPC_ENUM_ALL}) {
        ComPtr<IEnumUnknown> groups;
        ASSERT_HR(server_->CreateGroupEnumerator(scope, IID_IEnumUnknown,
                                                 reinterpret_cast<LPUNKNOWN*>(groups.ReleaseAndGetAddressOf())),
                  S_OK);
        IUnknown* fetched[3] = {};
        ULONG count = 0;
        EXPECT_HR(groups->Next(3, fetched, &count), S_FALSE);
        ASSERT_EQ(count, 2u) << "scope " << scope;
        ComPtr<IUnknown> expected;
        a.group->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(expected.ReleaseAndGetAddressOf()));
        EXPECT_EQ(fetched[0], expected.Get());
        for (ULONG i = 0; i < count; ++i) fetched[i]->Release();
    }
    // A snapshot: a group added later does not show.
    ComPtr<IEnumString> names;
    ASSERT_HR(server_->CreateGroupEnumerator(OPC_ENUM_ALL, IID_IEnumString,
                                             reinterpret_cast<LPUNKNOWN*>(names.ReleaseAndGetAddressOf())),
              S_OK);
    Add(L"C");
    ASSERT_HR(names->Skip(2), S_OK);
    LPOLESTR name = nullptr;
    ULONG fetched = 0;
    EXPECT_HR(names->Next(1, &name, &fetched), S_FALSE);
}

TEST_F(ServerObject, Status) {
    OPCSERVERSTATUS* first = nullptr;
    ASSERT_HR(server_->GetStatus(&first), S_OK);
    EXPECT_EQ(first->dwServerState, OPC_STATUS_RUNNING);
    EXPECT_EQ(first->dwBandWidth, 0xFFFFFFFFu);
    EXPECT_EQ(first->wMajorVersion, 6);
    EXPECT_EQ(first->wMinorVersion, 0);
    EXPECT_EQ(first->wBuildNumber, 100);
    EXPECT_EQ(std::wstring(first->szVendorInfo), L"Korvex OPC Server");
    EXPECT_EQ(first->dwGroupCount, 0u);
    EXPECT_GE(CompareFileTime(&first->ftCurrentTime, &first->ftLastUpdateTime), 0);
    EXPECT_LE(CompareFileTime(&first->ftStartTime, &first->ftLastUpdateTime), 0);

    ComPtr<IOPCServer> second = Connect();
    OPCSERVERSTATUS* other = nullptr;
    ASSERT_HR(second->GetStatus(&other), S_OK);
    EXPECT_EQ(CompareFileTime(&first->ftStartTime, &other->ftStartTime), 0) << "one start time for every client";
    for (OPCSERVERSTATUS* s : {first, other}) {
        CoTaskMemFree(s->szVendorInfo);
        CoTaskMemFree(s);
    }
}

TEST_F(ServerObject, PublicGroupsDoNotExist) {
    ComPtr<IOPCServerPublicGroups> publicGroups;
    ASSERT_HR(server_->QueryInterface(IID_IOPCServerPublicGroups,
                                      reinterpret_cast<void**>(publicGroups.ReleaseAndGetAddressOf())),
              S_OK);
    ComPtr<IUnknown> group;
    EXPECT_HR(publicGroups->GetPublicGroupByName(L"X", IID_IUnknown, group.ReleaseAndGetAddressOf()), E_NOTIMPL);
    EXPECT_HR(publicGroups->RemovePublicGroup(1, TRUE), E_NOTIMPL);

    const Added a = Add(L"G");
    ComPtr<IOPCPublicGroupStateMgt> state;
    ASSERT_HR(a.group->QueryInterface(IID_IOPCPublicGroupStateMgt, reinterpret_cast<void**>(state.ReleaseAndGetAddressOf())),
              S_OK);
    BOOL isPublic = 7;
    EXPECT_HR(state->GetState(&isPublic), E_NOTIMPL);
    // Across processes the stub hands back its own [out] value; in process nothing is written.
    if (!CrossProcess()) {
        EXPECT_EQ(isPublic, 7) << "not written";
    }
    EXPECT_HR(state->MoveToPublic(), E_NOTIMPL);
}

TEST_F(ServerObject, LocalesAndClientName) {
    ComPtr<IOPCCommon> common;
    ASSERT_HR(server_->QueryInterface(IID_IOPCCommon, reinterpret_cast<void**>(common.ReleaseAndGetAddressOf())), S_OK);
    LCID lcid = 0;
    EXPECT_HR(common->GetLocaleID(&lcid), S_OK);
    EXPECT_EQ(lcid, 0x800u);
    const struct {
        LCID set;
        HRESULT hr;
        LCID after;
    } cases[] = {{1033, S_OK, 1033}, {1031, E_INVALIDARG, 1033}, {2052, E_INVALIDARG, 1033}, {2048, S_OK, 2048}};
    for (const auto& c : cases) {
        EXPECT_HR(common->SetLocaleID(c.set), c.hr) << c.set;
        EXPECT_HR(common->GetLocaleID(&lcid), S_OK);
        EXPECT_EQ(lcid, c.after) << c.set;
    }
    DWORD count = 0;
    LCID* locales = nullptr;
    ASSERT_HR(common->QueryAvailableLocaleIDs(&count, &locales), S_OK);
    ASSERT_EQ(count, 2u);
    EXPECT_EQ(locales[0], 2048u);
    EXPECT_EQ(locales[1], 1033u);
    CoTaskMemFree(locales);
    EXPECT_HR(common->SetClientName(L"测试客户端"), S_OK);
    if (!CrossProcess()) {
        EXPECT_HR(common->SetClientName(nullptr), S_OK) << "the proxy refuses a null string";
    }
}

// Chinese for the system locale and any other, English for an English one: through
// IOPCCommon the server object's locale chooses, through IOPCServer the call's.
TEST_F(ServerObject, ErrorStrings) {
    ComPtr<IOPCCommon> common;
    ASSERT_HR(server_->QueryInterface(IID_IOPCCommon, reinterpret_cast<void**>(common.ReleaseAndGetAddressOf())), S_OK);
    const struct {
        HRESULT code;
        HRESULT hr;
        const wchar_t* chinese;
        const wchar_t* english;
    } cases[] = {
        {OPC_E_UNKNOWNITEMID, S_OK, L"项ID在服务器地址空间中未定义或不再存在",
         L"The item ID is not defined in the server's address space or no longer exists"},
        {OPC_S_DATAQUEUEOVERFLOW, S_OK, L"数据队列溢出—某些值的变化将被忽略", L"Data queue overflow: some value changes were lost"},
        {OPC_E_RATENOTSET, S_OK, L"项对象没有设置采样率，默认采用组对象的更新率",
         L"No sampling rate is set for the item; the group's update rate applies"},
        {E_FAIL, S_OK, L"未详细说明的错误", L"Unspecified error"},
        {CONNECT_E_ADVISELIMIT, S_OK, L"超出该对象的连接限制", L"The connection limit of the object has been exceeded"},
        {OLE_E_NOCONNECTION, S_OK, L"对应该连接ID的连接不存在", L"No connection exists for this connection ID"},
        {OPC_E_INVALIDHANDLE, S_OK, L"句柄的值无效", L"The value of the handle is not valid"},
        {OPC_S_UNSUPPORTEDRATE, S_OK, L"服务器不支持所请求的数据速率，但将会使用可得到的且最接近的速率",
         L"The server does not support the requested data rate but will use the closest available rate"},
        {static_cast<HRESULT>(0xC0040404), E_INVALIDARG, nullptr, nullptr},
        {static_cast<HRESULT>(0xC004000D), E_INVALIDARG, nullptr, nullptr},
        {S_OK, E_INVALIDARG, nullptr, nullptr},
        {S_FALSE, E_INVALIDARG, nullptr, nullptr},
        {E_POINTER, E_INVALIDARG, nullptr, nullptr},
        {CONNECT_E_NOCONNECTION, E_INVALIDARG, nullptr, nullptr},
        {CONNECT_E_CANNOTCONNECT, E_INVALIDARG, nullptr, nullptr},
    };
    const auto expectText = [](HRESULT hr, LPWSTR text, const wchar_t* expected, const char* how) {
        if (SUCCEEDED(hr)) {
            EXPECT_EQ(std::wstring(text ? text : L"<null>"), expected) << how;
        }
        CoTaskMemFree(text);
    };
    for (const LCID locale : {0x800u, 1033u}) {
        ASSERT_HR(common->SetLocaleID(locale), S_OK);
        for (const auto& c : cases) {
            SCOPED_TRACE(Hex(c.code) + " locale " + std::to_string(locale));
            LPWSTR text = nullptr;
            HRESULT hr = common->GetErrorString(c.code, &text);
            EXPECT_HR(hr, c.hr);
            expectText(hr, text, locale == 1033 ? c.english : c.chinese, "IOPCCommon");
            for (const LCID callLocale : {1031u, 1033u}) {
                text = nullptr;
                hr = server_->GetErrorString(c.code, callLocale, &text);
                EXPECT_HR(hr, c.hr);
                expectText(hr, text, callLocale == 1033 ? c.english : c.chinese, "IOPCServer");
            }
        }
    }
}

class GroupState : public ServerObject {};

TEST_F(GroupState, SetStateRevisesAndStores) {
    Added a = Add(L"G", 1000);
    DWORD requested = 300, revised = 0;
    BOOL active = FALSE;
    FLOAT deadband = 150.0f;
    DWORD lcid = 1031;
    OPCHANDLE client = 5;
    LONG bias = 60;
    EXPECT_HR(a.group->SetState(&requested, &revised, &active, &bias, &deadband, &lcid, &client), OPC_S_UNSUPPORTEDRATE);
    EXPECT_EQ(revised, 400u);
    DWORD rate;
    BOOL isActive;
    LPWSTR name = nullptr;
    LONG timeBias;
    FLOAT gotDeadband;
    DWORD gotLcid;
    OPCHANDLE gotClient, handle;
    ASSERT_HR(a.group->GetState(&rate, &isActive, &name, &timeBias, &gotDeadband, &gotLcid, &gotClient, &handle), S_OK);
    CoTaskMemFree(name);
    EXPECT_EQ(rate, 400u);
    EXPECT_EQ(isActive, FALSE);
    EXPECT_EQ(timeBias, 60);
    EXPECT_EQ(gotDeadband, 150.0f) << "SetState stores any deadband";
    EXPECT_EQ(gotLcid, 1031u);
    EXPECT_EQ(gotClient, 5u);

    requested = 200;
    revised = 0;
    EXPECT_HR(a.group->SetState(&requested, &revised, nullptr, nullptr, nullptr, nullptr, nullptr), S_OK);
    EXPECT_EQ(revised, 200u);
    // No rate requested: the revised rate is not written.
    revised = 12345;
    active = TRUE;
    EXPECT_HR(a.group->SetState(nullptr, &revised, &active, nullptr, nullptr, nullptr, nullptr), S_OK);
    if (!CrossProcess()) {
        EXPECT_EQ(revised, 12345u) << "across processes the stub's own [out] value comes back";
    }
}

TEST_F(GroupState, KeepAlive) {
    Added a = Add(L"G");
    const struct {
        DWORD requested, revised;
        HRESULT hr;
    } cases[] = {{0, 0, S_OK}, {1, 200, OPC_S_UNSUPPORTEDRATE}, {350, 400, OPC_S_UNSUPPORTEDRATE}, {1000, 1000, S_OK}};
    for (const auto& c : cases) {
        DWORD revised = 99, current = 99;
        EXPECT_HR(a.group->SetKeepAlive(c.requested, &revised), c.hr) << c.requested;
        EXPECT_EQ(revised, c.revised) << c.requested;
        EXPECT_HR(a.group->GetKeepAlive(&current), S_OK);
        EXPECT_EQ(current, c.revised);
    }
}

TEST_F(GroupState, SetName) {
    Added a = Add(L"First");
    Added b = Add(L"Second");
    EXPECT_HR(a.group->SetName(L"First"), S_OK);
    EXPECT_HR(a.group->SetName(L"Second"), OPC_E_DUPLICATENAME);
    EXPECT_HR(a.group->SetName(L""), E_INVALIDARG);
    EXPECT_HR(a.group->SetName(L"Renamed"), S_OK);
    EXPECT_EQ(NameOf(a.group.Get()), L"Renamed");
    ComPtr<IUnknown> found;
    EXPECT_HR(server_->GetGroupByName(L"Renamed", IID_IUnknown, found.ReleaseAndGetAddressOf()), S_OK);
    EXPECT_HR(server_->GetGroupByName(L"First", IID_IUnknown, found.ReleaseAndGetAddressOf()), E_FAIL);
    EXPECT_HR(Add(L"First").hr, S_OK) << "the old name is free";
    EXPECT_EQ(EnumeratedNames(), (std::vector<std::wstring>{L"Renamed", L"Second", L"First"}));
}

TEST_F(GroupState, CloneGroup) {
    Added g1 = Add(L"");
    Added g2 = Add(L"");
    Added g3 = Add(L"Group3");  // the counter stands at 3 and Group3 exists
    DWORD revised;
    ASSERT_HR(g1.group->SetKeepAlive(1000, &revised), S_OK);
    ComPtr<IOPCGroupStateMgt2> clone;
    ASSERT_HR(g1.group->CloneGroup(L"", IID_IOPCGroupStateMgt2, reinterpret_cast<LPUNKNOWN*>(clone.ReleaseAndGetAddressOf())),
              S_OK);
    DWORD rate;
    BOOL active;
    LPWSTR name = nullptr;
    LONG bias;
    FLOAT deadband;
    DWORD lcid;
    OPCHANDLE client, handle;
    ASSERT_HR(clone->GetState(&rate, &active, &name, &bias, &deadband, &lcid, &client, &handle), S_OK);
    EXPECT_EQ(std::wstring(name), L"Group4");
    CoTaskMemFree(name);
    EXPECT_EQ(active, FALSE) << "a clone starts inactive";
    EXPECT_EQ(rate, 1000u);
    EXPECT_EQ(client, 77u);
    EXPECT_NE(handle, g1.serverHandle);
    DWORD keepAlive = 1;
    EXPECT_HR(clone->GetKeepAlive(&keepAlive), S_OK);
    EXPECT_EQ(keepAlive, 0u) << "the keep-alive time is not copied";

    ComPtr<IUnknown> duplicate;
    EXPECT_HR(g1.group->CloneGroup(L"Group2", IID_IUnknown, duplicate.ReleaseAndGetAddressOf()), OPC_E_DUPLICATENAME);
    EXPECT_FALSE(duplicate);
    EXPECT_HR(g1.group->CloneGroup(L"X", IID_IOPCShutdown, duplicate.ReleaseAndGetAddressOf()), E_NOINTERFACE);
    EXPECT_EQ(GroupCount(), 4u) << "a clone whose query failed is not listed";
}

TEST_F(GroupState, ConnectionPoints) {
    Added a = Add(L"G");
    ComPtr<IConnectionPointContainer> container;
    ASSERT_HR(a.group->QueryInterface(IID_IConnectionPointContainer,
                                      reinterpret_cast<void**>(container.ReleaseAndGetAddressOf())),
              S_OK);
    ComPtr<IConnectionPoint> point;
    EXPECT_HR(container->FindConnectionPoint(IID_IOPCShutdown, point.ReleaseAndGetAddressOf()), CONNECT_E_NOCONNECTION);
    EXPECT_FALSE(point);
    ASSERT_HR(container->FindConnectionPoint(IID_IOPCDataCallback, point.ReleaseAndGetAddressOf()), S_OK);
    IID iid{};
    EXPECT_HR(point->GetConnectionInterface(&iid), S_OK);
    EXPECT_TRUE(IsEqualIID(iid, IID_IOPCDataCallback));
    // A sink that lacks the interface is refused; an unknown cookie names nothing.
    DWORD cookie = 99;
    EXPECT_HR(point->Advise(server_.Get(), &cookie), CONNECT_E_CANNOTCONNECT);
    EXPECT_EQ(cookie, 0u);
    EXPECT_HR(point->Unadvise(12345), CONNECT_E_NOCONNECTION);

    ComPtr<IConnectionPointContainer> serverContainer;
    ASSERT_HR(server_->QueryInterface(IID_IConnectionPointContainer,
                                      reinterpret_cast<void**>(serverContainer.ReleaseAndGetAddressOf())),
              S_OK);
    EXPECT_HR(serverContainer->FindConnectionPoint(IID_IOPCDataCallback, point.ReleaseAndGetAddressOf()),
              CONNECT_E_NOCONNECTION);
    ASSERT_HR(serverContainer->FindConnectionPoint(IID_IOPCShutdown, point.ReleaseAndGetAddressOf()), S_OK);
    ComPtr<IEnumConnections> connections;
    ASSERT_HR(point->EnumConnections(connections.ReleaseAndGetAddressOf()), S_OK);
    CONNECTDATA data{};
    ULONG fetched = 0;
    EXPECT_HR(connections->Next(1, &data, &fetched), S_FALSE);
}

}  // namespace
}  // namespace korvex::test
