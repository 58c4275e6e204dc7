// MessageBusClient.cpp - publish, subscriptions, direct dispatch and request/reply.
#include "message/MessageBusClient.h"

#include <system_error>

#include "etwlogging/LogCall.h"
#include "message/MessageBusLib.h"
#include "message/ReplyImpl.h"
#include "module/GuardedCall.h"
#include "module/ModuleStatus.h"

namespace Vornik {

namespace {
constexpr const wchar_t* kSource = L"MessageBusClient";

// The pattern flags of every pattern subscription: whole-name ECMAScript match, no
// captures, optimised, case-sensitive.
constexpr auto kPatternFlags = std::regex_constants::ECMAScript | std::regex_constants::nosubs |
                               std::regex_constants::optimize;

// The standard matcher recurses per character: a longer name could overflow the stack.
// The bus library refuses longer names for the same reason.
constexpr size_t kMaxPatternMatchLength = 1024;
}  // namespace

MessageBusClient::MessageBusClient(std::shared_ptr<MessageBusShim> shim, std::shared_ptr<ProcessAPI> process)
    : shim_(std::move(shim)), process_(process ? std::move(process) : std::make_shared<ProcessAPI>()) {
    replyCallback_ = [this](uint64_t index, std::shared_ptr<Message> message, ModuleStatus status) {
        return handleReply(index, std::move(message), status);
    };
    replyRoute_ = ReplyRoutes::add(&replyCallback_);
    const uint32_t processId = process_->GetCurrentProcessId();
    uint32_t session = 0;
    if (process_->ProcessIdToSessionId(processId, &session) != 0) {
        sessionId_ = session;
        GP_LOG_NORMAL(kSource, L"Vornik::MessageBusClient::MessageBusClient", L"Found session id %ld for process %ld",
                      static_cast<long>(sessionId_), static_cast<long>(processId));
    } else {
        GP_LOG_ERROR(kSource, L"Vornik::MessageBusClient::MessageBusClient",
                     L"Failed to get the session id for process %ld - defaulting to %ld", static_cast<long>(processId),
                     0L);
        sessionId_ = 0;
    }
}

MessageBusClient::MessageBusClient() : MessageBusClient(std::make_shared<MessageBusLib>(), nullptr) {}

MessageBusClient::~MessageBusClient() {
    withdrawAll();
    // Only this client's route goes: the bus may share the handle with other clients, whose
    // requests stay. A late reply for one of ours finds no route.
    ReplyRoutes::remove(replyRoute_);
    failOutstandingReplies();
}

void MessageBusClient::failOutstandingReplies() {
    std::lock_guard lock(repliesLock_);
    // A named reference, not a structured binding: clang 14 cannot capture a binding.
    for (auto& pending : replies_) {
        auto& entry = pending.second;
        guardedCall([&]() -> ModuleStatus {
            entry.promise.set_exception(
                std::make_exception_ptr(std::system_error(std::make_error_code(std::errc::no_message_available))));
            if (entry.onComplete) entry.onComplete();
            return MODULE_STATUS_SUCCESS;
        });
    }
    replies_.clear();
}

void MessageBusClient::withdrawAll() {
    std::lock_guard lock(subscriptionsLock_);
    for (auto& [alias, entry] : subscriptions_) {
        for (auto& s : entry.exact) guardedCall([&]() -> ModuleStatus { shim_->unsubscribe(s.id); return 0; });
        for (auto& s : entry.patterns) guardedCall([&]() -> ModuleStatus { shim_->unsubscribe(s.id); return 0; });
    }
    subscriptions_.clear();
}

ModuleStatus MessageBusClient::publish(std::shared_ptr<Message> message) {
    if (!message) return MODULE_STATUS_INVALID_PARAMETER;
    bool copyDue = false;
    if (message->testFlag(FLAG_REPLY) && !message->testFlag(FLAG_NO_COPY) && !message->testFlag(FLAG_COPIED)) {
        message->setFlag(FLAG_COPIED);
        copyDue = true;
    }
    if (const ModuleStatus status = shim_->publish(message); status != MODULE_STATUS_SUCCESS) {
        GP_LOG_ERROR(kSource, L"Vornik::MessageBusClient::publish", L"Failed to publish message. Error code %lu.",
                     static_cast<unsigned long>(status));
        return status;
    }
    if (copyDue) {
        message->clearFlag(FLAG_REPLY);
        message->clearReplyInfo();
        if (const ModuleStatus status = shim_->publish(message); status != MODULE_STATUS_SUCCESS) {
            GP_LOG_WARNING(kSource, L"Vornik::MessageBusClient::publish",
                           L"Failed to publish non-reply copy of the message. Error code %lu.",
                           static_cast<unsigned long>(status));
        }
    }
    return MODULE_STATUS_SUCCESS;
}

ModuleStatus MessageBusClient::subscribe(const std::wstring& name, const std::wstring& alias,
                                         MessageHandler handler) {
    std::lock_guard lock(subscriptionsLock_);
    AliasEntry& entry = subscriptions_[alias];
    auto record = entry.exact.insert(entry.exact.end(),
                                     ExactSubscription{0, name, std::make_shared<MessageHandler>(std::move(handler))});
    record->id = shim_->subscribe(name, record->handler.get());
    if (record->id != 0) return MODULE_STATUS_SUCCESS;
    GP_LOG_ERROR(kSource, L"Vornik::MessageBusClient::subscribe", L"Failed to subscribe. Alias: %ls Message name: %ls",
                 alias.c_str(), name.c_str());
    entry.exact.erase(record);
    return MODULE_STATUS_UNSUCCESSFUL;
}

ModuleStatus MessageBusClient::subscribe(const std::wstring& name, MessageHandler handler) {
    return subscribe(name, name, std::move(handler));
}

ModuleStatus MessageBusClient::subscribeFilter(const std::wstring& pattern, const std::wstring& alias,
                                               MessageHandler handler) {
    std::wregex compiled(pattern, kPatternFlags);  // throws std::regex_error before anything changes
    std::lock_guard lock(subscriptionsLock_);
    AliasEntry& entry = subscriptions_[alias];
    auto record = entry.patterns.insert(
        entry.patterns.end(),
        PatternSubscription{0, pattern, std::move(compiled), std::make_shared<MessageHandler>(std::move(handler))});
    record->id = shim_->subscribeFilter(pattern, record->handler.get());
    if (record->id != 0) return MODULE_STATUS_SUCCESS;
    GP_LOG_ERROR(kSource, L"Vornik::MessageBusClient::subscribeFilter",
                 L"Failed to subscribeFilter. Alias: %ls Message nameRegex: %ls", alias.c_str(), pattern.c_str());
    entry.patterns.erase(record);
    return MODULE_STATUS_UNSUCCESSFUL;
}

ModuleStatus MessageBusClient::subscribeFilter(const std::wstring& pattern, MessageHandler handler) {
    return subscribeFilter(pattern, pattern, std::move(handler));
}

MessageHandler MessageBusClient::sessionFiltered(MessageHandler handler) const {
    return [handler = std::move(handler), session = sessionId_](const std::shared_ptr<Message>& message) -> uint32_t {
        if (message && message->headerVersion() == kHeaderVersion2 && message->senderSession() != 0 &&
            message->senderSession() != session) {
            return 0;
        }
        return handler(message);
    };
}

ModuleStatus MessageBusClient::subscribeInSession(const std::wstring& name, const std::wstring& alias,
                                                  MessageHandler handler) {
    if (sessionId_ == 0) return subscribe(name, alias, std::move(handler));
    return subscribe(name, alias, sessionFiltered(std::move(handler)));
}

ModuleStatus MessageBusClient::subscribeInSession(const std::wstring& name, MessageHandler handler) {
    return subscribeInSession(name, name, std::move(handler));
}

ModuleStatus MessageBusClient::subscribeFilterInSession(const std::wstring& pattern, const std::wstring& alias,
                                                        MessageHandler handler) {
    if (sessionId_ == 0) return subscribeFilter(pattern, alias, std::move(handler));
    return subscribeFilter(pattern, alias, sessionFiltered(std::move(handler)));
}

ModuleStatus MessageBusClient::subscribeFilterInSession(const std::wstring& pattern, MessageHandler handler) {
    return subscribeFilterInSession(pattern, pattern, std::move(handler));
}

ModuleStatus MessageBusClient::unsubscribe(const std::wstring& alias) {
    std::lock_guard lock(subscriptionsLock_);
    auto found = subscriptions_.find(alias);
    if (found == subscriptions_.end()) {
        GP_LOG_WARNING(kSource, L"Vornik::MessageBusClient::unsubscribe", L"Subscription not found. Alias: %ls.",
                       alias.c_str());
        return MODULE_STATUS_SUCCESS;
    }
    for (auto& s : found->second.exact) shim_->unsubscribe(s.id);
    for (auto& s : found->second.patterns) shim_->unsubscribe(s.id);
    subscriptions_.erase(found);
    return MODULE_STATUS_SUCCESS;
}

ModuleStatus MessageBusClient::dispatchDirect(const std::shared_ptr<Message>& message) {
    if (!message) return MODULE_STATUS_INVALID_PARAMETER;
    const std::wstring& name = message->getName();
    const bool matchable = name.size() <= kMaxPatternMatchLength;
    bool patternSkipped = false;
    std::lock_guard lock(subscriptionsLock_);
    for (auto& [alias, entry] : subscriptions_) {
        for (auto& s : entry.exact)
            if (s.name == name) (*s.handler)(message);
        for (auto& s : entry.patterns) {
            if (!matchable) {
                patternSkipped = true;
            } else if (std::regex_match(name, s.compiled)) {
                (*s.handler)(message);
            }
        }
    }
    if (patternSkipped) {
        GP_LOG_WARNING(kSource, L"Vornik::MessageBusClient::dispatchDirect",
                       L"Message name of %lu characters is longer than %lu: it matches no pattern subscription.",
                       static_cast<unsigned long>(name.size()), static_cast<unsigned long>(kMaxPatternMatchLength));
    }
    return MODULE_STATUS_SUCCESS;
}

ModuleStatus MessageBusClient::request(std::shared_ptr<Message> message, ReplyHandler callback,
                                       const uint32_t& timeoutMs) {
    if (!callback) return MODULE_STATUS_INVALID_PARAMETER;
    return sendRequest(std::move(message), std::move(callback), nullptr, timeoutMs);
}

ModuleStatus MessageBusClient::request(std::shared_ptr<Message> message, std::shared_ptr<Reply>& reply,
                                       const uint32_t& timeoutMs) {
    return sendRequest(std::move(message), nullptr, &reply, timeoutMs);
}

ModuleStatus MessageBusClient::sendRequest(std::shared_ptr<Message> message, ReplyHandler callback,
                                           std::shared_ptr<Reply>* reply, uint32_t timeoutMs) {
    // A null message goes on to the shim, which refuses it; the refusal is logged below.
    uint64_t index = 0;
    std::future<std::shared_ptr<Message>> future;
    {
        std::lock_guard lock(repliesLock_);
        index = nextReplyIndex_++;
        auto [slot, inserted] = replies_.try_emplace(index);
        if (!inserted) {
            GP_LOG_ERROR(kSource, L"Vornik::MessageBusClient::request", L"Unable to create reply promise. Returning.");
            return MODULE_STATUS_UNSUCCESSFUL;
        }
        ReplyEntry& entry = slot->second;
        if (callback) {
            auto pending = std::make_shared<std::future<std::shared_ptr<Message>>>(entry.promise.get_future());
            entry.onComplete = [pending, callback = std::move(callback)]() {
                auto completed = std::make_shared<ReplyImpl>(std::move(*pending));
                completed->wait();  // complete by now: the promise was just satisfied
                callback(completed);
            };
        } else {
            future = entry.promise.get_future();
        }
    }

    const ModuleStatus status = shim_->request(message, index, replyRoute_, timeoutMs);
    if (status != MODULE_STATUS_SUCCESS) {
        std::lock_guard lock(repliesLock_);
        replies_.erase(index);
        GP_LOG_ERROR(kSource, L"Vornik::MessageBusClient::request", L"Failed to make request. Error code %lu.",
                     static_cast<unsigned long>(status));
        return status;
    }
    if (reply != nullptr) *reply = std::make_shared<ReplyImpl>(std::move(future));
    return MODULE_STATUS_SUCCESS;
}

ModuleStatus MessageBusClient::handleReply(uint64_t replyIndex, std::shared_ptr<Message> message,
                                           ModuleStatus status) {
    std::lock_guard lock(repliesLock_);
    auto found = replies_.find(replyIndex);
    if (found == replies_.end()) {
        GP_LOG_WARNING(kSource, L"Vornik::MessageBusClient::replyCallback", L"Reply index not found. Returning");
        return MODULE_STATUS_NOT_FOUND;
    }
    ReplyEntry& entry = found->second;
    if (status == MODULE_STATUS_SUCCESS) {
        entry.promise.set_value(std::move(message));
    } else {
        const auto condition = status == MODULE_STATUS_TIMEOUT ? std::errc::operation_canceled : std::errc::no_message_available;
        entry.promise.set_exception(std::make_exception_ptr(std::system_error(std::make_error_code(condition))));
    }
    if (entry.onComplete) {
        guardedCall([&]() -> ModuleStatus {
            entry.onComplete();
            return MODULE_STATUS_SUCCESS;
        });
    }
    replies_.erase(found);
    return MODULE_STATUS_SUCCESS;
}

}  // namespace Vornik
