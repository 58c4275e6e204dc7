// DbusTransport.cpp - the process's broker carried over D-Bus with sd-bus (docs/bus.md).
//
// One connection per process, used only by its own thread: sd-bus objects are not
// thread-safe. Other threads hand it messages through a queue and wake it through a pipe.
// Everything that arrives is published into the local broker from that thread, in arrival
// order, so the broker's per-subscription order and its withdrawal guarantees hold as they
// do in-process.
#include <systemd/sd-bus.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <regex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "../Transport.h"
#include "base/MessageSize.h"
#include "base/Utf.h"
#include "etwlogging/LogCall.h"
#include "module/ModuleStatus.h"
#include "platform/DescriptorWait.h"

namespace BusBroker {

namespace {

using namespace Vornik;
using glimmerpane::base::Utf8FromWide;
using glimmerpane::base::WideFromUtf8;

constexpr const wchar_t* kSource = L"bus\\DbusTransport";
constexpr const char* kPath = "/org/glimmerpane/Bus";
constexpr const char* kInterface = "org.glimmerpane.Bus1";
constexpr const char* kMatchOurs = "type='signal',interface='org.glimmerpane.Bus1'";
constexpr const char* kMatchOwners =
    "type='signal',sender='org.freedesktop.DBus',interface='org.freedesktop.DBus',member='NameOwnerChanged'";

// How long a shutting-down process waits for the daemon to have taken its last messages.
constexpr uint64_t kSettleTimeoutUs = 2000000;

std::wstring Describe(int negativeErrno) { return WideFromUtf8(std::strerror(-negativeErrno)); }

// One subscription as the directory knows it: this process's, or a peer's from its last
// Subscriptions signal.
struct Entry {
    bool isPattern = false;
    std::wstring text;
    std::optional<std::wregex> pattern;

    static std::optional<Entry> Make(bool isPattern, std::wstring text) {
        if (text.empty() || text.size() > kMaxNameLength) return std::nullopt;
        Entry entry;
        entry.isPattern = isPattern;
        entry.text = std::move(text);
        if (isPattern) {
            try {
                entry.pattern.emplace(entry.text, std::regex_constants::ECMAScript | std::regex_constants::nosubs |
                                                      std::regex_constants::optimize);
            } catch (const std::regex_error&) {
                return std::nullopt;
            }
        }
        return entry;
    }

    bool matches(const std::wstring& name) const {
        if (!isPattern) return text == name;
        try {
            return std::regex_match(name, *pattern);
        } catch (const std::regex_error&) {
            return false;
        }
    }
};

struct Outgoing {
    enum Kind { Message, Request, Reply, Subscriptions, Hello } kind = Message;
    MessageHeader header{};
    std::wstring name, sender, userData;
    uint32_t timeoutMs = 0;
    std::string destination;  // Reply only
    std::vector<std::pair<bool, std::wstring>> entries;  // Subscriptions only: (isPattern, text)
};

// A request from another process, delivered here under a replyIndex of our own.
struct ForeignRequest {
    std::string requester;  // its unique bus name
    uint64_t replyInfo = 0;  // the requester's
};

class Link : public MessageTap {
public:
    explicit Link(DbusOptions options) : options_(std::move(options)) {}

    ~Link() override {
        stop();
        if (bus_) sd_bus_flush_close_unref(bus_);
    }

    bool connect(std::string* error) {
        int r = 0;
        if (options_.address == "session") {
            r = sd_bus_open_user(&bus_);
        } else {
            r = sd_bus_new(&bus_);
            if (r >= 0) r = sd_bus_set_address(bus_, options_.address.c_str());
            if (r >= 0) r = sd_bus_set_bus_client(bus_, 1);
            if (r >= 0) r = sd_bus_start(bus_);
        }
        if (r < 0) {
            *error = std::string("cannot connect to the bus: ") + std::strerror(-r);
            return false;
        }
        const char* unique = nullptr;
        if ((r = sd_bus_get_unique_name(bus_, &unique)) < 0) {
            *error = std::string("no unique name: ") + std::strerror(-r);
            return false;
        }
        self_ = unique;
        if ((r = sd_bus_add_match(bus_, nullptr, kMatchOurs, &Link::OnSignal, this)) < 0 ||
            (r = sd_bus_add_match(bus_, nullptr, kMatchOwners, &Link::OnOwnerChanged, this)) < 0) {
            *error = std::string("cannot add the match rules: ") + std::strerror(-r);
            return false;
        }
        if (!waiter_.open(error)) return false;
        Outgoing hello;
        hello.kind = Outgoing::Hello;
        outgoing_.push_back(std::move(hello));
        announce_ = true;
        return true;
    }

