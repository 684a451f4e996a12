// Timing of one piece of benchmarked work: wall-clock time from the performance counter, and the CPU
// time the measuring thread and the whole process spent meanwhile (kernel and user).
#pragma once

#include <cstdint>

namespace bench {

struct Timing {
    double wallSeconds = 0;
    double threadCpuSeconds = 0;
    double processCpuSeconds = 0;
};

class Stopwatch {
public:
    Stopwatch();
    Timing Elapsed() const;

private:
    std::int64_t startCount_ = 0;
    std::uint64_t startThreadCpu_ = 0;   // 100 ns units
    std::uint64_t startProcessCpu_ = 0;  // 100 ns units
};

template <class Work>
Timing Measure(Work&& work) {
    const Stopwatch stopwatch;
    work();
    return stopwatch.Elapsed();
}

// Hands a result of the measured work to the outside, so that the compiler cannot drop the work.
void Keep(std::uint64_t result);

}  // namespace bench
