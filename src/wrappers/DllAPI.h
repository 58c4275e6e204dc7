// DllAPI.h - the library calls of the loader (load, symbol, trust, free) behind a seam.
//
// loadLibrary refuses a file whose code signature does not verify (platform/TrustCheck.h:
// Authenticode on Windows, a trusted-path check on POSIX) without touching it: the
// verifier's code becomes the thread's last error, a Warning record names the reason and
// the Error record "LoadLibrary Failed. GLE: %lu" gives the code. On POSIX the verified,
// resolved path is what gets loaded, so nothing can be swapped in between. Any thread.
#pragma once

#include <cstdint>
#include <string>

namespace Vornik {

class DllAPI {
public:
    virtual ~DllAPI();
    // *handle receives the module handle, null on failure. handle must not be null.
    virtual bool loadLibrary(const std::wstring& path, void** handle);
    virtual void* getProcAddress(void* handle, const char* name);
    // False for an empty path; else true exactly when the verifier answers 0.
    virtual bool isTrusted(const std::wstring& path);
    // True when the platform's free call succeeded.
    virtual bool freeLibrary(void* handle);

protected:
    // The code-signature verifier: 0 when path may be loaded, else a Win32 code (87 empty
    // path, 2 not found, 5 not trusted). loadPath receives the path to load on success.
    virtual uint32_t verifySignature(const std::wstring& path, std::wstring& loadPath, std::wstring& reason);
};

}  // namespace Vornik
