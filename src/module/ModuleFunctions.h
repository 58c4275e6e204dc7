// ModuleFunctions.h - the module's function table and the version it reports.
//
// The host reaches the module only through the four exports (Exports.cpp), one of which
// hands out this table. Every entry that takes a handle refuses a null handle (and, all
// but DestroyModule, a handle without module) with MODULE_STATUS_INVALID_PARAMETER and
// runs its body under guardedCall.
#pragma once

#include <glimmerpane/abi.h>

namespace Vornik {

inline constexpr const char* kModuleVersionString = "1.6.0";
inline constexpr uint32_t kModuleVersionNumber = 1006000;  // major * 1e6 + minor * 1e3 + patch

// The static, read-only table, always the same pointer.
const ModuleFunctionTable* GetModuleFunctionTable();

}  // namespace Vornik
