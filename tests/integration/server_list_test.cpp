// KorvexServerList.exe, registered in the test prefix and called across processes through the proxy
// (and its object called in this process too): which classes it lists for which categories, among
// made-up classes in both registry views beside the OPC server; their names; ProgIDs; the exact
// code of every failure; korvex-opc's list; that it ends when its last object goes; and its
// registration.
#include "tests/support/hresult.h"
#include "tests/support/server_processes.h"
#include "tests/support/wine_process.h"

#include "app/server_clsid.h"
#include "com/com_ptr.h"
#include "com/string_convert.h"
#include "com/unique_any.h"
#include "opccomn.h"
#include "opcda.h"
#include "tools/serverlist/server_list.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace korvex::test {
namespace {

using com::ComPtr;
using namespace std::chrono_literals;

constexpr CLSID kServer = app::CLSID_KorvexOPCServer;
constexpr CLSID kListedA = {0x5e1a0001, 0x7a3b, 0x4c11, {0x9d, 1, 2, 3, 4, 5, 6, 7}};   // DA 2.0
constexpr CLSID kListedB = {0x5e1a0002, 0x7a3b, 0x4c11, {0x9d, 1, 2, 3, 4, 5, 6, 7}};   // DA 3.0 and kCustom
constexpr CLSID kListed32 = {0x5e1a0003, 0x7a3b, 0x4c11, {0x9d, 1, 2, 3, 4, 5, 6, 7}};  // DA 1.0, 32-bit view
constexpr CLSID kUnnamed = {0x5e1a0004, 0x7a3b, 0x4c11, {0x9d, 1, 2, 3, 4, 5, 6, 7}};   // no category, no ProgID
constexpr CLSID kNowhere = {0x5e1a0005, 0x7a3b, 0x4c11, {0x9d, 1, 2, 3, 4, 5, 6, 7}};
constexpr CATID kCustom = {0x5e1a00ff, 0x7a3b, 0x4c11, {0x9d, 1, 2, 3, 4, 5, 6, 7}};
const CATID kDa10 = CATID_OPCDAServer10, kDa20 = CATID_OPCDAServer20, kDa30 = CATID_OPCDAServer30;
const std::vector<CLSID> kKnown = {kServer, kListedA, kListedB, kListed32, kUnnamed};
const wchar_t* const kChineseName = L"测试服务器 A (test server A)";

std::wstring Text(REFGUID guid) {
    wchar_t text[40] = {};
    StringFromGUID2(guid, text, 40);
    return text;
}

void WriteKey(const std::wstring& path, const wchar_t* value, REGSAM view = 0) {
    com::UniqueHkey key;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | view, nullptr, key.put(),
                              nullptr),
              ERROR_SUCCESS)
        << path;
    if (value)
        RegSetValueExW(key.get(), nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value),
                       static_cast<DWORD>((wcslen(value) + 1) * sizeof(wchar_t)));
}

void DeleteTree(const wchar_t* parent, const std::wstring& name, REGSAM view = 0) {
    com::UniqueHkey key;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, parent, 0, KEY_ALL_ACCESS | view, key.put()) == ERROR_SUCCESS)
        RegDeleteTreeW(key.get(), name.c_str());
}

// A made-up class: its categories and names in one registry view, its ProgID keys in ours.
struct MadeUpClass {
    CLSID clsid;
    std::vector<CATID> categories;
    const wchar_t* name;
    const wchar_t* progId;
    const wchar_t* independentProgId;
    REGSAM view;
};
const MadeUpClass kMadeUp[] = {
    {kListedA, {kDa20}, kChineseName, L"Korvex.Test.ListedA.1", L"Korvex.Test.ListedA", 0},
    {kListedB, {kDa30, kCustom}, nullptr, L"Korvex.Test.ListedB.1", nullptr, 0},
    {kListed32, {kDa10}, L"32-bit test server", L"Korvex.Test.Listed32.1", nullptr, KEY_WOW64_32KEY},
    {kUnnamed, {}, L"no ProgID", nullptr, nullptr, 0},
};

DWORD RunServerList(const std::vector<std::string>& args) {
    ChildProcess program("KorvexServerList.exe", args);
    return program.waitForExit(30s).value_or(0xFFFFFFFF);
}

// The two ways to the object: in this process, and through COM activation and the proxy.
struct Way {
    const char* name;
    ComPtr<IOPCServerList2> list2;
    ComPtr<IOPCServerList> list;
};

