// Client threads add, rename, (de)activate, read and remove items of one group through the proxy
// for some seconds, while the runtime's values move and the update cycle scans the group. Each
// thread's calls reach the server on a connection of their own, so the group, its list and its
// handle index are worked on by several server threads at once. No call fails, no item is lost or
// mixed up, no value is one that was never written.
#include "com/com_ptr.h"
#include "tests/support/hresult.h"
#include "tests/support/server_session.h"
#include "tests/support/simulator_control.h"

#include "opcerror.h"

#include <gtest/gtest.h>
#include <oleauto.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cwchar>
#include <iterator>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace korvex::test {
namespace {

using com::ComPtr;
using namespace std::chrono_literals;

constexpr auto kDuration = 5s;
constexpr unsigned kBaseItems = 2000;
constexpr unsigned kWorkers = 6;  // each with its own points

// Values the Setpoint point (worker 0's) takes during the test (the test moves it between them).
constexpr float kSetpointValues[] = {20.0f, 80.0f};

struct StressReport {
    long reads = 0;
    std::vector<std::string> faults;     // empty when every answer was right
    std::vector<OPCHANDLE> keptHandles;  // client handles of the items left in the group at the end
};

const wchar_t* StressItemId(OPCHANDLE clientHandle);

// Frees what IEnumOPCItemAttributes hands out, calling `seen` with each item's client handle and ID.
template <class Seen>
HRESULT EnumerateItems(IOPCItemMgt* items, Seen seen) {
    ComPtr<IEnumOPCItemAttributes> attributes;
    const HRESULT hr =
        items->CreateEnumerator(IID_IEnumOPCItemAttributes, reinterpret_cast<LPUNKNOWN*>(attributes.ReleaseAndGetAddressOf()));
    if (hr != S_OK) return hr;
    OPCITEMATTRIBUTES* batch = nullptr;
    ULONG fetched = 0;
    while (SUCCEEDED(attributes->Next(64, &batch, &fetched)) && fetched > 0) {
        for (ULONG i = 0; i < fetched; ++i) {
            seen(batch[i].hClient, batch[i].szItemID);
            CoTaskMemFree(batch[i].szAccessPath);
            CoTaskMemFree(batch[i].szItemID);
            CoTaskMemFree(batch[i].pBlob);
            VariantClear(&batch[i].vEUInfo);
        }
        CoTaskMemFree(batch);
        batch = nullptr;
    }
    return hr;
}

struct StressItem {
    const wchar_t* itemId;    // the point's own item ID, as the group lists it
    const wchar_t* aliasId;   // the same point with its kind as a number
    VARTYPE canonicalType;
};

// Two points per worker slot, an analog and a switch one. Items of one point in one group share
// their server handle, so the workers keep to their own points; the group, its list and its
// handle index are what they share.
constexpr StressItem kStressItems[] = {
    {L"NorthSubstation.analog.Setpoint", L"NorthSubstation.3.Setpoint", VT_R4},
    {L"NorthSubstation.switch.Breaker1", L"NorthSubstation.4.Breaker1", VT_BOOL},
    {L"NorthSubstation.analog.BusbarVoltage", L"NorthSubstation.3.BusbarVoltage", VT_R4},
    {L"NorthSubstation.switch.Breaker2", L"NorthSubstation.4.Breaker2", VT_BOOL},
    {L"NorthSubstation.analog.FeederCurrent", L"NorthSubstation.3.FeederCurrent", VT_R4},
    {L"NorthSubstation.switch.ProtectionTrip", L"NorthSubstation.4.ProtectionTrip", VT_BOOL},
    {L"PumpStation.analog.TankLevel", L"PumpStation.3.TankLevel", VT_R4},
    {L"PumpStation.switch.Pump1Running", L"PumpStation.4.Pump1Running", VT_BOOL},
    {L"PumpStation.analog.PumpSpeed", L"PumpStation.3.PumpSpeed", VT_R4},
    {L"PumpStation.switch.Pump2Running", L"PumpStation.4.Pump2Running", VT_BOOL},
    {L"WeatherMast.analog.AirTemperature", L"WeatherMast.3.AirTemperature", VT_R4},
    {L"Reservoir.switch.GateOpen", L"Reservoir.4.GateOpen", VT_BOOL},
    // The base load: points no worker touches.
    {L"WeatherMast.analog.WindSpeed", L"WeatherMast.3.WindSpeed", VT_R4},
    {L"WeatherMast.analog.Humidity", L"WeatherMast.3.Humidity", VT_R4},
    {L"Reservoir.switch.OverflowAlarm", L"Reservoir.4.OverflowAlarm", VT_BOOL},
    {L"PumpStation.analog.DischargeHeaderPressureSensorA1", L"PumpStation.3.DischargeHeaderPressureSensorA1", VT_R4},
};
constexpr unsigned kFirstBasePoint = 12;
constexpr unsigned kPointsPerSlot = 2;

// worker (8 bits) | sequence (20 bits) | item index (4 bits)
OPCHANDLE MakeClientHandle(unsigned worker, unsigned sequence, unsigned index) {
    return (worker & 0xFFu) << 24 | (sequence & 0xFFFFFu) << 4 | index;
}

class Worker {
public:
    Worker(IOPCItemMgt* items, unsigned id, unsigned slot) : items_(items), id_(id), first_(slot * kPointsPerSlot) {
        const HRESULT hr = items_->QueryInterface(IID_IOPCSyncIO, reinterpret_cast<void**>(io_.ReleaseAndGetAddressOf()));
        Check(hr == S_OK, "QueryInterface(IOPCSyncIO)", hr);
    }

