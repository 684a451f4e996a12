// Every WM_COPYDATA message the runtime window received, in order, for the control channel.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <vector>

namespace sim {

struct RecordedMessage {
    std::uint32_t code = 0;
    bool applied = false;  // false: unknown code, wrong size or unknown point; ignored
    std::vector<std::byte> payload;
};

class MessageLog {
public:
    void add(RecordedMessage message);
    std::vector<RecordedMessage> snapshot() const;
    void clear();

private:
    // Bounded so that a long soak run cannot grow without end; the oldest go first.
    static constexpr std::size_t kCapacity = 100000;
    mutable std::mutex mutex_;
    std::deque<RecordedMessage> messages_;
};

}  // namespace sim