class ServerList : public testing::Test {
protected:
    static void SetUpTestSuite() {
        // The OPC server registers itself when it starts.
        static ServerProcesses servers;
        servers.Start();
        servers.StopServer();
        servers.StopSimulator();
        ASSERT_EQ(RunServerList({"/RegServer"}), 0u);
        for (const MadeUpClass& c : kMadeUp) {
            const std::wstring key = L"CLSID\\" + Text(c.clsid);
            WriteKey(key, c.name, c.view);
            for (const CATID& category : c.categories)
                WriteKey(key + L"\\Implemented Categories\\" + Text(category), nullptr, c.view);
            if (c.progId) {
                WriteKey(key + L"\\ProgID", c.progId, c.view);
                WriteKey(std::wstring(c.progId) + L"\\CLSID", Text(c.clsid).c_str());
            }
            if (c.independentProgId) {
                WriteKey(key + L"\\VersionIndependentProgID", c.independentProgId, c.view);
                WriteKey(std::wstring(c.independentProgId) + L"\\CurVer", c.progId);
            }
        }
        ways_.resize(2);
        ways_[0].name = "in process";
        ways_[0].list2 = com::make<serverlist::CServerList>();
        ways_[1].name = "across processes";
        ASSERT_HR(CoCreateInstance(CLSID_OpcServerList, nullptr, CLSCTX_LOCAL_SERVER, IID_IOPCServerList2,
                                   reinterpret_cast<void**>(ways_[1].list2.ReleaseAndGetAddressOf())),
                  S_OK);
        for (Way& way : ways_)
            ASSERT_HR(way.list2->QueryInterface(IID_IOPCServerList,
                                                reinterpret_cast<void**>(way.list.ReleaseAndGetAddressOf())),
                      S_OK);
    }
    static void TearDownTestSuite() {
        ways_.clear();
        for (const MadeUpClass& c : kMadeUp) {
            DeleteTree(L"CLSID", Text(c.clsid), c.view);
            for (const wchar_t* progId : {c.progId, c.independentProgId})
                if (progId) DeleteTree(nullptr, progId);
        }
    }
    static std::vector<Way>& Ways() { return ways_; }
    static inline std::vector<Way> ways_;
};

// Which of the known classes `classes` holds, fetched three at a time.
template <class Enumerator>
std::vector<CLSID> KnownOf(Enumerator* classes) {
    std::vector<CLSID> known;
    GUID batch[3];
    ULONG fetched = 0;
    HRESULT hr;
    do {
        hr = classes->Next(3, batch, &fetched);
        for (ULONG i = 0; i < fetched; ++i)
            if (std::ranges::find(kKnown, batch[i]) != kKnown.end()) known.push_back(batch[i]);
    } while (hr == S_OK);
    EXPECT_HR(hr, S_FALSE);
    std::ranges::sort(known, [](const GUID& a, const GUID& b) { return memcmp(&a, &b, sizeof a) < 0; });
    return known;
}

TEST_F(ServerList, ListsTheClassesOfAnyImplementedAndAllRequiredCategories) {
    struct Case {
        const char* name;
        std::vector<CATID> anyOf, allOf;
        std::vector<CLSID> expected;  // of kKnown, in GUID byte order
    };
    const Case cases[] = {
        {"DA 2.0", {kDa20}, {}, {kListedA, kServer}},
        {"DA 3.0", {kDa30}, {}, {kListedB, kServer}},
        {"DA 1.0 (a class of the other registry view)", {kDa10}, {}, {kListed32, kServer}},
        {"DA 2.0 or 3.0", {kDa20, kDa30}, {}, {kListedA, kListedB, kServer}},
        {"DA 3.0 with DA 2.0 required", {kDa30}, {kDa20}, {kServer}},
        {"DA 3.0 with DA 2.0 and another required", {kDa30}, {kDa20, kCustom}, {}},
        {"any, with another required", {}, {kCustom}, {kListedB}},
        {"any", {}, {}, {kListedA, kListedB, kListed32, kUnnamed, kServer}},
        {"a category nothing implements", {kNowhere}, {}, {}},
    };
    for (Way& way : Ways()) {
        for (const Case& c : cases) {
            std::vector<CATID> anyOf = c.anyOf, allOf = c.allOf;
            std::vector<CLSID> expected = c.expected;
            std::ranges::sort(expected, [](const GUID& a, const GUID& b) { return memcmp(&a, &b, sizeof a) < 0; });
            ComPtr<IOPCEnumGUID> classes2;
            ASSERT_HR(way.list2->EnumClassesOfCategories(static_cast<ULONG>(anyOf.size()), anyOf.data(),
                                                         static_cast<ULONG>(allOf.size()), allOf.data(),
                                                         classes2.ReleaseAndGetAddressOf()),
                      S_OK)
                << way.name << ": " << c.name;
            EXPECT_EQ(KnownOf(classes2.Get()), expected) << way.name << ", IOPCServerList2: " << c.name;
            ComPtr<IEnumGUID> classes;
            ASSERT_HR(way.list->EnumClassesOfCategories(static_cast<ULONG>(anyOf.size()), anyOf.data(),
                                                        static_cast<ULONG>(allOf.size()), allOf.data(),
                                                        classes.ReleaseAndGetAddressOf()),
                      S_OK)
                << way.name << ": " << c.name;
            EXPECT_EQ(KnownOf(classes.Get()), expected) << way.name << ", IOPCServerList: " << c.name;
        }
    }
}

