// MessageBusClient.h - the module's connection to the bus.
//
// Publishes, subscribes handlers to names or patterns under an alias, withdraws aliases,
// makes requests and completes their replies, delivers messages the host hands over
// directly, and filters by login session. It reaches the bus only through a
// MessageBusShim and starts no thread of its own.
//
// Locks: one for the subscription table (held across the shim's subscribe/unsubscribe
// calls and across every handler dispatchDirect runs, so such a handler must not
// subscribe or unsubscribe on the same client) and one for the pending replies (held
// while a callback-form reply completes, so that callback must not make a request on
// the same client). The two are never held together. Handlers delivered by the bus run
// without either lock.
#pragma once

#include <list>
#include <memory>
#include <mutex>
#include <regex>
#include <string>
#include <unordered_map>
#include <future>
#include <functional>

#include "message/MessageBus.h"
#include "message/MessageBusShim.h"
#include "message/ProcessAPI.h"

namespace Vornik {

class MessageBusClient : public MessageBus {
public:
    // shim must not be empty; an empty process gets a new ProcessAPI.
    MessageBusClient(std::shared_ptr<MessageBusShim> shim, std::shared_ptr<ProcessAPI> process);
    // Loads the bus library itself through a new MessageBusLib, with a new ProcessAPI;
    // throws ModuleException when the library cannot be loaded or refuses a handle.
    MessageBusClient();
    ~MessageBusClient() override;

    MessageBusClient(const MessageBusClient&) = delete;
    MessageBusClient& operator=(const MessageBusClient&) = delete;

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

    // Runs every handler whose exact name equals the message name, or whose pattern
    // matches it whole, on the calling thread. Results are ignored; returns 0.
    ModuleStatus dispatchDirect(const std::shared_ptr<Message>& message);

    uint32_t sessionId() const { return sessionId_; }

private:
    struct ExactSubscription {
        uint32_t id = 0;
        std::wstring name;
        std::shared_ptr<MessageHandler> handler;  // its address is the bus context
    };
    struct PatternSubscription {
        uint32_t id = 0;
        std::wstring pattern;
        std::wregex compiled;
        std::shared_ptr<MessageHandler> handler;
    };
    struct AliasEntry {
        std::list<ExactSubscription> exact;
        std::list<PatternSubscription> patterns;
    };
    struct ReplyEntry {
        std::promise<std::shared_ptr<Message>> promise;
        std::function<void()> onComplete;  // empty for the out-reply form
    };

    ModuleStatus sendRequest(std::shared_ptr<Message> message, ReplyHandler callback, std::shared_ptr<Reply>* reply,
                             uint32_t timeoutMs);
    ModuleStatus handleReply(uint64_t replyIndex, std::shared_ptr<Message> message, ModuleStatus status);
    MessageHandler sessionFiltered(MessageHandler handler) const;
    void withdrawAll();
    void failOutstandingReplies();

    std::shared_ptr<MessageBusShim> shim_;
    std::shared_ptr<ProcessAPI> process_;
    std::unordered_map<std::wstring, AliasEntry> subscriptions_;
    std::mutex subscriptionsLock_;
    std::unordered_map<uint64_t, ReplyEntry> replies_;
    std::mutex repliesLock_;
    uint64_t nextReplyIndex_ = 0;
    ReplyCallback replyCallback_;
    void* replyRoute_ = nullptr;  // ReplyRoutes token of replyCallback_: the requests' context
    uint32_t sessionId_ = 0;
};

}  // namespace Vornik
