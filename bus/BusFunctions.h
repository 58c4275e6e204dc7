// BusFunctions.h - the process's one broker behind the C function table.
//
// The table's functions forward to one Broker per process, created on the first
// `open`. Handles from any number of callers share it. The broker is shut down when
// the library is unloaded or the process exits (static destruction); calls made after
// that return MODULE_STATUS_INVALID_STATE (subscribe: 0) instead of touching freed state.
// Nothing thrown inside crosses the table: an allocation failure becomes
// MODULE_STATUS_NO_MEMORY, anything else MODULE_STATUS_UNKNOWN_EXCEPTION.
#pragma once

#include <glimmerpane/abi.h>

#include <cstdint>

namespace BusBroker {

// The table for a framework version 1.x (1000000..1999999), null for any other version.
const MessageBusFunctions* BusFunctionTable(uint32_t frameworkVersion);

// CreateObject: the same table, counted as one reference the host holds.
const MessageBusFunctions* AcquireFunctionTable(uint32_t frameworkVersion);

// ReleaseObject: one reference back. When it was the last one, or when no handle is open
// any more, the broker is shut down now (what is still open is withdrawn without calling
// anything, its threads are stopped and joined) and a later CreateObject starts a new one.
// Joining them here, in a call of the host, and not in the static destructor that runs
// inside the loader's unload (where Windows holds the loader lock that every exiting thread
// needs), is what lets FreeLibrary return.
void ReleaseFunctionTable(const void* table);

inline constexpr uint32_t kFirstSupportedVersion = 1000000;
inline constexpr uint32_t kLastSupportedVersion = 1999999;

}  // namespace BusBroker