TEST_F(ServerList, EnumeratorSkipsResetsAndClonesAcrossProcesses) {
    CATID anyOf[] = {kDa20, kDa30, kDa10};
    ComPtr<IOPCEnumGUID> classes;
    ASSERT_HR(Ways()[1].list2->EnumClassesOfCategories(3, anyOf, 0, nullptr, classes.ReleaseAndGetAddressOf()), S_OK);
    std::vector<GUID> all(64);
    ULONG count = 0;
    ASSERT_HR(classes->Next(64, all.data(), &count), S_FALSE);
    ASSERT_GE(count, 4u);
    EXPECT_HR(classes->Reset(), S_OK);
    EXPECT_HR(classes->Skip(1), S_OK);
    ComPtr<IOPCEnumGUID> clone;
    ASSERT_HR(classes->Clone(clone.ReleaseAndGetAddressOf()), S_OK);
    GUID second{};
    ULONG fetched = 0;
    EXPECT_HR(clone->Next(1, &second, &fetched), S_OK);
    EXPECT_TRUE(fetched == 1 && IsEqualGUID(second, all[1])) << "a clone continues where its source was";
    EXPECT_HR(classes->Skip(count), S_FALSE);
    EXPECT_HR(classes->Next(1, &second, &fetched), S_FALSE);
    EXPECT_EQ(fetched, 0u);
}

std::wstring Take(LPOLESTR& text) {
    std::wstring copy = text ? text : L"(null)";
    CoTaskMemFree(text);
    text = nullptr;
    return copy;
}

TEST_F(ServerList, ClassDetails) {
    struct Case {
        const char* name;
        CLSID clsid;
        HRESULT expected;
        const wchar_t *progId, *userType, *independentProgId;  // "(null)": none handed out
    };
    const Case cases[] = {
        {"the OPC server (no version-independent ProgID: the ProgID)", kServer, S_OK, L"Korvex.OPCServer.2",
         L"KorvexOPCServer", L"Korvex.OPCServer.2"},
        {"a class with every name", kListedA, S_OK, L"Korvex.Test.ListedA.1", kChineseName, L"Korvex.Test.ListedA"},
        {"a class without a name", kListedB, S_OK, L"Korvex.Test.ListedB.1", L"", L"Korvex.Test.ListedB.1"},
        {"a class of the other registry view", kListed32, S_OK, L"Korvex.Test.Listed32.1", L"32-bit test server",
         L"Korvex.Test.Listed32.1"},
        {"the server list", CLSID_OpcServerList, S_OK, L"OPC.ServerList.1", L"Korvex OPC Server List",
         L"OPC.ServerList"},
        {"a class without a ProgID", kUnnamed, REGDB_E_CLASSNOTREG, L"(null)", L"(null)", L"(null)"},
        {"a class registered nowhere", kNowhere, REGDB_E_CLASSNOTREG, L"(null)", L"(null)", L"(null)"},
    };
    for (Way& way : Ways()) {
        for (const Case& c : cases) {
            LPOLESTR progId = nullptr, userType = nullptr, independent = nullptr;
            EXPECT_HR(way.list2->GetClassDetails(c.clsid, &progId, &userType, &independent), c.expected)
                << way.name << ": " << c.name;
            EXPECT_EQ(Take(progId), c.progId) << way.name << ": " << c.name;
            EXPECT_EQ(Take(userType), c.userType) << way.name << ": " << c.name;
            EXPECT_EQ(Take(independent), c.independentProgId) << way.name << ": " << c.name;
            EXPECT_HR(way.list->GetClassDetails(c.clsid, &progId, &userType), c.expected) << way.name << ": " << c.name;
            EXPECT_EQ(Take(progId), c.progId) << way.name << ", IOPCServerList: " << c.name;
            EXPECT_EQ(Take(userType), c.userType) << way.name << ", IOPCServerList: " << c.name;
        }
    }
}

