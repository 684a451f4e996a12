// Figures of the last minute, kept in one slot per second: a count or a worst case over a sliding
// minute at the cost of one store per event. Not synchronised: its owner's lock guards it.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>

namespace server {

// The slot key of a moment.
inline std::uint64_t WholeSeconds(std::chrono::steady_clock::time_point t) {
    return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::seconds>(t.time_since_epoch()).count());
}

class MinuteWindow {
public:
    // `second` is a monotonic clock's whole seconds; events arrive with seconds that never go back.
    void Add(std::uint64_t second, std::uint64_t value) { SlotOf(second).value += value; }
    void Raise(std::uint64_t second, std::uint64_t value) {
        Slot& slot = SlotOf(second);
        if (value > slot.value) slot.value = value;
    }

    // Over the 60 seconds up to and including `now`.
    std::uint64_t Sum(std::uint64_t now) const {
        std::uint64_t sum = 0;
        for (const Slot& slot : slots_)
            if (InLastMinute(slot, now)) sum += slot.value;
        return sum;
    }
    std::uint64_t Max(std::uint64_t now) const {
        std::uint64_t most = 0;
        for (const Slot& slot : slots_)
            if (InLastMinute(slot, now) && slot.value > most) most = slot.value;
        return most;
    }

private:
    static constexpr std::uint64_t kSeconds = 60;
    struct Slot {
        std::uint64_t second = ~std::uint64_t{0};
        std::uint64_t value = 0;
    };

    Slot& SlotOf(std::uint64_t second) {
        Slot& slot = slots_[second % kSeconds];
        if (slot.second != second) slot = Slot{second, 0};
        return slot;
    }
    static bool InLastMinute(const Slot& slot, std::uint64_t now) {
        return slot.second <= now && now - slot.second < kSeconds;
    }

    std::array<Slot, kSeconds> slots_{};
};

}  // namespace server
