// The update tick at plant scale: 10 clients of 10 groups of 1,000 active items each, every group
// at the base rate, two items on every point. The tick's own CPU time (the thread that runs it;
// the sinks are called on the clients' delivery threads and are not counted) when every point
// changed and when nothing did, beside reading and comparing the same values in a plain loop, and
// the database reads each tick made. Then the same ticks with the operator's view open: snapshots
// of the server taken on another thread every 10 ms, a hundred times as often as the view takes
// them, and what one snapshot costs.
#include "bench_report.h"
#include "bench_sections.h"
#include "bench_timing.h"
#include "figure_log.h"

#include "addrspace/address_space.h"
#include "com/data_callback_sink.h"
#include "com/string_convert.h"
#include "rtdb/rt_library.h"
#include "server/client_snapshot.h"
#include "server/server_module.h"

#include <oleauto.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace bench {
namespace {

using korvex::com::ComPtr;

constexpr int kClients = 10;
constexpr int kGroupsPerClient = 10;
constexpr int kItemsPerGroup = 1000;
constexpr int kItems = kClients * kGroupsPerClient * kItemsPerGroup;
constexpr int kTicks = 20;  // measured ticks of each kind

void Expect(bool condition, const std::string& what) {
    if (!condition) throw std::runtime_error("benchmark self-check failed: " + what);
}

// Counts what reaches one client; returns at once.
class CountingSink final : public korvex::com::DataCallbackSink<CountingSink, korvex::com::no_module_lock> {
public:
    std::atomic<std::uint64_t> changes{0}, items{0};

    HRESULT STDMETHODCALLTYPE OnDataChange(DWORD, OPCHANDLE, HRESULT, HRESULT, DWORD dwCount, OPCHANDLE*, VARIANT*,
                                           WORD*, FILETIME*, HRESULT*) override {
        changes += 1;
        items += dwCount;
        return S_OK;
    }
};

// The point of item n (0..kItems-1): the items cover the first half of the points twice over.
DWORD PointOf(int n, DWORD points) { return static_cast<DWORD>(n) % (points / 2) + 1; }

struct Client {
    ComPtr<IOPCServer> server;
    ComPtr<CountingSink> sink;
    std::vector<ComPtr<IOPCItemMgt>> groups;
};

Client Connect(const ServerContext& context, int client) {
    const COPCAddressSpaceMgt& space = context.addressSpace;
    Client c;
    Expect(server::CreateServer(context, IID_IOPCServer, reinterpret_cast<void**>(c.server.ReleaseAndGetAddressOf())) == S_OK,
           "a client connects");
    c.sink = korvex::com::make<CountingSink>();
    for (int g = 0; g < kGroupsPerClient; ++g) {
        OPCHANDLE handle = 0;
        DWORD revised = 0;
        ComPtr<IOPCItemMgt> group;
        Expect(c.server->AddGroup(L"", TRUE, 200, g, nullptr, nullptr, 0, &handle, &revised, IID_IOPCItemMgt,
                                  reinterpret_cast<LPUNKNOWN*>(group.ReleaseAndGetAddressOf())) == S_OK,
               "a group is added");
        std::vector<std::wstring> ids(kItemsPerGroup);
        std::vector<OPCITEMDEF> defs(kItemsPerGroup);
        for (int i = 0; i < kItemsPerGroup; ++i) {
            const int n = (client * kGroupsPerClient + g) * kItemsPerGroup + i;
            ids[i] = korvex::com::toWide(space.GetPoint(PointOf(n, space.GetPointCount()))->itemId());
            defs[i] = OPCITEMDEF{};
            defs[i].szAccessPath = const_cast<LPWSTR>(L"");
            defs[i].szItemID = ids[i].data();
            defs[i].bActive = TRUE;
            defs[i].hClient = static_cast<OPCHANDLE>(i);
        }
        OPCITEMRESULT* results = nullptr;
        HRESULT* errors = nullptr;
        const HRESULT added = group->AddItems(kItemsPerGroup, defs.data(), &results, &errors);
        CoTaskMemFree(results);
        CoTaskMemFree(errors);
        Expect(added == S_OK, "every item is added");
        ComPtr<IConnectionPointContainer> container;
        ComPtr<IConnectionPoint> point;
        DWORD cookie = 0;
        group->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(container.ReleaseAndGetAddressOf()));
        Expect(container && container->FindConnectionPoint(IID_IOPCDataCallback, point.ReleaseAndGetAddressOf()) == S_OK &&
                   point->Advise(c.sink->identity(), &cookie) == S_OK,
               "the sink subscribes");
        c.groups.push_back(group);
    }
    return c;
}

