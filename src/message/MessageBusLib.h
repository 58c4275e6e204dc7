// MessageBusLib.h - the bus shim of a module that loads the bus library itself.
//
// It loads "BusBroker" (platform file name) from "$(App.Folder)" or "$(Plinthos.InstallDir)"
// through SharedLibrary, takes the library's MessageBusFunctions from CreateObject(1006000),
// opens a handle of its own and forwards the shim operations to a MessageBusShimImpl over
// that handle. Construction throws ModuleException when the library cannot be loaded, has
// no function table ("Failed to get message bus functions object") or refuses a handle
// ("Failed to get message bus handle"); whatever it had obtained is given back first.
//
// Destruction, in this order: the inner shim is released (which withdraws the reply
// callback), the handle is closed, the function table is handed back through
// ReleaseObject, and the library is released (which unloads it). Callable from several
// threads at once, like the shim it forwards to.
#pragma once

#include <memory>

#include "dll/SharedLibrary.h"
#include "message/MessageBusShim.h"

namespace Vornik {

// The bus library's file name and search folders.
const LibraryDescriptor& BusLibraryLocation();

class MessageBusLib : public MessageBusShim {
public:
    // Both may be empty: a SharedLibrary for BusLibraryLocation() and a MessageBusShimImpl
    // over the opened handle are made.
    explicit MessageBusLib(std::shared_ptr<SharedLibrary> library = nullptr,
                           std::shared_ptr<MessageBusShim> shim = nullptr);
    ~MessageBusLib() override;

    MessageBusLib(const MessageBusLib&) = delete;
    MessageBusLib& operator=(const MessageBusLib&) = delete;

    ModuleStatus publish(const std::shared_ptr<Message>& message) override;
    ModuleStatus request(const std::shared_ptr<Message>& message, uint64_t replyIndex, void* replyRoute,
                         uint32_t timeoutMs) override;
    void releaseReplyCallback() override;
    uint32_t subscribe(const std::wstring& name, void* context) override;
    uint32_t subscribeFilter(const std::wstring& pattern, void* context) override;
    void unsubscribe(uint32_t subscriptionId) override;

private:
    std::shared_ptr<SharedLibrary> library_;
    std::shared_ptr<MessageBusShim> shim_;
    void* handle_ = nullptr;
    const MessageBusFunctions* functions_ = nullptr;
};

}  // namespace Vornik
