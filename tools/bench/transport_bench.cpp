// The transport baselines on their own: what the other end-to-end figures stand beside.
#include "bench_report.h"
#include "bench_sections.h"
#include "figure_log.h"
#include "transport_baseline.h"

#include <string>

namespace bench {

void RunTransportBench(const Options&) {
    PrintTitle("transport: the canned server and sender in a helper process, through the same proxy/stub");
    const TransportBaselines t = MeasureTransport(true, {1000, 10000, 50000, 100000});
    FigureLog& log = FigureLog::Instance();
    log.Add({"transport", "empty call (GetLocaleID of the canned server)", t.emptyCallMs, "ms"});
    log.Add({"transport", "canned AddItems of 10,000 items", t.addItemsMs, "ms"});
    log.Add({"transport", "canned RemoveItems of 10,000 items", t.removeItemsMs, "ms"});
    log.Add({"transport", "canned Read of 10,000 items", t.readMs, "ms"});
    for (const CallbackCeiling& c : t.callbacks) {
        const std::string n = std::to_string(c.items);
        log.Add({"transport", "canned OnDataChange of " + n + " items, back to back", c.itemsPerSecond, "changes/s",
                 std::nullopt, std::nullopt, "", std::nullopt,
                 std::to_string(c.msPerCall).substr(0, 6) + " ms per call, sender CPU " +
                     std::to_string(c.senderCpuUsPerItem).substr(0, 5) + " us per item; an empty callback " +
                     std::to_string(c.emptyCallbackMs).substr(0, 5) + " ms"});
    }
}

}  // namespace bench
