// The delivery of one client's callbacks: a queue and a thread of its own for each server object,
// so that a client that is slow to return from a callback, or never returns, holds up only itself.
//
// The update thread posts each tick's callbacks and goes on; the client's delivery thread calls the
// sinks in the order posted, holding no lock of the server while it calls, so that a client may
// call the server from inside its callback. The thread starts with the client's first callback and
// ends when the client goes.
//
// What a stalled client can pile up is bounded: while a data change of the update cycle waits
// undelivered as the last queued callback of its group, a newer one of that group is merged into it
// (for each item the newer value, quality and timestamp, and items new to it appended), and a
// keep-alive is dropped when a callback of the update cycle of that group is already waiting. So a
// group queues at most one update-cycle callback between two of its other callbacks (async
// completions, each answering a request of the client), and a slow client receives its latest
// values rather than a backlog. Nothing else is ever dropped, except everything pending when the
// client goes or the server stops.
//
// Sink references are released only on delivery threads (or by Close), never by the update thread:
// the last release of a proxy is a call into the client.
#pragma once

#include "group/callback_outbox.h"
#include "server/minute_window.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <vector>

namespace server {

class ClientDelivery : public std::enable_shared_from_this<ClientDelivery> {
public:
    // A new client's delivery, known to StopAll and WaitAllIdle.
    static std::shared_ptr<ClientDelivery> Open();

    ClientDelivery() = default;
    ~ClientDelivery();
    ClientDelivery(const ClientDelivery&) = delete;
    ClientDelivery& operator=(const ClientDelivery&) = delete;

    // Queues one tick's callbacks of this client in order; never waits for the client.
    void Post(CallbackOutbox callbacks);
    // The client has gone: what is pending is dropped (on the delivery thread), the thread ends
    // after the call it may be in, and the delivery is forgotten.
    void Close();

    // Until every open delivery has nothing pending and is in no call, or the timeout passes.
    static bool WaitAllIdle(std::chrono::milliseconds timeout);
    // Closes every delivery and joins the threads that end within `wait`; a thread still inside a
    // client's call after that is left to finish it on its own (it owns all it uses).
    static void StopAll(std::chrono::milliseconds wait);

    // The number of callbacks waiting, for tests of the bound.
    std::size_t PendingCount() const;

    // What the operator's view shows of the delivery, copied under its lock.
    struct Activity {
        std::size_t pending = 0;                   // callbacks waiting
        bool inCall = false;                       // inside a call into the client
        std::chrono::milliseconds callRunning{0};  // for how long
        bool called = false;                       // a callback has reached a sink
        FILETIME lastCallTime{};                   // when the last callback returned (UTC)
        HRESULT lastCallResult = S_OK;             // the first failure of its sinks, else S_OK
        std::uint64_t valuesLastMinute = 0;        // item values sent in data changes
    };
    Activity activity() const;

private:
    // One pending callback and its place in the order posted.
    struct Pending {
        std::uint64_t sequence;
        GroupCallback callback;
    };

    void Run();
    // Merges `latest` into the group's last waiting callback when both are of the update cycle;
    // false when it has to be queued. Under `lock_`.
    bool Coalesce(GroupCallback& latest);
    bool IdleLocked() const { return pending_.empty() && retired_.empty() && !delivering_; }

    mutable std::mutex lock_;
    std::condition_variable wake_;  // something to deliver, or closed
    std::condition_variable idle_;
    std::deque<Pending> pending_;
    std::uint64_t nextSequence_ = 0;
    // The sequence number of each group's last pending callback.
    std::unordered_map<OPCHANDLE, std::uint64_t> lastOfGroup_;
    // Callbacks merged away or dropped: their sinks are released on the delivery thread.
    std::vector<GroupCallback> retired_;
    bool delivering_ = false;
    std::chrono::steady_clock::time_point callStarted_;  // of the call delivering_ marks
    bool called_ = false;
    FILETIME lastCallTime_{};
    HRESULT lastCallResult_ = S_OK;
    MinuteWindow valuesSent_;
    bool closed_ = false;
    bool finished_ = false;  // the thread has left Run
    std::thread thread_;
};

}  // namespace server
