// MuiResourceLoader.cpp - finding the MUI runtime library and routing loads through it.
#include "platform/MuiResourceLoader.h"

#include <cstdlib>

#include "platform/DynamicLibrary.h"
#include "base/Utf.h"

namespace glimmerpane::platform {

namespace {
#ifdef _WIN32
constexpr wchar_t kSeparator[] = L"\\";
#else
constexpr wchar_t kSeparator[] = L"/";
#endif
}  // namespace

std::vector<std::wstring> MuiResourceLoader::DefaultCandidates() {
    const std::wstring fileName = LibraryFileName(L"CvRtMui");
    std::vector<std::wstring> candidates;
    if (const char* common = std::getenv("CommonProgramFiles"); common != nullptr && *common != '\0') {
        candidates.push_back(glimmerpane::base::WideFromUtf8(common) + kSeparator + L"Corvane" + kSeparator + L"Platform" +
                             kSeparator + fileName);
    }
    candidates.push_back(fileName);
    return candidates;
}

MuiResourceLoader& MuiResourceLoader::process() {
    static MuiResourceLoader loader(DefaultCandidates());
    return loader;
}

MuiResourceLoader::MuiResourceLoader(const std::vector<std::wstring>& candidates) {
    for (const std::wstring& candidate : candidates) {
        uint32_t error = 0;
        void* library = LoadSharedLibrary(candidate, &error);
        if (library == nullptr) continue;
        auto loadLibrary = reinterpret_cast<LoadLibraryFunction>(FindSymbol(library, "RtMUILoadLibrary", &error));
        auto loadString = reinterpret_cast<LoadStringFunction>(FindSymbol(library, "RtMUILoadString", &error));
        if (loadLibrary == nullptr || loadString == nullptr) {
            // A library of that name without the functions is not the runtime.
            UnloadSharedLibrary(library);
            continue;
        }
        runtime_ = library;
        runtimePath_ = candidate;
        loadLibrary_ = loadLibrary;
        loadString_ = loadString;
        return;
    }
}

MuiResourceLoader::~MuiResourceLoader() {
    if (runtime_ != nullptr) UnloadSharedLibrary(runtime_);
}

ModuleHandle MuiResourceLoader::loadLibrary(const std::wstring& path) const {
    if (loadLibrary_ == nullptr) return LoadResourceLibrary(path);
    ModuleHandle module = loadLibrary_(path.c_str(), 0);
#ifndef _WIN32
    // On Windows the runtime sets the thread's last error itself.
    SetLastErrorCode(module == nullptr ? kErrorModNotFound : kErrorSuccess);
#endif
    return module;
}

int MuiResourceLoader::loadString(ModuleHandle module, uint32_t id, wchar_t* buffer, int bufferMax) const {
    if (loadString_ == nullptr) return LoadResourceString(module, id, buffer, bufferMax);
    const int length = loadString_(module, id, buffer, bufferMax, 0);
#ifndef _WIN32
    SetLastErrorCode(length == 0 ? kErrorResourceNameNotFound : kErrorSuccess);
#endif
    return length;
}

}  // namespace glimmerpane::platform
