// ModuleFunctions.cpp - the eight entry functions of the module function table.
#include "module/ModuleFunctions.h"

#include "etwlogging/LogCall.h"
#include "module/GuardedCall.h"
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
    return guardedCall([&]() -> ModuleStatus {
        delete static_cast<Vornik::ModuleHandle*>(handle);
        return MODULE_STATUS_SUCCESS;
    });
}

ModuleStatus InitializeModule(::ModuleHandle handle, const wchar_t* /*name*/, const wchar_t* /*secondName*/,
                              uint32_t /*propertyCount*/, const wchar_t* const* /*propertyNames*/,
                              const wchar_t* const* /*propertyValues*/, void* /*managerContext*/,
                              ModuleManagerFunction /*managerFunction*/) {
    Module* module = ModuleOf(handle, L"InitializeModule");
    if (module == nullptr) return MODULE_STATUS_INVALID_PARAMETER;
    return guardedCall([&]() -> ModuleStatus { return module->initialize(); });
}

ModuleStatus InitializeModuleV2(::ModuleHandle handle, const wchar_t* /*name*/, const wchar_t* /*secondName*/,
                                uint32_t /*propertyCount*/, const wchar_t* const* /*propertyNames*/,
                                const wchar_t* const* /*propertyValues*/, void* /*managerContext*/,
                                ModuleManagerFunction /*managerFunction*/, void* /*busHandle*/,
                                const MessageBusFunctions* /*busFunctions*/) {
    Module* module = ModuleOf(handle, L"InitializeModuleV2");
    if (module == nullptr) return MODULE_STATUS_INVALID_PARAMETER;
    return guardedCall([&]() -> ModuleStatus { return module->initialize(); });
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

ModuleStatus DirectMessage(::ModuleHandle handle, const MessageHeader* /*header*/, const wchar_t* /*name*/,
                           const wchar_t* /*sender*/, const wchar_t* /*userData*/) {
    Module* module = ModuleOf(handle, L"DirectMessage");
    if (module == nullptr) return MODULE_STATUS_INVALID_PARAMETER;
    return guardedCall([&]() -> ModuleStatus { return MODULE_STATUS_SUCCESS; });
}

// The order of the members is the contract with the host.
constexpr ModuleFunctionTable kModuleFunctionTable = {
    NewModule,  DestroyModule, InitializeModule, StartModule,
    StopModule, UninitializeModule, DirectMessage, InitializeModuleV2,
};

}  // namespace

const ModuleFunctionTable* GetModuleFunctionTable() { return &kModuleFunctionTable; }

}  // namespace Vornik
