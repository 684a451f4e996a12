#include "bench_timing.h"

#include <windows.h>

namespace bench {
namespace {

std::uint64_t Ticks(const FILETIME& time) {
    return (std::uint64_t{time.dwHighDateTime} << 32) | time.dwLowDateTime;
}

std::uint64_t ThreadCpu() {
    FILETIME created, exited, kernel, user;
    if (!GetThreadTimes(GetCurrentThread(), &created, &exited, &kernel, &user)) return 0;
    return Ticks(kernel) + Ticks(user);
}

std::uint64_t ProcessCpu() {
    FILETIME created, exited, kernel, user;
    if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user)) return 0;
    return Ticks(kernel) + Ticks(user);
}

std::int64_t Count() {
    LARGE_INTEGER count;
    QueryPerformanceCounter(&count);
    return count.QuadPart;
}

volatile std::uint64_t g_kept = 0;

}  // namespace

Stopwatch::Stopwatch() : startCount_(Count()), startThreadCpu_(ThreadCpu()), startProcessCpu_(ProcessCpu()) {}

Timing Stopwatch::Elapsed() const {
    const std::int64_t count = Count();
    const std::uint64_t threadCpu = ThreadCpu(), processCpu = ProcessCpu();
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return {static_cast<double>(count - startCount_) / static_cast<double>(frequency.QuadPart),
            static_cast<double>(threadCpu - startThreadCpu_) * 1e-7,
            static_cast<double>(processCpu - startProcessCpu_) * 1e-7};
}

void Keep(std::uint64_t result) { g_kept = g_kept + result; }

}  // namespace bench
