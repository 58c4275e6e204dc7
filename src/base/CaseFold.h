// CaseFold.h - comparing names without regard to case.
//
// Wide names (configuration keys, version-resource paths) fold with towlower, which follows
// the C library's character tables; narrow names (language tags, locale names) fold ASCII only.
#pragma once

#include <string_view>

namespace glimmerpane::base {

bool EqualsIgnoreCase(std::wstring_view a, std::wstring_view b);
bool EqualsIgnoreAsciiCase(std::string_view a, std::string_view b);

// A lower-case copy (towlower per character).
std::wstring ToLowerCase(std::wstring_view text);

}  // namespace glimmerpane::base
