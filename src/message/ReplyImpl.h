// ReplyImpl.h - a Reply over the future of the request's promise.
#pragma once

#include <future>

#include "message/Reply.h"

namespace Vornik {

class ReplyImpl : public Reply {
public:
    explicit ReplyImpl(std::future<std::shared_ptr<Message>> future);

    uint32_t getStatus() const override { return status_; }
    std::shared_ptr<Message> getMessage() const override;
    uint32_t wait() override;
    uint32_t waitFor(std::chrono::milliseconds timeout) override;

private:
    uint32_t getReplyMessage();

    uint32_t status_ = REPLY_PENDING;
    std::shared_ptr<Message> message_;
    std::future<std::shared_ptr<Message>> future_;
};

}  // namespace Vornik
