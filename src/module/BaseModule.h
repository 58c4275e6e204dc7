// BaseModule.h - the base of every module of the framework.
//
// It receives the module's identity strings, properties, the host's module manager and a
// message bus during base initialisation, registers the bus in its container, and offers
// the bus operations to the derived module by forwarding them to that bus. It keeps no
// state flag: each lifecycle step is the derived module's to guard.
#pragma once

#include <memory>
#include <string>

#include "message/MessageBus.h"
#include "module/IOCContainer.h"
#include "module/Module.h"
#include "module/ModuleManagerShim.h"

namespace Vornik {

class BaseModule : public Module, private MessageBus {
public:
    // An empty container makes the module create its own.
    explicit BaseModule(std::shared_ptr<Kestrix::IOCContainer> container = nullptr);
    ~BaseModule() override;

    ModuleStatus initialize() override { return 0; }
    ModuleStatus start() override { return 0; }
    ModuleStatus stop() override { return 0; }
    ModuleStatus uninitialize() override { return 0; }
    ModuleStatus baseInitialize(const std::wstring& name, const std::wstring& secondName,
                                const ModuleProperties& properties,
                                std::shared_ptr<internal::ModuleManagerShim> moduleManager,
                                std::shared_ptr<MessageBus> messageBus) final;

    // Delivers a message the host handed over directly to the bus client's subscriptions.
    ModuleStatus directMessage(std::shared_ptr<Message> message);

    const std::wstring& name() const { return name_; }
    const std::wstring& secondName() const { return secondName_; }
    const ModuleProperties& properties() const { return properties_; }
    const std::shared_ptr<internal::ModuleManagerShim>& moduleManager() const { return moduleManager_; }
    const std::shared_ptr<Kestrix::IOCContainer>& container() const { return container_; }

protected:
    // The bus operations for the derived module, forwarded unchanged.
    ModuleStatus publish(std::shared_ptr<Message> message) override;
    ModuleStatus request(std::shared_ptr<Message> message, ReplyHandler callback, const uint32_t& timeoutMs) override;
    ModuleStatus request(std::shared_ptr<Message> message, std::shared_ptr<Reply>& reply,
                         const uint32_t& timeoutMs) override;
    ModuleStatus subscribe(const std::wstring& name, const std::wstring& alias, MessageHandler handler) override;
    ModuleStatus subscribe(const std::wstring& name, MessageHandler handler) override;
    ModuleStatus subscribeInSession(const std::wstring& name, const std::wstring& alias,
                                    MessageHandler handler) override;
    ModuleStatus subscribeInSession(const std::wstring& name, MessageHandler handler) override;
    ModuleStatus subscribeFilter(const std::wstring& pattern, const std::wstring& alias,
                                 MessageHandler handler) override;
    ModuleStatus subscribeFilter(const std::wstring& pattern, MessageHandler handler) override;
    ModuleStatus subscribeFilterInSession(const std::wstring& pattern, const std::wstring& alias,
                                          MessageHandler handler) override;
    ModuleStatus subscribeFilterInSession(const std::wstring& pattern, MessageHandler handler) override;
    ModuleStatus unsubscribe(const std::wstring& alias) override;

    const std::shared_ptr<MessageBus>& messageBus() const { return messageBus_; }

    // Releases the bus (and with it every subscription) ahead of the base destructor, for
    // a derived module whose handlers refer to its own members. The container's
    // registration goes too: it would otherwise keep the client and its subscriptions alive.
    void releaseMessageBus();

private:
    std::shared_ptr<Kestrix::IOCContainer> container_;
    std::wstring name_;
    std::wstring secondName_;
    ModuleProperties properties_;
    std::shared_ptr<internal::ModuleManagerShim> moduleManager_;
    std::shared_ptr<MessageBus> messageBus_;
};

}  // namespace Vornik
