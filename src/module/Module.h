// Module.h - the interface through which the entry functions drive a module.
//
// Every operation returns a ModuleStatus. The host calls them one at a time, in the
// order baseInitialize/initialize, start, stop, uninitialize (see ModuleFunctions.h).
#pragma once

#include <glimmerpane/abi.h>

#include <memory>
#include <string>
#include <unordered_map>

namespace Vornik {

class MessageBus;
namespace internal {
class ModuleManagerShim;
}

using ModuleProperties = std::unordered_map<std::wstring, std::wstring>;

class Module {
public:
    virtual ~Module() = default;
    virtual ModuleStatus initialize() = 0;
    virtual ModuleStatus start() = 0;
    virtual ModuleStatus stop() = 0;
    virtual ModuleStatus uninitialize() = 0;
    virtual ModuleStatus baseInitialize(const std::wstring& name, const std::wstring& secondName,
                                        const ModuleProperties& properties,
                                        std::shared_ptr<internal::ModuleManagerShim> moduleManager,
                                        std::shared_ptr<MessageBus> messageBus) = 0;
};

}  // namespace Vornik
