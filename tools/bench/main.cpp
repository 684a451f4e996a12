// korvex_bench: timings of the server's hot paths at plant scale, section by section.
//   korvex_bench [--stations=N] [--points=N] [--json=FILE] [section...]   (no section: all of them)
//   korvex_bench --list
// Started by itself as the canned server or sender of the transport baselines (transport_baseline.h).
#include "bench_sections.h"
#include "figure_log.h"
#include "plant_session.h"
#include "section_watchdog.h"
#include "transport_baseline.h"

#include <charconv>
#include <chrono>
#include <cstdio>
#include <exception>
#include <string>
#include <string_view>
#include <vector>

namespace {

struct Section {
    const char* name;
    const char* summary;
    void (*run)(const bench::Options&);
};

// One line per benchmark file.
constexpr Section kSections[] = {
    {"addrspace", "address-space build; item ID, node and point lookups beside the baseline",
     bench::RunAddressSpaceBench},
    {"browse", "flat browse of every point; paged DA 3.0 browse beside the baseline", bench::RunBrowseBench},
    {"tick", "update tick over 100,000 items of 10 clients beside a plain loop; reads per tick",
     bench::RunUpdateTickBench},
    {"transport", "the transport's own costs: empty call, canned AddItems/Read, canned OnDataChange arrays",
     bench::RunTransportBench},
    {"e2e-calls", "across processes: round trips, AddItems/RemoveItems/Read of 10,000 items", bench::RunE2eCallsBench},
    {"e2e-changes", "across processes: changes/s, latency, server CPU per item at 10,000-100,000 items",
     bench::RunE2eChangesBench},
    {"e2e-fanout", "across processes: 10 clients x 10,000 items changing every tick", bench::RunE2eFanOutBench},
    {"e2e-memory", "the server's private bytes per point and per group item", bench::RunE2eMemoryBench},
    {"e2e-steady", "server CPU with 10 clients x 10,000 items at 1 s, 10% of the points changing",
     bench::RunE2eSteadyBench},
};

bool ParseCount(std::string_view text, int& count) {
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), count);
    return ec == std::errc() && end == text.data() + text.size() && count > 0;
}

int Usage() {
    std::fprintf(stderr,
                 "usage: korvex_bench [--stations=N] [--points=N per station] [--json=FILE] [--list] [section...]\n");
    return 1;
}

// A host path (/...) as Wine sees it, on drive Z:.
std::string WindowsPath(std::string path) {
    if (!path.starts_with("/")) return path;
    for (char& c : path)
        if (c == '/') c = '\\';
    return "Z:" + path;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 2 && std::string_view(argv[1]) == "--canned-server") return bench::RunCannedServer();
    if (argc >= 2 && std::string_view(argv[1]) == "--canned-changes")
        return bench::RunCannedChanges(std::vector<std::string>(argv + 2, argv + argc));
    bench::Options options;
    std::string json;
    std::vector<const Section*> chosen;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--list") {
            for (const Section& s : kSections) std::printf("%-12s %s\n", s.name, s.summary);
            return 0;
        }
        if (arg.starts_with("--stations=")) {
            if (!ParseCount(arg.substr(11), options.shape.stations)) return Usage();
        } else if (arg.starts_with("--json=")) {
            json = WindowsPath(std::string(arg.substr(7)));
        } else if (arg.starts_with("--points=")) {
            if (!ParseCount(arg.substr(9), options.shape.pointsPerStation)) return Usage();
        } else {
            const Section* found = nullptr;
            for (const Section& s : kSections)
                if (arg == s.name) found = &s;
            if (!found) return Usage();
            chosen.push_back(found);
        }
    }
    if (chosen.empty())
        for (const Section& s : kSections) chosen.push_back(&s);

    const auto report = [&json] {
        bench::FigureLog::Instance().PrintGoals();
        if (json.empty() || bench::FigureLog::Instance().WriteJson(json)) return true;
        std::fprintf(stderr, "korvex_bench: cannot write %s\n", json.c_str());
        return false;
    };
    bench::FigureLog::Instance().DescribeMachineNow();
    int result = 0;
    {
        // Each section takes well under two minutes on a loaded 2-core machine.
        bench::SectionWatchdog watchdog([&report] { report(); });
        try {
            for (const Section* s : chosen) {
                watchdog.Arm(s->name, std::chrono::seconds(300));
                s->run(options);
                watchdog.Disarm();
            }
        } catch (const std::exception& e) {
            std::fprintf(stderr, "korvex_bench: %s\n", e.what());
            result = 2;
        }
        watchdog.Arm("end", std::chrono::seconds(120));
        bench::EndPlant();
    }
    if (!report()) result = 2;
    return result;
}
