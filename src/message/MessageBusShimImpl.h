// MessageBusShimImpl.h - drives a bus library's function table over a borrowed handle.
//
// It never opens or closes the handle, and does not release its reply callback when it
// goes: other shims may share the handle (ReplyRoutes). Its two static callbacks are what the bus library
// calls on its own threads; both run under guardedCall, so nothing thrown or raised in a
// handler reaches the bus library.
#pragma once

#include "message/MessageBusShim.h"

namespace Vornik {

class MessageBusShimImpl : public MessageBusShim {
public:
    // Throws ModuleException "Invalid message bus handle" for a null handle (tested
    // first) and "Invalid message bus functions object" for a null table.
    MessageBusShimImpl(void* handle, const MessageBusFunctions* functions);
    ~MessageBusShimImpl() override;

    ModuleStatus publish(const std::shared_ptr<Message>& message) override;
    ModuleStatus request(const std::shared_ptr<Message>& message, uint64_t replyIndex, void* replyRoute,
                         uint32_t timeoutMs) override;
    void releaseReplyCallback() override;
    uint32_t subscribe(const std::wstring& name, void* context) override;
    uint32_t subscribeFilter(const std::wstring& pattern, void* context) override;
    void unsubscribe(uint32_t subscriptionId) override;

    // context: the MessageHandler object the client registered.
    static uint32_t onBusMessage(void* context, const MessageHeader* header, const wchar_t* name,
                                 const wchar_t* sender, const wchar_t* userData);
    // context: the requesting client's ReplyRoutes token.
    static uint32_t onBusReply(void* context, uint64_t replyIndex, const MessageHeader* header, const wchar_t* name,
                               const wchar_t* sender, const wchar_t* userData, ModuleStatus status);

private:
    void* handle_;
    const MessageBusFunctions* functions_;
};

}  // namespace Vornik
