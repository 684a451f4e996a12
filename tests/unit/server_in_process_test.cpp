// What a proxy never lets reach the server (null pointers), the failed server state and the
// runtime going away: in process, on the server object and its groups.
#include "tests/support/hresult.h"
#include "tests/support/in_process_session.h"
#include "tests/support/server_session.h"

#include "opccomn.h"
#include "opcerror.h"
#include "server/server_module.h"

#include <gtest/gtest.h>

#include <string>

namespace korvex::test {
namespace {

using com::ComPtr;

class InProcess : public ::testing::Test {
protected:
    static void SetUpTestSuite() { StartServerSide(); }
    void SetUp() override {
        server_->QueryInterface(IID_IOPCBrowseServerAddressSpace, reinterpret_cast<void**>(tree_.ReleaseAndGetAddressOf()));
        server_->QueryInterface(IID_IOPCBrowse, reinterpret_cast<void**>(browse_.ReleaseAndGetAddressOf()));
        server_->QueryInterface(IID_IOPCItemProperties, reinterpret_cast<void**>(properties_.ReleaseAndGetAddressOf()));
        server_->QueryInterface(IID_IOPCItemIO, reinterpret_cast<void**>(io_.ReleaseAndGetAddressOf()));
        server_->QueryInterface(IID_IOPCCommon, reinterpret_cast<void**>(common_.ReleaseAndGetAddressOf()));
        ASSERT_TRUE(tree_ && browse_ && properties_ && io_ && common_);
        OPCHANDLE handle;
        DWORD revised;
        ASSERT_HR(server_->AddGroup(L"G", TRUE, 1000, 0, nullptr, nullptr, 0, &handle, &revised, IID_IOPCGroupStateMgt2,
                                    reinterpret_cast<LPUNKNOWN*>(group_.ReleaseAndGetAddressOf())),
                  S_OK);
    }
    void TearDown() override { SessionContext().state.SetStatus(OPC_STATUS_RUNNING); }

