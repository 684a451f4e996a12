// Several client threads in two processes add, rename, (de)activate, read and remove items of one
// group for some seconds, while the runtime's values move and the update cycle scans the group.
// No call fails, no item is lost or mixed up, no value is one that was never written.
#include "tests/integration/item_stress_worker.h"
#include "tests/support/hresult.h"
#include "tests/support/server_session.h"
#include "tests/support/simulator_control.h"
#include "tests/support/temp_directory.h"
#include "tests/support/wine_process.h"

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <set>
#include <sstream>
#include <thread>

namespace korvex::test {
namespace {

using com::ComPtr;
using namespace std::chrono_literals;

constexpr unsigned kWorkersPerProcess = kStressSlots / 2;
constexpr auto kDuration = 5s;
constexpr unsigned kBaseItems = 2000;

// The group's interface marshaled into a file, for the other process to unmarshal once.
void MarshalToFile(IOPCItemMgt* items, const std::string& path) {
    ComPtr<IStream> stream;
    ASSERT_HR(CreateStreamOnHGlobal(nullptr, TRUE, stream.ReleaseAndGetAddressOf()), S_OK);
    ASSERT_HR(CoMarshalInterface(stream.Get(), IID_IOPCItemMgt, items, MSHCTX_LOCAL, nullptr, MSHLFLAGS_NORMAL), S_OK);
    HGLOBAL memory = nullptr;
    ASSERT_HR(GetHGlobalFromStream(stream.Get(), &memory), S_OK);
    STATSTG stat{};
    ASSERT_HR(stream->Stat(&stat, STATFLAG_NONAME), S_OK);
    std::ofstream file(path, std::ios::binary);
    file.write(static_cast<const char*>(GlobalLock(memory)), static_cast<std::streamsize>(stat.cbSize.QuadPart));
    GlobalUnlock(memory);
}

std::set<OPCHANDLE> EnumeratedClientHandles(IOPCItemMgt* items) {
    std::set<OPCHANDLE> handles;
    ComPtr<IEnumOPCItemAttributes> attributes;
    EXPECT_HR(items->CreateEnumerator(IID_IEnumOPCItemAttributes,
                                      reinterpret_cast<LPUNKNOWN*>(attributes.ReleaseAndGetAddressOf())),
              S_OK);
    if (!attributes) return handles;
    OPCITEMATTRIBUTES* batch = nullptr;
    ULONG fetched = 0;
    while (SUCCEEDED(attributes->Next(100, &batch, &fetched)) && fetched > 0) {
        for (ULONG i = 0; i < fetched; ++i) {
            EXPECT_TRUE(handles.insert(batch[i].hClient).second) << "client handle listed twice: " << batch[i].hClient;
            CoTaskMemFree(batch[i].szAccessPath);
            CoTaskMemFree(batch[i].szItemID);
            CoTaskMemFree(batch[i].pBlob);
            VariantClear(&batch[i].vEUInfo);
        }
        CoTaskMemFree(batch);
        batch = nullptr;
    }
    return handles;
}

TEST(ItemStress, ThreadsOfTwoProcessesShareOneGroup) {
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

    TempDirectory folder("item-stress");
    const std::string marshaled = folder.path() + "\\group.bin";
    MarshalToFile(items.Get(), marshaled);
    ChildProcess other("item_stress_child.exe",
                       {marshaled, std::to_string(kWorkersPerProcess),
                        std::to_string(std::chrono::milliseconds(kDuration).count())});

    // The runtime's value moves all the time between the values the workers accept.
    std::atomic<bool> moving = true;
    std::thread mover([&] {
        SimulatorControl simulator;
        for (unsigned i = 0; moving; ++i) {
            simulator.setAnalog("NorthSubstation", "Setpoint", kStressSetpointValues[i % 2]);
            Sleep(5);
        }
    });
    std::vector<StressReport> reports(kWorkersPerProcess);
    std::vector<std::thread> workers;
    for (unsigned w = 0; w < kWorkersPerProcess; ++w)
        workers.emplace_back([&, w] { reports[w] = RunItemStress(items.Get(), w + 1, w, kDuration); });
    for (std::thread& worker : workers) worker.join();
    const auto childExit = other.waitForExit(60s);
    moving = false;
    mover.join();

    std::set<OPCHANDLE> kept(base.begin(), base.end());
    long operations = 0;
    for (const StressReport& report : reports) {
        for (const std::string& fault : report.faults) ADD_FAILURE() << fault;
        kept.insert(report.keptHandles.begin(), report.keptHandles.end());
        operations += report.operations + report.reads;
        EXPECT_GT(report.reads, 10) << "a worker hardly ran";
    }
    ASSERT_TRUE(childExit.has_value()) << "the other process did not finish: " << other.output();
    EXPECT_EQ(*childExit, 0u) << other.output();
    std::istringstream lines(other.output());
    std::string word;
    unsigned long value = 0;
    bool done = false;
    while (lines >> word) {
        if (word == "kept" && lines >> value) kept.insert(static_cast<OPCHANDLE>(value));
        if (word == "done" && lines >> value) done = value > 0;
    }
    EXPECT_TRUE(done) << "the other process did no work: " << other.output();
    EXPECT_EQ(kept.size(), kBaseItems + kStressSlots * 2u) << "each worker leaves its last batch";

    // Exactly the items the workers left are in the group: none lost, none left over.
    EXPECT_EQ(EnumeratedClientHandles(items.Get()), kept);
    OPCSERVERSTATUS* status = nullptr;
    EXPECT_HR(server->GetStatus(&status), S_OK) << "the server still answers";
    if (status) CoTaskMemFree(status->szVendorInfo);
    CoTaskMemFree(status);
    std::printf("%ld operations in this process\n", operations);
}

}  // namespace
}  // namespace korvex::test