    void start(Broker* broker) {
        broker_ = broker;
        void* handle = nullptr;
        broker_->open(&handle);
        inject_ = handle;
        thread_ = std::thread([this] { run(); });
    }

    // Ends the bus thread; nothing arrives in the broker afterwards.
    void stop() {
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        wake();
        if (thread_.joinable()) thread_.join();
    }

    ModuleStatus admit(const wchar_t* name, const wchar_t* sender, const wchar_t* userData) {
        if (lost_.load(std::memory_order_acquire)) return MODULE_STATUS_APP_SERVICE_UNAVAILABLE;
        const uint64_t size = glimmerpane::base::MessageSizeExact(GP_MESSAGE_HEADER_SIZE, name, sender, userData);
        if (size > options_.maxMessageSize) {
            GP_LOG_WARNING(kSource, L"BusBroker::DbusTransport::admit",
                           L"Message %ls refused: %llu bytes, the bus carries at most %llu.", name,
                           static_cast<unsigned long long>(size),
                           static_cast<unsigned long long>(options_.maxMessageSize));
            return MODULE_STATUS_INVALID_BUFFER_SIZE;
        }
        return MODULE_STATUS_SUCCESS;
    }

    void subscribed(void* handle, uint32_t id, bool isPattern, const wchar_t* text) {
        std::optional<Entry> entry = Entry::Make(isPattern, text);
        if (!entry) return;
        std::lock_guard lock(mutex_);
        own_[id] = {handle, std::move(*entry)};
        announceLocked();
    }

    void unsubscribed(void* handle, uint32_t id) {
        std::lock_guard lock(mutex_);
        auto found = own_.find(id);
        if (found == own_.end() || found->second.first != handle) return;
        own_.erase(found);
        announceLocked();
    }

    void closed(void* handle) {
        std::lock_guard lock(mutex_);
        for (auto it = own_.begin(); it != own_.end();) {
            it = it->second.first == handle ? own_.erase(it) : std::next(it);
        }
        announceLocked();
    }

    // MessageTap: under the broker's lock; copies and queues only.
    void published(const MessageHeader& header, const wchar_t* name, const wchar_t* sender, const wchar_t* userData,
                   bool isRequest, uint32_t timeoutMs) override {
        if (lost_.load(std::memory_order_acquire)) return;
        Outgoing message;
        message.kind = isRequest ? Outgoing::Request : Outgoing::Message;
        message.header = header;
        message.name = name;
        message.sender = sender;
        message.userData = userData;
        message.timeoutMs = timeoutMs;
        queue(std::move(message));
    }

    bool reachesElsewhere(const wchar_t* name) override {
        const std::wstring text(name);
        std::lock_guard lock(mutex_);
        for (const auto& [peer, entries] : peers_) {
            for (const Entry& entry : entries) {
                if (entry.matches(text)) return true;
            }
        }
        return false;
    }

private:
    void queue(Outgoing message) {
        {
            std::lock_guard lock(mutex_);
            if (stopping_ || lost_.load(std::memory_order_relaxed)) return;
            outgoing_.push_back(std::move(message));
        }
        wake();
    }

    void announceLocked() {
        if (announce_) return;
        announce_ = true;
        wake();
    }

    void wake() { waiter_.wake(); }

    bool ownMatches(const std::wstring& name) {
        std::lock_guard lock(mutex_);
        for (const auto& [id, owned] : own_) {
            if (owned.second.matches(name)) return true;
        }
        return false;
    }