    ComPtr<IOPCServer> server_ = Connect();
    ComPtr<IOPCBrowseServerAddressSpace> tree_;
    ComPtr<IOPCBrowse> browse_;
    ComPtr<IOPCItemProperties> properties_;
    ComPtr<IOPCItemIO> io_;
    ComPtr<IOPCCommon> common_;
    ComPtr<IOPCGroupStateMgt2> group_;
};

TEST_F(InProcess, NullPointers) {
    ComPtr<IOPCServerPublicGroups> publicGroups;
    server_->QueryInterface(IID_IOPCServerPublicGroups, reinterpret_cast<void**>(publicGroups.ReleaseAndGetAddressOf()));
    OPCHANDLE handle;
    DWORD value;
    LPUNKNOWN unknown;
    BOOL flag;
    LPWSTR text;
    LONG bias;
    FLOAT deadband;
    LCID lcid;
    LPWSTR id = const_cast<LPWSTR>(L"NorthSubstation.analog.Setpoint");
    LPCWSTR constId = id;
    DWORD count = 0, propertyId = 1, maxAge = 0;
    DWORD* ids = nullptr;
    LPWSTR* texts = nullptr;
    VARTYPE* types = nullptr;
    VARIANT* values = nullptr;
    HRESULT* errors = nullptr;
    WORD* qualities = nullptr;
    FILETIME* stamps = nullptr;
    OPCITEMPROPERTIES* records = nullptr;
    OPCBROWSEELEMENT* elements = nullptr;
    LPWSTR continuation = nullptr;
    BOOL more = FALSE;
    OPCITEMVQT vqt{};
    const struct {
        const char* call;
        HRESULT hr;
        HRESULT expected;
    } cases[] = {
        {"AddGroup phServerGroup", server_->AddGroup(L"", TRUE, 0, 0, nullptr, nullptr, 0, nullptr, &value, IID_IUnknown, &unknown), E_POINTER},
        {"AddGroup pRevisedUpdateRate", server_->AddGroup(L"", TRUE, 0, 0, nullptr, nullptr, 0, &handle, nullptr, IID_IUnknown, &unknown), E_POINTER},
        {"AddGroup ppUnk", server_->AddGroup(L"", TRUE, 0, 0, nullptr, nullptr, 0, &handle, &value, IID_IUnknown, nullptr), E_POINTER},
        {"GetGroupByName", server_->GetGroupByName(L"G", IID_IUnknown, nullptr), E_POINTER},
        {"GetStatus", server_->GetStatus(nullptr), E_POINTER},
        {"GetErrorString", server_->GetErrorString(E_FAIL, 0, nullptr), E_POINTER},
        {"GetPublicGroupByName", publicGroups->GetPublicGroupByName(L"G", IID_IUnknown, nullptr), E_POINTER},
        {"GetLocaleID", common_->GetLocaleID(nullptr), E_POINTER},
        {"QueryAvailableLocaleIDs count", common_->QueryAvailableLocaleIDs(nullptr, reinterpret_cast<LCID**>(&text)), E_POINTER},
        {"IOPCCommon::GetErrorString", common_->GetErrorString(E_FAIL, nullptr), E_POINTER},
        {"GetState ppName", group_->GetState(&value, &flag, nullptr, &bias, &deadband, &lcid, &handle, &handle), E_POINTER},
        {"GetState phServerGroup", group_->GetState(&value, &flag, &text, &bias, &deadband, &lcid, &handle, nullptr), E_POINTER},
        {"SetState pRevisedUpdateRate", group_->SetState(nullptr, nullptr, &flag, nullptr, nullptr, nullptr, nullptr), E_POINTER},
        {"CloneGroup", group_->CloneGroup(L"C", IID_IUnknown, nullptr), E_POINTER},
        {"SetKeepAlive", group_->SetKeepAlive(1000, nullptr), E_POINTER},
        {"GetKeepAlive", group_->GetKeepAlive(nullptr), E_POINTER},
        {"QueryOrganization", tree_->QueryOrganization(nullptr), E_POINTER},
        {"BrowseOPCItemIDs", tree_->BrowseOPCItemIDs(OPC_FLAT, L"", VT_EMPTY, 0, nullptr), E_POINTER},
        {"GetItemID", tree_->GetItemID(const_cast<LPWSTR>(L""), nullptr), E_POINTER},
        {"BrowseAccessPaths", tree_->BrowseAccessPaths(L"", nullptr), E_POINTER},
        {"QueryAvailableProperties count", properties_->QueryAvailableProperties(id, nullptr, &ids, &texts, &types), E_POINTER},
        {"QueryAvailableProperties IDs", properties_->QueryAvailableProperties(id, &count, nullptr, &texts, &types), E_POINTER},
        {"QueryAvailableProperties descriptions", properties_->QueryAvailableProperties(id, &count, &ids, nullptr, &types), E_POINTER},
        {"QueryAvailableProperties types", properties_->QueryAvailableProperties(id, &count, &ids, &texts, nullptr), E_POINTER},
        {"QueryAvailableProperties null ID", properties_->QueryAvailableProperties(nullptr, &count, &ids, &texts, &types), E_INVALIDARG},
        {"GetItemProperties data", properties_->GetItemProperties(id, 1, &propertyId, nullptr, &errors), E_POINTER},
        {"GetItemProperties errors", properties_->GetItemProperties(id, 1, &propertyId, &values, nullptr), E_POINTER},
        {"GetItemProperties null IDs", properties_->GetItemProperties(id, 1, nullptr, &values, &errors), E_INVALIDARG},
        {"LookupItemIDs item IDs", properties_->LookupItemIDs(id, 1, &propertyId, nullptr, &errors), E_POINTER},
        {"LookupItemIDs errors", properties_->LookupItemIDs(id, 1, &propertyId, &texts, nullptr), E_POINTER},
        {"GetProperties records", browse_->GetProperties(1, &id, TRUE, 0, nullptr, nullptr), E_POINTER},
        {"GetProperties item IDs", browse_->GetProperties(1, nullptr, TRUE, 0, nullptr, &records), E_POINTER},
        {"GetProperties null property IDs", browse_->GetProperties(1, &id, TRUE, 1, nullptr, &records), E_INVALIDARG},
        {"Browse continuation", browse_->Browse(id, nullptr, 0, OPC_BROWSE_FILTER_ALL, nullptr, nullptr, FALSE, FALSE, 0, nullptr, &more, &count, &elements), E_POINTER},
        {"Browse more", browse_->Browse(id, &continuation, 0, OPC_BROWSE_FILTER_ALL, nullptr, nullptr, FALSE, FALSE, 0, nullptr, nullptr, &count, &elements), E_POINTER},
        {"Browse count", browse_->Browse(id, &continuation, 0, OPC_BROWSE_FILTER_ALL, nullptr, nullptr, FALSE, FALSE, 0, nullptr, &more, nullptr, &elements), E_POINTER},
        {"Browse elements", browse_->Browse(id, &continuation, 0, OPC_BROWSE_FILTER_ALL, nullptr, nullptr, FALSE, FALSE, 0, nullptr, &more, &count, nullptr), E_POINTER},
        {"Read values", io_->Read(1, &constId, &maxAge, nullptr, &qualities, &stamps, &errors), E_POINTER},
        {"Read qualities", io_->Read(1, &constId, &maxAge, &values, nullptr, &stamps, &errors), E_POINTER},
        {"Read timestamps", io_->Read(1, &constId, &maxAge, &values, &qualities, nullptr, &errors), E_POINTER},
        {"Read errors", io_->Read(1, &constId, &maxAge, &values, &qualities, &stamps, nullptr), E_POINTER},
        {"Read null IDs", io_->Read(1, nullptr, &maxAge, &values, &qualities, &stamps, &errors), E_INVALIDARG},
        {"Read null max ages", io_->Read(1, &constId, nullptr, &values, &qualities, &stamps, &errors), E_INVALIDARG},
        {"WriteVQT errors", io_->WriteVQT(1, &constId, &vqt, nullptr), E_POINTER},
        {"WriteVQT null IDs", io_->WriteVQT(1, nullptr, &vqt, &errors), E_INVALIDARG},
        {"WriteVQT null values", io_->WriteVQT(1, &constId, nullptr, &errors), E_INVALIDARG},
    };
    for (const auto& c : cases) EXPECT_HR(c.hr, c.expected) << c.call;
    // Null ppUnk for the enumerator is an invalid argument, not a null pointer.
    EXPECT_HR(server_->CreateGroupEnumerator(OPC_ENUM_ALL, IID_IEnumString, nullptr), E_INVALIDARG);
    EXPECT_TRUE(!values && !errors && !qualities && !stamps && !records && !elements) << "nothing handed out";
}

TEST_F(InProcess, FailedServerRefusesWork) {
    SessionContext().state.SetStatus(OPC_STATUS_FAILED);
    OPCHANDLE handle;
    DWORD value = 0, rate = 1000;
    ComPtr<IUnknown> unknown;
    LPWSTR text = nullptr;
    LCID* locales = nullptr;
    LPWSTR id = const_cast<LPWSTR>(L"NorthSubstation.analog.Setpoint");
    LPCWSTR constId = id;
    DWORD count = 0, propertyId = 1, maxAge = 0;
    DWORD* ids = nullptr;
    LPWSTR* texts = nullptr;
    LPWSTR itemId = nullptr;
    VARTYPE* types = nullptr;
    VARIANT* values = nullptr;
    HRESULT* errors = nullptr;
    WORD* qualities = nullptr;
    FILETIME* stamps = nullptr;
    OPCITEMPROPERTIES* records = nullptr;
    OPCBROWSEELEMENT* elements = nullptr;
    LPWSTR continuation = nullptr;
    BOOL more = FALSE;
    IEnumString* strings = nullptr;
    OPCNAMESPACETYPE type{};
    OPCITEMVQT vqt{};
    vqt.vDataValue.vt = VT_R4;
    const struct {
        const char* call;
        HRESULT hr;
        HRESULT expected;
    } cases[] = {
        {"AddGroup", server_->AddGroup(L"X", TRUE, 0, 0, nullptr, nullptr, 0, &handle, &value, IID_IUnknown, unknown.ReleaseAndGetAddressOf()), E_FAIL},
        {"GetGroupByName", server_->GetGroupByName(L"G", IID_IUnknown, unknown.ReleaseAndGetAddressOf()), E_FAIL},
        {"RemoveGroup", server_->RemoveGroup(1, TRUE), E_FAIL},
        {"CreateGroupEnumerator", server_->CreateGroupEnumerator(OPC_ENUM_ALL, IID_IEnumString, unknown.ReleaseAndGetAddressOf()), E_FAIL},
        {"SetLocaleID", common_->SetLocaleID(1033), E_FAIL},
        {"GetLocaleID", common_->GetLocaleID(&value), E_FAIL},
        {"QueryAvailableLocaleIDs", common_->QueryAvailableLocaleIDs(&value, &locales), E_FAIL},
        {"SetClientName", common_->SetClientName(L"x"), E_FAIL},
        {"SetState", group_->SetState(&rate, &value, nullptr, nullptr, nullptr, nullptr, nullptr), E_FAIL},
        {"SetName", group_->SetName(L"Y"), E_FAIL},
        {"SetKeepAlive", group_->SetKeepAlive(0, &value), E_FAIL},
        {"GetKeepAlive ignores the server state", group_->GetKeepAlive(&value), S_OK},
        {"GetErrorString ignores the server state", common_->GetErrorString(E_FAIL, &text), S_OK},
        {"QueryOrganization ignores the state", tree_->QueryOrganization(&type), S_OK},
        {"ChangeBrowsePosition", tree_->ChangeBrowsePosition(OPC_BROWSE_TO, L""), E_FAIL},
        {"BrowseOPCItemIDs", tree_->BrowseOPCItemIDs(OPC_FLAT, L"", VT_EMPTY, 0, &strings), E_FAIL},
        {"GetItemID", tree_->GetItemID(const_cast<LPWSTR>(L""), &itemId), E_FAIL},
        {"BrowseAccessPaths", tree_->BrowseAccessPaths(L"", &strings), E_NOTIMPL},
        {"QueryAvailableProperties", properties_->QueryAvailableProperties(id, &count, &ids, &texts, &types), E_FAIL},
        {"GetItemProperties", properties_->GetItemProperties(id, 1, &propertyId, &values, &errors), E_FAIL},
        {"LookupItemIDs", properties_->LookupItemIDs(id, 1, &propertyId, &texts, &errors), E_FAIL},
        {"GetProperties", browse_->GetProperties(1, &id, TRUE, 0, nullptr, &records), E_FAIL},
        {"Browse", browse_->Browse(id, &continuation, 0, OPC_BROWSE_FILTER_ALL, nullptr, nullptr, FALSE, FALSE, 0, nullptr, &more, &count, &elements), E_FAIL},
        {"Read", io_->Read(1, &constId, &maxAge, &values, &qualities, &stamps, &errors), E_FAIL},
        {"WriteVQT", io_->WriteVQT(1, &constId, &vqt, &errors), E_FAIL},
    };
    for (const auto& c : cases) EXPECT_HR(c.hr, c.expected) << c.call;
    EXPECT_TRUE(!values && !errors && !records && !elements && !strings && !itemId && !ids) << "nothing handed out";
    CoTaskMemFree(text);
    OPCSERVERSTATUS* status = nullptr;
    ASSERT_HR(server_->GetStatus(&status), S_OK) << "GetStatus ignores the server state";
    EXPECT_EQ(status->dwServerState, OPC_STATUS_FAILED);
    CoTaskMemFree(status->szVendorInfo);
    CoTaskMemFree(status);
}

TEST_F(InProcess, NullStringsCountAsEmpty) {
    // A null position moves to the root; null filters match everything.
    ASSERT_HR(tree_->ChangeBrowsePosition(OPC_BROWSE_TO, L"NorthSubstation"), S_OK);
    EXPECT_HR(tree_->ChangeBrowsePosition(OPC_BROWSE_TO, nullptr), S_OK);
    LPWSTR position = nullptr;
    ASSERT_HR(tree_->GetItemID(nullptr, &position), S_OK);
    EXPECT_EQ(std::wstring(position), L"");
    CoTaskMemFree(position);
    IEnumString* strings = nullptr;
    EXPECT_HR(tree_->BrowseOPCItemIDs(OPC_BRANCH, nullptr, VT_EMPTY, 0, &strings), S_OK);
    strings->Release();
    LPWSTR continuation = nullptr;
    BOOL more = TRUE;
    DWORD count = 0;
    OPCBROWSEELEMENT* elements = nullptr;
    EXPECT_HR(browse_->Browse(nullptr, &continuation, 0, OPC_BROWSE_FILTER_ALL, nullptr, nullptr, FALSE, FALSE, 0, nullptr,
                              &more, &count, &elements),
              S_OK);
    EXPECT_EQ(count, 4u) << "the four stations";
    ASSERT_NE(continuation, nullptr);
    EXPECT_EQ(std::wstring(continuation), L"");
    for (DWORD i = 0; i < count; ++i) {
        CoTaskMemFree(elements[i].szName);
        CoTaskMemFree(elements[i].szItemID);
    }
    CoTaskMemFree(elements);
    CoTaskMemFree(continuation);
}

TEST_F(InProcess, RuntimeGoneFailsDeviceReadsAndWritesOnly) {
    LPCWSTR ids[] = {L"NorthSubstation.analog.Setpoint", L"NorthSubstation.switch.Breaker1"};
    DWORD device[] = {0, 0};
    VARIANT* values = nullptr;
    WORD* qualities = nullptr;
    FILETIME* stamps = nullptr;
    HRESULT* errors = nullptr;
    ASSERT_HR(io_->Read(2, ids, device, &values, &qualities, &stamps, &errors), S_OK);
    EXPECT_EQ(values[0].fltVal, 50.0f);
    for (void* p : {static_cast<void*>(values), static_cast<void*>(qualities), static_cast<void*>(stamps),
                    static_cast<void*>(errors)})
        CoTaskMemFree(p);

    SessionRuntime().CloseWindow();
    Sleep(100);  // past the interval in which the runtime is taken as alive
    const struct {
        DWORD maxAge;
        HRESULT hr;
        HRESULT item;
    } reads[] = {{0, S_FALSE, E_FAIL}, {1, S_FALSE, E_FAIL}, {0xFFFFFFFF, S_OK, S_OK}};
    for (const auto& r : reads) {
        DWORD ages[] = {r.maxAge, r.maxAge};
        EXPECT_HR(io_->Read(2, ids, ages, &values, &qualities, &stamps, &errors), r.hr) << r.maxAge;
        for (int i = 0; i < 2; ++i) EXPECT_HR(errors[i], r.item) << r.maxAge << " entry " << i;
        if (SUCCEEDED(r.item)) {
            EXPECT_EQ(values[0].fltVal, 50.0f) << "the cache keeps the last reading";
            EXPECT_EQ(qualities[0], 0xC0);
        } else {
            EXPECT_EQ(values[0].vt, VT_EMPTY);
            EXPECT_EQ(qualities[0], 0);
        }
        for (void* p : {static_cast<void*>(values), static_cast<void*>(qualities), static_cast<void*>(stamps),
                        static_cast<void*>(errors)})
            CoTaskMemFree(p);
    }
    OPCITEMVQT vqt[2]{};
    vqt[0].vDataValue.vt = VT_R4;
    vqt[0].vDataValue.fltVal = 20.0f;
    vqt[1].vDataValue.vt = VT_R8;  // needs conversion: the clamp is lost to the failed write
    vqt[1].vDataValue.dblVal = 1.0;
    EXPECT_HR(io_->WriteVQT(2, ids, vqt, &errors), S_FALSE);
    EXPECT_HR(errors[0], E_FAIL);
    EXPECT_HR(errors[1], E_FAIL);
    CoTaskMemFree(errors);
}

}  // namespace
}  // namespace korvex::test
