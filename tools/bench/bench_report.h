// The benchmark's printed table: one line per measurement with its cost per operation, and the ratio
// of a baseline to the code it is compared with.
#pragma once

#include "bench_timing.h"

#include <cstddef>
#include <string>
#include <string_view>

namespace bench {

struct Measurement {
    std::string what;
    std::size_t operations = 1;
    Timing timing;

    double WallNanosecondsPerOperation() const;
};

void PrintSection(std::string_view title);
// A section title without the column heads, for sections whose lines are figures (figure_log.h).
void PrintTitle(std::string_view title);
void PrintNote(std::string_view note);
void Print(const Measurement& measurement);
// Wall time per operation of the baseline over that of the measured code.
void PrintRatio(std::string_view what, const Measurement& baseline, const Measurement& measured);

}  // namespace bench
