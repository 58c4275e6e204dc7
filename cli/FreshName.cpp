// FreshName.cpp - random names, created exclusively.
#include "FreshName.h"

#include <random>

#include "base/Utf.h"
#include "base/Win32Error.h"
#include "platform/FileSystem.h"

namespace glimmerpane::cli {

uint32_t CreateUnderFreshName(const std::string& before, const std::string& after,
                              const std::function<uint32_t(const std::string& name)>& create, std::string* name) {
    static std::random_device random;
    uint32_t code = base::kErrorFileExists;
    for (int attempt = 0; attempt < 100; ++attempt) {
        char hex[16];
        std::snprintf(hex, sizeof hex, "%08x", static_cast<unsigned>(random()));
        *name = before + hex + after;
        code = create(*name);
        if (code != base::kErrorFileExists && code != base::kErrorAlreadyExists) break;
    }
    return code;
}

bool CreateFreshTempFolder(const std::string& stem, std::filesystem::path* folder, std::string* error) {
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::path base = fs::temp_directory_path(ec);
    if (ec) {
        *error = "no temporary folder: " + ec.message();
        return false;
    }
    std::string name;
    const uint32_t code = CreateUnderFreshName((base / (stem + "-")).string(), "", [&](const std::string& candidate) {
        if (fs::create_directory(candidate, ec)) return base::kErrorSuccess;
        return ec ? base::kErrorCantWrite : base::kErrorAlreadyExists;
    }, &name);
    if (code == base::kErrorSuccess) {
        *folder = name;
        return true;
    }
    *error = code == base::kErrorAlreadyExists ? "cannot find a free folder name in " + base.string()
                                               : "cannot create a folder in " + base.string() + ": " + ec.message();
    return false;
}

FILE* CreateFreshFile(const std::string& before, const std::string& after, std::string* path, uint32_t* code) {
    FILE* file = nullptr;
    *code = CreateUnderFreshName(before, after, [&](const std::string& candidate) {
        uint32_t error = base::kErrorSuccess;
        file = platform::CreateNewFile(base::WideFromUtf8(candidate), &error);
        return file ? base::kErrorSuccess : error;
    }, path);
    return file;
}

std::string FileErrorReason(uint32_t win32) {
    switch (win32) {
    case base::kErrorFileNotFound:
    case base::kErrorPathNotFound: return "No such file or directory";
    case base::kErrorAccessDenied: return "Permission denied";
    case base::kErrorDiskFull: return "No space left on device";
    case base::kErrorFileExists:
    case base::kErrorAlreadyExists: return "File exists";
    default: return "system error " + std::to_string(win32);
    }
}

}  // namespace glimmerpane::cli