// Moves every point of the plant: analog values alternate between two numbers, switches flip.
void MoveEveryPoint(const rtimage::ImageView& view, const std::vector<rtimage::Station>& plant, int tick) {
    for (std::size_t s = 0; s < plant.size(); ++s) {
        for (std::size_t a = 0; a < plant[s].analogs.size(); ++a)
            rtimage::storeLiveDouble(view.analog(s, a) + rt::analog::kValue, plant[s].analogs[a].value + ((tick & 1) ? 0 : 1));
        for (std::size_t p = 0; p < plant[s].switches.size(); ++p) {
            std::byte* state = view.switchPoint(s, p) + rt::status::kState;
            *state = static_cast<std::byte>(*state == std::byte{0} ? 1 : 0);
        }
    }
}

// The same work without the server: read each needed point once, compare every item's value with
// the one it had, keep the new one.
struct PlainLoop {
    std::vector<DWORD> pointOfItem;
    std::vector<VARIANT> pointValue;
    std::vector<VARIANT> itemValue;
    std::vector<WORD> itemQuality;

    explicit PlainLoop(DWORD points) : pointValue(points / 2 + 1), itemValue(kItems), itemQuality(kItems, 0) {
        for (int n = 0; n < kItems; ++n) pointOfItem.push_back(PointOf(n, points));
        for (VARIANT& v : pointValue) VariantInit(&v);
        for (VARIANT& v : itemValue) VariantInit(&v);
    }

    std::uint64_t Run(const COPCAddressSpaceMgt& space) {
        std::vector<WORD> quality(pointValue.size());
        // Stamped with one time for all, as the tick does.
        FILETIME now;
        CoFileTimeNow(&now);
        for (DWORD k = 1; k < pointValue.size(); ++k) {
            FILETIME stamp;
            space.ReadPointValue(k, now, &pointValue[k], &quality[k], &stamp);
        }
        std::uint64_t changed = 0;
        for (int n = 0; n < kItems; ++n) {
            const VARIANT& now = pointValue[pointOfItem[n]];
            VARIANT& last = itemValue[n];
            const bool same = now.vt == last.vt && itemQuality[n] == quality[pointOfItem[n]] &&
                              (now.vt == VT_R4 ? now.fltVal == last.fltVal : now.boolVal == last.boolVal);
            if (!same) {
                ++changed;
                last = now;
                itemQuality[n] = quality[pointOfItem[n]];
            }
        }
        return changed;
    }
};

struct TickFigures {
    Measurement tick;
    std::uint64_t reads = 0;  // database reads per tick, the most any tick made
    std::uint64_t items = 0;  // items delivered per tick
};

