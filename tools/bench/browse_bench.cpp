// Browsing at plant scale: a flat browse of every point, and DA 3.0 browses of a 1,000-point kind
// branch in pages through continuation points, each beside a baseline run in the same process.
// The figures that matter are per element: linear browsing costs the same per element whatever the
// size of the list or of a page.
#include "bench_report.h"
#include "bench_sections.h"
#include "bench_timing.h"

#include "addrspace/address_space.h"
#include "addrspace/browse_continuation.h"
#include "addrspace/hierarchical_browse.h"
#include "addrspace/opc_browse.h"
#include "opcda.h"

#include <cstdio>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace bench {
namespace {

constexpr int kKindBranchPoints = 1000;
constexpr int kRounds = 20;

void Expect(bool condition, const char* what) {
    if (!condition) throw std::runtime_error(std::string("benchmark self-check failed: ") + what);
}

// Pages through one node's children; returns the number of elements handed out.
std::size_t PageThrough(const COPCAddressSpaceMgt& space, const wchar_t* itemId, DWORD pageSize) {
    browse::BrowseRequest request;
    request.itemId = itemId;
    request.maxElements = pageSize;
    std::size_t handedOut = 0;
    do {
        browse::BrowseResult result;
        Expect(browse::Browse(space, request, result) == S_OK, "every page is browsed");
        handedOut += result.elements.size();
        request.continuationPoint = result.continuationPoint;
    } while (!request.continuationPoint.empty());
    return handedOut;
}

// Pages through a list kept in the process-wide record; returns the entries handed out.
std::size_t PageRecord(const COPCAddressSpaceMgt& space, BrowseContinuation& record, const std::vector<DWORD>& list,
                       DWORD pageSize) {
    BrowseContinuation::Keys keys{L"bench", OPC_BROWSE_FILTER_ALL, L"", L""};
    BrowseContinuation::Page page;
    record.Replace(space, keys, list, pageSize, page);
    std::size_t handedOut = page.nodes.size();
    while (!page.continuationPoint.empty()) {
        const std::string point = page.continuationPoint;
        Expect(record.TakePage(space, keys, point, pageSize, page), "the record continues");
        handedOut += page.nodes.size();
    }
    return handedOut;
}

// The record as a literal reading would keep it: every page copies the whole list and searches it
// for the continuation point's node.
std::size_t PageRecordBaseline(const COPCAddressSpaceMgt& space, const std::vector<DWORD>& record, DWORD pageSize) {
    std::string continuation;
    std::size_t handedOut = 0;
    std::vector<DWORD> page;
    do {
        const std::vector<DWORD> list = record;
        std::size_t start = 0;
        if (!continuation.empty()) {
            const DWORD node = space.ResolveItemId(continuation);
            while (start < list.size() && list[start] != node) ++start;
        }
        const std::size_t count = std::min<std::size_t>(pageSize, list.size() - start);
        page.assign(list.begin() + static_cast<std::ptrdiff_t>(start),
                    list.begin() + static_cast<std::ptrdiff_t>(start + count));
        handedOut += count;
        continuation.clear();
        if (start + count < list.size()) space.GetFullItemId(list[start + count], continuation);
    } while (!continuation.empty());
    return handedOut;
}

}  // namespace