    StressReport Run(std::chrono::milliseconds duration) {
        const auto end = std::chrono::steady_clock::now() + duration;
        while (std::chrono::steady_clock::now() < end && report_.faults.size() < 20) Round(true);
        Round(false);  // the last batch stays in the group
        return std::move(report_);
    }

private:
    void Check(bool ok, const char* what, HRESULT hr) {
        if (ok) return;
        char text[160];
        std::snprintf(text, sizeof text, "worker %u: %s: 0x%08lX", id_, what, static_cast<unsigned long>(hr));
        report_.faults.emplace_back(text);
    }

    void Round(bool removeAtEnd) {
        ++sequence_;
        std::vector<OPCITEMDEF> defs(kPointsPerSlot);
        for (unsigned i = 0; i < kPointsPerSlot; ++i) {
            const StressItem& point = kStressItems[first_ + i];
            defs[i].szAccessPath = const_cast<LPWSTR>(L"");
            defs[i].szItemID = const_cast<LPWSTR>(sequence_ % 2 ? point.aliasId : point.itemId);
            defs[i].bActive = (sequence_ + i) % 2;
            defs[i].hClient = MakeClientHandle(id_, sequence_, first_ + i);
        }
        OPCITEMRESULT* results = nullptr;
        HRESULT* errors = nullptr;
        HRESULT hr = items_->AddItems(kPointsPerSlot, defs.data(), &results, &errors);
        Check(hr == S_OK, "AddItems", hr);
        std::vector<OPCHANDLE> servers(kPointsPerSlot);
        for (unsigned i = 0; hr == S_OK && i < kPointsPerSlot; ++i) {
            Check(errors[i] == S_OK, "AddItems per item", errors[i]);
            Check(results[i].vtCanonicalDataType == kStressItems[first_ + i].canonicalType, "canonical type",
                  results[i].vtCanonicalDataType);
            servers[i] = results[i].hServer;
            CoTaskMemFree(results[i].pBlob);
        }
        CoTaskMemFree(results);
        CoTaskMemFree(errors);
        if (hr != S_OK) return;

        hr = items_->SetActiveState(kPointsPerSlot, servers.data(), sequence_ % 2, &errors);
        ExpectAllOk(hr, errors, "SetActiveState");
        std::vector<OPCHANDLE> renamed(kPointsPerSlot);
        for (unsigned i = 0; i < kPointsPerSlot; ++i) renamed[i] = MakeClientHandle(id_, sequence_ + 0x80000, first_ + i);
        hr = items_->SetClientHandles(kPointsPerSlot, servers.data(), renamed.data(), &errors);
        ExpectAllOk(hr, errors, "SetClientHandles");
        Read(servers, renamed);
        Enumerate();
        if (!removeAtEnd) {
            report_.keptHandles = renamed;
            return;
        }
        hr = items_->RemoveItems(kPointsPerSlot, servers.data(), &errors);
        ExpectAllOk(hr, errors, "RemoveItems");
        // Removed once, gone for good: a second removal finds none of them.
        hr = items_->RemoveItems(kPointsPerSlot, servers.data(), &errors);
        Check(hr == S_FALSE, "second RemoveItems", hr);
        for (unsigned i = 0; hr == S_FALSE && i < kPointsPerSlot; ++i)
            Check(errors[i] == OPC_E_INVALIDHANDLE, "second RemoveItems per item", errors[i]);
        CoTaskMemFree(errors);
    }

