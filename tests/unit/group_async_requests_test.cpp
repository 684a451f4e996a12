// A group's request queue on its own: cancel IDs and their wrap, cancellation of queued and
// executing requests, and the order requests leave in.
#include "group/async_request_queue.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace {

std::unique_ptr<AsyncRequest> Request(DWORD transactionId) {
    return std::make_unique<AsyncRequest>(AsyncRequest::Operation::Read, AsyncRequest::Source::Device,
                                          transactionId);
}

TEST(CancelIds, RunFromOneToOneMillionAndOneThenWrap) {
    CancelIds ids;
    EXPECT_EQ(ids.Next(), 1u);
    for (DWORD expected = 2; expected <= 1000001; ++expected) {
        const DWORD id = ids.Next();
        if (id != expected) FAIL() << "got " << id << ", expected " << expected;
    }
    EXPECT_EQ(ids.Peek(), 1u) << "the 1,000,002nd request";
    EXPECT_EQ(ids.Next(), 1u);
    EXPECT_EQ(ids.Next(), 2u);
}

TEST(AsyncRequestQueue, CancelReachesQueuedAndExecutingRequestsOnly) {
    AsyncRequestQueue queue;
    EXPECT_EQ(queue.Append(Request(10)), 1u);
    EXPECT_EQ(queue.Append(Request(11)), 2u);
    EXPECT_EQ(queue.Append(Request(12)), 3u);
    EXPECT_TRUE(queue.Cancel(2));
    EXPECT_FALSE(queue.Cancel(4)) << "never issued";

    AsyncRequest* executing = queue.Begin(queue.LastQueued());
    ASSERT_NE(executing, nullptr);
    EXPECT_EQ(executing->transactionId, 10u) << "requests leave in queue order";
    EXPECT_FALSE(executing->cancelled);
    EXPECT_EQ(queue.Begin(queue.LastQueued()), nullptr) << "one request executes at a time";
    EXPECT_EQ(queue.Executing(), executing);
    EXPECT_TRUE(queue.Cancel(1)) << "the executing request can still be cancelled";
    EXPECT_TRUE(executing->cancelled);
    queue.End();
    EXPECT_FALSE(queue.Cancel(1)) << "completed";

    executing = queue.Begin(queue.LastQueued());
    ASSERT_NE(executing, nullptr);
    EXPECT_EQ(executing->transactionId, 11u);
    EXPECT_TRUE(executing->cancelled);
    queue.End();
    queue.Clear();
    EXPECT_EQ(queue.Begin(queue.LastQueued()), nullptr) << "cleared";
    EXPECT_FALSE(queue.Cancel(3));
}

// A tick executes what was queued before it began, all of it, and nothing queued since.
TEST(AsyncRequestQueue, ATickTakesEveryRequestQueuedBeforeItAndNoOther) {
    AsyncRequestQueue queue;
    for (DWORD t = 1; t <= 3; ++t) queue.Append(Request(t));
    const std::uint64_t tickBegan = queue.LastQueued();
    queue.Append(Request(4));
    std::vector<DWORD> executed;
    while (AsyncRequest* request = queue.Begin(tickBegan)) {
        executed.push_back(request->transactionId);
        queue.End();
    }
    EXPECT_EQ(executed, (std::vector<DWORD>{1, 2, 3}));
    AsyncRequest* next = queue.Begin(queue.LastQueued());
    ASSERT_NE(next, nullptr);
    EXPECT_EQ(next->transactionId, 4u) << "in the next tick";
    queue.End();
    queue.Append(std::make_unique<AsyncRequest>(AsyncRequest::Operation::Write, AsyncRequest::Source::Device, 5));
    EXPECT_EQ(queue.Begin(queue.LastQueued(), false), nullptr) << "no write after a tick's first request";
    EXPECT_NE(queue.Begin(queue.LastQueued(), true), nullptr);
}

// What a group may have queued is bounded by items, not requests; what was accepted stays.
TEST(AsyncRequestQueue, RefusesBeyondItsBoundAndAcceptsAgainOnceItDrains) {
    AsyncRequestQueue queue;
    const auto withItems = [](DWORD transactionId, std::size_t items) {
        auto request = Request(transactionId);
        request->serverHandles.assign(items, 7);
        return request;
    };
    EXPECT_EQ(queue.Append(withItems(1, AsyncRequestQueue::kMaxQueuedItems - 1)), 1u);
    EXPECT_EQ(queue.Append(withItems(2, 2)), 0u) << "one item too many";
    EXPECT_EQ(queue.Append(withItems(3, 1)), 2u) << "the refusal used up no cancel ID";
    ASSERT_NE(queue.Begin(queue.LastQueued()), nullptr);
    queue.End();
    EXPECT_EQ(queue.Append(withItems(4, 1000)), 3u);
    AsyncRequest* next = queue.Begin(queue.LastQueued());
    ASSERT_NE(next, nullptr);
    EXPECT_EQ(next->transactionId, 3u) << "nothing accepted was lost";
}

}  // namespace
