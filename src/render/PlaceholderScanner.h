// PlaceholderScanner.h - finds the placeholders of tile templates.
//
// A placeholder is a percent sign, one or more characters other than a percent sign, and a
// percent sign: the ECMAScript pattern "\%([^%]+)\%". findPlaceholder returns the leftmost
// match exactly as std::regex_search with that pattern would, without building a regex
// (about fifty times cheaper per template; see docs/performance.md).
#pragma once

#include <cstddef>
#include <string_view>

namespace Vornik {

struct PlaceholderMatch {
    size_t position = 0;  // of the opening percent sign
    size_t length = 0;    // both percent signs included; 0 when nothing matched
    bool found() const { return length != 0; }
};

PlaceholderMatch findPlaceholder(std::wstring_view text, size_t from = 0);

}  // namespace Vornik
