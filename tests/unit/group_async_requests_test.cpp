// A group's request queue on its own: cancel IDs and their wrap, cancellation of queued and
// executing requests, and the order requests leave in.
#include "group/async_request_queue.h"

#include <gtest/gtest.h>

#include <memory>

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

    AsyncRequest* executing = queue.Begin();
    ASSERT_NE(executing, nullptr);
    EXPECT_EQ(executing->transactionId, 10u) << "requests leave in queue order";
    EXPECT_FALSE(executing->cancelled);
    EXPECT_EQ(queue.Begin(), nullptr) << "one request executes at a time";
    EXPECT_EQ(queue.Executing(), executing);
    EXPECT_TRUE(queue.Cancel(1)) << "the executing request can still be cancelled";
    EXPECT_TRUE(executing->cancelled);
    queue.End();
    EXPECT_FALSE(queue.Cancel(1)) << "completed";

    executing = queue.Begin();
    ASSERT_NE(executing, nullptr);
    EXPECT_EQ(executing->transactionId, 11u);
    EXPECT_TRUE(executing->cancelled);
    queue.End();
    queue.Clear();
    EXPECT_EQ(queue.Begin(), nullptr) << "cleared";
    EXPECT_FALSE(queue.Cancel(3));
}

}  // namespace