TEST_F(ServerList, ClassOfProgId) {
    struct Case {
        const char* name;
        const wchar_t* progId;
        HRESULT expected;
        CLSID clsid;
    };
    const Case cases[] = {
        {"the OPC server's", L"Korvex.OPCServer.2", S_OK, kServer},
        {"in another case", L"KORVEX.opcserver.2", S_OK, kServer},
        {"version-independent, through CurVer", L"Korvex.Test.ListedA", S_OK, kListedA},
        {"the server list's own", L"OPC.ServerList", S_OK, CLSID_OpcServerList},
        {"of a class in the other registry view", L"Korvex.Test.Listed32.1", S_OK, kListed32},
        {"unknown", L"Korvex.NoSuchServer.1", CO_E_CLASSSTRING, CLSID_NULL},
        {"empty", L"", CO_E_CLASSSTRING, CLSID_NULL},
    };
    for (Way& way : Ways()) {
        for (const Case& c : cases) {
            CLSID clsid = kNowhere;
            EXPECT_HR(way.list2->CLSIDFromProgID(c.progId, &clsid), c.expected) << way.name << ": " << c.name;
            EXPECT_EQ(Text(clsid), Text(c.clsid)) << way.name << ": " << c.name;
            clsid = kNowhere;
            EXPECT_HR(way.list->CLSIDFromProgID(c.progId, &clsid), c.expected)
                << way.name << ", IOPCServerList: " << c.name;
            EXPECT_EQ(Text(clsid), Text(c.clsid)) << way.name << ", IOPCServerList: " << c.name;
        }
    }
}

// A proxy refuses null [out] pointers and null arrays before they leave the client.
TEST_F(ServerList, NullPointersInProcess) {
    IOPCServerList2* list2 = Ways()[0].list2.Get();
    IOPCServerList* list = Ways()[0].list.Get();
    CATID some[] = {kDa20};
    ComPtr<IOPCEnumGUID> classes2;
    ComPtr<IEnumGUID> classes;
    LPOLESTR a = nullptr, b = nullptr;
    CLSID clsid{};
    const std::pair<const char*, std::function<HRESULT()>> cases[] = {
        {"no enumerator",
         [&] { return list2->EnumClassesOfCategories(1, some, 0, nullptr, static_cast<IOPCEnumGUID**>(nullptr)); }},
        {"no enumerator (IOPCServerList)",
         [&] { return list->EnumClassesOfCategories(1, some, 0, nullptr, static_cast<IEnumGUID**>(nullptr)); }},
        {"no implemented array",
         [&] { return list2->EnumClassesOfCategories(1, nullptr, 0, nullptr, classes2.ReleaseAndGetAddressOf()); }},
        {"no required array",
         [&] { return list->EnumClassesOfCategories(0, nullptr, 1, nullptr, classes.ReleaseAndGetAddressOf()); }},
        {"no ProgID", [&] { return list2->GetClassDetails(kServer, nullptr, &a, &b); }},
        {"no user type", [&] { return list2->GetClassDetails(kServer, &a, nullptr, &b); }},
        {"no version-independent ProgID", [&] { return list2->GetClassDetails(kServer, &a, &b, nullptr); }},
        {"no user type (IOPCServerList)", [&] { return list->GetClassDetails(kServer, &a, nullptr); }},
        {"no name", [&] { return list2->CLSIDFromProgID(nullptr, &clsid); }},
        {"no class", [&] { return list->CLSIDFromProgID(L"Korvex.OPCServer.2", nullptr); }},
    };
    for (const auto& [name, call] : cases) {
        EXPECT_HR(call(), E_INVALIDARG) << name;
        EXPECT_TRUE(a == nullptr && b == nullptr) << name << ": a string was handed out";
    }
}

void ExpectServersListed(const std::string& client) {
    ProcessOptions options;
    options.separateErrors = true;
    ChildProcess run(client, {"servers"}, options);
    ASSERT_EQ(run.waitForExit(30s), std::optional<DWORD>(0)) << client << ":\n" << run.output() << run.errors();
    const std::string lines = run.output();
    EXPECT_NE(lines.find("Korvex.OPCServer.2 {B445967B-4C3E-4E38-9C91-6A8DDD94430C} KorvexOPCServer\r\n"),
              std::string::npos)
        << client << ":\n"
        << lines;
    EXPECT_NE(lines.find("Korvex.Test.ListedA.1 {5E1A0001-7A3B-4C11-9D01-020304050607} " + com::toUtf8(kChineseName)),
              std::string::npos)
        << client << ":\n"
        << lines;
    EXPECT_EQ(lines.find("no ProgID"), std::string::npos) << client << ": a class without a category is no OPC server";
}