    void run() {
        for (;;) {
            std::deque<Outgoing> batch;
            bool announce = false;
            bool stopping = false;
            {
                std::lock_guard lock(mutex_);
                stopping = stopping_;
                batch.swap(outgoing_);
                announce = std::exchange(announce_, false);
            }
            if (announce && !stopping) batch.push_front(subscriptionsMessage());
            for (Outgoing& message : batch) {
                if (!send(message)) return lose(L"sending");
            }
            // What was published before the end still leaves: a process that publishes one
            // message and exits relies on it.
            if (stopping) {
                settle();
                return;
            }
            bool more = true;
            while (more) {
                const int r = sd_bus_process(bus_, nullptr);
                if (r < 0) return lose(L"reading", r);
                std::lock_guard lock(mutex_);
                more = r > 0 && !stopping_;
                if (stopping_) break;
            }
            {
                std::lock_guard lock(mutex_);
                if (stopping_) continue;  // flushes at the top
            }
            uint64_t until = UINT64_MAX;  // sd-bus's deadline, on the monotonic clock
            if (sd_bus_get_timeout(bus_, &until) < 0) until = UINT64_MAX;
            const int events = sd_bus_get_events(bus_);
            if (events < 0) return lose(L"waiting", events);
            if (int r = waiter_.wait(sd_bus_get_fd(bus_), static_cast<short>(events), until); r < 0) {
                return lose(L"waiting", r);
            }
        }
    }

    // Written is not yet read: a daemon that sees our connection end drops what it has not
    // read from it. It handles a connection's messages in order, so once it has answered a
    // call, everything sent before has been routed.
    void settle() {
        sd_bus_message* reply = nullptr;
        sd_bus_error error{};  // SD_BUS_ERROR_NULL, which is a C compound literal
        sd_bus_message* call = nullptr;
        if (sd_bus_message_new_method_call(bus_, &call, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                           "org.freedesktop.DBus.Peer", "Ping") >= 0) {
            sd_bus_call(bus_, call, kSettleTimeoutUs, &error, &reply);
        }
        sd_bus_message_unref(call);
        sd_bus_message_unref(reply);
        sd_bus_error_free(&error);
    }

    void lose(const wchar_t* doing, int error = 0) {
        lost_.store(true, std::memory_order_release);
        {
            std::lock_guard lock(mutex_);
            if (stopping_) return;  // our own shutdown, not a loss
            outgoing_.clear();
            peers_.clear();
        }
        GP_LOG_ERROR(kSource, L"BusBroker::DbusTransport::run",
                     L"The bus connection was lost while %ls (%ls); publish and request now return "
                     L"MODULE_STATUS_APP_SERVICE_UNAVAILABLE.",
                     doing, error != 0 ? Describe(error).c_str() : L"see above");
    }

    Outgoing subscriptionsMessage() {
        Outgoing message;
        message.kind = Outgoing::Subscriptions;
        std::lock_guard lock(mutex_);
        for (const auto& [id, owned] : own_) message.entries.emplace_back(owned.second.isPattern, owned.second.text);
        return message;
    }

    bool send(const Outgoing& message) {
        sd_bus_message* m = nullptr;
        static constexpr const char* kMembers[] = {"Message", "Request", "Reply", "Subscriptions", "Hello"};
        int r = sd_bus_message_new_signal(bus_, &m, kPath, kInterface, kMembers[message.kind]);
        if (r >= 0 && message.kind == Outgoing::Reply) r = sd_bus_message_set_destination(m, message.destination.c_str());
        if (r >= 0 && message.kind <= Outgoing::Reply) {
            r = sd_bus_message_append_array(m, 'y', &message.header, sizeof message.header);
            const std::string name = Utf8FromWide(message.name), sender = Utf8FromWide(message.sender),
                              userData = Utf8FromWide(message.userData);
            if (r >= 0) r = sd_bus_message_append(m, "sss", name.c_str(), sender.c_str(), userData.c_str());
            if (r >= 0 && message.kind == Outgoing::Request) r = sd_bus_message_append(m, "u", message.timeoutMs);
        } else if (r >= 0 && message.kind == Outgoing::Subscriptions) {
            r = sd_bus_message_open_container(m, 'a', "(bs)");
            for (const auto& [isPattern, text] : message.entries) {
                if (r < 0) break;
                r = sd_bus_message_append(m, "(bs)", isPattern ? 1 : 0, Utf8FromWide(text).c_str());
            }
            if (r >= 0) r = sd_bus_message_close_container(m);
        }
        if (r >= 0) {
            r = sd_bus_send(bus_, m, nullptr);
            if (r == -ENOBUFS) {  // the write queue is full: let it drain, then once more
                if (sd_bus_flush(bus_) >= 0) r = sd_bus_send(bus_, m, nullptr);
            }
        }
        sd_bus_message_unref(m);
        if (r >= 0) return true;
        if (r == -ENOTCONN || r == -ECONNRESET || r == -EPIPE) return false;
        GP_LOG_ERROR(kSource, L"BusBroker::DbusTransport::send", L"A %ls for %ls could not be sent (%ls); dropped.",
                     WideFromUtf8(kMembers[message.kind]).c_str(), message.name.c_str(), Describe(r).c_str());
        return true;
    }

