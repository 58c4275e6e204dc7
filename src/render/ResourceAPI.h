// ResourceAPI.h - the platform calls under the resource library, as one injectable seam.
//
// Each operation has the contract of the Windows function it stands for (see
// platform/StringResources.h): loadLibrary and loadString go through the MUI resource
// loader when the suite's MUI runtime is present, else LoadLibraryW / LoadStringW. Tests
// derive from it to inject failures. Stateless; any thread may call it.
#pragma once

#include <cstdint>
#include <string>

namespace Vornik {

using ResourceModuleHandle = void*;

class ResourceAPI {
public:
    virtual ~ResourceAPI();

    // True when a handle came back; module receives it (null on failure).
    virtual bool loadLibrary(const std::wstring& path, ResourceModuleHandle& module);
    // LoadStringW: with bufferSize 0, buffer is a const wchar_t** receiving a read-only
    // pointer into the library. Returns the number of characters.
    virtual int loadString(ResourceModuleHandle module, uint32_t id, wchar_t* buffer, int bufferSize);
    virtual ResourceModuleHandle getModuleHandle(const wchar_t* fileName);
    virtual uint32_t getModuleFileName(ResourceModuleHandle module, wchar_t* buffer, uint32_t size);
    virtual int fileExists(const std::wstring& path);
    virtual int freeLibrary(ResourceModuleHandle module);
    virtual int closeHandle(void* handle);
    virtual uint32_t getLastError();
};

}  // namespace Vornik
