// ProcessBroker.h - the process's broker as the function table sees it: the in-process
// Broker alone, or the Broker of a transport to other processes (GLIMMERPANE_BUS).
//
// Chosen once, when the table is first used. A bus that cannot be reached leaves an
// unavailable broker: every call that would deliver or open returns
// MODULE_STATUS_APP_SERVICE_UNAVAILABLE (the failure is logged once), and no message
// silently stays inside the process.
#pragma once

#include <memory>

#include "Broker.h"
#include "Transport.h"

namespace BusBroker {

class ProcessBroker {
public:
    // Reads GLIMMERPANE_BUS.
    static std::unique_ptr<ProcessBroker> FromEnvironment();
    explicit ProcessBroker(std::unique_ptr<Broker> local);
    explicit ProcessBroker(std::unique_ptr<Transport> transport);
    // No broker at all: the bus named could not be reached.
    ProcessBroker() = default;

    ModuleStatus open(void** handle);
    ModuleStatus close(void* handle);
    ModuleStatus publish(void* handle, const MessageHeader* header, const wchar_t* name, const wchar_t* sender,
                         const wchar_t* userData);
    ModuleStatus request(void* handle, uint64_t replyIndex, void* context, BusReplyCallback callback,
                         const MessageHeader* header, const wchar_t* name, const wchar_t* sender,
                         const wchar_t* userData, uint32_t timeoutMs);
    uint32_t subscribe(void* handle, void* context, BusMessageCallback callback, const wchar_t* name);
    uint32_t subscribeFilter(void* handle, void* context, BusMessageCallback callback, const wchar_t* pattern);
    ModuleStatus unsubscribe(void* handle, uint32_t subscriptionId);
    ModuleStatus releaseReplyCallback(void* handle, BusReplyCallback callback);
    size_t openHandleCount();

private:
    // What the transport says of a message before the broker takes it (e.g. too large to
    // carry); success without a transport.
    ModuleStatus admit(const MessageHeader* header, const wchar_t* name, const wchar_t* sender, const wchar_t* userData);
    Broker* broker() { return transport_ ? &transport_->broker() : local_.get(); }

    // At most one of them is set.
    std::unique_ptr<Broker> local_;
    std::unique_ptr<Transport> transport_;
};

}  // namespace BusBroker