    void ExpectAllOk(HRESULT hr, HRESULT* errors, const char* what) {
        Check(hr == S_OK, what, hr);
        for (unsigned i = 0; hr == S_OK && errors && i < kPointsPerSlot; ++i) Check(errors[i] == S_OK, what, errors[i]);
        CoTaskMemFree(errors);
    }

    // Device reads see the database; every value is one the test wrote, with good quality.
    void Read(const std::vector<OPCHANDLE>& servers, const std::vector<OPCHANDLE>& clients) {
        OPCITEMSTATE* states = nullptr;
        HRESULT* errors = nullptr;
        const HRESULT hr = io_->Read(OPC_DS_DEVICE, kPointsPerSlot, const_cast<OPCHANDLE*>(servers.data()), &states, &errors);
        Check(hr == S_OK, "device Read", hr);
        for (unsigned i = 0; hr == S_OK && i < kPointsPerSlot; ++i) {
            Check(errors[i] == S_OK, "device Read per item", errors[i]);
            Check(states[i].hClient == clients[i], "client handle of a read", static_cast<HRESULT>(states[i].hClient));
            Check(states[i].wQuality == 0xC0, "quality of a device read", states[i].wQuality);
            Check(states[i].vDataValue.vt == kStressItems[first_ + i].canonicalType, "type of a read",
                  states[i].vDataValue.vt);
            if (first_ + i == 0 && states[i].vDataValue.vt == VT_R4) {
                const float value = states[i].vDataValue.fltVal;
                Check(std::find(std::begin(kSetpointValues), std::end(kSetpointValues), value) !=
                          std::end(kSetpointValues),
                      "Setpoint value outside what was written", static_cast<HRESULT>(value * 1000));
            }
            VariantClear(&states[i].vDataValue);
        }
        CoTaskMemFree(states);
        CoTaskMemFree(errors);
        ++report_.reads;
    }

    // Whatever the other threads do meanwhile, every item listed is whole: its item ID is the
    // one its client handle names.
    void Enumerate() {
        const HRESULT hr = EnumerateItems(items_, [&](OPCHANDLE client, const wchar_t* itemId) {
            const wchar_t* expected = StressItemId(client);
            Check(expected && itemId && std::wcscmp(expected, itemId) == 0,
                  "enumerated item's ID differs from its client handle's", static_cast<HRESULT>(client));
        });
        Check(hr == S_OK, "CreateEnumerator (own items are in the group)", hr);
    }

