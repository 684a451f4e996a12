// The class factory: aggregation refused, each CreateInstance a new server object, LockServer
// counted in the module lock, and the factory itself never keeping the server up.
#include "app/class_factory.h"

#include "addrspace/address_space.h"
#include "com/module_lock.h"
#include "tests/support/hresult.h"

#include <gtest/gtest.h>

namespace {

using korvex::com::ComPtr;
using korvex::com::ModuleLock;

COPCAddressSpaceMgt g_addressSpace;
ServerState g_serverState;
const ServerContext g_context{g_addressSpace, g_serverState};

TEST(ServerClassFactory, CreateInstance) {
    ComPtr<app::CServerClassFactory> factory = korvex::com::make<app::CServerClassFactory>(g_context);
    ASSERT_TRUE(factory);
    EXPECT_EQ(ModuleLock::count(), 0) << "the factory holds no module lock";

    IUnknown* outer = factory->identity();  // any IUnknown will do as the would-be outer object
    const struct {
        const char* name;
        IUnknown* outer;
        bool nullOut;
        HRESULT expected;
    } cases[] = {
        {"aggregation", outer, false, CLASS_E_NOAGGREGATION},
        {"null out-pointer", nullptr, true, E_POINTER},
        {"a client's activation", nullptr, false, S_OK},
    };
    for (const auto& c : cases) {
        IUnknown* object = reinterpret_cast<IUnknown*>(0x1);  // must be overwritten
        const HRESULT hr =
            factory->CreateInstance(c.outer, IID_IUnknown, c.nullOut ? nullptr : reinterpret_cast<void**>(&object));
        EXPECT_HR(hr, c.expected) << c.name;
        if (c.nullOut) continue;
        if (SUCCEEDED(hr)) {
            ASSERT_NE(object, nullptr) << c.name;
            EXPECT_GT(ModuleLock::count(), 0) << c.name << ": a live server object holds the module";
            object->Release();
        } else {
            EXPECT_EQ(object, nullptr) << c.name;
        }
        EXPECT_EQ(ModuleLock::count(), 0) << c.name;
    }
}

TEST(ServerClassFactory, LockServerCountsInTheModuleLock) {
    ComPtr<app::CServerClassFactory> factory = korvex::com::make<app::CServerClassFactory>(g_context);
    EXPECT_HR(factory->LockServer(TRUE), S_OK);
    EXPECT_HR(factory->LockServer(TRUE), S_OK);
    EXPECT_EQ(ModuleLock::count(), 2);
    EXPECT_HR(factory->LockServer(FALSE), S_OK);
    EXPECT_HR(factory->LockServer(FALSE), S_OK);
    EXPECT_EQ(ModuleLock::count(), 0);
}

}  // namespace