TickFigures MeasureTicks(const char* what, const ServerContext& context, const std::vector<Client>& clients,
                         const std::function<void(int)>& beforeTick) {
    TickFigures figures{{what, kTicks, {}}, 0, 0};
    std::uint64_t itemsBefore = 0;
    for (const Client& c : clients) itemsBefore += c.sink->items;
    for (int t = 0; t < kTicks; ++t) {
        beforeTick(t);
        const COPCAddressSpaceMgt& space = context.addressSpace;
        const std::uint64_t readsBefore = space.PointReadCount();
        const Timing timing = Measure([&] { server::RunUpdateTick(context); });
        figures.reads = std::max(figures.reads, space.PointReadCount() - readsBefore);
        figures.tick.timing.wallSeconds += timing.wallSeconds;
        figures.tick.timing.threadCpuSeconds += timing.threadCpuSeconds;
        figures.tick.timing.processCpuSeconds += timing.processCpuSeconds;
        Expect(server::WaitForCallbackDeliveries(std::chrono::seconds(30)), "the callbacks are delivered");
    }
    std::uint64_t itemsAfter = 0;
    for (const Client& c : clients) itemsAfter += c.sink->items;
    figures.items = (itemsAfter - itemsBefore) / kTicks;
    return figures;
}

void PrintPerTick(const Measurement& m) {
    char line[200];
    std::snprintf(line, sizeof line, "%-52s per tick: CPU %.2f ms, wall %.2f ms", m.what.c_str(),
                  m.timing.threadCpuSeconds * 1e3 / static_cast<double>(m.operations),
                  m.timing.wallSeconds * 1e3 / static_cast<double>(m.operations));
    PrintNote(line);
}

}  // namespace