    IOPCItemMgt* items_;
    com::ComPtr<IOPCSyncIO> io_;
    unsigned id_;
    unsigned first_;  // the worker's first point in kStressItems
    unsigned sequence_ = 0;
    StressReport report_;
};

// Items of other points that stay in the group all the time, so that every operation on the
// group's list and index has a long list to work on; returns their client handles (none on failure).
std::vector<OPCHANDLE> AddStressBase(IOPCItemMgt* items, unsigned count) {
    std::vector<OPCITEMDEF> defs(count);
    std::vector<OPCHANDLE> clientHandles(count);
    for (unsigned i = 0; i < count; ++i) {
        const unsigned index = kFirstBasePoint + i % (std::size(kStressItems) - kFirstBasePoint);
        defs[i].szAccessPath = const_cast<LPWSTR>(L"");
        defs[i].szItemID = const_cast<LPWSTR>(kStressItems[index].itemId);
        defs[i].bActive = TRUE;
        defs[i].hClient = clientHandles[i] = MakeClientHandle(0, i, index);
    }
    OPCITEMRESULT* results = nullptr;
    HRESULT* errors = nullptr;
    if (items->AddItems(count, defs.data(), &results, &errors) != S_OK) clientHandles.clear();
    for (unsigned i = 0; results && i < count; ++i) CoTaskMemFree(results[i].pBlob);
    CoTaskMemFree(results);
    CoTaskMemFree(errors);
    return clientHandles;
}

const wchar_t* StressItemId(OPCHANDLE clientHandle) {
    const unsigned index = clientHandle & 0xFu;
    return index < std::size(kStressItems) ? kStressItems[index].itemId : nullptr;
}

TEST(ItemStress, ThreadsShareOneGroup) {
    StartServerSide();
    ComPtr<IOPCServer> server = Connect();
    ComPtr<IOPCItemMgt> items;
    OPCHANDLE groupHandle;
    DWORD revisedRate;
    ASSERT_HR(server->AddGroup(L"Stress", TRUE, 200, 1, nullptr, nullptr, 0, &groupHandle, &revisedRate,
                               IID_IOPCItemMgt, reinterpret_cast<LPUNKNOWN*>(items.ReleaseAndGetAddressOf())),
              S_OK);
    const std::vector<OPCHANDLE> base = AddStressBase(items.Get(), kBaseItems);
    ASSERT_EQ(base.size(), kBaseItems) << "adding the base items";

    // The runtime's value moves all the time between the values the workers accept.
    std::atomic<bool> moving = true;
    std::thread mover([&] {
        SimulatorControl simulator;
        for (unsigned i = 0; moving; ++i) {
            simulator.setAnalog("NorthSubstation", "Setpoint", kSetpointValues[i % 2]);
            Sleep(5);
        }
    });
    std::vector<StressReport> reports(kWorkers);
    std::vector<std::thread> workers;
    for (unsigned w = 0; w < kWorkers; ++w)
        workers.emplace_back([&, w] { reports[w] = Worker(items.Get(), w + 1, w).Run(kDuration); });
    for (std::thread& worker : workers) worker.join();
    moving = false;
    mover.join();

    std::set<OPCHANDLE> kept(base.begin(), base.end());
    for (const StressReport& report : reports) {
        for (const std::string& fault : report.faults) ADD_FAILURE() << fault;
        kept.insert(report.keptHandles.begin(), report.keptHandles.end());
        EXPECT_GT(report.reads, 10) << "a worker hardly ran";
    }
    EXPECT_EQ(kept.size(), kBaseItems + kWorkers * 2u) << "each worker leaves its last batch";

    // Exactly the items the workers left are in the group: none lost, none listed twice, none left over.
    std::multiset<OPCHANDLE> listed;
    EXPECT_HR(EnumerateItems(items.Get(), [&](OPCHANDLE client, const wchar_t*) { listed.insert(client); }), S_OK);
    EXPECT_EQ(listed, std::multiset<OPCHANDLE>(kept.begin(), kept.end()));
    OPCSERVERSTATUS* status = nullptr;
    EXPECT_HR(server->GetStatus(&status), S_OK) << "the server still answers";
    if (status) CoTaskMemFree(status->szVendorInfo);
    CoTaskMemFree(status);
}

}  // namespace
}  // namespace korvex::test
