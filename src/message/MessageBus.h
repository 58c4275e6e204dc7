// MessageBus.h - the bus interface a module uses: publish, request, subscribe, unsubscribe.
//
// MessageBusClient implements it; BaseModule offers it to the derived module by
// forwarding. Handlers run on the bus library's threads (or, for messages the host
// delivers directly, on the host's thread) and return a 32-bit result that goes back
// to the bus.
#pragma once

#include <glimmerpane/abi.h>

#include <functional>
#include <memory>
#include <string>

#include "message/Message.h"
#include "message/Reply.h"

namespace Vornik {

using MessageHandler = std::function<uint32_t(const std::shared_ptr<Message>&)>;
using ReplyHandler = std::function<void(std::shared_ptr<Reply>)>;

class MessageBus {
public:
    virtual ~MessageBus() = default;
    virtual ModuleStatus publish(std::shared_ptr<Message> message) = 0;
    virtual ModuleStatus request(std::shared_ptr<Message> message, ReplyHandler callback, const uint32_t& timeoutMs) = 0;
    virtual ModuleStatus request(std::shared_ptr<Message> message, std::shared_ptr<Reply>& reply,
                                 const uint32_t& timeoutMs) = 0;
    virtual ModuleStatus subscribe(const std::wstring& name, const std::wstring& alias, MessageHandler handler) = 0;
    virtual ModuleStatus subscribe(const std::wstring& name, MessageHandler handler) = 0;
    virtual ModuleStatus subscribeInSession(const std::wstring& name, const std::wstring& alias,
                                            MessageHandler handler) = 0;
    virtual ModuleStatus subscribeInSession(const std::wstring& name, MessageHandler handler) = 0;
    // Pattern forms: ECMAScript, matched against the whole message name. An invalid
    // pattern throws std::regex_error to the caller and changes nothing.
    virtual ModuleStatus subscribeFilter(const std::wstring& pattern, const std::wstring& alias,
                                         MessageHandler handler) = 0;
    virtual ModuleStatus subscribeFilter(const std::wstring& pattern, MessageHandler handler) = 0;
    virtual ModuleStatus subscribeFilterInSession(const std::wstring& pattern, const std::wstring& alias,
                                                  MessageHandler handler) = 0;
    virtual ModuleStatus subscribeFilterInSession(const std::wstring& pattern, MessageHandler handler) = 0;
    virtual ModuleStatus unsubscribe(const std::wstring& alias) = 0;
};

}  // namespace Vornik
