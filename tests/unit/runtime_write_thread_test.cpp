// The thread that carries out asynchronous writes: writes run one at a time in the order handed
// over, and stopping gives up those not yet started, waits a bounded time for the running one and
// refuses later ones.
#include "server/runtime_write_thread.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

namespace korvex::test {
namespace {

using namespace std::chrono_literals;

// What the jobs did, in order ("A" carried out, "B-" given up), and a gate a job can wait at.
class JobLog {
public:
    server::RuntimeWriteJob Job(std::string name, bool waitAtGate = false) {
        return [this, name, waitAtGate](bool carryOut) {
            std::unique_lock lock(lock_);
            if (carryOut && waitAtGate) {
                entered_ = true;
                changed_.notify_all();
                changed_.wait(lock, [&] { return open_; });
            }
            entries_.push_back(carryOut ? name : name + "-");
            changed_.notify_all();
        };
    }
    bool WaitUntilEntered() {
        std::unique_lock lock(lock_);
        return changed_.wait_for(lock, 5s, [&] { return entered_; });
    }
    void OpenGate() {
        std::lock_guard guard(lock_);
        open_ = true;
        changed_.notify_all();
    }
    bool WaitForEntries(std::size_t count) {
        std::unique_lock lock(lock_);
        return changed_.wait_for(lock, 5s, [&] { return entries_.size() >= count; });
    }
    std::vector<std::string> Entries() {
        std::lock_guard guard(lock_);
        return entries_;
    }

private:
    std::mutex lock_;
    std::condition_variable changed_;
    std::vector<std::string> entries_;
    bool entered_ = false;
    bool open_ = false;
};

// One test, because stopping is for good.
TEST(RuntimeWriteThread, RunsInOrderAndStopsWithoutWaitingForAHungWrite) {
    JobLog first;
    ASSERT_TRUE(server::QueueRuntimeWrite(first.Job("A", true)));
    ASSERT_TRUE(server::QueueRuntimeWrite(first.Job("B")));
    ASSERT_TRUE(server::QueueRuntimeWrite(first.Job("C")));
    ASSERT_TRUE(first.WaitUntilEntered());
    EXPECT_FALSE(server::WaitForRuntimeWrites(50ms)) << "a write is running";
    first.OpenGate();
    EXPECT_TRUE(server::WaitForRuntimeWrites(5s));
    EXPECT_EQ(first.Entries(), (std::vector<std::string>{"A", "B", "C"}));

    // A write that never ends on its own, and one behind it.
    JobLog second;
    ASSERT_TRUE(server::QueueRuntimeWrite(second.Job("D", true)));
    ASSERT_TRUE(server::QueueRuntimeWrite(second.Job("E")));
    ASSERT_TRUE(second.WaitUntilEntered());
    const auto stopping = std::chrono::steady_clock::now();
    server::StopRuntimeWrites(200ms);
    EXPECT_LT(std::chrono::steady_clock::now() - stopping, 2s) << "stop waited for the hung write";
    EXPECT_EQ(second.Entries(), std::vector<std::string>{"E-"}) << "the waiting write is given up";
    EXPECT_FALSE(server::QueueRuntimeWrite(second.Job("F"))) << "stopped for good";
    EXPECT_FALSE(server::WaitForRuntimeWrites(0ms)) << "the hung write is still running";

    // The hung write still finishes on its own.
    second.OpenGate();
    ASSERT_TRUE(second.WaitForEntries(2));
    EXPECT_EQ(second.Entries(), (std::vector<std::string>{"E-", "D"}));
    EXPECT_TRUE(server::WaitForRuntimeWrites(5s));
}

}  // namespace
}  // namespace korvex::test
