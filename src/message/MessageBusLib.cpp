// MessageBusLib.cpp - loading the bus library, opening and closing the module's own handle.
#include "message/MessageBusLib.h"

#include "dll/LibraryNames.h"
#include "etwlogging/LogCall.h"
#include "message/MessageBusShimImpl.h"
#include "module/GuardedCall.h"
#include "module/ModuleException.h"
#include "performance/PerfTimer.h"

namespace Vornik {

namespace {
constexpr const wchar_t* kSource = L"MessageBusLib";
constexpr uint32_t kFrameworkVersion = 1006000;
}  // namespace

const LibraryDescriptor& BusLibraryLocation() {
    static const LibraryDescriptor location{BusLibraryFileName(), {L"$(App.Folder)", L"$(Plinthos.InstallDir)"}};
    return location;
}

MessageBusLib::MessageBusLib(std::shared_ptr<SharedLibrary> library, std::shared_ptr<MessageBusShim> shim)
    : library_(std::move(library)), shim_(std::move(shim)) {
    internal::PerfTimer timer(L"MessageBusLib::MessageBusLib");
    const wchar_t* function = L"Vornik::MessageBusLib::MessageBusLib";
    if (!library_) library_ = std::make_shared<SharedLibrary>(BusLibraryLocation());
    const LibraryFunctions* exports = library_->getFunctions();
    functions_ = static_cast<const MessageBusFunctions*>(exports->createObject(kFrameworkVersion));
    if (functions_ == nullptr) {
        GP_LOG_ERROR(kSource, function, L"Failed to get message bus functions object. Throwing ModuleException.");
        throw ModuleException("Failed to get message bus functions object");
    }
    if (const ModuleStatus status = functions_->open(&handle_); status != MODULE_STATUS_SUCCESS) {
        GP_LOG_ERROR(kSource, function, L"Failed to get message bus handle. Error code: %ls(%lu). Throwing ModuleException.",
                     ModuleStatusName(status), static_cast<unsigned long>(status));
        handle_ = nullptr;
        exports->releaseObject(const_cast<MessageBusFunctions*>(functions_));
        throw ModuleException("Failed to get message bus handle");
    }
    if (!shim_) {
        try {
            shim_ = std::make_shared<MessageBusShimImpl>(handle_, functions_);
        } catch (...) {
            // The destructor does not run for a constructor that throws: give the handle back.
            if (handle_ != nullptr) functions_->close(handle_);
            exports->releaseObject(const_cast<MessageBusFunctions*>(functions_));
            throw;
        }
    }
}

MessageBusLib::~MessageBusLib() {
    // The handle is this object's alone: releasing its reply callback drops no one else's.
    guardedCall([this]() -> ModuleStatus {
        if (shim_) shim_->releaseReplyCallback();
        return MODULE_STATUS_SUCCESS;
    });
    shim_.reset();
    guardedCall([this]() -> ModuleStatus {
        if (const ModuleStatus status = functions_->close(handle_); status != MODULE_STATUS_SUCCESS) {
            GP_LOG_WARNING(kSource,
                           L"Vornik::MessageBusLib::{dtor}::<lambda_9cd4ebd1cf71f752ace5658f011f4d09>::operator ()",
                           L"Failed to release message bus. Error code %ls(%lu).", ModuleStatusName(status),
                           static_cast<unsigned long>(status));
        }
        library_->getFunctions()->releaseObject(const_cast<MessageBusFunctions*>(functions_));
        return MODULE_STATUS_SUCCESS;
    });
    library_.reset();
}

ModuleStatus MessageBusLib::publish(const std::shared_ptr<Message>& message) { return shim_->publish(message); }

ModuleStatus MessageBusLib::request(const std::shared_ptr<Message>& message, uint64_t replyIndex,
                                    void* replyRoute, uint32_t timeoutMs) {
    return shim_->request(message, replyIndex, replyRoute, timeoutMs);
}

void MessageBusLib::releaseReplyCallback() { shim_->releaseReplyCallback(); }

uint32_t MessageBusLib::subscribe(const std::wstring& name, void* context) { return shim_->subscribe(name, context); }

uint32_t MessageBusLib::subscribeFilter(const std::wstring& pattern, void* context) {
    return shim_->subscribeFilter(pattern, context);
}

void MessageBusLib::unsubscribe(uint32_t subscriptionId) { shim_->unsubscribe(subscriptionId); }

}  // namespace Vornik
