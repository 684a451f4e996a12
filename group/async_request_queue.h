// A group's queue of asynchronous requests and the one the update thread is executing. Its own
// small lock guards both, never held while a request executes, so that Cancel2 reaches a request
// at any time, also while it runs.
#pragma once

#include "group/async_request.h"
#include "group/cancel_ids.h"

#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <unordered_map>

class AsyncRequestQueue {
public:
    // What the queued requests of one group may hold in all: a client that asks faster than the
    // runtime answers is refused rather than let the server grow without end.
    static constexpr std::size_t kMaxQueuedItems = 500'000;

    // Gives the request the next cancel ID and queues it; returns the ID, or 0 when memory is
    // exhausted or the queue would hold more than kMaxQueuedItems items (the request is then
    // dropped and no ID is used up).
    DWORD Append(std::unique_ptr<AsyncRequest> request) noexcept;
    // The sequence number of the last request queued (0 before the first).
    std::uint64_t LastQueued();

    // Takes the first request off the queue, when it was queued no later than `lastQueued` and,
    // unless `writeMayBegin`, is no write, and makes it the executing one (null when there is none,
    // or while another one is still executing). It stays valid until End().
    AsyncRequest* Begin(std::uint64_t lastQueued, bool writeMayBegin = true);
    // The executing request (null when none).
    AsyncRequest* Executing();
    // Frees the executing request.
    void End();

    // Marks the executing request, else the first queued one, with this cancel ID as cancelled;
    // false when there is none.
    bool Cancel(DWORD cancelId);

    // Frees every queued request (the group is going away).
    void Clear();

    // The requests queued or executing.
    std::size_t Count() const;

private:
    mutable std::mutex lock_;
    std::deque<std::unique_ptr<AsyncRequest>> pending_;
    // Per cancel ID, its queued requests in queue order (IDs repeat only after a wrap).
    std::unordered_map<DWORD, std::deque<AsyncRequest*>> byCancelId_;
    std::unique_ptr<AsyncRequest> current_;
    CancelIds cancelIds_;
    std::uint64_t lastQueued_ = 0;
    std::size_t queuedItems_ = 0;  // the handles of the pending requests
};
