// TestLibrary.h - a built shared library loaded for one test, the way a host loads it.
//
// Loads through the platform loader (platform/DynamicLibrary.h: dlopen with RTLD_NOW |
// RTLD_LOCAL on POSIX, LoadLibraryExW on Windows), looks up exports by name and unloads the
// library when the object goes, unless the test has unloaded it itself. A test checks
// loaded() first; error() then says why not.
//
//   gptest::TestLibrary bus(GP_BUS_PATH);
//   ASSERT_TRUE(bus.loaded()) << bus.error();
//   const auto* table = bus.create<MessageBusFunctions>();
#pragma once

#include <glimmerpane/abi.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace gptest {

class TestLibrary {
public:
    explicit TestLibrary(const std::filesystem::path& path);
    ~TestLibrary();
    TestLibrary(const TestLibrary&) = delete;
    TestLibrary& operator=(const TestLibrary&) = delete;

    bool loaded() const { return handle_ != nullptr; }
    // The loader's text for the failed load (UTF-8), or empty.
    const std::string& error() const { return error_; }

    // The export of that name; null when it is missing or the library is not loaded.
    void* symbol(const char* name) const;
    template <class Function>
    Function function(const char* name) const {
        return reinterpret_cast<Function>(symbol(name));
    }
    // CreateObject(version) as the library's table type; null without CreateObject or when
    // the library refuses the version.
    // The table is handed back through ReleaseObject before the library is unloaded, as a
    // host does (the bus library stops its threads there, outside the loader's lock).
    template <class Table>
    const Table* create(uint32_t frameworkVersion = 1006000) const {
        auto createObject = function<CreateObjectFn>("CreateObject");
        void* table = createObject ? createObject(frameworkVersion) : nullptr;
        if (table) created_.push_back(table);
        return static_cast<const Table*>(table);
    }

    // Hands the created tables back (unless told not to, as a careless host would) and
    // unloads now; true when the loader unloaded. Later calls (and the destructor) do nothing.
    bool unload(bool handTablesBack = true);

private:
    void* handle_ = nullptr;
    std::string error_;
    mutable std::vector<void*> created_;
};

}  // namespace gptest
