#include "tools/simulator/message_log.h"

namespace sim {

void MessageLog::add(RecordedMessage message) {
    std::lock_guard lock(mutex_);
    if (messages_.size() == kCapacity) messages_.pop_front();
    messages_.push_back(std::move(message));
}

std::vector<RecordedMessage> MessageLog::snapshot() const {
    std::lock_guard lock(mutex_);
    return {messages_.begin(), messages_.end()};
}

void MessageLog::clear() {
    std::lock_guard lock(mutex_);
    messages_.clear();
}

}  // namespace sim
