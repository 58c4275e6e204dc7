// ModuleException.h - what constructors throw when they cannot work.
//
// It is never caught by its own type: it travels to the nearest catch-all, the entry
// boundary (guardedCall), which turns it into MODULE_STATUS_UNKNOWN_EXCEPTION, or
// createModule, which answers MODULE_STATUS_UNSUCCESSFUL. Every throw is preceded by a
// log record at severity Error whose text ends in "Throwing ModuleException.".
#pragma once

#include <stdexcept>
#include <string>

namespace Vornik {

class ModuleException : public std::runtime_error {
public:
    explicit ModuleException(const std::string& text) : std::runtime_error(text) {}
    explicit ModuleException(const char* text) : std::runtime_error(text) {}
};

}  // namespace Vornik
