// The update tick driven by hand in process: how many database reads each tick makes for a given
// set of clients, groups and items; each point is read at most once per tick, however many items
// of however many groups and clients refer to it, and by queued device reads as well as scans.
// Every value a tick reads carries the tick's one time.
#include "tests/support/hresult.h"
#include "tests/support/in_process_session.h"
#include "tests/support/server_session.h"

#include "addrspace/address_space.h"
#include "com/string_convert.h"
#include "server/server_module.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
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
    bool deviceRead = false;  // an asynchronous device read of all its items queued before the first tick
};

struct Case {
    const char* name;
    int clients;
    std::vector<GroupSpec> groups;
    std::vector<std::uint64_t> readsPerTick;  // the first ticks after the groups were made
};

const Case kCases[] = {
    {"two clients on the same points, one point twice in a group", 2,
     {{0, 200, TRUE, {{kSetpoint}, {kSetpoint}, {kBreaker}}}, {1, 200, TRUE, {{kSetpoint}, {kBusbar}}}}, {3, 3}},
    {"a group of rate 1000 reads in its first tick, then every fifth", 1, {{0, 1000, TRUE, {{kSetpoint}}}},
     {1, 0, 0, 0, 0, 1}},
    {"a device read of the points the scan read in the same tick", 1,
     {{0, 200, TRUE, {{kSetpoint}, {kBreaker}}, true}}, {2, 2}},
    {"a device read of a point no scan reads, once in its tick", 1,
     {{0, 200, TRUE, {{kSetpoint, FALSE}, {kBreaker}}, true}}, {2, 1}},
    {"device reads of two inactive groups on one point", 2,
     {{0, 200, FALSE, {{kSetpoint}}, true}, {1, 200, FALSE, {{kSetpoint}, {kBusbar}}, true}}, {2, 0}},
    {"a device read before another group's scan of the same point", 1,
     {{0, 200, TRUE, {{kSetpoint}}, true}, {0, 200, TRUE, {{kSetpoint}, {kBreaker}}}}, {2, 2}},
};

ComPtr<IOPCItemMgt> AddGroup(IOPCServer& server, BOOL active, DWORD updateRate) {
    OPCHANDLE handle = 0;
    DWORD revised = 0;
    ComPtr<IOPCItemMgt> group;
    const HRESULT hr = server.AddGroup(L"", active, updateRate, 1, nullptr, nullptr, 0, &handle, &revised,
                                       IID_IOPCItemMgt, reinterpret_cast<LPUNKNOWN*>(group.ReleaseAndGetAddressOf()));
    EXPECT_HR(hr, S_OK);
    return group;
}

// The item's server handle, 0 when it was not added.
OPCHANDLE AddItem(IOPCItemMgt& group, const wchar_t* itemId, BOOL active) {
    OPCITEMDEF d{};
    d.szAccessPath = const_cast<LPWSTR>(L"");
    d.szItemID = const_cast<LPWSTR>(itemId);
    d.bActive = active;
    OPCITEMRESULT* results = nullptr;
    HRESULT* errors = nullptr;
    const HRESULT hr = group.AddItems(1, &d, &results, &errors);
    const OPCHANDLE handle = hr == S_OK ? results[0].hServer : 0;
    CoTaskMemFree(results);
    CoTaskMemFree(errors);
    return handle;
}

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
            ComPtr<IOPCItemMgt> group = AddGroup(*clients[spec.client], spec.active, spec.updateRate);
            ASSERT_TRUE(group);
            std::vector<OPCHANDLE> handles;
            for (const ItemSpec& item : spec.items) {
                handles.push_back(AddItem(*group, item.itemId, item.active));
                ASSERT_NE(handles.back(), 0u) << "item not added";
            }
            if (spec.deviceRead) {
                ComPtr<IOPCAsyncIO2> async;
                ASSERT_HR(group->QueryInterface(IID_IOPCAsyncIO2, reinterpret_cast<void**>(async.ReleaseAndGetAddressOf())),
                          S_OK);
                DWORD cancelId = 0;
                HRESULT* errors = nullptr;
                ASSERT_HR(async->Read(static_cast<DWORD>(handles.size()), handles.data(), 7, &cancelId, &errors), S_OK);
                CoTaskMemFree(errors);
            }
            groups.push_back(group);
        }
        std::vector<std::uint64_t> reads;
        for (std::size_t tick = 0; tick < c.readsPerTick.size(); ++tick) {
            const std::uint64_t before = SessionContext().addressSpace.PointReadCount();
            server::RunUpdateTick(SessionContext());
            reads.push_back(SessionContext().addressSpace.PointReadCount() - before);
        }
        EXPECT_EQ(reads, c.readsPerTick);
        EXPECT_TRUE(server::WaitForCallbackDeliveries(std::chrono::seconds(5)));
    }
}

std::uint64_t Ticks(const FILETIME& time) {
    return (static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

// Every point of the plant that can be an item (some names are not valid item IDs), in two groups of
// two clients: each tick stamps all of them with one time taken during the tick, and the next tick
// with a later one.
TEST_F(UpdateTick, StampsEveryValueWithTheTicksTime) {
    const COPCAddressSpaceMgt& space = SessionContext().addressSpace;
    const ComPtr<IOPCServer> clients[] = {Connect(), Connect()};
    struct Group {
        ComPtr<IOPCSyncIO> io;
        std::vector<OPCHANDLE> handles;
    };
    std::vector<Group> groups;
    for (const ComPtr<IOPCServer>& client : clients) {
        ComPtr<IOPCItemMgt> group = AddGroup(*client, TRUE, 200);
        ASSERT_TRUE(group);
        Group g;
        for (DWORD k = 1; k <= space.GetPointCount(); ++k) {
            const std::wstring itemId = com::toWide(space.GetPoint(k)->itemId());
            if (const OPCHANDLE handle = AddItem(*group, itemId.c_str(), TRUE)) g.handles.push_back(handle);
        }
        ASSERT_GT(g.handles.size(), 2u);
        ASSERT_HR(group->QueryInterface(IID_IOPCSyncIO, reinterpret_cast<void**>(g.io.ReleaseAndGetAddressOf())), S_OK);
        groups.push_back(std::move(g));
    }

    std::uint64_t previous = 0;
    for (int tick = 0; tick < 3; ++tick) {
        SCOPED_TRACE("tick " + std::to_string(tick));
        FILETIME before, after;
        CoFileTimeNow(&before);
        server::RunUpdateTick(SessionContext());
        CoFileTimeNow(&after);
        std::vector<std::uint64_t> stamps;
        for (Group& g : groups) {
            OPCITEMSTATE* states = nullptr;
            HRESULT* errors = nullptr;
            ASSERT_HR(g.io->Read(OPC_DS_CACHE, static_cast<DWORD>(g.handles.size()), g.handles.data(), &states, &errors),
                      S_OK);
            for (std::size_t i = 0; i < g.handles.size(); ++i) {
                stamps.push_back(Ticks(states[i].ftTimeStamp));
                VariantClear(&states[i].vDataValue);
            }
            CoTaskMemFree(states);
            CoTaskMemFree(errors);
        }
        const auto [first, last] = std::minmax_element(stamps.begin(), stamps.end());
        EXPECT_EQ(*first, *last) << "the items of one tick carry different times";
        EXPECT_GE(*first, Ticks(before));
        EXPECT_LE(*last, Ticks(after));
        EXPECT_GT(*first, previous) << "a tick carries the time of an earlier one";
        previous = *last;
        EXPECT_TRUE(server::WaitForCallbackDeliveries(std::chrono::seconds(5)));
    }
}

}  // namespace
}  // namespace korvex::test
