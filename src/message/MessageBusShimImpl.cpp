// MessageBusShimImpl.cpp - the shim over a bus function table and the bus callbacks.
#include "message/MessageBusShimImpl.h"

#include "etwlogging/LogCall.h"
#include "message/MessageBus.h"
#include "module/GuardedCall.h"
#include "module/ModuleException.h"
#include "module/ModuleStatus.h"

namespace Vornik {

namespace {
constexpr const wchar_t* kSource = L"MessageBusShimImpl";

std::shared_ptr<Message> BuildMessage(const MessageHeader* header, const wchar_t* name, const wchar_t* sender,
                                      const wchar_t* userData) {
    auto message = std::make_shared<Message>(name, sender, userData);
    message->copyHeader(header);
    return message;
}
}  // namespace

MessageBusShimImpl::MessageBusShimImpl(void* handle, const MessageBusFunctions* functions)
    : handle_(handle), functions_(functions) {
    if (handle_ == nullptr) {
        GP_LOG_ERROR(kSource, L"Vornik::MessageBusShimImpl::MessageBusShimImpl",
                     L"Invalid message bus handle. Throwing ModuleException.");
        throw ModuleException("Invalid message bus handle");
    }
    if (functions_ == nullptr) {
        GP_LOG_ERROR(kSource, L"Vornik::MessageBusShimImpl::MessageBusShimImpl",
                     L"Invalid message bus functions object. Throwing ModuleException.");
        throw ModuleException("Invalid message bus functions object");
    }
}

MessageBusShimImpl::~MessageBusShimImpl() {
    guardedCall([this]() -> ModuleStatus { return functions_->releaseReplyCallback(handle_, onBusReply); });
}

ModuleStatus MessageBusShimImpl::publish(const std::shared_ptr<Message>& message) {
    if (!message) return MODULE_STATUS_INVALID_PARAMETER;
    return functions_->publish(handle_, message->getHeader(), message->getName().c_str(),
                               message->getSender().c_str(), message->getUserData().c_str());
}

ModuleStatus MessageBusShimImpl::request(const std::shared_ptr<Message>& message, uint64_t replyIndex,
                                         ReplyCallback* replyCallback, uint32_t timeoutMs) {
    if (!message) return MODULE_STATUS_INVALID_PARAMETER;
    return functions_->request(handle_, replyIndex, replyCallback, onBusReply, message->getHeader(),
                               message->getName().c_str(), message->getSender().c_str(),
                               message->getUserData().c_str(), timeoutMs);
}

void MessageBusShimImpl::releaseReplyCallback() { functions_->releaseReplyCallback(handle_, onBusReply); }

uint32_t MessageBusShimImpl::subscribe(const std::wstring& name, void* context) {
    return functions_->subscribe(handle_, context, onBusMessage, name.c_str());
}

uint32_t MessageBusShimImpl::subscribeFilter(const std::wstring& pattern, void* context) {
    return functions_->subscribeFilter(handle_, context, onBusMessage, pattern.c_str());
}

void MessageBusShimImpl::unsubscribe(uint32_t subscriptionId) { functions_->unsubscribe(handle_, subscriptionId); }

uint32_t MessageBusShimImpl::onBusMessage(void* context, const MessageHeader* header, const wchar_t* name,
                                          const wchar_t* sender, const wchar_t* userData) {
    return guardedCall([&]() -> ModuleStatus {
        if (context == nullptr) return MODULE_STATUS_INVALID_PARAMETER;
        auto message = BuildMessage(header, name, sender, userData);
        return (*static_cast<MessageHandler*>(context))(message);
    });
}

uint32_t MessageBusShimImpl::onBusReply(void* context, uint64_t replyIndex, const MessageHeader* header,
                                        const wchar_t* name, const wchar_t* sender, const wchar_t* userData,
                                        ModuleStatus status) {
    return guardedCall([&]() -> ModuleStatus {
        std::shared_ptr<Message> message;
        if (status == MODULE_STATUS_SUCCESS) message = BuildMessage(header, name, sender, userData);
        if (context == nullptr) return MODULE_STATUS_INVALID_PARAMETER;
        return (*static_cast<ReplyCallback*>(context))(replyIndex, std::move(message), status);
    });
}

}  // namespace Vornik
