// MessageBusShimImpl.cpp - the shim over a bus function table and the bus callbacks.
#include "message/MessageBusShimImpl.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <vector>

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
struct Route {
    ReplyCallback* callback = nullptr;
    bool removed = false;
    std::vector<std::thread::id> running;  // threads inside a call through this route
};

struct RouteTable {
    std::mutex lock;
    std::condition_variable idle;
    std::unordered_map<uintptr_t, Route> routes;
    uintptr_t lastToken = 0;
};

RouteTable& Routes() {
    static RouteTable table;
    return table;
}
}  // namespace

namespace ReplyRoutes {

void* add(ReplyCallback* callback) {
    RouteTable& table = Routes();
    std::lock_guard lock(table.lock);
    const uintptr_t token = ++table.lastToken;
    table.routes[token].callback = callback;
    return reinterpret_cast<void*>(token);
}

void remove(void* token) {
    RouteTable& table = Routes();
    const auto key = reinterpret_cast<uintptr_t>(token);
    const auto me = std::this_thread::get_id();
    std::unique_lock lock(table.lock);
    auto found = table.routes.find(key);
    if (found == table.routes.end()) return;
    found->second.removed = true;
    table.idle.wait(lock, [&] {
        const auto& running = table.routes.at(key).running;
        return std::all_of(running.begin(), running.end(), [&](std::thread::id id) { return id == me; });
    });
    table.routes.erase(key);
}

ModuleStatus call(void* token, uint64_t replyIndex, std::shared_ptr<Message> message, ModuleStatus status) {
    RouteTable& table = Routes();
    const auto key = reinterpret_cast<uintptr_t>(token);
    const auto me = std::this_thread::get_id();
    ReplyCallback* callback = nullptr;
    {
        std::lock_guard lock(table.lock);
        auto found = table.routes.find(key);
        if (found != table.routes.end() && !found->second.removed) {
            found->second.running.push_back(me);
            callback = found->second.callback;
        }
    }
    if (callback == nullptr) {
        GP_LOG_WARNING(kSource, L"Vornik::ReplyRoutes::call", L"Reply for a destroyed bus client dropped. Returning");
        return MODULE_STATUS_NOT_FOUND;
    }
    struct Leave {
        RouteTable& table;
        uintptr_t key;
        std::thread::id me;
        ~Leave() {
            {
                std::lock_guard lock(table.lock);
                auto found = table.routes.find(key);  // gone if the callback removed its own route
                if (found != table.routes.end()) {
                    auto& running = found->second.running;
                    running.erase(std::find(running.begin(), running.end(), me));
                }
            }
            table.idle.notify_all();
        }
    } leave{table, key, me};
    return (*callback)(replyIndex, std::move(message), status);
}

}  // namespace ReplyRoutes

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

MessageBusShimImpl::~MessageBusShimImpl() = default;

ModuleStatus MessageBusShimImpl::publish(const std::shared_ptr<Message>& message) {
    if (!message) return MODULE_STATUS_INVALID_PARAMETER;
    return functions_->publish(handle_, message->getHeader(), message->getName().c_str(),
                               message->getSender().c_str(), message->getUserData().c_str());
}

ModuleStatus MessageBusShimImpl::request(const std::shared_ptr<Message>& message, uint64_t replyIndex,
                                         void* replyRoute, uint32_t timeoutMs) {
    if (!message) return MODULE_STATUS_INVALID_PARAMETER;
    return functions_->request(handle_, replyIndex, replyRoute, onBusReply, message->getHeader(),
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
        return ReplyRoutes::call(context, replyIndex, std::move(message), status);
    });
}

}  // namespace Vornik
