// TempRegistry.cpp - temporary folders for tests (mkdtemp).
#include "TempRegistry.h"

#include <stdlib.h>

#include <stdexcept>

namespace gptest {

std::filesystem::path TempFolder::MakeTemp(std::string& pattern) {
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    return pattern;
}

}  // namespace gptest
