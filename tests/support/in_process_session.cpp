// Server objects created in the test process over a runtime published in this process.
#include "tests/support/in_process_runtime.h"
#include "tests/support/server_session.h"

#include "addrspace/address_space.h"
#include "rtdb/data_access.h"
#include "server/server_module.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace korvex::test {
namespace {

std::vector<rtimage::Station> SessionPlant() {
    rtimage::Station s1{"S1", true, {}, {}};
    s1.analogs.push_back({"P1", "level", 100, 0, true, 12.5});
    s1.analogs.push_back({"P2", "flow", 0, 0, false, 3});
    s1.switches.push_back({"K1", "breaker", true, 1});
    return {s1};
}

std::unique_ptr<InProcessRuntime> g_runtime;
std::unique_ptr<rtdb::CDataAccessEx> g_access;

}  // namespace

bool CrossProcess() { return false; }

void StartServerSide() {
    if (g_access) return;
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    g_runtime = std::make_unique<InProcessRuntime>(SessionPlant());
    g_access = std::make_unique<rtdb::CDataAccessEx>(nullptr, rtdb::Settings{false, true});
    ASSERT_TRUE(g_access->AttachDatabase());
    server::AddressSpace().BuildAddressSpace(*g_access);
    FILETIME now;
    CoFileTimeNow(&now);
    server::SetStartTime(now);
}

void StopServerSide() {}

com::ComPtr<IOPCServer> Connect() {
    com::ComPtr<IOPCServer> server;
    EXPECT_EQ(server::CreateServer(IID_IOPCServer, reinterpret_cast<void**>(server.ReleaseAndGetAddressOf())), S_OK);
    return server;
}

}  // namespace korvex::test
