// ResourceDllTest.cpp - finding and loading the resource library beside the module, its
// failure records, and string loads, over a fake platform and over the real one.
#include "render/ResourceDll.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "module/ModuleException.h"
#include "platform/DynamicLibrary.h"
#include "render/FakeResources.h"
#include "support/TestEnvironment.h"
#include "support/RecordingLogger.h"

namespace Vornik {
namespace {

using ETWLogging::LogSeverity;
using gptest::FakeResourceAPI;
using gptest::NativePath;

std::string ConstructionError(const std::shared_ptr<FakeResourceAPI>& api, const wchar_t* module = L"Glimmerpane.so") {
    try {
        ResourceDll dll(module, L"GPNResources.so", api);
    } catch (const ModuleException& e) {
        return e.what();
    }
    return "no exception";
}

TEST(ResourceDllTest, LoadsTheLibraryFromTheModulesFolderWithoutAddingASeparator) {
    auto api = std::make_shared<FakeResourceAPI>();
    api->modulePath = NativePath(L"/opt/corvane/Glimmerpane.so");
    {
        ResourceDll dll(L"Glimmerpane.so", L"GPNResources.so", api);
        EXPECT_EQ(api->askedModule, L"Glimmerpane.so");
        EXPECT_EQ(api->loadedPath, NativePath(L"/opt/corvane/GPNResources.so"));
        std::wstring folder;
        EXPECT_TRUE(dll.getCurrentResourcePath(folder));
        EXPECT_EQ(folder, NativePath(L"/opt/corvane/"));
    }
    EXPECT_EQ(api->freeCalls, 1);  // the destructor unloads
}

TEST(ResourceDllTest, TheFolderEndsAtTheLastSeparator) {
    struct Case {
        std::wstring modulePath;
        std::wstring loaded;
    };
    const Case cases[] = {
        {NativePath(L"/opt/Glimmerpane.so.d/Glimmerpane.so"), NativePath(L"/opt/Glimmerpane.so.d/GPNResources.so")},
        {NativePath(L"/opt/Glimmerpane.so/Glimmerpane.so"), NativePath(L"/opt/Glimmerpane.so/GPNResources.so")},
        {NativePath(L"/Glimmerpane.so/x/Glimmerpane.so"), NativePath(L"/Glimmerpane.so/x/GPNResources.so")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << std::string(c.modulePath.begin(), c.modulePath.end()));
        auto api = std::make_shared<FakeResourceAPI>();
        api->modulePath = c.modulePath;
        ResourceDll dll(L"Glimmerpane.so", L"GPNResources.so", api);
        EXPECT_EQ(api->loadedPath, c.loaded);
    }
    // The name only inside a folder, not as the file: the module is not where it claims.
    gptest::LogCapture capture;
    auto api = std::make_shared<FakeResourceAPI>();
    api->modulePath = NativePath(L"/opt/Glimmerpane.so.d/Other.so");
    EXPECT_EQ(ConstructionError(api), "Failed to get resourcePath for Module.");
    EXPECT_TRUE(capture.has(LogSeverity::Warning,
                            NativePath(L"File path /opt/Glimmerpane.so.d/Other.so found is not correct for module Glimmerpane.so")));
    EXPECT_TRUE(api->loadedPath.empty());
}

TEST(ResourceDllTest, LongModulePathsAreReadWhole) {
    auto api = std::make_shared<FakeResourceAPI>();
    const std::wstring folder = NativePath(L"/") + std::wstring(400, L'd') + NativePath(L"/");
    api->modulePath = folder + L"Glimmerpane.so";
    ResourceDll dll(L"Glimmerpane.so", L"GPNResources.so", api);
    EXPECT_EQ(api->loadedPath, folder + L"GPNResources.so");
}

struct PathFailure {
    const char* name;
    void (*arrange)(FakeResourceAPI&);
    std::wstring record;  // the specific cause
};

TEST(ResourceDllTest, PathFailuresThrowAfterTheirRecords) {
    const PathFailure cases[] = {
        {"module not loaded", [](FakeResourceAPI& a) { a.moduleLoaded = false; },
         L"Failed to get Module handle 126 for Glimmerpane.so"},
        {"file name unreadable", [](FakeResourceAPI& a) { a.moduleFileNameFails = true; },
         L"Failed to get ModulePath 5 for Module: Glimmerpane.so"},
        {"name differs in letter case", [](FakeResourceAPI& a) { a.modulePath = NativePath(L"/opt/corvane/glimmerpane.so"); },
         NativePath(L"File path /opt/corvane/glimmerpane.so found is not correct for module Glimmerpane.so")},
    };
    for (const PathFailure& c : cases) {
        SCOPED_TRACE(c.name);
        gptest::LogCapture capture;
        auto api = std::make_shared<FakeResourceAPI>();
        c.arrange(*api);
        EXPECT_EQ(ConstructionError(api), "Failed to get resourcePath for Module.");
        const auto records = capture.records();
        ASSERT_EQ(records.size(), 1u);  // the cause alone
        EXPECT_EQ(records[0].severity, LogSeverity::Warning);
        EXPECT_EQ(records[0].message, c.record);
        EXPECT_EQ(records[0].source, L"ResourceDll");
        EXPECT_TRUE(api->loadedPath.empty());
    }
    gptest::LogCapture capture;
    EXPECT_EQ(ConstructionError(std::make_shared<FakeResourceAPI>(), L""), "Failed to get resourcePath for Module.");
    EXPECT_TRUE(capture.records().empty());  // an empty name has no cause record of its own
}

TEST(ResourceDllTest, AMissingOrUnloadableLibraryThrowsAfterItsRecords) {
    {
        gptest::LogCapture capture;
        auto api = std::make_shared<FakeResourceAPI>();
        api->resourceExists = false;
        EXPECT_EQ(ConstructionError(api), "Failed to load Resources.");
        const auto cause = capture.withMessage(NativePath(L"/opt/corvane/GPNResources.so doesn't exist. Error 2"));
        ASSERT_EQ(cause.size(), 1u);
        EXPECT_EQ(cause[0].function, L"Vornik::ResourceDll::loadResourceDll");
        EXPECT_EQ(capture.records().size(), 1u);
        EXPECT_TRUE(api->loadedPath.empty());
    }
    {
        gptest::LogCapture capture;
        auto api = std::make_shared<FakeResourceAPI>();
        api->loadFails = true;
        EXPECT_EQ(ConstructionError(api), "Failed to load Resources.");
        EXPECT_TRUE(capture.has(LogSeverity::Warning, NativePath(L"Failed to load Resource /opt/corvane/GPNResources.so. Error 193")));
        EXPECT_EQ(capture.records().size(), 1u);
        EXPECT_EQ(api->freeCalls, 0);  // nothing was loaded, nothing is freed
    }
}

TEST(ResourceDllTest, StringsAreCopiesAndMissingOrEmptyOnesFail) {
    std::shared_ptr<FakeResourceAPI> api;
    auto dll = gptest::MakeFakeResourceDll({{5, L"five"}, {6, L""}}, &api);
    std::wstring first, second;
    EXPECT_TRUE(dll->getResourceString(5, first));
    EXPECT_TRUE(dll->getResourceString(5, second));
    EXPECT_EQ(first, L"five");
    EXPECT_EQ(first, second);
    EXPECT_NE(first.data(), api->strings[5].data());
    gptest::LogCapture capture;
    std::wstring text = L"stale";
    EXPECT_FALSE(dll->getResourceString(6, text));
    EXPECT_TRUE(text.empty());
    EXPECT_FALSE(dll->getResourceString(7, text));
    EXPECT_TRUE(capture.has(LogSeverity::Warning, L"Failed to load xml resource Id:6. Error: 0"));
    EXPECT_TRUE(capture.has(LogSeverity::Warning, L"Failed to load xml resource Id:7. Error: 1814"));
}

TEST(ResourceDllTest, UnloadFailureIsOnlyLogged) {
    gptest::LogCapture capture;
    auto api = std::make_shared<FakeResourceAPI>();
    api->freeFails = true;
    { ResourceDll dll(L"Glimmerpane.so", L"GPNResources.so", api); }
    EXPECT_TRUE(capture.has(LogSeverity::Warning, L"Failed to unload resource. Error: 6"));
}

// The test executable's file name, as the loader knows it ("gp_unit_tests.exe" on Windows).
std::wstring ExecutableName() {
    return std::filesystem::path(glimmerpane::platform::ExecutablePath()).filename().wstring();
}

TEST(ResourceDllTest, RealLibraryBesideTheExecutable) {
    gptest::ScopedEnvironment env;
    env.language("fr_FR.UTF-8");
    // The test executable stands in for the module: GPNResources lies in its folder.
    ResourceDll dll(ExecutableName().c_str(), glimmerpane::platform::LibraryFileName(L"GPNResources").c_str(), nullptr);
    std::wstring text;
    ASSERT_TRUE(dll.getResourceString(206, text));
    EXPECT_EQ(text, L"En danger");
    env.language("de_DE.UTF-8");
    ASSERT_TRUE(dll.getResourceString(206, text));
    EXPECT_EQ(text, L"Gefährdet");
    EXPECT_FALSE(dll.getResourceString(9999, text));
}

TEST(ResourceDllTest, RealPlatformWithoutTheLibraryThrows) {
    gptest::LogCapture capture;
    EXPECT_THROW(ResourceDll(ExecutableName().c_str(), L"NoSuchResources.so", nullptr), ModuleException);
    EXPECT_EQ(capture.containing(L"NoSuchResources.so doesn't exist. Error 2").size(), 1u);
}

}  // namespace
}  // namespace Vornik
