#include "change_recorder.h"

#include "tools/simulator/clock_stamp.h"

#include <algorithm>

namespace bench {

void ChangeRecorder::Open() {
    std::lock_guard guard(lock_);
    window_ = Window{};
    if (stamped_) window_.ages.assign(kAgeBuckets, 0);
    opened_ = Clock::now();
    open_ = true;
}

ChangeRecorder::Window ChangeRecorder::Close() {
    std::lock_guard guard(lock_);
    open_ = false;
    window_.seconds = std::chrono::duration<double>(Clock::now() - opened_).count();
    return std::move(window_);
}

HRESULT STDMETHODCALLTYPE ChangeRecorder::OnDataChange(DWORD, OPCHANDLE, HRESULT, HRESULT, DWORD count, OPCHANDLE*,
                                                       VARIANT* values, WORD*, FILETIME*, HRESULT*) {
    const Clock::time_point now = Clock::now();
    totalItems_ += count;
    std::lock_guard guard(lock_);
    if (!open_) return S_OK;
    window_.fewestItems = window_.callbacks == 0 ? count : std::min<std::uint64_t>(window_.fewestItems, count);
    ++window_.callbacks;
    window_.items += count;
    window_.arrivals.push_back(std::chrono::duration<double>(now - opened_).count());
    window_.counts.push_back(count);
    if (stamped_ && values) {
        const std::int64_t nowStamp = sim::ClockStamp(now);
        for (DWORD i = 0; i < count; ++i) {
            if (values[i].vt != VT_R4) continue;
            const auto stamp = static_cast<std::int64_t>(values[i].fltVal);
            const std::int64_t tenths = (nowStamp - stamp + sim::kClockStampModulus) % sim::kClockStampModulus;
            const double ms = static_cast<double>(tenths) / 10.0;
            window_.oldestMs = std::max(window_.oldestMs, ms);
            ++window_.ages[std::min<std::size_t>(static_cast<std::size_t>(tenths / 10), kAgeBuckets - 1)];
        }
    }
    return S_OK;
}

}  // namespace bench
