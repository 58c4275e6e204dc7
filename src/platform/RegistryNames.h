// RegistryNames.h - the Win32 registry's rules for key and value names, shared by every
// store that stands in for it (the LMDB store, the tests' in-memory store).
//
// Names compare without regard to case the way Windows compares them: each UTF-16 unit
// upper-cased with a fixed table, never the process locale, so that every process agrees.
// Portable code.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace glimmerpane::platform {

inline constexpr size_t kMaxKeyNameLength = 255;      // one component of a key path
inline constexpr size_t kMaxValueNameLength = 16383;

// The upper-case form Windows compares by (ASCII, Latin-1, Latin Extended-A, Greek, Cyrillic:
// the part of its table that names use in practice).
wchar_t FoldRegistryChar(wchar_t c);
std::wstring FoldRegistryName(std::wstring_view name);
// The same folded name as UTF-8 bytes; ASCII names take a short path.
std::string FoldRegistryNameUtf8(std::wstring_view name);

// Access rights with the generic ones (GENERIC_READ, ..., MAXIMUM_ALLOWED) mapped to key rights.
uint32_t NormalizeRegistryAccess(uint32_t access);

// Splits a relative key path into its components: one trailing "\" is tolerated, an empty
// component is kErrorBadPathname, one above kMaxKeyNameLength kErrorInvalidParameter. (A
// leading "\" is the caller's to refuse: stores differ in where they look at it.)
uint32_t SplitRegistryPath(std::wstring_view path, std::vector<std::wstring>* parts);

// A name's length as the registry counts it: UTF-16 units.
uint32_t RegistryNameUnits(std::wstring_view name);

}  // namespace glimmerpane::platform