TEST_F(ServerList, TheClientListsTheServers) { ExpectServersListed("korvex-opc.exe"); }

// 32-bit clients are the most common: the i686 build's client, through the i686 proxy.
TEST_F(ServerList, The32BitClientListsTheServers) {
    const std::string client = binDirectory() + "\\..\\..\\i686\\bin\\korvex-opc.exe";
    if (GetFileAttributesW(com::fromUtf8(client).c_str()) == INVALID_FILE_ATTRIBUTES)
        GTEST_SKIP() << "no i686 build beside this one";
    ExpectServersListed(client);
}

TEST_F(ServerList, EndsWhenItsLastObjectIsReleased) {
    ASSERT_EQ(runningProcesses("KorvexServerList.exe").size(), 1u);
    Ways()[1].list.Reset();
    Ways()[1].list2.Reset();
    for (int i = 0; i < 200 && !runningProcesses("KorvexServerList.exe").empty(); ++i) Sleep(50);
    EXPECT_TRUE(runningProcesses("KorvexServerList.exe").empty());
}

// A string, or a DWORD in decimal.
std::optional<std::wstring> Value(const std::wstring& key, const wchar_t* name) {
    wchar_t text[1024];
    DWORD bytes = sizeof text, type = 0;
    if (RegGetValueW(HKEY_CLASSES_ROOT, key.c_str(), name, RRF_RT_REG_SZ | RRF_RT_REG_DWORD, &type, text, &bytes) !=
        ERROR_SUCCESS)
        return std::nullopt;
    if (type == REG_DWORD) {
        DWORD number = 0;
        std::memcpy(&number, text, sizeof number);
        return std::to_wstring(number);
    }
    return std::wstring(text);
}

TEST_F(ServerList, RegistersAndUnregistersItsKeysOnly) {
    const std::wstring clsid = Text(CLSID_OpcServerList), classKey = L"CLSID\\" + clsid;
    struct Expected {
        std::wstring key;
        const wchar_t* name;
        std::wstring value;
    };
    const Expected written[] = {
        {classKey, nullptr, L"Korvex OPC Server List"},
        {classKey, L"AppID", clsid},
        {classKey + L"\\ProgID", nullptr, L"OPC.ServerList.1"},
        {classKey + L"\\VersionIndependentProgID", nullptr, L"OPC.ServerList"},
        {L"OPC.ServerList.1\\CLSID", nullptr, clsid},
        {L"OPC.ServerList\\CLSID", nullptr, clsid},
        {L"OPC.ServerList\\CurVer", nullptr, L"OPC.ServerList.1"},
        {L"AppID\\" + clsid, nullptr, L"Korvex OPC Server List"},
        {L"AppID\\" + clsid, L"AuthenticationLevel", L"5"},
        {L"AppID\\KorvexServerList.exe", L"AppID", clsid},
    };
    for (const Expected& e : written) EXPECT_EQ(Value(e.key, e.name).value_or(L"(none)"), e.value) << e.key;
    const std::wstring server = Value(classKey + L"\\LocalServer32", nullptr).value_or(L"");
    EXPECT_TRUE(server.starts_with(L"\"") && server.ends_with(L"\\KorvexServerList.exe\""))
        << "LocalServer32 is quoted";

    // Another product's server list is left as it is.
    WriteKey(classKey + L"\\LocalServer32", L"C:\\Other\\OpcEnum.exe");
    EXPECT_EQ(RunServerList({"/RegServer"}), 3u);
    EXPECT_EQ(RunServerList({"-unregserver"}), 3u);
    EXPECT_EQ(Value(classKey + L"\\LocalServer32", nullptr).value_or(L""), L"C:\\Other\\OpcEnum.exe");
    WriteKey(classKey + L"\\LocalServer32", server.c_str());

    EXPECT_EQ(RunServerList({}), 2u);
    EXPECT_EQ(RunServerList({"/Register"}), 2u);
    EXPECT_EQ(RunServerList({"/UnregServer"}), 0u);
    for (const Expected& e : written) EXPECT_FALSE(Value(e.key, e.name).has_value()) << e.key << " left behind";
    EXPECT_FALSE(Value(classKey + L"\\LocalServer32", nullptr).has_value()) << "left behind";
    EXPECT_EQ(RunServerList({"/UnregServer"}), 0u) << "nothing to remove is no error";
}

}  // namespace
}  // namespace korvex::test
