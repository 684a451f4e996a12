#include "server/client_delivery.h"

#include <objbase.h>
#include <oleauto.h>

#include <algorithm>

namespace server {
namespace {

// Every delivery that may still have a thread. Never destroyed: a thread left inside a hung
// client's call at StopAll may end after the process's static objects are gone.
struct Deliveries {
    std::mutex lock;
    std::vector<std::shared_ptr<ClientDelivery>> open;
    std::vector<std::shared_ptr<ClientDelivery>> abandoned;
};

Deliveries& AllDeliveries() {
    static auto* const deliveries = new Deliveries;
    return *deliveries;
}

// Takes the value out of `from`, leaving it empty, without copying what it points to.
VARIANT TakeVariant(VARIANT& from) {
    const VARIANT taken = from;
    VariantInit(&from);
    return taken;
}

bool IsUpdateCycleChange(const GroupCallback& callback) {
    return callback.kind == GroupCallback::Kind::DataChange && callback.transactionId == 0;
}

bool HasItemArrays(const GroupCallback& callback) {
    const std::size_t count = callback.clientHandles.size();
    return callback.values.size() == count && callback.qualities.size() == count &&
           callback.timestamps.size() == count && callback.errors.size() == count;
}

}  // namespace

std::shared_ptr<ClientDelivery> ClientDelivery::Open() {
    auto delivery = std::make_shared<ClientDelivery>();
    Deliveries& all = AllDeliveries();
    std::vector<std::shared_ptr<ClientDelivery>> ended;
    {
        std::lock_guard guard(all.lock);
        // Deliveries of clients that have gone and whose threads have ended are joined here.
        const auto gone = std::stable_partition(all.open.begin(), all.open.end(), [](const auto& d) {
            std::lock_guard dGuard(d->lock_);
            return !d->closed_ || (d->thread_.joinable() && !d->finished_);
        });
        ended.assign(std::make_move_iterator(gone), std::make_move_iterator(all.open.end()));
        all.open.erase(gone, all.open.end());
        all.open.push_back(delivery);
    }
    for (const auto& d : ended)
        if (d->thread_.joinable()) d->thread_.join();
    return delivery;
}

ClientDelivery::~ClientDelivery() {
    if (thread_.joinable()) thread_.join();
}

void ClientDelivery::Post(CallbackOutbox callbacks) {
    if (callbacks.empty()) return;
    CallbackOutbox dropHere;
    {
        std::lock_guard guard(lock_);
        if (closed_) {
            if (thread_.joinable() && !finished_) {
                std::move(callbacks.begin(), callbacks.end(), std::back_inserter(retired_));
                wake_.notify_one();
            } else {
                dropHere = std::move(callbacks);
            }
        } else {
            for (GroupCallback& callback : callbacks) {
                if (Coalesce(callback)) continue;
                const std::uint64_t sequence = nextSequence_++;
                lastOfGroup_[callback.serverGroupHandle] = sequence;
                pending_.push_back({sequence, std::move(callback)});
            }
            if (!thread_.joinable()) thread_ = std::thread([this] { Run(); });
            wake_.notify_one();
        }
    }
}

bool ClientDelivery::Coalesce(GroupCallback& latest) {
    if (!IsUpdateCycleChange(latest) || pending_.empty()) return false;
    const auto last = lastOfGroup_.find(latest.serverGroupHandle);
    if (last == lastOfGroup_.end()) return false;
    GroupCallback& waiting = pending_[last->second - pending_.front().sequence].callback;
    if (!IsUpdateCycleChange(waiting) || !HasItemArrays(waiting) || !HasItemArrays(latest)) return false;

    // A keep-alive says nothing that a waiting callback of the group does not say as well.
    if (latest.clientHandles.empty()) {
        retired_.push_back(std::move(latest));
        return true;
    }
    if (waiting.clientHandles.empty()) {
        std::swap(waiting, latest);
        retired_.push_back(std::move(latest));
        return true;
    }

    // Items are told apart by their client handles, as the client tells them apart.
    std::unordered_map<OPCHANDLE, std::size_t> positions;
    positions.reserve(waiting.clientHandles.size());
    for (std::size_t i = 0; i < waiting.clientHandles.size(); ++i) positions[waiting.clientHandles[i]] = i;
    std::vector<bool> renewed(waiting.clientHandles.size(), false);
    for (std::size_t j = 0; j < latest.clientHandles.size(); ++j) {
        const auto found = positions.find(latest.clientHandles[j]);
        if (found != positions.end() && !renewed[found->second]) {
            const std::size_t i = found->second;
            renewed[i] = true;
            VariantClear(&waiting.values[i]);
            waiting.values[i] = TakeVariant(latest.values[j]);
            waiting.qualities[i] = latest.qualities[j];
            waiting.timestamps[i] = latest.timestamps[j];
            waiting.errors[i] = latest.errors[j];
        } else {
            waiting.clientHandles.push_back(latest.clientHandles[j]);
            waiting.values.push_back(TakeVariant(latest.values[j]));
            waiting.qualities.push_back(latest.qualities[j]);
            waiting.timestamps.push_back(latest.timestamps[j]);
            waiting.errors.push_back(latest.errors[j]);
        }
    }
    const bool failed = std::any_of(waiting.errors.begin(), waiting.errors.end(), [](HRESULT e) { return FAILED(e); });
    waiting.masterQuality = waiting.masterError = failed ? S_FALSE : S_OK;
    waiting.clientGroupHandle = latest.clientGroupHandle;
    // The latest subscriptions are the ones to call.
    std::swap(waiting.sinks, latest.sinks);
    retired_.push_back(std::move(latest));
    return true;
}

void ClientDelivery::Close() {
    CallbackOutbox dropHere;
    {
        std::lock_guard guard(lock_);
        closed_ = true;
        for (Pending& pending : pending_) retired_.push_back(std::move(pending.callback));
        pending_.clear();
        lastOfGroup_.clear();
        if (thread_.joinable() && !finished_) {
            wake_.notify_one();
        } else {
            dropHere.swap(retired_);
        }
    }
}

void ClientDelivery::Run() {
    // The server process lives in the multithreaded apartment; so does every delivery thread.
    const HRESULT initialized = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    std::unique_lock lock(lock_);
    for (;;) {
        wake_.wait(lock, [this] { return closed_ || !pending_.empty() || !retired_.empty(); });
        if (!retired_.empty()) {
            CallbackOutbox dropped;
            dropped.swap(retired_);
            delivering_ = true;
            callStarted_ = std::chrono::steady_clock::now();
            lock.unlock();
            dropped.clear();
            lock.lock();
            delivering_ = false;
        }
        if (!pending_.empty()) {
            bool called = false;
            HRESULT result = S_OK;
            std::size_t values = 0;
            {
                Pending next = std::move(pending_.front());
                pending_.pop_front();
                const auto last = lastOfGroup_.find(next.callback.serverGroupHandle);
                if (last != lastOfGroup_.end() && last->second == next.sequence) lastOfGroup_.erase(last);
                delivering_ = true;
                callStarted_ = std::chrono::steady_clock::now();
                lock.unlock();
                const GroupCallback& callback = next.callback;
                called = !callback.sinks.empty();
                if (callback.kind == GroupCallback::Kind::DataChange) values = callback.clientHandles.size();
                result = callback.Send();
            }  // its sinks are released before the lock is taken again
            FILETIME now{};
            if (called) CoFileTimeNow(&now);
            lock.lock();
            delivering_ = false;
            if (called) {
                called_ = true;
                lastCallTime_ = now;
                lastCallResult_ = result;
                valuesSent_.Add(WholeSeconds(std::chrono::steady_clock::now()), values);
            }
        }
        if (IdleLocked()) idle_.notify_all();
        if (closed_ && pending_.empty() && retired_.empty()) break;
    }
    finished_ = true;
    idle_.notify_all();
    lock.unlock();
    if (SUCCEEDED(initialized)) CoUninitialize();
}

std::size_t ClientDelivery::PendingCount() const {
    std::lock_guard guard(lock_);
    return pending_.size();
}

ClientDelivery::Activity ClientDelivery::activity() const {
    const auto now = std::chrono::steady_clock::now();
    std::lock_guard guard(lock_);
    Activity a;
    a.pending = pending_.size();
    a.inCall = delivering_;
    if (delivering_) a.callRunning = std::chrono::duration_cast<std::chrono::milliseconds>(now - callStarted_);
    a.called = called_;
    a.lastCallTime = lastCallTime_;
    a.lastCallResult = lastCallResult_;
    a.valuesLastMinute = valuesSent_.Sum(WholeSeconds(now));
    return a;
}

bool ClientDelivery::WaitAllIdle(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    std::vector<std::shared_ptr<ClientDelivery>> open;
    {
        Deliveries& all = AllDeliveries();
        std::lock_guard guard(all.lock);
        open = all.open;
    }
    for (const auto& d : open) {
        std::unique_lock lock(d->lock_);
        if (!d->idle_.wait_until(lock, deadline, [&] { return d->IdleLocked() || d->finished_; })) return false;
    }
    return true;
}

void ClientDelivery::StopAll(std::chrono::milliseconds wait) {
    Deliveries& all = AllDeliveries();
    std::vector<std::shared_ptr<ClientDelivery>> open;
    {
        std::lock_guard guard(all.lock);
        open.swap(all.open);
    }
    for (const auto& d : open) d->Close();
    const auto deadline = std::chrono::steady_clock::now() + wait;
    for (const auto& d : open) {
        std::thread ended;
        {
            std::unique_lock lock(d->lock_);
            const bool done =
                d->idle_.wait_until(lock, deadline, [&] { return d->finished_ || !d->thread_.joinable(); });
            if (!done && d->thread_.joinable()) {
                // Still inside a client's call: it finishes on its own; the delivery is kept for it.
                d->thread_.detach();
                std::lock_guard guard(all.lock);
                all.abandoned.push_back(d);
                continue;
            }
            ended = std::move(d->thread_);
        }
        if (ended.joinable()) ended.join();
    }
}

}  // namespace server
