// CaseFold.cpp - comparing names without regard to case.
#include "base/CaseFold.h"

#include <cwctype>
#include <string>

namespace glimmerpane::base {

namespace {

wchar_t Lower(wchar_t c) { return static_cast<wchar_t>(std::towlower(static_cast<wint_t>(c))); }

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

bool EqualsIgnoreCase(std::wstring_view a, std::wstring_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (Lower(a[i]) != Lower(b[i])) return false;
    }
    return true;
}

bool EqualsIgnoreAsciiCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
    }
    return true;
}

std::wstring ToLowerCase(std::wstring_view text) {
    std::wstring lower(text);
    for (wchar_t& c : lower) c = Lower(c);
    return lower;
}

}  // namespace glimmerpane::base
