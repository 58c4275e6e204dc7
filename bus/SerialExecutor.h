// SerialExecutor.h - the broker's worker pool and the serial queues it runs.
//
// Work is posted to queues. The tasks of one queue never overlap and run in the order
// they were posted; different queues run in parallel. The pool starts with no thread and
// adds one whenever a queue becomes ready while no worker is idle, up to a fixed bound. It
// grows because a task may block on another queue's work (a callback that makes a request
// and waits for its reply); a single thread would deadlock there.
//
// A queue is withdrawn in two steps, so that a caller can cut it off under a lock of its
// own and wait with that lock released: close() drops what is queued and refuses further
// posts; awaitIdle() then waits until none of the given queues runs a task on another
// thread. It never waits for the thread it is called from (a task may withdraw its own
// queue), and it does not wait where waiting would close a cycle (two tasks each waiting
// for the other's queue): the call that would close it returns false at once.
//
// shutdown() drops every queued task, lets idle workers go and waits up to the grace
// period for tasks still running. It joins the workers that have ended and detaches the
// rest, the calling thread's own included; a detached worker keeps the executor's state
// alive until its task returns. Nothing is run after shutdown; posts are dropped.
//
// Thread safety: every member may be called from any thread, inside a task too. post() and
// createQueue() may throw std::bad_alloc (nothing is queued then); nothing else throws. A
// task that throws is contained and logged. Dropped tasks are destroyed inside the call
// that drops them; their destructors must not call the executor.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <vector>

namespace BusBroker {

class SerialExecutor {
public:
    using Task = std::function<void()>;
    struct Queue;  // opaque; shared with the workers while it has work
    using QueuePtr = std::shared_ptr<Queue>;

    // maxWorkers below 1 counts as 1.
    SerialExecutor(size_t maxWorkers, std::chrono::milliseconds shutdownGrace);
    // shutdown(), unless that has happened already.
    ~SerialExecutor();
    SerialExecutor(const SerialExecutor&) = delete;
    SerialExecutor& operator=(const SerialExecutor&) = delete;

    QueuePtr createQueue();

    // Appends task to queue. false when the task was dropped: the queue is closed or the
    // executor has shut down.
    bool post(const QueuePtr& queue, Task task);

    struct Posted {
        size_t pending = 0;    // tasks of the queue that have not started, this one included
        bool wakeDue = false;  // the caller owes one wake()
    };
    // As post, but leaves waking a worker to the caller, who calls wake() once for every
    // post that set wakeDue, after releasing its own locks (a worker woken while the caller
    // still holds a lock that the task's callback chain needs would only block on it).
    bool post(const QueuePtr& queue, Task task, Posted& posted);
    void wake();

    // Drops the queue's pending tasks; no task of it starts any more. Does not wait, so a
    // caller may hold its own locks (they must not be taken by code that holds this
    // executor's lock, which only the executor does). Closing twice is harmless.
    void close(const QueuePtr& queue);

    // Waits until no task of these queues runs on a thread other than the caller's. false
    // when it returned without waiting because the thread it would wait for is waiting,
    // directly or through others, for the caller.
    bool awaitIdle(const std::vector<QueuePtr>& queues);

    // true when every worker (other than the calling one) had ended within the grace period.
    // A second call returns true at once.
    bool shutdown();

    // Waits while queue holds limit or more tasks that have not started, until a worker
    // takes one, the queue closes, the executor shuts down or `patience` passes. Returns at
    // once on a worker thread of this executor: a task that posts must never wait for the
    // workers, or a full queue whose own task posts to it would never drain. true when the
    // queue is below the limit (or closed) on return, false when patience ran out.
    bool waitForRoom(const QueuePtr& queue, size_t limit, std::chrono::milliseconds patience);

    // Worker threads started so far; 0 after shutdown.
    size_t workerCount() const;

    class Shared;

private:
    std::shared_ptr<Shared> shared_;
};

}  // namespace BusBroker
