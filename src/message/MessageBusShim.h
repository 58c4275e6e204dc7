// MessageBusShim.h - what the bus client talks to instead of the bus library itself.
//
// MessageBusShimImpl drives a bus library's function table over a handle it is given;
// MessageBusLib loads the library, opens its own handle and forwards to a
// MessageBusShimImpl. Implementations must be callable from several threads at once.
#pragma once

#include <glimmerpane/abi.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "message/Message.h"

namespace Vornik {

// The client's entry for replies: (reply index, reply message or empty, bus status).
using ReplyCallback = std::function<ModuleStatus(uint64_t, std::shared_ptr<Message>, ModuleStatus)>;

// The bus hands every reply on a handle to one static callback, whichever client made the
// request, and withdraws reply callbacks only per handle and function. So a client does
// not release the callback of a handle it shares (that would drop the other clients'
// requests); it removes its route instead, and the request's context is its route token.
// Tokens are never reused: a late reply for a destroyed client cannot reach a later one.
namespace ReplyRoutes {
void* add(ReplyCallback* callback);
// After it returns no call through the token runs or starts, except one running on the
// calling thread itself.
void remove(void* token);
// MODULE_STATUS_NOT_FOUND when the token was removed or never added.
ModuleStatus call(void* token, uint64_t replyIndex, std::shared_ptr<Message> message, ModuleStatus status);
}  // namespace ReplyRoutes

class MessageBusShim {
public:
    virtual ModuleStatus publish(const std::shared_ptr<Message>& message) = 0;
    virtual ModuleStatus request(const std::shared_ptr<Message>& message, uint64_t replyIndex,
                                 void* replyRoute, uint32_t timeoutMs) = 0;
    // After it returns the bus calls no reply callback of this shim's handle any more; for
    // a shim over its own handle only.
    virtual void releaseReplyCallback() = 0;
    // The context is handed back to the message callback; 0 means refused.
    virtual uint32_t subscribe(const std::wstring& name, void* context) = 0;
    virtual uint32_t subscribeFilter(const std::wstring& pattern, void* context) = 0;
    // After it returns the bus calls no message callback for the id any more.
    virtual void unsubscribe(uint32_t subscriptionId) = 0;
    virtual ~MessageBusShim() = default;
};

}  // namespace Vornik
