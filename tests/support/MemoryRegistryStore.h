// MemoryRegistryStore.h - a registry store held in memory, for tests that need no LMDB.
//
// Keeps the RegistryStore contract (platform/Registry.h) the way the POSIX store does, and
// runs its contract suite (tests/platform/RegistryStoreTest.cpp): names compare
// case-insensitively and keep the spelling they were created with, values are exact bytes
// with their type, subkeys and values enumerate in case-insensitive name order, and key
// security, change notification and volatile keys answer kErrorNotSupported.
//
// Each store is a registry of its own, empty when made and gone with its last reference;
// nothing reaches the disk. Safe to use from several threads (one lock around everything).
// Where it differs from the POSIX store:
// - names fold ASCII and Latin-1 letters only, which covers the names tests use;
// - a handle stays bound to the key it opened: once that key is deleted, the handle answers
//   kErrorKeyDeleted even after a key of the same name is created again (as on Windows).
#pragma once

#include <memory>

#include "platform/Registry.h"

namespace gptest {

std::shared_ptr<glimmerpane::platform::RegistryStore> MakeMemoryRegistryStore();

}  // namespace gptest
