// TempRegistry.cpp - temporary folders for tests: a random name, created atomically
// (create_directory fails on a name that exists, so two tests never share a folder).
#include "TempRegistry.h"

#include <random>
#include <stdexcept>

namespace gptest {

std::filesystem::path TempFolder::MakeTemp(std::string& pattern) {
    static std::mt19937_64 random{std::random_device{}()};
    static const char kDigits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
    const size_t marker = pattern.rfind("XXXXXX");
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string name = pattern;
        for (size_t i = 0; i < 6; ++i) name[marker + i] = kDigits[random() % 36];
        std::error_code error;
        if (std::filesystem::create_directory(name, error)) return name;
        if (error) throw std::runtime_error("cannot create a temporary folder: " + error.message());
    }
    throw std::runtime_error("no free temporary folder name");
}

}  // namespace gptest
