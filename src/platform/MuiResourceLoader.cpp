// MuiResourceLoader.cpp - finding the MUI runtime library and routing loads through it.
#include "platform/MuiResourceLoader.h"

#include <cstdlib>

#include "platform/DynamicLibrary.h"
#include "platform/TrustCheck.h"
#include "base/Utf.h"

namespace glimmerpane::platform {

namespace {
#ifdef _WIN32
constexpr wchar_t kSeparator[] = L"\\";
constexpr wchar_t kSeparators[] = L"\\/";
#else
constexpr wchar_t kSeparator[] = L"/";
constexpr wchar_t kSeparators[] = L"/";
#endif

// A file is mapped only after the trust check. A bare name would be mapped from wherever
// the loader's search finds it, so it stands only for a copy that is loaded already.
LibraryHandle OpenRuntime(const std::wstring& candidate, uint32_t* error) {
    if (candidate.find_first_of(kSeparators) == std::wstring::npos) return FindLoadedLibrary(candidate, error);
    return LoadTrustedLibrary(candidate, error);
}
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
        void* library = OpenRuntime(candidate, &error);
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
    // The runtime maps the file itself: it gets only a trusted one, by the path examined.
    std::wstring verified;
    if (uint32_t code = VerifyTrustedFile(path, &verified); code != kTrustOk) {
        if (code == kErrorFileNotFound || code == kErrorPathNotFound) code = kErrorModNotFound;
        SetLastErrorCode(code);
        return nullptr;
    }
    ModuleHandle module = loadLibrary_(verified.c_str(), 0);
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
