// Reply.h - the answer to a request, waited on by the requester.
//
// One thread at a time may use a Reply. The reply can be retrieved once; a second
// retrieval reports an invalid state and REPLY_FAILED.
#pragma once

#include <cstdint>
#include <chrono>
#include <memory>

#include "message/Message.h"

namespace Vornik {

inline constexpr uint32_t REPLY_RECEIVED = 0;
inline constexpr uint32_t REPLY_PENDING = 1;
inline constexpr uint32_t REPLY_TIMED_OUT = 2;
inline constexpr uint32_t REPLY_FAILED = 3;

class Reply {
public:
    virtual ~Reply() = default;
    virtual uint32_t getStatus() const = 0;
    // The reply message when the status is REPLY_RECEIVED, otherwise empty.
    virtual std::shared_ptr<Message> getMessage() const = 0;
    virtual uint32_t wait() = 0;
    virtual uint32_t waitFor(std::chrono::milliseconds timeout) = 0;
};

}  // namespace Vornik
