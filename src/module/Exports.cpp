// Exports.cpp - the four exported functions of the module library.
//
// These are the only symbols the library exports (the version script and hidden
// visibility keep everything else inside). This file is compiled into the shared
// library itself, not into the core library that the tests link.
#include <glimmerpane/abi.h>

#include "etwlogging/LogBuilder.h"
#include "module/ModuleFunctions.h"

namespace {

// The module library logs through the configured back ends (event tracing or rolling
// files). Offered when the library is loaded, before any entry can log; a host that chose
// a logger of its own keeps it.
const bool g_configuredLoggerOffered = [] {
    ETWLogging::SetDefaultLoggerBuilder(&ETWLogging::BuildConfiguredLogger);
    return true;
}();

}  // namespace

extern "C" {

GP_EXPORT void* CreateObject(uint32_t /*frameworkVersion*/) {
    return const_cast<ModuleFunctionTable*>(Vornik::GetModuleFunctionTable());
}

GP_EXPORT void ReleaseObject(void* /*object*/) {}

GP_EXPORT const char* GetVersionStr(void) { return Vornik::kModuleVersionString; }

GP_EXPORT uint32_t GetVersionNum(void) { return Vornik::kModuleVersionNumber; }

}  // extern "C"
