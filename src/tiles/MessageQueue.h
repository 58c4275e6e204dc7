// MessageQueue.h - the FIFO between bus delivery threads and the worker.
//
// Bus threads push; the one worker pops. pop also tells how many messages are still
// waiting behind the one it hands out, so that the worker can catch up with a backlog
// (GlimmerpaneImpl: at kCatchUpDepth and above it applies messages without publishing a
// payload for each). shutdown stops accepting, waits until the
// worker has taken every queued message, then closes the queue so a waiting pop returns
// false. close does the same without waiting, for a queue that has no worker to drain it.
// One mutex guards everything; the queue never reopens.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>

#include "message/Message.h"

namespace Vornik {

class MessageQueue {
public:
    // Appends the message unless the queue has stopped accepting (then it is dropped).
    void push(std::shared_ptr<Message> message);
    // Blocks until a message is there (true) or the queue is closed (false, even if
    // messages remain). remaining, when given, receives how many messages are still queued.
    bool pop(std::shared_ptr<Message>& message, size_t* remaining = nullptr);
    // Stops accepting, waits until the queue is empty, then closes it.
    void shutdown();
    // Stops accepting and closes at once, discarding what is queued. Returns how many
    // messages were discarded.
    size_t close();

    size_t size() const;

private:
    mutable std::mutex mutex_;
    std::condition_variable notEmpty_;
    std::condition_variable drained_;
    std::deque<std::shared_ptr<Message>> items_;
    bool closed_ = false;
    bool accepting_ = true;
};

}  // namespace Vornik
