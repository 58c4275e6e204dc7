// BaseModule.cpp - base initialisation, direct messages and bus forwarding.
#include "module/BaseModule.h"

#include "etwlogging/LogCall.h"
#include "message/MessageBusClient.h"
#include "module/ModuleStatus.h"

namespace Vornik {

namespace {
constexpr const wchar_t* kSource = L"BaseModule";
}

BaseModule::BaseModule(std::shared_ptr<Kestrix::IOCContainer> container)
    : container_(container ? std::move(container) : std::make_shared<Kestrix::IOCContainer>()) {}

BaseModule::~BaseModule() {
    // The bus must be gone, container registration included, before anything its
    // subscriptions might reach.
    releaseMessageBus();
    moduleManager_.reset();
}

void BaseModule::releaseMessageBus() {
    container_->unregisterInstance<MessageBus>(Kestrix::kDefaultRegistrationName);
    messageBus_.reset();
}

ModuleStatus BaseModule::baseInitialize(const std::wstring& name, const std::wstring& secondName,
                                        const ModuleProperties& properties,
                                        std::shared_ptr<internal::ModuleManagerShim> moduleManager,
                                        std::shared_ptr<MessageBus> messageBus) {
    name_ = name;
    secondName_ = secondName;
    properties_ = properties;
    if (!moduleManager) {
        GP_LOG_ERROR(kSource, L"Vornik::BaseModule::baseInitialize",
                     L"Invalid module manager object passed to base initialize.");
        return MODULE_STATUS_INVALID_PARAMETER;
    }
    moduleManager_ = std::move(moduleManager);
    if (!messageBus) {
        GP_LOG_ERROR(kSource, L"Vornik::BaseModule::baseInitialize",
                     L"Invalid message bus object passed to base initialize.");
        return MODULE_STATUS_INVALID_PARAMETER;
    }
    messageBus_ = std::move(messageBus);
    container_->registerInstance<MessageBus>(Kestrix::kDefaultRegistrationName, messageBus_);
    return MODULE_STATUS_SUCCESS;
}

ModuleStatus BaseModule::directMessage(std::shared_ptr<Message> message) {
    auto client = std::dynamic_pointer_cast<MessageBusClient>(messageBus_);
    if (!client) {
        GP_LOG_ERROR(kSource, L"Vornik::BaseModule::directMessage",
                     L"Failed to process direct message. Invalid message bus client.");
        return MODULE_STATUS_INVALID_STATE;
    }
    const ModuleStatus status = client->dispatchDirect(message);
    if (status != MODULE_STATUS_SUCCESS) {
        GP_LOG_ERROR(kSource, L"Vornik::BaseModule::directMessage",
                     L"Failed to process direct message. Module: %ls. Module Status: %ls(%lu)", name_.c_str(),
                     ModuleStatusName(status), static_cast<unsigned long>(status));
        return status;
    }
    return MODULE_STATUS_SUCCESS;
}

// Without a bus every forwarded operation is refused rather than crashing.
#define GP_FORWARD(call)                                                  \
    do {                                                                  \
        if (!messageBus_) return MODULE_STATUS_INVALID_STATE;             \
        return messageBus_->call;                                         \
    } while (0)

ModuleStatus BaseModule::publish(std::shared_ptr<Message> message) { GP_FORWARD(publish(std::move(message))); }
ModuleStatus BaseModule::request(std::shared_ptr<Message> message, ReplyHandler callback, const uint32_t& timeoutMs) {
    GP_FORWARD(request(std::move(message), std::move(callback), timeoutMs));
}
ModuleStatus BaseModule::request(std::shared_ptr<Message> message, std::shared_ptr<Reply>& reply,
                                 const uint32_t& timeoutMs) {
    GP_FORWARD(request(std::move(message), reply, timeoutMs));
}
ModuleStatus BaseModule::subscribe(const std::wstring& name, const std::wstring& alias, MessageHandler handler) {
    GP_FORWARD(subscribe(name, alias, std::move(handler)));
}
ModuleStatus BaseModule::subscribe(const std::wstring& name, MessageHandler handler) {
    GP_FORWARD(subscribe(name, std::move(handler)));
}
ModuleStatus BaseModule::subscribeInSession(const std::wstring& name, const std::wstring& alias,
                                            MessageHandler handler) {
    GP_FORWARD(subscribeInSession(name, alias, std::move(handler)));
}
ModuleStatus BaseModule::subscribeInSession(const std::wstring& name, MessageHandler handler) {
    GP_FORWARD(subscribeInSession(name, std::move(handler)));
}
ModuleStatus BaseModule::subscribeFilter(const std::wstring& pattern, const std::wstring& alias,
                                         MessageHandler handler) {
    GP_FORWARD(subscribeFilter(pattern, alias, std::move(handler)));
}
ModuleStatus BaseModule::subscribeFilter(const std::wstring& pattern, MessageHandler handler) {
    GP_FORWARD(subscribeFilter(pattern, std::move(handler)));
}
ModuleStatus BaseModule::subscribeFilterInSession(const std::wstring& pattern, const std::wstring& alias,
                                                  MessageHandler handler) {
    GP_FORWARD(subscribeFilterInSession(pattern, alias, std::move(handler)));
}
ModuleStatus BaseModule::subscribeFilterInSession(const std::wstring& pattern, MessageHandler handler) {
    GP_FORWARD(subscribeFilterInSession(pattern, std::move(handler)));
}
ModuleStatus BaseModule::unsubscribe(const std::wstring& alias) { GP_FORWARD(unsubscribe(alias)); }

#undef GP_FORWARD

}  // namespace Vornik
