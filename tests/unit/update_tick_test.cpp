// The update tick driven by hand in process: how many database reads each tick makes for a given
// set of clients, groups and items; each point is read at most once per tick, however many items
// of however many groups and clients refer to it.
#include "tests/support/hresult.h"
#include "tests/support/server_session.h"

#include "addrspace/address_space.h"
#include "server/server_module.h"

#include <gtest/gtest.h>

#include <chrono>
#include <vector>

namespace korvex::test {
namespace {

using com::ComPtr;

constexpr const wchar_t* kSetpoint = L"NorthSubstation.analog.Setpoint";
constexpr const wchar_t* kBusbar = L"NorthSubstation.analog.BusbarVoltage";
constexpr const wchar_t* kBreaker = L"NorthSubstation.switch.Breaker1";

struct ItemSpec {
    const wchar_t* itemId;
    BOOL active = TRUE;
};

struct GroupSpec {
    int client;  // index of the client connection
    DWORD updateRate;
    BOOL active;
    std::vector<ItemSpec> items;
};

struct Case {
    const char* name;
    int clients;
    std::vector<GroupSpec> groups;
    std::vector<std::uint64_t> readsPerTick;  // the first ticks after the groups were made
};

const Case kCases[] = {
    {"one group, two points", 1, {{0, 200, TRUE, {{kSetpoint}, {kBreaker}}}}, {2, 2}},
    {"two groups of one client on the same points", 1,
     {{0, 200, TRUE, {{kSetpoint}, {kBreaker}}}, {0, 200, TRUE, {{kBreaker}, {kSetpoint}}}}, {2, 2}},
    {"two clients on the same points, one point twice in a group", 2,
     {{0, 200, TRUE, {{kSetpoint}, {kSetpoint}, {kBreaker}}}, {1, 200, TRUE, {{kSetpoint}, {kBusbar}}}}, {3, 3}},
    {"an inactive group reads nothing", 1, {{0, 200, FALSE, {{kSetpoint}, {kBreaker}}}}, {0, 0}},
    {"an inactive item reads nothing", 1, {{0, 200, TRUE, {{kSetpoint, FALSE}, {kBreaker}}}}, {1, 1}},
    {"a group of rate 1000 reads in its first tick, then every fifth", 1, {{0, 1000, TRUE, {{kSetpoint}}}},
     {1, 0, 0, 0, 0, 1}},
    {"an empty group reads nothing", 2, {{0, 200, TRUE, {}}, {1, 200, TRUE, {}}}, {0}},
};

class UpdateTick : public ::testing::Test {
protected:
    static void SetUpTestSuite() { StartServerSide(); }
};

TEST_F(UpdateTick, ReadsEachPointOncePerTick) {
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.name);
        std::vector<ComPtr<IOPCServer>> clients;
        for (int i = 0; i < c.clients; ++i) clients.push_back(Connect());
        std::vector<ComPtr<IOPCItemMgt>> groups;
        for (const GroupSpec& spec : c.groups) {
            OPCHANDLE handle = 0;
            DWORD revised = 0;
            ComPtr<IOPCItemMgt> group;
            ASSERT_HR(clients[spec.client]->AddGroup(L"", spec.active, spec.updateRate, 1, nullptr, nullptr, 0, &handle,
                                                     &revised, IID_IOPCItemMgt,
                                                     reinterpret_cast<LPUNKNOWN*>(group.ReleaseAndGetAddressOf())),
                      S_OK);
            for (const ItemSpec& item : spec.items) {
                OPCITEMDEF d{};
                d.szAccessPath = const_cast<LPWSTR>(L"");
                d.szItemID = const_cast<LPWSTR>(item.itemId);
                d.bActive = item.active;
                OPCITEMRESULT* results = nullptr;
                HRESULT* errors = nullptr;
                ASSERT_HR(group->AddItems(1, &d, &results, &errors), S_OK);
                CoTaskMemFree(results);
                CoTaskMemFree(errors);
            }
            groups.push_back(group);
        }
        std::vector<std::uint64_t> reads;
        for (std::size_t tick = 0; tick < c.readsPerTick.size(); ++tick) {
            const std::uint64_t before = server::AddressSpace().PointReadCount();
            server::RunUpdateTick();
            reads.push_back(server::AddressSpace().PointReadCount() - before);
        }
        EXPECT_EQ(reads, c.readsPerTick);
        EXPECT_TRUE(server::WaitForCallbackDeliveries(std::chrono::seconds(5)));
    }
}

}  // namespace
}  // namespace korvex::test