void RunBrowseBench(const Options& options) {
    // Kind branches of 1,000 points; as many stations as make the plant's size.
    PlantShape shape{std::max(1, options.shape.Points() / (2 * kKindBranchPoints)), 2 * kKindBranchPoints};
    const auto points = static_cast<std::size_t>(shape.Points());
    char title[128];
    std::snprintf(title, sizeof title, "browse: %d stations x %d points = %zu points", shape.stations,
                  shape.pointsPerStation, points);
    PrintSection(title);
    const std::vector<rtimage::Station> plant = MakePlant(shape);
    PublishedPlant published(plant);
    COPCAddressSpaceMgt space;
    Expect(space.BuildAddressSpace(published.access()), "the space is built");

    // Flat browse of everything, and of one station, per element.
    std::vector<std::wstring> all, one;
    const Measurement flat{"flat browse of every point", points, Measure([&] {
                               all = browse::BrowseItemIds(space, space.GetRoot(), OPC_FLAT, L"", VT_EMPTY, 0);
                           })};
    Print(flat);
    Expect(all.size() == points, "the flat browse lists every point");
    const DWORD station = space.GetFirstChild(space.GetRoot());
    const Measurement flatStation{"flat browse of one station, repeated", static_cast<std::size_t>(shape.pointsPerStation) * kRounds,
                                  Measure([&] {
                                      for (int r = 0; r < kRounds; ++r)
                                          one = browse::BrowseItemIds(space, station, OPC_FLAT, L"", VT_EMPTY, 0);
                                  })};
    Print(flatStation);
    const Measurement flatFiltered{"flat browse of every point, filter *AI00#9, writable", points, Measure([&] {
                                       all = browse::BrowseItemIds(space, space.GetRoot(), OPC_FLAT, L"*AI00#9",
                                                                   VT_EMPTY, OPC_WRITEABLE);
                                   })};
    Print(flatFiltered);
    Expect(all.size() == static_cast<std::size_t>(shape.stations) * 10, "the filter keeps AI0009..AI0099 of each station");

    // Paged DA 3.0 browse of one kind branch.
    const std::wstring branch = L"Station000.analog";
    std::size_t handedOut = 0;
    auto paged = [&](DWORD pageSize, const char* what) {
        handedOut = 0;
        const Timing t = Measure([&] {
            for (int r = 0; r < kRounds; ++r) handedOut += PageThrough(space, branch.c_str(), pageSize);
        });
        Expect(handedOut == static_cast<std::size_t>(kRounds) * kKindBranchPoints, "every point is handed out once");
        const Measurement m{what, handedOut, t};
        Print(m);
        return m;
    };
    const Measurement pages100 = paged(100, "Browse 1,000-point branch, pages of 100");
    const Measurement pages10 = paged(10, "Browse 1,000-point branch, pages of 10");
    const Measurement pages1 = paged(1, "Browse 1,000-point branch, pages of 1");
    const Measurement whole = paged(0, "Browse 1,000-point branch, one page");

    // The continuation record alone, beside the baseline: a 1,000-entry list and one of every point.
    std::vector<DWORD> everyPoint;
    for (DWORD k = 1; k <= points; ++k) everyPoint.push_back(space.GetPoint(k)->nodeId());
    const std::vector<DWORD> kindBranch(everyPoint.begin(), everyPoint.begin() + kKindBranchPoints);
    BrowseContinuation record;
    auto records = [&](const std::vector<DWORD>& list, int rounds, bool baseline, const char* what) {
        handedOut = 0;
        const Timing t = Measure([&] {
            for (int r = 0; r < rounds; ++r)
                handedOut += baseline ? PageRecordBaseline(space, list, 100) : PageRecord(space, record, list, 100);
        });
        Expect(handedOut == list.size() * static_cast<std::size_t>(rounds), "every entry is handed out once");
        const Measurement m{what, handedOut, t};
        Print(m);
        return m;
    };
    const Measurement record1k = records(kindBranch, kRounds, false, "record, 1,000 entries, pages of 100");
    const Measurement baseline1k = records(kindBranch, kRounds, true, "baseline record, 1,000 entries, pages of 100");
    const Measurement recordAll = records(everyPoint, 1, false, "record, every point, pages of 100");
    const Measurement baselineAll = records(everyPoint, 1, true, "baseline record, every point, pages of 100");

    PrintRatio("ratio per element, flat all / flat one station", flat, flatStation);
    PrintRatio("ratio per element, pages of 10 / pages of 100", pages10, pages100);
    PrintRatio("ratio per element, pages of 1 / one page", pages1, whole);
    PrintRatio("ratio per element, record every point / 1,000", recordAll, record1k);
    PrintRatio("ratio baseline / record, 1,000 entries", baseline1k, record1k);
    PrintRatio("ratio baseline / record, every point", baselineAll, recordAll);
}

}  // namespace bench
