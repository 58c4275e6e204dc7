// ProcessBroker.cpp - the choice of the process's broker and the table's view of it.
#include "ProcessBroker.h"

#include <cstdlib>
#include <string>

#include "base/Utf.h"
#include "etwlogging/LogCall.h"
#include "module/ModuleStatus.h"

namespace BusBroker {

namespace {
using namespace Vornik;
constexpr const wchar_t* kSource = L"bus\\ProcessBroker";
}  // namespace

std::unique_ptr<ProcessBroker> ProcessBroker::FromEnvironment() {
    const char* variable = std::getenv(kBusVariable);
    if (variable == nullptr || *variable == '\0') return std::make_unique<ProcessBroker>(std::make_unique<Broker>());
#ifdef GP_HAVE_DBUS
    DbusOptions options;
    options.address = variable;
    std::string error;
    std::unique_ptr<Transport> transport = ConnectDbus(options, nullptr, BrokerOptions{}, &error);
    if (!transport) {
        GP_LOG_ERROR(kSource, L"BusBroker::ProcessBroker::FromEnvironment", L"No bus for GLIMMERPANE_BUS=%ls: %ls",
                     glimmerpane::base::WideFromUtf8(variable).c_str(),
                     glimmerpane::base::WideFromUtf8(error).c_str());
        return std::make_unique<ProcessBroker>();
    }
    return std::make_unique<ProcessBroker>(std::move(transport));
#else
    // Windows: the suite brings its own bus there.
    GP_LOG_WARNING(kSource, L"BusBroker::ProcessBroker::FromEnvironment",
                   L"GLIMMERPANE_BUS is set, but this build has no D-Bus transport: messages stay in this process.");
    return std::make_unique<ProcessBroker>(std::make_unique<Broker>());
#endif
}

ProcessBroker::ProcessBroker(std::unique_ptr<Broker> local) : local_(std::move(local)) {}

ProcessBroker::ProcessBroker(std::unique_ptr<Transport> transport) : transport_(std::move(transport)) {}

ModuleStatus ProcessBroker::open(void** handle) {
    Broker* b = broker();
    return b ? b->open(handle) : MODULE_STATUS_APP_SERVICE_UNAVAILABLE;
}

ModuleStatus ProcessBroker::close(void* handle) {
    Broker* b = broker();
    if (!b) return MODULE_STATUS_INVALID_HANDLE;
    const ModuleStatus status = b->close(handle);
    if (status == MODULE_STATUS_SUCCESS && transport_) transport_->closed(handle);
    return status;
}

ModuleStatus ProcessBroker::publish(void* handle, const MessageHeader* header, const wchar_t* name,
                                    const wchar_t* sender, const wchar_t* userData) {
    Broker* b = broker();
    if (!b) return MODULE_STATUS_APP_SERVICE_UNAVAILABLE;
    if (ModuleStatus status = admit(header, name, sender, userData); status != 0) return status;
    return b->publish(handle, header, name, sender, userData);
}

ModuleStatus ProcessBroker::request(void* handle, uint64_t replyIndex, void* context, BusReplyCallback callback,
                                    const MessageHeader* header, const wchar_t* name, const wchar_t* sender,
                                    const wchar_t* userData, uint32_t timeoutMs) {
    Broker* b = broker();
    if (!b) return MODULE_STATUS_APP_SERVICE_UNAVAILABLE;
    if (ModuleStatus status = admit(header, name, sender, userData); status != 0) return status;
    return b->request(handle, replyIndex, context, callback, header, name, sender, userData, timeoutMs);
}

ModuleStatus ProcessBroker::admit(const MessageHeader* header, const wchar_t* name, const wchar_t* sender,
                                  const wchar_t* userData) {
    // A call the broker refuses anyway (a missing argument) is left to it.
    if (!transport_ || !header || !name || !sender || !userData) return MODULE_STATUS_SUCCESS;
    return transport_->admit(name, sender, userData);
}

uint32_t ProcessBroker::subscribe(void* handle, void* context, BusMessageCallback callback, const wchar_t* name) {
    Broker* b = broker();
    if (!b) return 0;
    const uint32_t id = b->subscribe(handle, context, callback, name);
    if (id != 0 && transport_) transport_->subscribed(handle, id, false, name);
    return id;
}

uint32_t ProcessBroker::subscribeFilter(void* handle, void* context, BusMessageCallback callback,
                                        const wchar_t* pattern) {
    Broker* b = broker();
    if (!b) return 0;
    const uint32_t id = b->subscribeFilter(handle, context, callback, pattern);
    if (id != 0 && transport_) transport_->subscribed(handle, id, true, pattern);
    return id;
}

ModuleStatus ProcessBroker::unsubscribe(void* handle, uint32_t subscriptionId) {
    Broker* b = broker();
    if (!b) return MODULE_STATUS_INVALID_HANDLE;
    const ModuleStatus status = b->unsubscribe(handle, subscriptionId);
    if (status == MODULE_STATUS_SUCCESS && transport_) transport_->unsubscribed(handle, subscriptionId);
    return status;
}

ModuleStatus ProcessBroker::releaseReplyCallback(void* handle, BusReplyCallback callback) {
    Broker* b = broker();
    return b ? b->releaseReplyCallback(handle, callback) : MODULE_STATUS_INVALID_HANDLE;
}

size_t ProcessBroker::openHandleCount() {
    Broker* b = broker();
    if (!b) return 0;
    const size_t open = b->openHandleCount();
    return transport_ && open > 0 ? open - 1 : open;  // the transport publishes through a handle of its own
}

#ifndef GP_HAVE_DBUS
std::unique_ptr<Transport> ConnectDbus(const DbusOptions&, std::shared_ptr<SessionSource>, BrokerOptions,
                                       std::string* error) {
    *error = "this build has no D-Bus transport";
    return nullptr;
}
#endif

}  // namespace BusBroker
