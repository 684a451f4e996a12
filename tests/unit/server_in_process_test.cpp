// What a proxy never lets reach the server (null out-pointers), the failed server state, the
// client-count notices to the main window and the shutdown notice: in process, on the objects.
#include "tests/support/hresult.h"
#include "tests/support/in_process_session.h"
#include "tests/support/server_session.h"

#include "opccomn.h"
#include "opcerror.h"
#include "server/server_module.h"

#include <gtest/gtest.h>
#include <olectl.h>

#include <string>
#include <vector>

namespace korvex::test {
namespace {

using com::ComPtr;

class InProcess : public ::testing::Test {
protected:
    static void SetUpTestSuite() { StartServerSide(); }
    void TearDown() override { SessionContext().state.SetStatus(OPC_STATUS_RUNNING); }

    ComPtr<IOPCGroupStateMgt2> AddGroup(IOPCServer* server, const wchar_t* name) {
        OPCHANDLE handle;
        DWORD revised;
        ComPtr<IOPCGroupStateMgt2> group;
        EXPECT_HR(server->AddGroup(name, TRUE, 1000, 0, nullptr, nullptr, 0, &handle, &revised, IID_IOPCGroupStateMgt2,
                                   reinterpret_cast<LPUNKNOWN*>(group.ReleaseAndGetAddressOf())),
                  S_OK);
        return group;
    }
};

TEST_F(InProcess, NullOutPointers) {
    ComPtr<IOPCServer> server = Connect();
    ComPtr<IOPCGroupStateMgt2> group = AddGroup(server.Get(), L"G");
    ComPtr<IOPCCommon> common;
    server->QueryInterface(IID_IOPCCommon, reinterpret_cast<void**>(common.ReleaseAndGetAddressOf()));
    ComPtr<IOPCServerPublicGroups> publicGroups;
    server->QueryInterface(IID_IOPCServerPublicGroups, reinterpret_cast<void**>(publicGroups.ReleaseAndGetAddressOf()));
    OPCHANDLE handle;
    DWORD value;
    LPUNKNOWN unknown;
    BOOL flag;
    LPWSTR text;
    LONG bias;
    FLOAT deadband;
    LCID lcid;
    const struct {
        const char* call;
        HRESULT hr;
    } cases[] = {
        {"AddGroup phServerGroup", server->AddGroup(L"", TRUE, 0, 0, nullptr, nullptr, 0, nullptr, &value, IID_IUnknown, &unknown)},
        {"AddGroup pRevisedUpdateRate", server->AddGroup(L"", TRUE, 0, 0, nullptr, nullptr, 0, &handle, nullptr, IID_IUnknown, &unknown)},
        {"AddGroup ppUnk", server->AddGroup(L"", TRUE, 0, 0, nullptr, nullptr, 0, &handle, &value, IID_IUnknown, nullptr)},
        {"GetGroupByName", server->GetGroupByName(L"G", IID_IUnknown, nullptr)},
        {"GetStatus", server->GetStatus(nullptr)},
        {"GetErrorString", server->GetErrorString(E_FAIL, 0, nullptr)},
        {"GetPublicGroupByName", publicGroups->GetPublicGroupByName(L"G", IID_IUnknown, nullptr)},
        {"GetLocaleID", common->GetLocaleID(nullptr)},
        {"QueryAvailableLocaleIDs count", common->QueryAvailableLocaleIDs(nullptr, reinterpret_cast<LCID**>(&text))},
        {"IOPCCommon::GetErrorString", common->GetErrorString(E_FAIL, nullptr)},
        {"GetState ppName", group->GetState(&value, &flag, nullptr, &bias, &deadband, &lcid, &handle, &handle)},
        {"GetState phServerGroup", group->GetState(&value, &flag, &text, &bias, &deadband, &lcid, &handle, nullptr)},
        {"SetState pRevisedUpdateRate", group->SetState(nullptr, nullptr, &flag, nullptr, nullptr, nullptr, nullptr)},
        {"CloneGroup", group->CloneGroup(L"C", IID_IUnknown, nullptr)},
        {"SetKeepAlive", group->SetKeepAlive(1000, nullptr)},
        {"GetKeepAlive", group->GetKeepAlive(nullptr)},
    };
    for (const auto& c : cases) EXPECT_HR(c.hr, E_POINTER) << c.call;
    // Null ppUnk for the enumerator is an invalid argument, not a null pointer.
    EXPECT_HR(server->CreateGroupEnumerator(OPC_ENUM_ALL, IID_IEnumString, nullptr), E_INVALIDARG);
}

TEST_F(InProcess, FailedServerRefusesWork) {
    ComPtr<IOPCServer> server = Connect();
    ComPtr<IOPCGroupStateMgt2> group = AddGroup(server.Get(), L"G");
    ComPtr<IOPCCommon> common;
    server->QueryInterface(IID_IOPCCommon, reinterpret_cast<void**>(common.ReleaseAndGetAddressOf()));
    SessionContext().state.SetStatus(OPC_STATUS_FAILED);
    OPCHANDLE handle;
    DWORD value = 0, rate = 1000;
    ComPtr<IUnknown> unknown;
    LPWSTR text = nullptr;
    LCID* locales = nullptr;
    const struct {
        const char* call;
        HRESULT hr;
        HRESULT expected;
    } cases[] = {
        {"AddGroup", server->AddGroup(L"X", TRUE, 0, 0, nullptr, nullptr, 0, &handle, &value, IID_IUnknown, unknown.ReleaseAndGetAddressOf()), E_FAIL},
        {"GetGroupByName", server->GetGroupByName(L"G", IID_IUnknown, unknown.ReleaseAndGetAddressOf()), E_FAIL},
        {"RemoveGroup", server->RemoveGroup(1, TRUE), E_FAIL},
        {"CreateGroupEnumerator", server->CreateGroupEnumerator(OPC_ENUM_ALL, IID_IEnumString, unknown.ReleaseAndGetAddressOf()), E_FAIL},
        {"SetLocaleID", common->SetLocaleID(1033), E_FAIL},
        {"GetLocaleID", common->GetLocaleID(&value), E_FAIL},
        {"QueryAvailableLocaleIDs", common->QueryAvailableLocaleIDs(&value, &locales), E_FAIL},
        {"SetClientName", common->SetClientName(L"x"), E_FAIL},
        {"SetState", group->SetState(&rate, &value, nullptr, nullptr, nullptr, nullptr, nullptr), E_FAIL},
        {"SetName", group->SetName(L"Y"), E_FAIL},
        {"SetKeepAlive", group->SetKeepAlive(0, &value), E_FAIL},
        {"GetKeepAlive ignores the server state", group->GetKeepAlive(&value), S_OK},
        {"GetErrorString ignores the server state", common->GetErrorString(E_FAIL, &text), S_OK},
    };
    for (const auto& c : cases) EXPECT_HR(c.hr, c.expected) << c.call;
    CoTaskMemFree(text);
    OPCSERVERSTATUS* status = nullptr;
    ASSERT_HR(server->GetStatus(&status), S_OK) << "GetStatus ignores the server state";
    EXPECT_EQ(status->dwServerState, OPC_STATUS_FAILED);
    CoTaskMemFree(status->szVendorInfo);
    CoTaskMemFree(status);
}

}  // namespace
}  // namespace korvex::test
