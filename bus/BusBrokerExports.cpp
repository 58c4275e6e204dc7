// BusBrokerExports.cpp - the four exported functions of the bus library.
//
// Compiled into BusBroker.so only; the version script (BusBroker.map, BusBroker.def on
// Windows) keeps every other symbol inside. The table is static and handles are closed
// through the table itself; ReleaseObject of the last table handed out (or of any, once
// no handle is open) shuts the broker down before the host unloads the library
// (BusFunctions.h).
#include <glimmerpane/abi.h>

#include "BusFunctions.h"
#include "DebugOutputLogger.h"

namespace {

// Offered when the library is loaded, before any call can log.
const bool g_debugOutputLoggerOffered = [] {
    ETWLogging::SetDefaultLoggerBuilder(&BusBroker::BuildDebugOutputLogger);
    return true;
}();

}  // namespace

extern "C" {

GP_EXPORT void* CreateObject(uint32_t frameworkVersion) {
    return const_cast<MessageBusFunctions*>(BusBroker::AcquireFunctionTable(frameworkVersion));
}

GP_EXPORT void ReleaseObject(void* object) {
    if (object == BusBroker::BusFunctionTable(BusBroker::kFirstSupportedVersion)) BusBroker::ReleaseFunctionTable(object);
}

GP_EXPORT const char* GetVersionStr(void) { return GP_BUS_VERSION_STRING; }

GP_EXPORT uint32_t GetVersionNum(void) { return GP_BUS_VERSION_NUMBER; }

}  // extern "C"