void RunUpdateTickBench(const Options& options) {
    const PlantShape& shape = options.shape;
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    char title[160];
    std::snprintf(title, sizeof title, "update tick: %d clients x %d groups x %d items = %d active items on %d points",
                  kClients, kGroupsPerClient, kItemsPerGroup, kItems, shape.Points() / 2);
    PrintSection(title);
    Expect(shape.Points() >= 2, "a plant of at least two points");

    const std::vector<rtimage::Station> plant = MakePlant(shape);
    PublishedPlant published(plant);
    static COPCAddressSpaceMgt space;
    static ServerState state;
    const ServerContext context{space, state};
    Expect(space.BuildAddressSpace(published.access()), "the address space is built");
    const DWORD points = space.GetPointCount();
    const rtimage::ImageView view = published.runtime().view();

    std::vector<Client> clients;
    Print({"connect, add the groups and items, subscribe", 1, Measure([&] {
               for (int c = 0; c < kClients; ++c) clients.push_back(Connect(context, c));
           })});
    // The first scan reports every item.
    Print({"first tick (reports every item)", 1, Measure([&] { server::RunUpdateTick(context); })});
    Expect(server::WaitForCallbackDeliveries(std::chrono::seconds(30)), "the first callbacks are delivered");

    const TickFigures quiet = MeasureTicks("tick, nothing changes", context, clients, [](int) {});
    const TickFigures moving = MeasureTicks("tick, every point changes", context, clients,
                                            [&](int t) { MoveEveryPoint(view, plant, t); });

    // The view open, and refreshing a hundred times as often as it does.
    std::atomic<bool> viewOpen{true};
    std::atomic<std::uint64_t> snapshots{0};
    std::thread viewer([&] {
        while (viewOpen) {
            Keep(server::TakeSnapshot(context).clients.size());
            ++snapshots;
            Sleep(10);
        }
    });
    const TickFigures quietViewed = MeasureTicks("tick, nothing changes, view open", context, clients, [](int) {});
    const TickFigures movingViewed = MeasureTicks("tick, every point changes, view open", context, clients,
                                                  [&](int t) { MoveEveryPoint(view, plant, t); });
    viewOpen = false;
    viewer.join();
    Expect(snapshots > 0, "the view took snapshots");
    constexpr int kSnapshots = 100;
    const Measurement snapshot{"snapshot for the view", kSnapshots, Measure([&] {
                                   for (int i = 0; i < kSnapshots; ++i)
                                       Keep(server::TakeSnapshot(context).clients.size());
                               })};

    PlainLoop loop(points);
    loop.Run(space);
    std::uint64_t changed = 0;
    const Measurement plainQuiet{"plain loop, nothing changes", kTicks, Measure([&] {
                                     for (int t = 0; t < kTicks; ++t) changed += loop.Run(space);
                                 })};
    Expect(changed == 0, "the plain loop finds no change");
    Timing moved{};
    for (int t = 0; t < kTicks; ++t) {
        MoveEveryPoint(view, plant, t);
        const Timing one = Measure([&] { changed += loop.Run(space); });
        moved.wallSeconds += one.wallSeconds;
        moved.threadCpuSeconds += one.threadCpuSeconds;
        moved.processCpuSeconds += one.processCpuSeconds;
    }
    const Measurement plainMoving{"plain loop, every point changes", kTicks, moved};
    Expect(changed == std::uint64_t{kItems} * kTicks, "the plain loop finds every item changed");

    const Measurement* const figures[] = {&quiet.tick,       &moving.tick,      &quietViewed.tick,
                                          &movingViewed.tick, &plainQuiet,       &plainMoving,
                                          &snapshot};
    for (const Measurement* m : figures) Print(*m);
    for (const Measurement* m : figures) PrintPerTick(*m);
    const auto cpuRatio = [](const Measurement& a, const Measurement& b) {
        return b.timing.threadCpuSeconds > 0 ? a.timing.threadCpuSeconds / b.timing.threadCpuSeconds : 0.0;
    };
    char note[200];
    std::snprintf(note, sizeof note, "ratio tick / plain loop (CPU): nothing changes %.1fx, every point changes %.1fx",
                  cpuRatio(quiet.tick, plainQuiet), cpuRatio(moving.tick, plainMoving));
    PrintNote(note);
    std::snprintf(note, sizeof note,
                  "view open / closed (CPU): nothing changes %.2fx, every point changes %.2fx; %llu snapshots "
                  "taken meanwhile",
                  cpuRatio(quietViewed.tick, quiet.tick), cpuRatio(movingViewed.tick, moving.tick),
                  static_cast<unsigned long long>(snapshots.load()));
    PrintNote(note);
    std::snprintf(note, sizeof note,
                  "database reads per tick: %llu when nothing changes, %llu when every point changes (%lu points "
                  "needed, %d items)",
                  static_cast<unsigned long long>(quiet.reads), static_cast<unsigned long long>(moving.reads),
                  static_cast<unsigned long>(points / 2), kItems);
    PrintNote(note);
    std::snprintf(note, sizeof note, "items delivered per tick: %llu when nothing changes, %llu when every point changes",
                  static_cast<unsigned long long>(quiet.items), static_cast<unsigned long long>(moving.items));
    PrintNote(note);
    Expect(quiet.reads == points / 2 && moving.reads == points / 2, "each needed point is read once per tick");
    Expect(quiet.items == 0 && moving.items == static_cast<std::uint64_t>(kItems), "every change and only changes reach the clients");
    const auto perTickMs = [](const Measurement& m) {
        return m.timing.threadCpuSeconds * 1e3 / static_cast<double>(m.operations);
    };
    const auto tickFigure = [&](const char* what, const TickFigures& tick, const Measurement& plain, const char* goal,
                                double goalMs) {
        const double ms = perTickMs(tick.tick), plainMs = perTickMs(plain);
        FigureLog::Instance().Add({"tick", what, ms, "ms CPU per tick", Baseline{plain.what, plainMs, "ms CPU per tick"},
                                   RatioTo(ms, plainMs), goal, ms < goalMs});
    };
    tickFigure("update tick over 100,000 items, every point changes", moving, plainMoving, "under 20 ms", 20);
    tickFigure("update tick over 100,000 items, nothing changes", quiet, plainQuiet, "under 5 ms", 5);
    clients.clear();
    Expect(server::WaitForCallbackDeliveries(std::chrono::seconds(30)), "the clients go");
}

}  // namespace bench
