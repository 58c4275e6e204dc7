// The executor's guarantees on their own: order and no overlap within a queue, parallel
// queues, the pool's bound, withdrawal (close then awaitIdle) from outside and from
// inside a task, the cycle that must not deadlock, and shutdown with running, queued and
// stuck tasks. Every wait is a condition wait with a deadline (bustest::Event), so a
// broken guarantee fails the test instead of hanging it.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

#include "BusTestSupport.h"
#include "SerialExecutor.h"
#include "support/RecordingLogger.h"

namespace {

using namespace std::chrono_literals;
using BusBroker::SerialExecutor;
using bustest::Event;
using bustest::kDeadline;

// Counts events and lets a thread wait for a count.
class Counter {
public:
    void add() {
        std::lock_guard lock(mutex_);
        ++count_;
        cv_.notify_all();
    }
    bool waitFor(int count, std::chrono::milliseconds limit = kDeadline) {
        std::unique_lock lock(mutex_);
        return cv_.wait_for(lock, limit, [&] { return count_ >= count; });
    }
    int value() {
        std::lock_guard lock(mutex_);
        return count_;
    }

private:
    std::mutex mutex_;
    std::condition_variable cv_;
    int count_ = 0;
};

TEST(SerialExecutor, RunsEachQueueInPostOrderWithoutOverlap) {
    constexpr int kQueues = 4;
    constexpr int kTasks = 500;
    SerialExecutor executor(kQueues, 2s);
    struct Track {
        SerialExecutor::QueuePtr queue;
        std::vector<int> seen;  // written only by the queue's tasks: serial, so no lock
        std::atomic<int> inside{0};
        std::atomic<bool> overlapped{false};
    };
    std::vector<Track> tracks(kQueues);
    Counter done;
    for (Track& t : tracks) t.queue = executor.createQueue();
    for (int i = 0; i < kTasks; ++i) {
        for (Track& t : tracks) {
            ASSERT_TRUE(executor.post(t.queue, [&t, &done, i] {
                if (t.inside.fetch_add(1) != 0) t.overlapped = true;
                t.seen.push_back(i);
                t.inside.fetch_sub(1);
                done.add();
            }));
        }
    }
    ASSERT_TRUE(done.waitFor(kQueues * kTasks));
    ASSERT_TRUE(executor.awaitIdle({tracks[0].queue, tracks[1].queue, tracks[2].queue, tracks[3].queue}));
    for (Track& t : tracks) {
        EXPECT_FALSE(t.overlapped);
        ASSERT_EQ(t.seen.size(), static_cast<size_t>(kTasks));
        for (int i = 0; i < kTasks; ++i) ASSERT_EQ(t.seen[i], i);
    }
}

TEST(SerialExecutor, RunsDifferentQueuesInParallel) {
    SerialExecutor executor(2, 2s);
    Event aStarted, bStarted;
    std::atomic<bool> aSawB{false}, bSawA{false};
    const auto a = executor.createQueue();
    const auto b = executor.createQueue();
    Counter done;
    // Each task waits for the other to have started: only parallel queues let both see it.
    ASSERT_TRUE(executor.post(a, [&] {
        aStarted.set();
        aSawB = bStarted.wait();
        done.add();
    }));
    ASSERT_TRUE(executor.post(b, [&] {
        bStarted.set();
        bSawA = aStarted.wait();
        done.add();
    }));
    ASSERT_TRUE(done.waitFor(2));
    EXPECT_TRUE(aSawB);
    EXPECT_TRUE(bSawA);
}

TEST(SerialExecutor, StartsWorkersOnDemandUpToItsBound) {
    constexpr int kBound = 3;
    constexpr int kQueues = 8;
    SerialExecutor executor(kBound, 2s);
    EXPECT_EQ(executor.workerCount(), 0u);
    Event release;
    Counter started, finished;
    std::atomic<int> inside{0}, most{0};
    std::vector<SerialExecutor::QueuePtr> queues;
    for (int i = 0; i < kQueues; ++i) {
        queues.push_back(executor.createQueue());
        ASSERT_TRUE(executor.post(queues.back(), [&] {
            const int now = ++inside;
            for (int seen = most; now > seen && !most.compare_exchange_weak(seen, now);) {
            }
            started.add();
            release.wait();
            --inside;
            finished.add();
        }));
    }
    ASSERT_TRUE(started.waitFor(kBound));
    EXPECT_EQ(executor.workerCount(), static_cast<size_t>(kBound));
    release.set();
    ASSERT_TRUE(finished.waitFor(kQueues));
    EXPECT_EQ(most, kBound);
    EXPECT_EQ(executor.workerCount(), static_cast<size_t>(kBound));
}

TEST(SerialExecutor, CloseDropsQueuedTasksAndRefusesNewOnes) {
    SerialExecutor executor(2, 2s);
    const auto queue = executor.createQueue();
    Event entered, release;
    Counter later;
    ASSERT_TRUE(executor.post(queue, [&] {
        entered.set();
        release.wait();
    }));
    for (int i = 0; i < 5; ++i) ASSERT_TRUE(executor.post(queue, [&] { later.add(); }));
    ASSERT_TRUE(entered.wait());
    executor.close(queue);
    EXPECT_FALSE(executor.post(queue, [&] { later.add(); }));
    release.set();
    ASSERT_TRUE(executor.awaitIdle({queue}));

    // The other queues keep running: a task of a fresh queue runs, and the closed one's did not.
    Event other;
    ASSERT_TRUE(executor.post(executor.createQueue(), [&] { other.set(); }));
    ASSERT_TRUE(other.wait());
    EXPECT_EQ(later.value(), 0);
}

TEST(SerialExecutor, AwaitIdleReturnsOnlyOnceTheTaskInFlightHasEnded) {
    SerialExecutor executor(2, 2s);
    // The task is let go just before the wait starts; were awaitIdle not to wait, the
    // check would catch the task still inside in nearly every round.
    for (int round = 0; round < 50; ++round) {
        const auto queue = executor.createQueue();
        Event entered, release;
        std::atomic<bool> inside{false};
        ASSERT_TRUE(executor.post(queue, [&] {
            inside = true;
            entered.set();
            release.wait();
            inside = false;
        }));
        ASSERT_TRUE(entered.wait());
        executor.close(queue);
        release.set();
        ASSERT_TRUE(executor.awaitIdle({queue}));
        ASSERT_FALSE(inside) << "round " << round;
    }
}

TEST(SerialExecutor, ATaskMayWithdrawItsOwnQueueWithoutWaitingForItself) {
    SerialExecutor executor(2, 2s);
    const auto queue = executor.createQueue();
    Event done;
    std::atomic<bool> idle{false};
    Event allPosted;
    Counter ran;
    ASSERT_TRUE(executor.post(queue, [&] {
        ran.add();
        allPosted.wait();  // the queue holds five more tasks when it is closed
        executor.close(queue);
        idle = executor.awaitIdle({queue});
        done.set();
    }));
    for (int i = 0; i < 5; ++i) ASSERT_TRUE(executor.post(queue, [&] { ran.add(); }));
    allPosted.set();
    ASSERT_TRUE(done.wait()) << "the task waited for itself";
    EXPECT_TRUE(idle);
    ASSERT_TRUE(executor.shutdown());
    EXPECT_EQ(ran.value(), 1);
}

TEST(SerialExecutor, TwoTasksWithdrawingEachOtherDoNotDeadlock) {
    SerialExecutor executor(2, 2s);
    const auto a = executor.createQueue();
    const auto b = executor.createQueue();
    Event aIn, bIn;
    Counter done;
    std::atomic<int> waited{0}, refused{0};
    auto withdrawOther = [&](Event& mine, Event& theirs, const SerialExecutor::QueuePtr& other) {
        mine.set();
        theirs.wait();
        executor.close(other);
        (executor.awaitIdle({other}) ? waited : refused)++;
        done.add();
    };
    ASSERT_TRUE(executor.post(a, [&] { withdrawOther(aIn, bIn, b); }));
    ASSERT_TRUE(executor.post(b, [&] { withdrawOther(bIn, aIn, a); }));
    ASSERT_TRUE(done.waitFor(2)) << "deadlocked";
    EXPECT_EQ(waited, 1);
    EXPECT_EQ(refused, 1);
}

TEST(SerialExecutor, ShutdownDropsQueuedTasksAndWaitsForTheRunningOne) {
    SerialExecutor executor(2, 10s);
    const auto queue = executor.createQueue();
    Event entered, release;
    std::atomic<bool> finished{false};
    Counter later;
    ASSERT_TRUE(executor.post(queue, [&] {
        entered.set();
        release.wait();
        finished = true;
    }));
    for (int i = 0; i < 5; ++i) ASSERT_TRUE(executor.post(queue, [&] { later.add(); }));
    ASSERT_TRUE(entered.wait());

    std::atomic<bool> stopped{false}, finishedWhenStopped{false};
    std::thread stopper([&] {
        stopped = executor.shutdown();
        finishedWhenStopped = finished.load();
    });
    // Shutdown has begun once posting is refused; only then is the running task let go.
    const auto probe = executor.createQueue();
    while (executor.post(probe, [] {})) std::this_thread::yield();
    release.set();
    stopper.join();

    EXPECT_TRUE(stopped);
    EXPECT_TRUE(finishedWhenStopped);
    EXPECT_EQ(later.value(), 0);
    EXPECT_EQ(executor.workerCount(), 0u);
    EXPECT_FALSE(executor.post(queue, [&] { later.add(); }));
    EXPECT_TRUE(executor.shutdown()) << "a second shutdown has nothing to wait for";
}

TEST(SerialExecutor, AStuckTaskHoldsShutdownOnlyForTheGracePeriod) {
    Event entered, release, returned;
    {
        SerialExecutor executor(1, 50ms);
        ASSERT_TRUE(executor.post(executor.createQueue(), [&] {
            entered.set();
            release.wait();
            returned.set();
        }));
        ASSERT_TRUE(entered.wait());
        const auto start = std::chrono::steady_clock::now();
        EXPECT_FALSE(executor.shutdown());
        EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
    }
    // The executor is gone; its detached worker returns into state it keeps alive.
    release.set();
    EXPECT_TRUE(returned.wait());
}

TEST(SerialExecutor, ATaskMayDestroyTheExecutor) {
    auto executor = std::make_unique<SerialExecutor>(2, 2s);
    Event done;
    ASSERT_TRUE(executor->post(executor->createQueue(), [&] {
        executor.reset();
        done.set();
    }));
    EXPECT_TRUE(done.wait());
}

TEST(SerialExecutor, ATaskThatThrowsIsLoggedAndTheQueueGoesOn) {
    gptest::LogCapture log;
    SerialExecutor executor(1, 2s);
    const auto queue = executor.createQueue();
    Event next;
    ASSERT_TRUE(executor.post(queue, [] { throw std::runtime_error("boom"); }));
    ASSERT_TRUE(executor.post(queue, [&] { next.set(); }));
    EXPECT_TRUE(next.wait());
    EXPECT_TRUE(log.has(ETWLogging::LogSeverity::Warning, L"A task threw; ignored."));
}

}  // namespace
