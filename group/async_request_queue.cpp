#include "group/async_request_queue.h"

#include <new>

DWORD AsyncRequestQueue::Append(std::unique_ptr<AsyncRequest> request) noexcept {
    std::lock_guard guard(lock_);
    const std::size_t items = request->serverHandles.size();
    if (items > kMaxQueuedItems - queuedItems_) return 0;
    const DWORD cancelId = cancelIds_.Peek();
    request->cancelId = cancelId;
    request->sequence = lastQueued_ + 1;
    try {
        auto& sameId = byCancelId_[cancelId];
        sameId.push_back(request.get());
        try {
            pending_.push_back(std::move(request));
        } catch (const std::bad_alloc&) {
            sameId.pop_back();
            if (sameId.empty()) byCancelId_.erase(cancelId);
            return 0;
        }
    } catch (const std::bad_alloc&) {
        return 0;
    }
    ++lastQueued_;
    queuedItems_ += items;
    return cancelIds_.Next();
}

std::uint64_t AsyncRequestQueue::LastQueued() {
    std::lock_guard guard(lock_);
    return lastQueued_;
}

AsyncRequest* AsyncRequestQueue::Begin(std::uint64_t lastQueued, bool writeMayBegin) {
    std::lock_guard guard(lock_);
    if (pending_.empty() || current_ || pending_.front()->sequence > lastQueued) return nullptr;
    if (!writeMayBegin && pending_.front()->operation == AsyncRequest::Operation::Write) return nullptr;
    current_ = std::move(pending_.front());
    pending_.pop_front();
    queuedItems_ -= current_->serverHandles.size();
    // Requests leave in queue order, so the first one of its ID is this one.
    const auto sameId = byCancelId_.find(current_->cancelId);
    sameId->second.pop_front();
    if (sameId->second.empty()) byCancelId_.erase(sameId);
    return current_.get();
}

AsyncRequest* AsyncRequestQueue::Executing() {
    std::lock_guard guard(lock_);
    return current_.get();
}

void AsyncRequestQueue::End() {
    std::unique_ptr<AsyncRequest> done;
    std::lock_guard guard(lock_);
    done.swap(current_);
}

bool AsyncRequestQueue::Cancel(DWORD cancelId) {
    std::lock_guard guard(lock_);
    if (current_ && current_->cancelId == cancelId) {
        current_->cancelled = true;
        return true;
    }
    const auto sameId = byCancelId_.find(cancelId);
    if (sameId == byCancelId_.end()) return false;
    sameId->second.front()->cancelled = true;
    return true;
}

void AsyncRequestQueue::Clear() {
    std::deque<std::unique_ptr<AsyncRequest>> dropped;
    std::lock_guard guard(lock_);
    byCancelId_.clear();
    dropped.swap(pending_);
    queuedItems_ = 0;
}

std::size_t AsyncRequestQueue::Count() const {
    std::lock_guard guard(lock_);
    return pending_.size() + (current_ ? 1 : 0);
}
