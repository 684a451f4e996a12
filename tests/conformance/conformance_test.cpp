// Marshaling conformance of our IDL: every method of every interface in idl/opcda.idl and
// idl/opccomn.idl is called across processes, through korvexps.dll, against conformance_server.exe
// (canned answers that depend on the inputs), from an MTA and from an STA client. A case checks
// that every [in] value reached the server and every [out] value came back intact: strings
// (empty, ASCII, Chinese, long), arrays of structures with embedded strings, blobs and VARIANTs,
// [in, out] continuation points, enumerators, iid_is outputs and the callbacks the server makes
// from a thread of its own.
//
// A method added to the IDL without a case fails EveryMethodOfTheIdlHasACase: the list of
// declared methods is read from the IDL at build time (idl_methods.py), and checked there
// against widl's vtables.
#include "cases.h"
#include "client_support.h"
#include "conformance_protocol.h"
#include "idl_methods.h"

#include "tests/support/dialog_watchdog.h"
#include "tests/support/wine_process.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <set>
#include <tuple>

namespace conformance::client {
namespace {

using korvex::test::ChildProcess;

// The proxy factory's fixed class (proxy/dlldata.c).
constexpr wchar_t kProxyClsid[] = L"{52D0DA83-4E5C-4386-9F48-AA69C5A56260}";

struct Case {
    const char* name;
    std::vector<std::string> methods;  // "Interface::Method" of every method the case exercises
    void (*run)(Session&);
};

const std::vector<Case>& cases() {
    static const std::vector<Case> all = {
        // IOPCServer, IOPCServerPublicGroups
        {"AddGroup", {"IOPCServer::AddGroup"}, addGroup},
        {"ServerGetErrorString", {"IOPCServer::GetErrorString"}, serverGetErrorString},
        {"GetGroupByName", {"IOPCServer::GetGroupByName"}, getGroupByName},
        {"GetStatus", {"IOPCServer::GetStatus"}, getStatus},
        {"RemoveGroup", {"IOPCServer::RemoveGroup"}, removeGroup},
        {"CreateGroupEnumerator", {"IOPCServer::CreateGroupEnumerator"}, createGroupEnumerator},
        {"GetPublicGroupByName", {"IOPCServerPublicGroups::GetPublicGroupByName"}, getPublicGroupByName},
        {"RemovePublicGroup", {"IOPCServerPublicGroups::RemovePublicGroup"}, removePublicGroup},
        // IOPCCommon, IOPCShutdown
        {"LocaleIds",
         {"IOPCCommon::SetLocaleID", "IOPCCommon::GetLocaleID", "IOPCCommon::QueryAvailableLocaleIDs"},
         localeIds},
        {"CommonGetErrorString", {"IOPCCommon::GetErrorString"}, commonGetErrorString},
        {"ClientNameAndShutdown", {"IOPCCommon::SetClientName", "IOPCShutdown::ShutdownRequest"},
         clientNameAndShutdown},
        // IOPCServerList, IOPCServerList2, IOPCEnumGUID
        {"ServerList",
         {"IOPCServerList::EnumClassesOfCategories", "IOPCServerList::GetClassDetails",
          "IOPCServerList::CLSIDFromProgID"},
         serverList},
        {"ServerList2",
         {"IOPCServerList2::EnumClassesOfCategories", "IOPCServerList2::GetClassDetails",
          "IOPCServerList2::CLSIDFromProgID"},
         serverList2},
        {"EnumGuid", {"IOPCEnumGUID::Next", "IOPCEnumGUID::Skip", "IOPCEnumGUID::Reset", "IOPCEnumGUID::Clone"},
         enumGuid},
        // IOPCBrowseServerAddressSpace
        {"QueryOrganization", {"IOPCBrowseServerAddressSpace::QueryOrganization"}, queryOrganization},
        {"ChangeBrowsePosition", {"IOPCBrowseServerAddressSpace::ChangeBrowsePosition"}, changeBrowsePosition},
        {"BrowseOPCItemIDs", {"IOPCBrowseServerAddressSpace::BrowseOPCItemIDs"}, browseOpcItemIds},
        {"GetItemID", {"IOPCBrowseServerAddressSpace::GetItemID"}, getItemId},
        {"BrowseAccessPaths", {"IOPCBrowseServerAddressSpace::BrowseAccessPaths"}, browseAccessPaths},
        // IOPCItemProperties, IOPCBrowse, IOPCItemIO
        {"QueryAvailableProperties", {"IOPCItemProperties::QueryAvailableProperties"}, queryAvailableProperties},
        {"GetItemProperties", {"IOPCItemProperties::GetItemProperties"}, getItemProperties},
        {"LookupItemIDs", {"IOPCItemProperties::LookupItemIDs"}, lookupItemIds},
        {"GetProperties", {"IOPCBrowse::GetProperties"}, getProperties},
        {"Browse", {"IOPCBrowse::Browse"}, browse},
        {"ItemIORead", {"IOPCItemIO::Read"}, itemIoRead},
        {"ItemIOWriteVQT", {"IOPCItemIO::WriteVQT"}, itemIoWriteVqt},
        // IOPCGroupStateMgt, IOPCGroupStateMgt2, IOPCPublicGroupStateMgt
        {"GroupGetState", {"IOPCGroupStateMgt::GetState"}, groupGetState},
        {"GroupSetState", {"IOPCGroupStateMgt::SetState"}, groupSetState},
        {"GroupSetName", {"IOPCGroupStateMgt::SetName"}, groupSetName},
        {"CloneGroup", {"IOPCGroupStateMgt::CloneGroup"}, cloneGroup},
        {"KeepAlive", {"IOPCGroupStateMgt2::SetKeepAlive", "IOPCGroupStateMgt2::GetKeepAlive"}, keepAlive},
        {"PublicGroupState", {"IOPCPublicGroupStateMgt::GetState", "IOPCPublicGroupStateMgt::MoveToPublic"},
         publicGroupState},
        // IOPCItemMgt, IEnumOPCItemAttributes
        {"AddItems", {"IOPCItemMgt::AddItems"}, addItems},
        {"ValidateItems", {"IOPCItemMgt::ValidateItems"}, validateItems},
        {"RemoveItems", {"IOPCItemMgt::RemoveItems"}, removeItems},
        {"SetActiveState", {"IOPCItemMgt::SetActiveState"}, setActiveState},
        {"SetClientHandles", {"IOPCItemMgt::SetClientHandles"}, setClientHandles},
        {"SetDatatypes", {"IOPCItemMgt::SetDatatypes"}, setDatatypes},
        {"CreateEnumerator", {"IOPCItemMgt::CreateEnumerator"}, createEnumerator},
        {"ItemAttributes",
         {"IEnumOPCItemAttributes::Next", "IEnumOPCItemAttributes::Skip", "IEnumOPCItemAttributes::Reset",
          "IEnumOPCItemAttributes::Clone"},
         itemAttributes},
        // IOPCItemDeadbandMgt, IOPCItemSamplingMgt
        {"Deadbands",
         {"IOPCItemDeadbandMgt::SetItemDeadband", "IOPCItemDeadbandMgt::GetItemDeadband",
          "IOPCItemDeadbandMgt::ClearItemDeadband"},
         deadbands},
        {"SamplingRates",
         {"IOPCItemSamplingMgt::SetItemSamplingRate", "IOPCItemSamplingMgt::GetItemSamplingRate",
          "IOPCItemSamplingMgt::ClearItemSamplingRate"},
         samplingRates},
        {"BufferEnable", {"IOPCItemSamplingMgt::SetItemBufferEnable", "IOPCItemSamplingMgt::GetItemBufferEnable"},
         bufferEnable},
        // IOPCSyncIO, IOPCSyncIO2
        {"SyncRead", {"IOPCSyncIO::Read"}, syncRead},
        {"SyncWrite", {"IOPCSyncIO::Write"}, syncWrite},
        {"SyncReadMaxAge", {"IOPCSyncIO2::ReadMaxAge"}, syncReadMaxAge},
        {"SyncWriteVQT", {"IOPCSyncIO2::WriteVQT"}, syncWriteVqt},
        // IOPCAsyncIO
        {"Async1Read", {"IOPCAsyncIO::Read"}, async1Read},
        {"Async1Write", {"IOPCAsyncIO::Write"}, async1Write},
        {"Async1Refresh", {"IOPCAsyncIO::Refresh"}, async1Refresh},
        {"Async1Cancel", {"IOPCAsyncIO::Cancel"}, async1Cancel},
        // IOPCAsyncIO2, IOPCAsyncIO3 and the IOPCDataCallback calls they cause
        {"Async2Read", {"IOPCAsyncIO2::Read", "IOPCDataCallback::OnReadComplete"}, async2Read},
        {"Async2Write", {"IOPCAsyncIO2::Write", "IOPCDataCallback::OnWriteComplete"}, async2Write},
        {"Async2Refresh", {"IOPCAsyncIO2::Refresh2", "IOPCDataCallback::OnDataChange"}, async2Refresh},
        {"Async2Cancel", {"IOPCAsyncIO2::Cancel2", "IOPCDataCallback::OnCancelComplete"}, async2Cancel},
        {"Async2Enable", {"IOPCAsyncIO2::SetEnable", "IOPCAsyncIO2::GetEnable"}, async2Enable},
        {"Async3ReadMaxAge", {"IOPCAsyncIO3::ReadMaxAge"}, async3ReadMaxAge},
        {"Async3WriteVQT", {"IOPCAsyncIO3::WriteVQT"}, async3WriteVqt},
        {"Async3RefreshMaxAge", {"IOPCAsyncIO3::RefreshMaxAge"}, async3RefreshMaxAge},
    };
    return all;
}

// Registry ----------------------------------------------------------------------------------------

std::wstring wide(const std::string& utf8Text) {
    std::wstring text(utf8Text.size(), L'\0');
    text.resize(MultiByteToWideChar(CP_UTF8, 0, utf8Text.data(), static_cast<int>(utf8Text.size()), text.data(),
                                    static_cast<int>(text.size())));
    return text;
}

std::wstring guidText(const GUID& guid) {
    wchar_t text[39] = {};
    StringFromGUID2(guid, text, 39);
    return text;
}

std::optional<std::wstring> registryDefault(const std::wstring& key) {
    wchar_t value[1024];
    DWORD size = sizeof value;
    if (RegGetValueW(HKEY_CLASSES_ROOT, key.c_str(), nullptr, RRF_RT_REG_SZ, nullptr, value, &size) != ERROR_SUCCESS)
        return std::nullopt;
    return std::wstring(value);
}

LSTATUS setRegistryDefault(const std::wstring& key, const std::wstring& value) {
    HKEY handle = nullptr;
    LSTATUS status =
        RegCreateKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &handle, nullptr);
    if (status != ERROR_SUCCESS) return status;
    status = RegSetValueExW(handle, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                            static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(handle);
    return status;
}

// The proxy DLL and the test server, registered in the prefix for this run (and removed again,
// unless the proxy was registered before).
class Registration : public ::testing::Environment {
public:
    void SetUp() override {
        korvex::test::DialogWatchdog::instance();
        proxyWasRegistered_ = registryDefault(L"Interface\\" + guidText(IID_IOPCServer) + L"\\ProxyStubClsid32")
                                  .has_value();
        proxy_ = LoadLibraryW(wide(korvex::test::programPath("korvexps.dll")).c_str());
        ASSERT_NE(proxy_, nullptr) << "korvexps.dll not found in " << korvex::test::binDirectory();
        ASSERT_EQ(Hr{callProxy("DllRegisterServer")}, Hr{S_OK}) << "korvexps.dll DllRegisterServer";

        const std::wstring classKey = L"CLSID\\" + guidText(kServerClsid);
        ASSERT_EQ(setRegistryDefault(classKey, L"Korvex conformance test server"), ERROR_SUCCESS) << utf8(classKey);
        ASSERT_EQ(setRegistryDefault(classKey + L"\\LocalServer32",
                                     L"\"" + wide(korvex::test::programPath(utf8(kServerExe))) + L"\""),
                  ERROR_SUCCESS)
            << utf8(classKey) << "\\LocalServer32";
    }

