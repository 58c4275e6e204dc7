// ModuleFunctions.cpp - the eight entry functions of the module function table.
#include "module/ModuleFunctions.h"

#include "etwlogging/LogCall.h"
#include "message/MessageBusClient.h"
#include "message/MessageBusShimImpl.h"
#include "module/BaseModule.h"
#include "module/GuardedCall.h"
#include "module/ModuleException.h"
#include "module/ModuleFactory.h"
#include "module/ModuleHandle.h"
#include "module/ModuleStatus.h"

namespace Vornik {

namespace {

constexpr const wchar_t* kSource = L"ModuleFunctions";

// The module of a live handle, or null after logging "Invalid handle." for the entry.
Module* ModuleOf(::ModuleHandle handle, const wchar_t* entryName) {
    auto* object = static_cast<Vornik::ModuleHandle*>(handle);
    if (object == nullptr || object->module == nullptr) {
        GP_LOG_ERROR(kSource, entryName, L"Invalid handle.");
        return nullptr;
    }
    return object->module;
}

ModuleStatus NewModule(::ModuleHandle* handleAddress, const wchar_t* loggingGroup) {
    if (handleAddress == nullptr) {
        GP_LOG_ERROR(kSource, L"NewModule", L"Invalid handle address.");
        return MODULE_STATUS_INVALID_PARAMETER;
    }
    if (loggingGroup != nullptr && loggingGroup[0] != L'\0') {
        // Takes effect only if no record was written yet: the logger keeps the identity
        // it was built with. The host keeps the string alive for the library's life.
        ETWLogging::LoggerParameters& parameters = ETWLogging::CurrentLoggerParameters();
        parameters.groupName = loggingGroup;
        parameters.applicationName = nullptr;
        parameters.moduleHandle = nullptr;
        parameters.hostName = nullptr;
        parameters.mechanism = 0;
    }
    return guardedCall([&]() -> ModuleStatus {
        Module* module = nullptr;
        if (const ModuleStatus status = createModule(&module); status != MODULE_STATUS_SUCCESS) return status;
        auto* handle = new Vornik::ModuleHandle();
        handle->module = module;
        handle->deleter = [](Module* m) {
            if (m != nullptr) destroyModule(m);
        };
        *handleAddress = handle;
        return MODULE_STATUS_SUCCESS;
    });
}

ModuleStatus DestroyModule(::ModuleHandle handle) {
    if (handle == nullptr) {
        GP_LOG_ERROR(kSource, L"DestroyModule", L"Invalid handle.");
        return MODULE_STATUS_INVALID_PARAMETER;
    }
    auto* owned = static_cast<Vornik::ModuleHandle*>(handle);
    // A host that destroys a started module without stopping it would leave the worker
    // running while the object is torn down (its virtual calls would race the destructor).
    // The stop runs here, under its own guard, not in the deleter: the handle's destructor
    // cannot let a throw out without ending the process. A failed stop is logged by the
    // guard; the module is destroyed all the same and the failure returned.
    ModuleStatus stopped = MODULE_STATUS_SUCCESS;
    if (owned->module != nullptr) {
        stopped = guardedCall([&]() -> ModuleStatus {
            owned->module->stop();
            return MODULE_STATUS_SUCCESS;
        });
    }
    const ModuleStatus destroyed = guardedCall([&]() -> ModuleStatus {
        delete owned;
        return MODULE_STATUS_SUCCESS;
    });
    return stopped != MODULE_STATUS_SUCCESS ? stopped : destroyed;
}

// Builds the property map; a name already present keeps its first value.
ModuleProperties BuildProperties(uint32_t count, const wchar_t* const* names, const wchar_t* const* values) {
    ModuleProperties properties;
    for (uint32_t i = 0; i < count; ++i) {
        properties.emplace(names[i] ? names[i] : L"", values[i] ? values[i] : L"");
    }
    return properties;
}

// The bus client of InitializeModule: the module loads the bus library itself.
std::shared_ptr<MessageBus> CreateLibraryBusClient() { return std::make_shared<MessageBusClient>(); }

// Base initialisation followed by the module's own initialize. makeBus creates the bus
// client and throws ModuleException when it cannot.
template <class MakeBus>
ModuleStatus InitializeWithBus(Module* module, const wchar_t* name, const wchar_t* secondName, uint32_t propertyCount,
                               const wchar_t* const* propertyNames, const wchar_t* const* propertyValues,
                               void* managerContext, ModuleManagerFunction managerFunction, MakeBus makeBus,
                               const wchar_t* failureFunction) {
    if (dynamic_cast<BaseModule*>(module) == nullptr) return module->initialize();
    if (propertyCount > 0 && (propertyNames == nullptr || propertyValues == nullptr)) {
        GP_LOG_ERROR(kSource, failureFunction, L"Invalid property arrays for %lu properties.",
                     static_cast<unsigned long>(propertyCount));
        return MODULE_STATUS_INVALID_PARAMETER;
    }
    ModuleProperties properties = BuildProperties(propertyCount, propertyNames, propertyValues);
    auto manager = std::make_shared<internal::ModuleManagerShim>(managerContext, managerFunction);
    std::shared_ptr<MessageBus> bus = makeBus();
    const ModuleStatus status = module->baseInitialize(name ? name : L"", secondName ? secondName : L"", properties,
                                                       std::move(manager), std::move(bus));
    if (status != MODULE_STATUS_SUCCESS) {
        GP_LOG_ERROR(kSource, failureFunction, L"Failed to initialize base module. Error code %lu.",
                     static_cast<unsigned long>(status));
        return status;
    }
    return module->initialize();
}

ModuleStatus InitializeModule(::ModuleHandle handle, const wchar_t* name, const wchar_t* secondName,
                              uint32_t propertyCount, const wchar_t* const* propertyNames,
                              const wchar_t* const* propertyValues, void* managerContext,
                              ModuleManagerFunction managerFunction) {
    Module* module = ModuleOf(handle, L"InitializeModule");
    if (module == nullptr) return MODULE_STATUS_INVALID_PARAMETER;
    return guardedCall([&]() -> ModuleStatus {
        return InitializeWithBus(module, name, secondName, propertyCount, propertyNames, propertyValues,
                                 managerContext, managerFunction, CreateLibraryBusClient,
                                 L"InitializeModule::<lambda_58abad8c3f75145226833dd201090ca5>::operator ()");
    });
}

ModuleStatus InitializeModuleV2(::ModuleHandle handle, const wchar_t* name, const wchar_t* secondName,
                                uint32_t propertyCount, const wchar_t* const* propertyNames,
                                const wchar_t* const* propertyValues, void* managerContext,
                                ModuleManagerFunction managerFunction, void* busHandle,
                                const MessageBusFunctions* busFunctions) {
    Module* module = ModuleOf(handle, L"InitializeModuleV2");
    if (module == nullptr) return MODULE_STATUS_INVALID_PARAMETER;
    return guardedCall([&]() -> ModuleStatus {
        auto makeHostBus = [&]() -> std::shared_ptr<MessageBus> {
            auto shim = std::make_shared<MessageBusShimImpl>(busHandle, busFunctions);
            return std::make_shared<MessageBusClient>(std::move(shim), nullptr);
        };
        return InitializeWithBus(module, name, secondName, propertyCount, propertyNames, propertyValues,
                                 managerContext, managerFunction, makeHostBus,
                                 L"InitializeModuleV2::<lambda_96daee33e89e92ae57e475e1503d7a7b>::operator ()");
    });
}

ModuleStatus StartModule(::ModuleHandle handle) {
    Module* module = ModuleOf(handle, L"StartModule");
    if (module == nullptr) return MODULE_STATUS_INVALID_PARAMETER;
    return guardedCall([&]() -> ModuleStatus { return module->start(); });
}

ModuleStatus StopModule(::ModuleHandle handle) {
    Module* module = ModuleOf(handle, L"StopModule");
    if (module == nullptr) return MODULE_STATUS_INVALID_PARAMETER;
    return guardedCall([&]() -> ModuleStatus { return module->stop(); });
}

ModuleStatus UninitializeModule(::ModuleHandle handle) {
    Module* module = ModuleOf(handle, L"UninitializeModule");
    if (module == nullptr) return MODULE_STATUS_INVALID_PARAMETER;
    return guardedCall([&]() -> ModuleStatus { return module->uninitialize(); });
}

ModuleStatus DirectMessage(::ModuleHandle handle, const MessageHeader* header, const wchar_t* name,
                           const wchar_t* sender, const wchar_t* userData) {
    Module* module = ModuleOf(handle, L"DirectMessage");
    if (module == nullptr) return MODULE_STATUS_INVALID_PARAMETER;
    return guardedCall([&]() -> ModuleStatus {
        auto message = std::make_shared<Message>(name, sender, userData);
        message->copyHeader(header);
        if (auto* base = dynamic_cast<BaseModule*>(module)) return base->directMessage(std::move(message));
        return MODULE_STATUS_SUCCESS;
    });
}

// The order of the members is the contract with the host.
constexpr ModuleFunctionTable kModuleFunctionTable = {
    NewModule,  DestroyModule, InitializeModule, StartModule,
    StopModule, UninitializeModule, DirectMessage, InitializeModuleV2,
};

}  // namespace

const ModuleFunctionTable* GetModuleFunctionTable() { return &kModuleFunctionTable; }

}  // namespace Vornik
