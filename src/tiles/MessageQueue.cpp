// MessageQueue.cpp - the FIFO between bus delivery threads and the worker.
#include "tiles/MessageQueue.h"

namespace Vornik {

void MessageQueue::push(std::shared_ptr<Message> message) {
    std::unique_lock lock(mutex_);
    if (!accepting_) return;
    items_.push_back(std::move(message));
    lock.unlock();
    notEmpty_.notify_one();
}

bool MessageQueue::pop(std::shared_ptr<Message>& message, size_t* remaining) {
    std::unique_lock lock(mutex_);
    if (closed_) return false;
    notEmpty_.wait(lock, [&] { return !items_.empty() || closed_; });
    if (closed_) return false;
    message = std::move(items_.front());
    items_.pop_front();
    if (remaining != nullptr) *remaining = items_.size();
    if (items_.empty()) {
        lock.unlock();
        drained_.notify_all();
    }
    return true;
}

void MessageQueue::shutdown() {
    std::unique_lock lock(mutex_);
    accepting_ = false;
    drained_.wait(lock, [&] { return items_.empty(); });
    closed_ = true;
    lock.unlock();
    notEmpty_.notify_all();
}

size_t MessageQueue::close() {
    std::unique_lock lock(mutex_);
    accepting_ = false;
    closed_ = true;
    const size_t discarded = items_.size();
    items_.clear();
    lock.unlock();
    notEmpty_.notify_all();
    drained_.notify_all();
    return discarded;
}

size_t MessageQueue::size() const {
    std::lock_guard lock(mutex_);
    return items_.size();
}

}  // namespace Vornik
