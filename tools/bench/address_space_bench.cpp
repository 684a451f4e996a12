// The address space at plant scale: building it, and the lookups every client read makes (item ID
// to node, node to point, point to value), each timed for every point beside the naive baseline.
#include "bench_report.h"
#include "bench_sections.h"
#include "bench_timing.h"
#include "naive_address_space.h"

#include <oleauto.h>

#include <cstdio>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace bench {
namespace {

// The baseline's linear point scan costs a whole table walk per lookup: it is timed on an evenly
// spread sample of at most this many points.
constexpr std::size_t kScanSample = 2000;

void Expect(bool condition, const char* what) {
    if (!condition) throw std::runtime_error(std::string("benchmark self-check failed: ") + what);
}

// Reads points 1 to `points` once each through `read`; returns how many read GOOD.
template <class Reader>
std::size_t ReadEveryPoint(std::size_t points, Reader&& read) {
    std::size_t good = 0;
    for (DWORD k = 1; k <= points; ++k) {
        VARIANT value;
        VariantInit(&value);
        WORD quality = 0;
        FILETIME stamp;
        good += read(k, &value, &quality, &stamp) && quality == 0xC0 ? 1 : 0;
    }
    return good;
}

}  // namespace

void RunAddressSpaceBench(const Options& options) {
    const PlantShape& shape = options.shape;
    const auto points = static_cast<std::size_t>(shape.Points());
    char title[128];
    std::snprintf(title, sizeof title, "address space: %d stations x %d points = %zu points", shape.stations,
                  shape.pointsPerStation, points);
    PrintSection(title);

    std::vector<rtimage::Station> plant;
    std::unique_ptr<PublishedPlant> published;
    Print({"make the plant image and publish it", 1, Measure([&] {
               plant = MakePlant(shape);
               published = std::make_unique<PublishedPlant>(plant);
           })});

    COPCAddressSpaceMgt space;
    bool built = false;
    Print({"BuildAddressSpace", 1, Measure([&] { built = space.BuildAddressSpace(published->access()); })});
    Expect(built && space.GetPointCount() == points, "the space holds every point");

    std::vector<std::string> itemIds(points);
    for (std::size_t k = 0; k < points; ++k) itemIds[k] = space.GetPoint(static_cast<DWORD>(k + 1))->itemId();

    std::unique_ptr<NaiveAddressSpace> naive;
    Print({"baseline: copy the nodes, fill the text-key std::map", 1,
           Measure([&] { naive = std::make_unique<NaiveAddressSpace>(space, published->access()); })});

    // Item ID to node.
    std::vector<DWORD> nodes(points), naiveNodes(points);
    const Measurement resolve{"ResolveItemId, indexed", points, Measure([&] {
                                  for (std::size_t k = 0; k < points; ++k) nodes[k] = space.ResolveItemId(itemIds[k]);
                              })};
    Print(resolve);
    const Measurement naiveResolve{"ResolveItemId, baseline (sibling walk)", points, Measure([&] {
                                       for (std::size_t k = 0; k < points; ++k)
                                           naiveNodes[k] = naive->ResolveItemId(itemIds[k]);
                                   })};
    Print(naiveResolve);
    Expect(nodes == naiveNodes, "both resolve every item ID to the same node");

    // Node to point.
    std::uint64_t handles = 0;
    const Measurement find{"FindPointByNodeId, indexed", points, Measure([&] {
                               for (std::size_t k = 0; k < points; ++k)
                                   handles += space.FindPointByNodeId(space.GetNodeId(nodes[k]))->serverHandle();
                           })};
    Print(find);
    Expect(handles == std::uint64_t{points} * (points + 1) / 2, "every node finds its own point");
    const std::size_t stride = points > kScanSample ? points / kScanSample : 1;
    std::size_t sampled = 0;
    const Timing scan = Measure([&] {
        for (std::size_t k = 0; k < points; k += stride, ++sampled) {
            const COPCItem* point = naive->FindPointByNodeId(nodes[k]);
            Expect(point && point->serverHandle() == k + 1, "the scan finds the point");
        }
    });
    const Measurement naiveFind{"FindPointByNodeId, baseline (linear scan), sample", sampled, scan};
    Print(naiveFind);

    // Point to value.
    std::size_t good = 0;
    const Measurement read{"ReadPointValue, pre-resolved record", points, Measure([&] {
                               good = ReadEveryPoint(points, [&](DWORD k, VARIANT* v, WORD* q, FILETIME* t) {
                                   return space.ReadPointValue(k, v, q, t);
                               });
                           })};
    Print(read);
    Expect(good == points, "every point reads GOOD");
    const Measurement naiveRead{"ReadPoint, baseline (IsWindow, text-key std::map)", points, Measure([&] {
                                    good = ReadEveryPoint(points, [&](DWORD k, VARIANT* v, WORD* q, FILETIME* t) {
                                        return naive->ReadPoint(k, v, q, t);
                                    });
                                })};
    Print(naiveRead);
    Expect(good == points, "every point reads GOOD in the baseline");
    const HWND window = published->access().scadaWindow();
    std::uint64_t alive = 0;
    Print({"  of which IsWindow (here a window of this process)", points, Measure([&] {
               for (std::size_t k = 0; k < points; ++k) alive += IsWindow(window) ? 1 : 0;
           })});
    Keep(alive + handles);

    PrintRatio("ratio ResolveItemId, baseline / indexed", naiveResolve, resolve);
    PrintRatio("ratio FindPointByNodeId, baseline / indexed", naiveFind, find);
    PrintRatio("ratio point read, baseline / pre-resolved", naiveRead, read);
    const double perPointNaive = naiveResolve.WallNanosecondsPerOperation() + naiveFind.WallNanosecondsPerOperation();
    const double perPoint = resolve.WallNanosecondsPerOperation() + find.WallNanosecondsPerOperation();
    char note[160];
    std::snprintf(note, sizeof note,
                  "item ID to point for all %zu points: indexed %.1f ms, baseline %.1f ms (projected from the sample)",
                  points, perPoint * static_cast<double>(points) * 1e-6,
                  perPointNaive * static_cast<double>(points) * 1e-6);
    PrintNote(note);
}

}  // namespace bench