    void TearDown() override {
        RegDeleteTreeW(HKEY_CLASSES_ROOT, (L"CLSID\\" + guidText(kServerClsid)).c_str());
        if (proxy_ && !proxyWasRegistered_) {
            EXPECT_EQ(Hr{callProxy("DllUnregisterServer")}, Hr{S_OK});
        }
        if (proxy_) FreeLibrary(proxy_);
    }

private:
    HRESULT callProxy(const char* entry) {
        // Through a generic function pointer type: FARPROC's own signature is not the entry's.
        using Entry = HRESULT(WINAPI*)();
        auto function = reinterpret_cast<Entry>(reinterpret_cast<void (*)()>(GetProcAddress(proxy_, entry)));
        return function ? function() : HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND);
    }

    HMODULE proxy_ = nullptr;
    bool proxyWasRegistered_ = false;
};

// The client's apartment -------------------------------------------------------------------------

enum class Apartment { mta, sta };

void PrintTo(Apartment apartment, std::ostream* os) { *os << (apartment == Apartment::mta ? "MTA" : "STA"); }

// The test thread's COM apartment, and one server object kept between the cases of an
// apartment so that the server process runs on instead of starting again for each case. When
// the apartment ends, COM releases every reference the client held, and the server must end by
// itself: an object the server never releases (a reference cycle, a sink kept after its
// connection) would keep it up.
class Client {
public:
    static Client& instance() {
        static Client client;
        return client;
    }

