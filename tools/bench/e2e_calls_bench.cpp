// Calls of one client across processes on the 100,000-point plant: round trips, AddItems and
// RemoveItems of 10,000 items in one call, synchronous reads of them from the cache and from the
// device, each beside the same call to the canned server.
#include "bench_items.h"
#include "bench_report.h"
#include "bench_sections.h"
#include "bench_timing.h"
#include "e2e_plants.h"
#include "figure_log.h"
#include "opc_calls.h"
#include "transport_baseline.h"

#include <objbase.h>

#include <algorithm>
#include <vector>

namespace bench {
namespace {

constexpr int kItems = 10000;
constexpr int kRepeats = 7;
constexpr int kRoundTrips = 100;

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

Figure CallFigure(const char* what, double ms, const char* baselineWhat, double baselineMs, const char* goal,
                  double goalMs) {
    Figure f{"e2e-calls", what, ms, "ms", Baseline{baselineWhat, baselineMs, "ms"}, RatioTo(ms, baselineMs)};
    if (goal) {
        f.goal = goal;
        f.met = ms < goalMs;
    }
    return f;
}

}  // namespace

void RunE2eCallsBench(const Options&) {
    PrintTitle("calls across processes: one client, 10,000 items, 100,000-point plant");
    PlantSession& session = UsePlant(kMovingPlant);
    // The canned server answers the same calls, each timed right beside the server's: the
    // machine's load changes from one second to the next.
    const CannedServer canned;
    auto server = session.Connect();
    OPCHANDLE groupHandle = 0;
    DWORD revised = 0;
    ComPtr<IOPCItemMgt> group;
    // Active, so that reads come from a live cache, at a rate that keeps the scans out of the timings.
    Check(server->AddGroup(L"", TRUE, 600000, 1, nullptr, nullptr, 0, &groupHandle, &revised, IID_IOPCItemMgt,
                           reinterpret_cast<LPUNKNOWN*>(group.ReleaseAndGetAddressOf())),
          "AddGroup");
    auto io = Query<IOPCSyncIO>(group.Get());
    auto common = Query<IOPCCommon>(server.Get());

    LCID locale = 0;
    const auto emptyCalls = [&](IOPCCommon* to) {
        return Measure([&] {
                   for (int i = 0; i < kRoundTrips; ++i) Check(to->GetLocaleID(&locale), "GetLocaleID");
               }).wallSeconds * 1e3 / kRoundTrips;
    };
    std::vector<double> empty, cannedEmpty, status;
    for (int r = 0; r < kRepeats; ++r) {
        cannedEmpty.push_back(emptyCalls(canned.common()));
        empty.push_back(emptyCalls(common.Get()));
        status.push_back(Measure([&] {
                             for (int i = 0; i < kRoundTrips; ++i) {
                                 OPCSERVERSTATUS* s = nullptr;
                                 Check(server->GetStatus(&s), "GetStatus");
                                 CoTaskMemFree(s->szVendorInfo);
                                 CoTaskMemFree(s);
                             }
                         }).wallSeconds * 1e3 / kRoundTrips);
    }

    std::vector<std::wstring> ids = BenchItemIds(0, kItems);
    std::vector<OPCITEMDEF> definitions = ItemDefinitions(ids);
    std::vector<double> add, remove, cacheRead, deviceRead, cannedAdd, cannedRemove, cannedRead;
    for (int r = 0; r < kRepeats; ++r) {
        std::vector<OPCHANDLE> handles, cannedHandles;
        cannedAdd.push_back(Measure([&] { cannedHandles = AddItems(canned.items(), definitions); }).wallSeconds * 1e3);
        add.push_back(Measure([&] { handles = AddItems(group.Get(), definitions); }).wallSeconds * 1e3);
        cannedRead.push_back(Measure([&] { ReadItems(canned.io(), OPC_DS_CACHE, cannedHandles); }).wallSeconds * 1e3);
        cacheRead.push_back(Measure([&] { ReadItems(io.Get(), OPC_DS_CACHE, handles); }).wallSeconds * 1e3);
        deviceRead.push_back(Measure([&] { ReadItems(io.Get(), OPC_DS_DEVICE, handles); }).wallSeconds * 1e3);
        cannedRemove.push_back(Measure([&] { RemoveItems(canned.items(), cannedHandles); }).wallSeconds * 1e3);
        remove.push_back(Measure([&] { RemoveItems(group.Get(), handles); }).wallSeconds * 1e3);
    }
    io.Reset();
    group.Reset();
    server->RemoveGroup(groupHandle, FALSE);

    FigureLog& log = FigureLog::Instance();
    const char* emptyBaseline = "empty call to the canned server";
    log.Add(CallFigure("empty call to the server (GetLocaleID)", Median(empty), emptyBaseline, Median(cannedEmpty),
                       nullptr, 0));
    log.Add(CallFigure("GetStatus round trip", Median(status), emptyBaseline, Median(cannedEmpty), nullptr, 0));
    log.Add(CallFigure("AddItems of 10,000 items in one call (median of 7)", Median(add), "canned AddItems",
                       Median(cannedAdd), "under 50 ms", 50));
    log.Add(CallFigure("RemoveItems of the same", Median(remove), "canned RemoveItems", Median(cannedRemove),
                       "under 50 ms", 50));
    log.Add(CallFigure("cache Read of 10,000 items", Median(cacheRead), "canned Read", Median(cannedRead), "under 50 ms",
                       50));
    log.Add(CallFigure("device Read of 10,000 items", Median(deviceRead), "canned Read", Median(cannedRead),
                       "under 100 ms", 100));
}

}  // namespace bench
