// SerialExecutor.cpp - the worker loop, the ready list of queues and the wait-for graph.
//
// A queue is "scheduled" while it sits in the ready list or one of its tasks runs; only
// then may a worker take from it, which is what keeps it serial. A worker runs one task
// and puts the queue back at the end of the ready list, so a busy queue does not starve
// the others. Workers hold a shared reference to the state, so a task that outlives the
// shutdown grace returns into live memory.
#include "SerialExecutor.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <set>
#include <system_error>
#include <thread>
#include <unordered_map>

#include "etwlogging/LogCall.h"

namespace BusBroker {

namespace {
constexpr const wchar_t* kSource = L"bus\\SerialExecutor";
}

struct SerialExecutor::Queue {
    std::deque<Task> tasks;
    bool scheduled = false;
    bool closed = false;
    std::thread::id runningOn;  // default id: no task in flight
};

class SerialExecutor::Shared : public std::enable_shared_from_this<SerialExecutor::Shared> {
public:
    Shared(size_t maxWorkers, std::chrono::milliseconds grace)
        : maxWorkers_(std::max<size_t>(maxWorkers, 1)), grace_(grace) {}

    bool post(const QueuePtr& queue, Task task, Posted* posted) {
        std::unique_lock lock(mutex_);
        if (stopping_ || queue->closed) return false;
        // A queue that is scheduled already is in the ready list or running: whoever takes
        // or runs it finds the task. Only a newly ready queue needs a worker woken.
        const bool newlyReady = !queue->scheduled;
        if (newlyReady) {
            ready_.push_back(queue);  // first: should this throw, nothing has changed
            queue->scheduled = true;
            startWorkerIfNeeded();
        }
        // Should this throw, the queue is merely scheduled empty, which a worker undoes.
        queue->tasks.push_back(std::move(task));
        const bool wake = newlyReady && idleWorkers_ > 0;
        if (posted != nullptr) {
            posted->pending = queue->tasks.size();
            posted->wakeDue = wake;
            return true;
        }
        lock.unlock();
        // Outside the lock, so the woken worker does not block on it at once.
        if (wake) workCv_.notify_one();
        return true;
    }

    void wake() { workCv_.notify_one(); }

    bool waitForRoom(const QueuePtr& queue, size_t limit, std::chrono::milliseconds patience) {
        if (t_workerOf == this) return true;
        std::unique_lock lock(mutex_);
        auto roomy = [&] { return stopping_ || queue->closed || queue->tasks.size() < limit; };
        if (roomy()) return true;
        ++roomWaiters_;
        const bool room = roomCv_.wait_for(lock, patience, roomy);
        --roomWaiters_;
        return room;
    }

    void close(const QueuePtr& queue) {
        std::deque<Task> dropped;
        std::lock_guard lock(mutex_);
        queue->closed = true;
        if (roomWaiters_ > 0) roomCv_.notify_all();
        dropped.swap(queue->tasks);
    }

    bool awaitIdle(const std::vector<QueuePtr>& queues) {
        const std::thread::id me = std::this_thread::get_id();
        std::unique_lock lock(mutex_);
        for (;;) {
            std::optional<std::thread::id> other;
            for (const QueuePtr& queue : queues) {
                if (queue->runningOn != std::thread::id{} && queue->runningOn != me) {
                    other = queue->runningOn;
                    break;
                }
            }
            if (!other) return true;
            if (closesCycle(*other, me)) return false;
            waitsFor_[me] = *other;
            idleCv_.wait(lock);
            waitsFor_.erase(me);
        }
    }

    bool shutdown() {
        std::deque<Task> dropped;
        std::unique_lock lock(mutex_);
        if (stopping_) return true;
        stopping_ = true;
        for (const QueuePtr& queue : ready_) {
            std::move(queue->tasks.begin(), queue->tasks.end(), std::back_inserter(dropped));
            queue->tasks.clear();
            queue->scheduled = false;
        }
        ready_.clear();
        workCv_.notify_all();
        idleCv_.notify_all();
        roomCv_.notify_all();

        const std::thread::id me = std::this_thread::get_id();
        const size_t selfThreads = static_cast<size_t>(
            std::count_if(workers_.begin(), workers_.end(), [&](const std::thread& t) { return t.get_id() == me; }));
        const bool allStopped = idleCv_.wait_for(lock, grace_, [&] { return liveThreads_ == selfThreads; });
        std::vector<std::thread> threads = std::move(workers_);
        workers_.clear();
        const std::set<std::thread::id> exited = exited_;
        lock.unlock();

        for (std::thread& thread : threads) {
            if (thread.get_id() != me && exited.count(thread.get_id()) != 0) {
                thread.join();
            } else {
                thread.detach();
            }
        }
        return allStopped;
    }

