// MuiResourceLoader.h - the language-aware resource loader of the suite's MUI runtime.
//
// On first use the process-wide loader looks for the MUI runtime library: first
// $CommonProgramFiles + "/Corvane/Platform/CvRtMui.so" ("\...\CvRtMui.dll" on Windows),
// loaded only when it passes the trust check (TrustCheck.h), then "CvRtMui.so" by bare name,
// which finds only a copy already loaded in the process. When the library is found and
// exports both functions, library and string loads go through them:
//
//   void* RtMUILoadLibrary(const wchar_t* path, uint32_t flags);               // flags 0
//   int   RtMUILoadString(void* module, uint32_t id, wchar_t* buffer, int max, uint32_t flags);
//
// with the contract of LoadLibraryW and LoadStringW. Otherwise the plain functions of
// StringResources.h serve. A runtime library cannot set this process's last error on POSIX,
// so a failure there reports kErrorModNotFound (load) or kErrorResourceNameNotFound (string).
// Thread-safe; the process-wide loader is never unloaded.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/StringResources.h"

namespace glimmerpane::platform {

class MuiResourceLoader {
public:
    // The process-wide loader, built from the environment on first use.
    static MuiResourceLoader& process();

    // A loader that tries the given library paths in order (tests; the process-wide loader
    // passes DefaultCandidates()).
    explicit MuiResourceLoader(const std::vector<std::wstring>& candidates);
    ~MuiResourceLoader();
    MuiResourceLoader(const MuiResourceLoader&) = delete;
    MuiResourceLoader& operator=(const MuiResourceLoader&) = delete;

    // The two places to look, from the current environment.
    static std::vector<std::wstring> DefaultCandidates();

    bool usesMuiRuntime() const { return loadLibrary_ != nullptr; }
    // The runtime library file that was loaded, or empty.
    const std::wstring& runtimePath() const { return runtimePath_; }

    ModuleHandle loadLibrary(const std::wstring& path) const;
    int loadString(ModuleHandle module, uint32_t id, wchar_t* buffer, int bufferMax) const;

private:
    using LoadLibraryFunction = void* (*)(const wchar_t*, uint32_t);
    using LoadStringFunction = int (*)(void*, uint32_t, wchar_t*, int, uint32_t);

    void* runtime_ = nullptr;
    std::wstring runtimePath_;
    LoadLibraryFunction loadLibrary_ = nullptr;
    LoadStringFunction loadString_ = nullptr;
};

}  // namespace glimmerpane::platform
