// A group's queue of asynchronous requests and the one the update thread is executing. Its own
// small lock guards both, never held while a request executes, so that Cancel2 reaches a request
// at any time, also while it runs.
#pragma once

#include "group/async_request.h"
#include "group/cancel_ids.h"

#include <deque>
#include <memory>
#include <mutex>
#include <unordered_map>

class AsyncRequestQueue {
public:
    // Gives the request the next cancel ID and queues it; returns the ID, or 0 when memory is
    // exhausted (the request is then dropped and no ID is used up).
    DWORD Append(std::unique_ptr<AsyncRequest> request) noexcept;

    // Takes the first request off the queue and makes it the executing one (null when none, or
    // while another one is still executing). It stays valid until End().
    AsyncRequest* Begin();
    // The executing request (null when none).
    AsyncRequest* Executing();
    // Frees the executing request.
    void End();

    // Marks the executing request, else the first queued one, with this cancel ID as cancelled;
    // false when there is none.
    bool Cancel(DWORD cancelId);

    // Frees every queued request (the group is going away).
    void Clear();

private:
    std::mutex lock_;
    std::deque<std::unique_ptr<AsyncRequest>> pending_;
    // Per cancel ID, its queued requests in queue order (IDs repeat only after a wrap).
    std::unordered_map<DWORD, std::deque<AsyncRequest*>> byCancelId_;
    std::unique_ptr<AsyncRequest> current_;
    CancelIds cancelIds_;
};
