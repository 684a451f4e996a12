// The bench's data-change sink: counts the callbacks and items that arrive while a window is open,
// notes when each callback arrived, and, for values that carry the simulator's clock stamp, how old
// each value was on arrival. It returns at once, so that it costs the delivery as little as possible.
#pragma once

#include "com/data_callback_sink.h"
#include "opcda.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <vector>

namespace bench {

class ChangeRecorder final : public korvex::com::DataCallbackSink<ChangeRecorder, korvex::com::no_module_lock> {
public:
    using Clock = std::chrono::steady_clock;

    struct Window {
        double seconds = 0;
        std::uint64_t callbacks = 0;
        std::uint64_t items = 0;
        std::uint64_t fewestItems = 0;  // in one callback
        std::vector<double> arrivals;   // seconds since the window opened
        std::vector<std::uint32_t> counts;  // items of each callback
        // Ages on arrival in whole milliseconds: ages[n] values were n ms old (the last one collects
        // everything older). Empty when the values carry no stamp.
        std::vector<std::uint64_t> ages;
        double oldestMs = 0;
    };

    explicit ChangeRecorder(bool valuesAreClockStamps) : stamped_(valuesAreClockStamps) {}

    // Opens a new window: what arrives from now on is counted.
    void Open();
    // Closes the window and hands out what it counted.
    Window Close();
    // Items received since the recorder was made, window or not.
    std::uint64_t TotalItems() const { return totalItems_.load(); }

    HRESULT STDMETHODCALLTYPE OnDataChange(DWORD, OPCHANDLE, HRESULT, HRESULT, DWORD count, OPCHANDLE*, VARIANT* values,
                                           WORD*, FILETIME*, HRESULT*) override;
    // OnCancelComplete does nothing (the base's): the empty call of the transport baseline.

private:
    static constexpr std::size_t kAgeBuckets = 5000;

    const bool stamped_;
    std::atomic<std::uint64_t> totalItems_{0};
    std::mutex lock_;
    bool open_ = false;
    Clock::time_point opened_;
    Window window_;
};

}  // namespace bench