    void enter(Apartment apartment) {
        if (apartment_ == apartment) return;
        leave();
        require(CoInitializeEx(nullptr, apartment == Apartment::mta ? COINIT_MULTITHREADED
                                                                      : COINIT_APARTMENTTHREADED),
                "CoInitializeEx");
        apartment_ = apartment;
        anchor_ = newServer();
        for (DWORD id : korvex::test::runningProcesses(utf8(kServerExe))) servers_.push_back(ChildProcess::adopt(id));
    }

    ComPtr<IOPCServer> newServer() {
        ComPtr<IOPCServer> server;
        require(CoCreateInstance(kServerClsid, nullptr, CLSCTX_LOCAL_SERVER, IID_IOPCServer,
                                 reinterpret_cast<void**>(server.ReleaseAndGetAddressOf())),
                "activating conformance_server.exe");
        return server;
    }

    void leave() {
        if (!apartment_) return;
        anchor_ = nullptr;
        CoUninitialize();
        apartment_.reset();
        for (ChildProcess& server : servers_) {
            EXPECT_EQ(server.waitForExit(std::chrono::seconds(10)), std::optional<DWORD>(0))
                << "conformance_server.exe (process " << server.id()
                << ") did not end after its client's apartment ended: one of its objects is never released";
        }
        servers_.clear();
    }

private:
    std::optional<Apartment> apartment_;
    ComPtr<IOPCServer> anchor_;
    std::vector<ChildProcess> servers_;
};

class LeaveApartment : public ::testing::Environment {
public:
    void TearDown() override { Client::instance().leave(); }
};

// Torn down in reverse: the client leaves before the registration goes.
::testing::Environment* const registration = ::testing::AddGlobalTestEnvironment(new Registration);
::testing::Environment* const apartment = ::testing::AddGlobalTestEnvironment(new LeaveApartment);

// Tests -------------------------------------------------------------------------------------------

class Conformance : public ::testing::TestWithParam<std::tuple<Apartment, std::size_t>> {};

TEST_P(Conformance, Case) {
    const auto [apartment, index] = GetParam();
    const Case& c = cases().at(index);
    Client::instance().enter(apartment);
    Session session{Client::instance().newServer()};
    for (const std::string& method : c.methods) RecordProperty("method", method);
    c.run(session);
}

std::string caseName(const ::testing::TestParamInfo<std::tuple<Apartment, std::size_t>>& info) {
    return cases().at(std::get<1>(info.param)).name;
}

INSTANTIATE_TEST_SUITE_P(Mta, Conformance,
                         ::testing::Combine(::testing::Values(Apartment::mta),
                                            ::testing::Range<std::size_t>(0, cases().size())),
                         caseName);
INSTANTIATE_TEST_SUITE_P(Sta, Conformance,
                         ::testing::Combine(::testing::Values(Apartment::sta),
                                            ::testing::Range<std::size_t>(0, cases().size())),
                         caseName);

std::string joined(const std::vector<std::string>& names) {
    std::string text;
    for (const std::string& name : names) text += "\n  " + name;
    return text;
}

TEST(ConformanceCoverage, EveryMethodOfTheIdlHasACase) {
    std::set<std::string> declared;
    for (const idl::Interface& i : idl::kInterfaces)
        for (std::size_t m = 0; m < i.methodCount; ++m) declared.insert(std::string(i.name) + "::" + i.methods[m]);
    std::set<std::string> covered;
    for (const Case& c : cases()) covered.insert(c.methods.begin(), c.methods.end());

    std::vector<std::string> missing, unknown;
    std::set_difference(declared.begin(), declared.end(), covered.begin(), covered.end(), std::back_inserter(missing));
    std::set_difference(covered.begin(), covered.end(), declared.begin(), declared.end(), std::back_inserter(unknown));
    EXPECT_TRUE(missing.empty()) << "methods of the IDL that no case calls:" << joined(missing);
    EXPECT_TRUE(unknown.empty()) << "cases name methods the IDL does not declare:" << joined(unknown);
}

// DllRegisterServer names the fixed proxy class for every interface, and the class the DLL.
TEST(ConformanceRegistration, EveryInterfaceNamesTheFixedProxyClass) {
    for (const idl::Interface& i : idl::kInterfaces) {
        const std::wstring key = L"Interface\\" + guidText(*i.iid);
        EXPECT_EQ(registryDefault(key + L"\\ProxyStubClsid32"), std::optional<std::wstring>(kProxyClsid)) << i.name;
    }
    const auto server = registryDefault(std::wstring(L"CLSID\\") + kProxyClsid + L"\\InProcServer32");
    ASSERT_TRUE(server.has_value()) << "HKCR\\CLSID\\" << utf8(kProxyClsid) << "\\InProcServer32";
    EXPECT_TRUE(server->ends_with(L"\\korvexps.dll")) << utf8(*server);
}

}  // namespace
}  // namespace conformance::client
