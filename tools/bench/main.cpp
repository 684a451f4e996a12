// korvex_bench: timings of the server's hot paths at plant scale, section by section.
//   korvex_bench [--stations=N] [--points=N] [section...]   (no section: all of them)
//   korvex_bench --list
#include "bench_sections.h"

#include <charconv>
#include <cstdio>
#include <exception>
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
};

bool ParseCount(std::string_view text, int& count) {
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), count);
    return ec == std::errc() && end == text.data() + text.size() && count > 0;
}

int Usage() {
    std::fprintf(stderr, "usage: korvex_bench [--stations=N] [--points=N per station] [--list] [section...]\n");
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    bench::Options options;
    std::vector<const Section*> chosen;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--list") {
            for (const Section& s : kSections) std::printf("%-12s %s\n", s.name, s.summary);
            return 0;
        }
        if (arg.starts_with("--stations=")) {
            if (!ParseCount(arg.substr(11), options.shape.stations)) return Usage();
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

    try {
        for (const Section* s : chosen) s->run(options);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "korvex_bench: %s\n", e.what());
        return 2;
    }
    return 0;
}
