// MessageBusShim.h - what the bus client talks to instead of the bus library itself.
//
// MessageBusShimImpl drives a bus library's function table over a handle it is given;
// MessageBusLib loads the library, opens its own handle and forwards to a
// MessageBusShimImpl. Implementations must be callable from several threads at once.
#pragma once

#include <glimmerpane/abi.h>

#include <functional>
#include <memory>
#include <string>

#include "message/Message.h"

namespace Vornik {

// The client's entry for replies: (reply index, reply message or empty, bus status).
using ReplyCallback = std::function<ModuleStatus(uint64_t, std::shared_ptr<Message>, ModuleStatus)>;

class MessageBusShim {
public:
    virtual ModuleStatus publish(const std::shared_ptr<Message>& message) = 0;
    virtual ModuleStatus request(const std::shared_ptr<Message>& message, uint64_t replyIndex,
                                 ReplyCallback* replyCallback, uint32_t timeoutMs) = 0;
    // After it returns the bus calls no reply callback of this shim's handle any more.
    virtual void releaseReplyCallback() = 0;
    // The context is handed back to the message callback; 0 means refused.
    virtual uint32_t subscribe(const std::wstring& name, void* context) = 0;
    virtual uint32_t subscribeFilter(const std::wstring& pattern, void* context) = 0;
    // After it returns the bus calls no message callback for the id any more.
    virtual void unsubscribe(uint32_t subscriptionId) = 0;
    virtual ~MessageBusShim() = default;
};

}  // namespace Vornik