    size_t workerCount() const {
        std::lock_guard lock(mutex_);
        return workers_.size();
    }

private:
    bool closesCycle(std::thread::id other, std::thread::id me) const {
        // The wait-for relation is kept acyclic, so this walk ends.
        for (std::thread::id t = other;;) {
            if (t == me) return true;
            auto next = waitsFor_.find(t);
            if (next == waitsFor_.end()) return false;
            t = next->second;
        }
    }

    void startWorkerIfNeeded() {
        if (ready_.size() <= idleWorkers_ || workers_.size() >= maxWorkers_) return;
        try {
            workers_.emplace_back([self = shared_from_this()] { self->workerLoop(); });
            ++liveThreads_;
        } catch (const std::system_error& e) {
            // The queue waits for a running worker or the next successful start.
            GP_LOG_ERROR(kSource, L"BusBroker::SerialExecutor::schedule", L"Cannot start a delivery thread (%d).",
                         e.code().value());
        }
    }

    void workerLoop() {
        t_workerOf = this;
        std::unique_lock lock(mutex_);
        while (!stopping_) {
            if (ready_.empty()) {
                ++idleWorkers_;
                workCv_.wait(lock, [&] { return stopping_ || !ready_.empty(); });
                --idleWorkers_;
                continue;
            }
            QueuePtr queue = std::move(ready_.front());
            ready_.pop_front();
            runOne(queue, lock);
        }
        exited_.insert(std::this_thread::get_id());
        --liveThreads_;
        idleCv_.notify_all();
    }

    void runOne(const QueuePtr& queue, std::unique_lock<std::mutex>& lock) {
        if (queue->closed || queue->tasks.empty()) {
            queue->scheduled = false;
            return;
        }
        Task task = std::move(queue->tasks.front());
        queue->tasks.pop_front();
        queue->runningOn = std::this_thread::get_id();
        if (roomWaiters_ > 0) roomCv_.notify_all();
        lock.unlock();
        try {
            task();
        } catch (...) {
            GP_LOG_WARNING(kSource, L"BusBroker::SerialExecutor::run", L"A task threw; ignored.");
        }
        task = nullptr;  // its captures go before the lock is taken again
        lock.lock();
        queue->runningOn = std::thread::id{};
        if (!queue->closed && !queue->tasks.empty() && !stopping_) {
            ready_.push_back(queue);
            startWorkerIfNeeded();
            // This worker takes the front of the ready list next; only a queue beyond it
            // needs another one.
            if (ready_.size() > 1) workCv_.notify_one();
        } else {
            queue->scheduled = false;
            if (stopping_) {
                std::deque<Task> dropped;
                dropped.swap(queue->tasks);
                lock.unlock();
                dropped.clear();
                lock.lock();
            }
        }
        idleCv_.notify_all();
    }

    const size_t maxWorkers_;
    const std::chrono::milliseconds grace_;

    mutable std::mutex mutex_;
    std::condition_variable workCv_;  // workers wait here for a ready queue
    std::condition_variable idleCv_;  // awaitIdle and shutdown wait here for tasks to end
    std::condition_variable roomCv_;  // publishers wait here for room in a full queue
    size_t roomWaiters_ = 0;
    // The executor whose worker loop runs on this thread, if any.
    static inline thread_local const Shared* t_workerOf = nullptr;
    bool stopping_ = false;
    std::deque<QueuePtr> ready_;
    std::vector<std::thread> workers_;
    size_t idleWorkers_ = 0;
    size_t liveThreads_ = 0;
    std::set<std::thread::id> exited_;
    std::unordered_map<std::thread::id, std::thread::id> waitsFor_;
};

SerialExecutor::SerialExecutor(size_t maxWorkers, std::chrono::milliseconds shutdownGrace)
    : shared_(std::make_shared<Shared>(maxWorkers, shutdownGrace)) {}

SerialExecutor::~SerialExecutor() { shared_->shutdown(); }

SerialExecutor::QueuePtr SerialExecutor::createQueue() { return std::make_shared<Queue>(); }

bool SerialExecutor::post(const QueuePtr& queue, Task task) { return shared_->post(queue, std::move(task), nullptr); }

bool SerialExecutor::post(const QueuePtr& queue, Task task, Posted& posted) {
    return shared_->post(queue, std::move(task), &posted);
}

void SerialExecutor::wake() { shared_->wake(); }

void SerialExecutor::close(const QueuePtr& queue) { shared_->close(queue); }

bool SerialExecutor::waitForRoom(const QueuePtr& queue, size_t limit, std::chrono::milliseconds patience) {
    return shared_->waitForRoom(queue, limit, patience);
}

bool SerialExecutor::awaitIdle(const std::vector<QueuePtr>& queues) { return shared_->awaitIdle(queues); }

bool SerialExecutor::shutdown() { return shared_->shutdown(); }

size_t SerialExecutor::workerCount() const { return shared_->workerCount(); }

}  // namespace BusBroker
