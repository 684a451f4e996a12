#include "bench_report.h"

#include <cstdio>

namespace bench {
namespace {

constexpr int kWhatWidth = 52;

}  // namespace

double Measurement::WallNanosecondsPerOperation() const {
    return operations == 0 ? 0 : timing.wallSeconds * 1e9 / static_cast<double>(operations);
}

void PrintSection(std::string_view title) {
    std::printf("\n== %.*s ==\n", static_cast<int>(title.size()), title.data());
    std::printf("  %-*s %9s %11s %11s %11s %12s\n", kWhatWidth, "", "ops", "wall ms", "thread ms", "process ms",
                "wall ns/op");
}

void PrintTitle(std::string_view title) { std::printf("\n== %.*s ==\n", static_cast<int>(title.size()), title.data()); }

void PrintNote(std::string_view note) { std::printf("  %.*s\n", static_cast<int>(note.size()), note.data()); }

void Print(const Measurement& m) {
    std::printf("  %-*s %9zu %11.1f %11.1f %11.1f", kWhatWidth, m.what.c_str(), m.operations,
                m.timing.wallSeconds * 1e3, m.timing.threadCpuSeconds * 1e3, m.timing.processCpuSeconds * 1e3);
    if (m.operations > 1) std::printf(" %12.0f", m.WallNanosecondsPerOperation());
    std::printf("\n");
    std::fflush(stdout);
}

void PrintRatio(std::string_view what, const Measurement& baseline, const Measurement& measured) {
    const double fast = measured.WallNanosecondsPerOperation();
    std::printf("  %-*.*s %.1fx\n", kWhatWidth, static_cast<int>(what.size()), what.data(),
                fast > 0 ? baseline.WallNanosecondsPerOperation() / fast : 0.0);
    std::fflush(stdout);
}

}  // namespace bench
