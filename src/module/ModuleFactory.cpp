// ModuleFactory.cpp - creates and destroys the module object of this library.
#include "module/ModuleFactory.h"

#include <cstring>
#include <new>

#include "etwlogging/LogCall.h"
#include "module/ModuleStatus.h"
#include "tiles/GlimmerpaneImpl.h"

namespace Vornik {

ModuleStatus createModule(Module** address) {
    if (address == nullptr) {
        // The text is the one operators search the logs for; its spelling is kept.
        GP_LOG_ERROR(L"Glimmerpane", L"Vornik::createModule",
                     L"Faield to create Glimmerpane Module, invalid paramater");
        return MODULE_STATUS_INVALID_PARAMETER;
    }
    Module* module = nullptr;
    void* storage = nullptr;
    try {
        storage = ::operator new(sizeof(GlimmerpaneImpl));
        std::memset(storage, 0, sizeof(GlimmerpaneImpl));
        module = new (storage) GlimmerpaneImpl(nullptr, nullptr, nullptr);
    } catch (...) {
        ::operator delete(storage);
        GP_LOG_ERROR(L"Glimmerpane", L"Vornik::createModule", L"Failed to create Glimmerpane Module");
        return MODULE_STATUS_UNSUCCESSFUL;
    }
    *address = module;
    GP_LOG_NORMAL(L"Glimmerpane", L"Vornik::createModule", L"Successfully created Glimmerpane Module");
    return MODULE_STATUS_SUCCESS;
}

void destroyModule(Module* module) {
    // DestroyModule has stopped the module already, under the guard.
    delete module;
    GP_LOG_NORMAL(L"Glimmerpane", L"Vornik::destroyModule", L"Glimmerpane Module destroyed");
}

}  // namespace Vornik
