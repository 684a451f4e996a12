// What the server process holds and spends: private bytes per point (the server on the 100,000-point
// plant against the server on a 1,000-point one, each right after it started), private bytes per
// group item (1,000,000 items in 100 groups of one client), and the CPU of a steady plant: 10
// clients of 10,000 items at 1,000 ms while a tenth of the points change every second.
#include "bench_items.h"
#include "bench_report.h"
#include "bench_sections.h"
#include "e2e_plants.h"
#include "figure_log.h"
#include "opc_calls.h"
#include "subscribed_client.h"
#include "transport_baseline.h"

#include <windows.h>

#include <cstdio>
#include <memory>
#include <vector>

namespace bench {

void RunE2eMemoryBench(const Options&) {
    constexpr int kGroups = 100, kItemsPerGroup = 10000;
    PrintTitle("memory: private bytes of the server per point and per group item");
    FigureLog& log = FigureLog::Instance();
    double perItem = 0;
    double largePlantBytes = 0;
    {
        PlantSession& session = UsePlant(kMovingPlant);
        largePlantBytes = session.privateBytesAtStart();
        auto server = session.Connect();
        const double before = session.ServerPrivateBytes();
        std::vector<OPCHANDLE> groups;
        for (int g = 0; g < kGroups; ++g) {
            OPCHANDLE handle = 0;
            DWORD revised = 0;
            ComPtr<IOPCItemMgt> group;
            // Inactive: the figure is what the items hold, not what scanning them allocates.
            Check(server->AddGroup(L"", FALSE, 1000, g, nullptr, nullptr, 0, &handle, &revised, IID_IOPCItemMgt,
                                   reinterpret_cast<LPUNKNOWN*>(group.ReleaseAndGetAddressOf())),
                  "AddGroup");
            std::vector<std::wstring> ids = BenchItemIds((g % 10) * kItemsPerGroup, kItemsPerGroup);
            std::vector<OPCITEMDEF> definitions = ItemDefinitions(ids);
            AddItems(group.Get(), definitions);
            groups.push_back(handle);
        }
        const double after = session.ServerPrivateBytes();
        perItem = (after - before) / (kGroups * kItemsPerGroup);
        for (const OPCHANDLE handle : groups) server->RemoveGroup(handle, FALSE);
        char note[160];
        std::snprintf(note, sizeof note, "%.1f MB before, %.1f MB with 1,000,000 items", before / 1048576, after / 1048576);
        Figure f{"e2e-memory", "private bytes per group item (1,000,000 items in 100 groups)", perItem, "bytes",
                 std::nullopt, std::nullopt, "at most 256 bytes", perItem <= 256, note};
        log.Add(std::move(f));
    }
    const double smallPlantBytes = UsePlant(kSmallPlant).privateBytesAtStart();
    const double perPoint = (largePlantBytes - smallPlantBytes) / (kMovingPlant.points - kSmallPlant.points);
    char note[160];
    std::snprintf(note, sizeof note, "server at start: %.1f MB on 100,000 points, %.1f MB on 1,000", largePlantBytes / 1048576,
                  smallPlantBytes / 1048576);
    log.Add({"e2e-memory", "private bytes per point (100,000 points)", perPoint, "bytes", std::nullopt, std::nullopt,
             "at most 1 KB", perPoint <= 1024, note});
    EndPlant();
}

void RunE2eSteadyBench(const Options&) {
    constexpr int kClients = 10, kItems = 10000;
    constexpr DWORD kRate = 1000, kWarmUpMs = 2500, kWindowMs = 10000;
    const TransportBaselines transport = MeasureTransport(false, {1000});
    PrintTitle("steady state: 10 clients x 10,000 items at 1,000 ms, a tenth of the points changing every second");
    PlantSession& session = UsePlant(kSteadyPlant);
    std::vector<std::unique_ptr<SubscribedClient>> clients;
    for (int c = 0; c < kClients; ++c) clients.push_back(std::make_unique<SubscribedClient>(session, c * kItems, kItems, kRate));
    Sleep(kWarmUpMs);
    const double before = session.ServerCpuSeconds();
    for (auto& c : clients) c->recorder().Open();
    Sleep(kWindowMs);
    std::uint64_t items = 0;
    double seconds = 0;
    for (auto& c : clients) {
        const ChangeRecorder::Window w = c->recorder().Close();
        items += w.items;
        seconds = w.seconds;
    }
    const double cpu = session.ServerCpuSeconds() - before;
    clients.clear();
    const double percent = cpu * 100 / seconds;
    const double changesPerSecond = static_cast<double>(items) / seconds;
    // What sending the same changes costs the transport alone, in calls of 1,000 items.
    const double transportPercent = transport.CeilingFor(1000).senderCpuUsPerItem * changesPerSecond * 1e-6 * 100;
    char note[160];
    std::snprintf(note, sizeof note, "%.0f changes/s received in all", changesPerSecond);
    Figure f{"e2e-steady", "server CPU, steady state", percent, "% of a core",
             Baseline{"canned sender's CPU for the same changes", transportPercent, "% of a core"},
             RatioTo(percent, transportPercent), "under 2% of one core", percent < 2, note};
    FigureLog::Instance().Add(std::move(f));
    EndPlant();
}

}  // namespace bench
