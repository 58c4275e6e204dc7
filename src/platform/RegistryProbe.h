// RegistryProbe.h - a raw point read of the registry store's engine, for benchmarks only.
//
// It measures the floor under every registry read: one read transaction and one lookup of
// an already-built engine key, with no handles, no name folding and no copying. POSIX: an
// LMDB read in the same environment the store uses. Windows: kErrorNotSupported.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/Registry.h"

namespace glimmerpane::platform {

// The engine's key of a value (POSIX: folded "HIVE\PATH" \0 "NAME"). root is a hive root.
std::string RegistryEngineKey(RegKeyHandle root, std::wstring_view keyPath, std::wstring_view valueName);

// Looks the engine key up in the store of folder; *size gets the record's size.
uint32_t RegistryEngineRead(const std::wstring& folder, const std::string& engineKey, uint32_t* size);

}  // namespace glimmerpane::platform
