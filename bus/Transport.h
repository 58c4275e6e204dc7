// Transport.h - what carries the process's messages to other processes.
//
// A transport owns the process's broker and is its MessageTap: the broker hands it every
// message published here, and it publishes what arrives from other processes into the broker
// (Broker::publishForeign), so delivery, order and withdrawal stay the broker's. The table
// tells it before each publish and request (admit) and about every change of this process's
// subscriptions, which it announces to the other processes.
#pragma once

#include <glimmerpane/abi.h>

#include <cstdint>
#include <memory>
#include <string>

#include "Broker.h"

namespace BusBroker {

class Transport {
public:
    virtual ~Transport() = default;
    virtual Broker& broker() = 0;
    // 0, or the status a publish or request of this message gets without being delivered
    // anywhere: MODULE_STATUS_APP_SERVICE_UNAVAILABLE once the bus is gone,
    // MODULE_STATUS_INVALID_BUFFER_SIZE for a message larger than the bus carries.
    virtual ModuleStatus admit(const wchar_t* name, const wchar_t* sender, const wchar_t* userData) = 0;
    virtual void subscribed(void* handle, uint32_t id, bool isPattern, const wchar_t* text) = 0;
    virtual void unsubscribed(void* handle, uint32_t id) = 0;
    virtual void closed(void* handle) = 0;
};

// The variable that names the bus: unset or empty for the in-process broker alone,
// "session" for the user's session bus, anything else a D-Bus address.
inline constexpr const char* kBusVariable = "GLIMMERPANE_BUS";

struct DbusOptions {
    std::string address;  // "session" or a D-Bus address
    // The largest message (its totalSize) the transport carries; the daemon's default limit
    // is far above it, so a larger one is refused here instead of costing the connection.
    uint64_t maxMessageSize = 64u << 20;
};

// Connects to the bus; null with *error set when that fails, and always null in a build
// without the D-Bus transport (Windows), with *error saying so.
// An empty session source selects the platform's.
std::unique_ptr<Transport> ConnectDbus(const DbusOptions& options, std::shared_ptr<SessionSource> session,
                                       BrokerOptions brokerOptions, std::string* error);

}  // namespace BusBroker