    // Reads header and strings of Message, Request and Reply; false for a malformed body.
    static bool ReadMessage(sd_bus_message* m, MessageHeader* header, std::wstring* name, std::wstring* sender,
                            std::wstring* userData) {
        const void* bytes = nullptr;
        size_t size = 0;
        if (sd_bus_message_read_array(m, 'y', &bytes, &size) < 0 || size != sizeof *header) return false;
        std::memcpy(header, bytes, sizeof *header);
        const char* n = nullptr;
        const char* s = nullptr;
        const char* u = nullptr;
        if (sd_bus_message_read(m, "sss", &n, &s, &u) < 0) return false;
        *name = WideFromUtf8(n);
        *sender = WideFromUtf8(s);
        *userData = WideFromUtf8(u);
        return !name->empty() && name->size() <= kMaxNameLength;
    }

    static int OnSignal(sd_bus_message* m, void* self, sd_bus_error*) {
        try {
            static_cast<Link*>(self)->received(m);
        } catch (...) {
            GP_LOG_ERROR(kSource, L"BusBroker::DbusTransport::received", L"A message from the bus was dropped.");
        }
        return 0;
    }

    void received(sd_bus_message* m) {
        const char* from = sd_bus_message_get_sender(m);
        const char* member = sd_bus_message_get_member(m);
        if (from == nullptr || member == nullptr || self_ == from) return;
        const std::string_view kind(member);
        if (kind == "Hello") {
            std::lock_guard lock(mutex_);
            announceLocked();  // wakes this very thread's next wait
            return;
        }
        if (kind == "Subscriptions") return receivedSubscriptions(from, m);
        MessageHeader header{};
        std::wstring name, sender, userData;
        if (!ReadMessage(m, &header, &name, &sender, &userData)) {
            GP_LOG_WARNING(kSource, L"BusBroker::DbusTransport::received", L"Malformed %ls from %ls dropped.",
                           WideFromUtf8(member).c_str(), WideFromUtf8(from).c_str());
            return;
        }
        const uint32_t session = header.senderSession;
        if (kind == "Message") {
            header.flags &= ~FLAG_REPLY;
            broker_->publishForeign(session, inject_, &header, name.c_str(), sender.c_str(), userData.c_str());
        } else if (kind == "Reply") {
            const char* to = sd_bus_message_get_destination(m);
            if (to == nullptr || self_ != to) return;  // replies are addressed; a broadcast one is not ours
            header.flags |= FLAG_REPLY;
            broker_->publishForeign(session, inject_, &header, name.c_str(), sender.c_str(), userData.c_str());
        } else if (kind == "Request") {
            uint32_t timeoutMs = 0;
            if (sd_bus_message_read(m, "u", &timeoutMs) < 0 || !ownMatches(name)) return;
            uint64_t index = 0;
            {
                std::lock_guard lock(mutex_);
                index = nextForeign_++;
                foreign_[index] = {from, header.replyInfo};
            }
            const ModuleStatus status =
                broker_->requestForeign(session, inject_, index, this, &Link::OnForeignReply, &header, name.c_str(),
                                        sender.c_str(), userData.c_str(), timeoutMs);
            if (status != MODULE_STATUS_SUCCESS) {
                std::lock_guard lock(mutex_);
                foreign_.erase(index);
            }
        }
    }

