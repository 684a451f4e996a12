// The thread that carries out the clients' asynchronous writes. A write waits for the runtime's
// window to take the value, a bounded but noticeable time when the runtime is busy or hangs; on a
// thread of its own it holds up neither the update tick, and with it every client's data changes,
// nor the reads of any group. Writes are carried out one at a time, in the order handed over, as
// the runtime's single window takes them anyway.
#pragma once

#include <chrono>
#include <functional>

namespace server {

// A handed-over write: called with true to carry it out, or with false, when the server stops
// before it has started, only to let go of what it holds.
using RuntimeWriteJob = std::function<void(bool carryOut)>;

// Queues the job, starting the thread when needed. False when it cannot be queued (the thread
// cannot start, memory is exhausted, or the writes have been stopped): the caller then carries it
// out itself.
bool QueueRuntimeWrite(RuntimeWriteJob job) noexcept;

// Until no write is queued or running, or the timeout passes; false on timeout.
bool WaitForRuntimeWrites(std::chrono::milliseconds timeout);

// Gives up the writes not yet started and waits up to `wait` for the running one; a write still
// waiting for the runtime after that is left to finish on its own (it owns all it uses). Writes
// handed over later are refused.
void StopRuntimeWrites(std::chrono::milliseconds wait);

}  // namespace server