    void receivedSubscriptions(const char* from, sd_bus_message* m) {
        std::vector<Entry> entries;
        if (sd_bus_message_enter_container(m, 'a', "(bs)") < 0) return;
        int isPattern = 0;
        const char* text = nullptr;
        while (sd_bus_message_read(m, "(bs)", &isPattern, &text) > 0) {
            if (std::optional<Entry> entry = Entry::Make(isPattern != 0, WideFromUtf8(text))) {
                entries.push_back(std::move(*entry));
            }
        }
        std::lock_guard lock(mutex_);
        peers_[from] = std::move(entries);
    }

    static int OnOwnerChanged(sd_bus_message* m, void* self, sd_bus_error*) {
        const char* name = nullptr;
        const char* oldOwner = nullptr;
        const char* newOwner = nullptr;
        if (sd_bus_message_read(m, "sss", &name, &oldOwner, &newOwner) < 0) return 0;
        if (newOwner != nullptr && *newOwner == '\0' && name != nullptr) {
            auto* link = static_cast<Link*>(self);
            std::lock_guard lock(link->mutex_);
            link->peers_.erase(name);  // a vanished peer's subscriptions go with it
        }
        return 0;
    }

    // A local responder answered a request from another process, or it timed out here.
    static uint32_t OnForeignReply(void* self, uint64_t index, const MessageHeader* header, const wchar_t* name,
                               const wchar_t* sender, const wchar_t* userData, ModuleStatus status) {
        auto* link = static_cast<Link*>(self);
        ForeignRequest request;
        {
            std::lock_guard lock(link->mutex_);
            auto found = link->foreign_.find(index);
            if (found == link->foreign_.end()) return 0;
            request = std::move(found->second);
            link->foreign_.erase(found);
        }
        if (status != MODULE_STATUS_SUCCESS) return 0;  // the requester times out on its own
        Outgoing reply;
        reply.kind = Outgoing::Reply;
        reply.header = *header;
        reply.header.replyInfo = request.replyInfo;
        reply.header.flags |= FLAG_REPLY;
        reply.name = name;
        reply.sender = sender;
        reply.userData = userData;
        reply.destination = std::move(request.requester);
        link->queue(std::move(reply));
        return 0;
    }

    const DbusOptions options_;
    sd_bus* bus_ = nullptr;
    std::string self_;
    glimmerpane::platform::DescriptorWait waiter_;
    Broker* broker_ = nullptr;
    void* inject_ = nullptr;
    std::thread thread_;
    std::atomic<bool> lost_{false};

    std::mutex mutex_;
    bool stopping_ = false;
    bool announce_ = false;
    std::deque<Outgoing> outgoing_;
    std::map<uint32_t, std::pair<void*, Entry>> own_;
    std::map<std::string, std::vector<Entry>> peers_;
    std::map<uint64_t, ForeignRequest> foreign_;
    uint64_t nextForeign_ = 1;
};

class DbusTransport : public Transport {
public:
    DbusTransport(std::shared_ptr<Link> link, std::shared_ptr<SessionSource> session, BrokerOptions options)
        : link_(std::move(link)) {
        options.tap = link_;
        broker_ = std::make_unique<Broker>(std::move(session), options);
        link_->start(broker_.get());
    }

    ~DbusTransport() override {
        link_->stop();  // nothing arrives from the bus any more
        broker_.reset();
    }

    Broker& broker() override { return *broker_; }
    ModuleStatus admit(const wchar_t* name, const wchar_t* sender, const wchar_t* userData) override {
        return link_->admit(name, sender, userData);
    }
    void subscribed(void* handle, uint32_t id, bool isPattern, const wchar_t* text) override {
        link_->subscribed(handle, id, isPattern, text);
    }
    void unsubscribed(void* handle, uint32_t id) override { link_->unsubscribed(handle, id); }
    void closed(void* handle) override { link_->closed(handle); }

private:
    std::shared_ptr<Link> link_;
    std::unique_ptr<Broker> broker_;
};

}  // namespace

std::unique_ptr<Transport> ConnectDbus(const DbusOptions& options, std::shared_ptr<SessionSource> session,
                                       BrokerOptions brokerOptions, std::string* error) {
    auto link = std::make_shared<Link>(options);
    if (!link->connect(error)) return nullptr;
    return std::make_unique<DbusTransport>(std::move(link), std::move(session), std::move(brokerOptions));
}

}  // namespace BusBroker
