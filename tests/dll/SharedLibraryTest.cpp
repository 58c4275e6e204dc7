// SharedLibrary and DllLoader over fakes: search, import order, block list, unload, and the
// records and statuses of every refusal.
#include <gtest/gtest.h>

#include <cstring>
#include <cwctype>

#include "dll/LibraryNames.h"
#include "module/ModuleException.h"
#include "platform/DynamicLibrary.h"
#include "platform/FileSystem.h"
#include "support/CaseNames.h"
#include "support/RecordingLogger.h"
#include "dll/LoaderFakes.h"
#include "utility/CObfuscatedRegKey.h"

namespace Vornik {
namespace {

using ETWLogging::LogSeverity;
using gptest::LogCapture;
namespace platform = glimmerpane::platform;
const std::wstring kSep(1, platform::kPathSeparator);

int gCreateCalls = 0;
void* TestCreateObject(uint32_t) { ++gCreateCalls; return nullptr; }
void TestReleaseObject(void*) {}
const char* TestVersionStr() { return "9.9.9"; }
uint32_t TestVersionNum() { return 9009009; }

class SharedLibraryTest : public ::testing::Test {
protected:
    SharedLibraryTest() {
        api->exports = {{"CreateObject", reinterpret_cast<void*>(&TestCreateObject)},
                        {"ReleaseObject", reinterpret_cast<void*>(&TestReleaseObject)},
                        {"GetVersionStr", reinterpret_cast<void*>(&TestVersionStr)},
                        {"GetVersionNum", reinterpret_cast<void*>(&TestVersionNum)}};
    }

    std::unique_ptr<SharedLibrary> make(const LibraryDescriptor& descriptor,
                                        std::shared_ptr<PathHelpers> helpers = nullptr,
                                        std::shared_ptr<Kestrix::FileVersionInfo> versions = nullptr) {
        if (!helpers) helpers = gptest::TestPathHelpers(registry.store);
        if (!versions) versions = std::make_shared<Kestrix::FileVersionInfo>(std::make_shared<gptest::FixedVersionAPI>(L""));
        return std::make_unique<SharedLibrary>(descriptor, std::make_shared<DllLoader>(api), helpers,
                                               std::make_shared<PathSearch>(paths), versions, blockKey());
    }
    std::shared_ptr<Kestrix::CRegKey> blockKey() { return std::make_shared<Kestrix::CObfuscatedRegKey>(registry.store); }

    gptest::TempRegistry registry;
    std::shared_ptr<gptest::FakeDllAPI> api = std::make_shared<gptest::FakeDllAPI>();
    std::shared_ptr<gptest::FakePathAPI> paths = std::make_shared<gptest::FakePathAPI>();
};

TEST_F(SharedLibraryTest, LoadsFromTheFirstFolderHoldingTheFileAndImportsTheFourExports) {
    paths->files = {L"B" + kSep + L"Plugin.so", L"C" + kSep + L"Plugin.so"};
    LogCapture capture;
    {
        auto library = make({L"Plugin.so", {L"A", L"B", L"C"}});
        EXPECT_EQ(api->loads, std::vector<std::wstring>{L"B" + kSep + L"Plugin.so"});
        EXPECT_EQ(api->lookups, (std::vector<std::string>{"CreateObject", "ReleaseObject", "GetVersionStr", "GetVersionNum"}));
        const LibraryFunctions* functions = library->getFunctions();
        EXPECT_EQ(functions->getVersionNum(), 9009009u);
        EXPECT_STREQ(functions->getVersionStr(), "9.9.9");
        EXPECT_EQ(functions->createObject, &TestCreateObject);
        EXPECT_EQ(functions->releaseObject, &TestReleaseObject);
        EXPECT_TRUE(capture.has(LogSeverity::Normal, L"Loading Plugin.so from B."));
        EXPECT_EQ(api->frees, 0);
    }
    EXPECT_EQ(api->frees, 1);
}

struct MissingExportCase {
    const char* missing;
    std::vector<std::string> lookups;
};

void PrintTo(const MissingExportCase& c, std::ostream* os) {
    *os << "without " << c.missing << ", looking up " << gptest::Show(c.lookups);
}

class SharedLibraryMissingExport : public SharedLibraryTest, public ::testing::WithParamInterface<MissingExportCase> {};

TEST_P(SharedLibraryMissingExport, ThrowsStopsLookingAndUnloads) {
    const MissingExportCase& c = GetParam();
    api->exports.erase(c.missing);
    paths->files = {L"A" + kSep + L"Plugin.so"};
    LogCapture capture;
    try {
        make({L"Plugin.so", {L"A"}});
        FAIL() << "no exception";
    } catch (const ModuleException& e) {
        EXPECT_STREQ(e.what(), "Failed to import functions from library");
    }
    EXPECT_EQ(api->lookups, c.lookups);
    EXPECT_EQ(api->frees, 1) << "a library without its exports must not stay loaded";
    const std::wstring text = L"Failed to load " + std::wstring(c.missing, c.missing + strlen(c.missing)) +
                              L" function from library: Plugin.so.";
    EXPECT_TRUE(capture.has(LogSeverity::Error, text));
    EXPECT_TRUE(capture.has(LogSeverity::Error,
                            L"Failed to import functions from library: Plugin.so. Throwing ModuleException."));
}

INSTANTIATE_TEST_SUITE_P(
    Exports, SharedLibraryMissingExport,
    ::testing::Values(MissingExportCase{"CreateObject", {"CreateObject"}},
                      MissingExportCase{"ReleaseObject", {"CreateObject", "ReleaseObject"}},
                      MissingExportCase{"GetVersionStr", {"CreateObject", "ReleaseObject", "GetVersionStr"}},
                      MissingExportCase{"GetVersionNum",
                                        {"CreateObject", "ReleaseObject", "GetVersionStr", "GetVersionNum"}}),
    [](const auto& info) { return std::string(info.param.missing); });

TEST_F(SharedLibraryTest, NotFoundInAnyFolderIsNeverLoaded) {
    LogCapture capture;
    try {
        make({L"Plugin.so", {L"A", L"B"}});
        FAIL() << "no exception";
    } catch (const ModuleException& e) {
        EXPECT_STREQ(e.what(), "Failed to load library");
    }
    EXPECT_TRUE(api->loads.empty());
    EXPECT_TRUE(capture.has(LogSeverity::Error, L"Failed to find valid path for library: Plugin.so."));
    EXPECT_TRUE(capture.has(LogSeverity::Error, L"Failed to load library: Plugin.so. Throwing ModuleException."));
}

class FailingHelpers : public PathHelpers {
public:
    explicit FailingHelpers(std::shared_ptr<RegistryAPI> registry) : PathHelpers(nullptr, nullptr, std::move(registry)) {}
    std::vector<std::wstring> expanded;
    bool expand(std::wstring& path) override {
        expanded.push_back(path);
        return path != L"$(Bad)";
    }
};

TEST_F(SharedLibraryTest, AnUnresolvableFirstFolderFailsEvenWhenTheSecondHoldsTheFile) {
    paths->files = {L"B" + kSep + L"Plugin.so"};
    auto helpers = std::make_shared<FailingHelpers>(std::make_shared<RegistryAPI>(registry.store));
    LogCapture capture;
    EXPECT_THROW(make({L"Plugin.so", {L"$(Bad)", L"B"}}, helpers), ModuleException);
    EXPECT_EQ(helpers->expanded, std::vector<std::wstring>{L"$(Bad)"});
    EXPECT_TRUE(api->loads.empty());
    EXPECT_TRUE(capture.has(LogSeverity::Error, L"Failed to resolve file path, $(Bad), for library: Plugin.so."));
}

TEST_F(SharedLibraryTest, ExpandsMacrosInItsOwnCopyOfTheFolders) {
    auto shell = std::make_shared<gptest::FakeShell>();
    shell->folders[Kestrix::GuidToString(FOLDERID_ProgramFiles)] = L"PF";
    paths->files = {L"PF" + kSep + L"Vendor" + kSep + L"Plugin.so"};
    const LibraryDescriptor descriptor{L"Plugin.so", {L"$(FOLDERID_ProgramFiles)" + kSep + L"Vendor"}};
    auto library = make(descriptor, gptest::TestPathHelpers(registry.store, shell));
    EXPECT_EQ(library->searchFolders(), std::vector<std::wstring>{L"PF" + kSep + L"Vendor"});
    EXPECT_EQ(descriptor.searchFolders[0], L"$(FOLDERID_ProgramFiles)" + kSep + L"Vendor");
}

TEST_F(SharedLibraryTest, AFailedLoadIsReportedByLoaderAndLibrary) {
    paths->files = {L"A" + kSep + L"Plugin.so"};
    api->loadSucceeds = false;
    LogCapture capture;
    EXPECT_THROW(make({L"Plugin.so", {L"A"}}), ModuleException);
    EXPECT_TRUE(capture.has(LogSeverity::Error, L"Failed to load library. Error code: MODULE_STATUS_UNSUCCESSFUL(2147483650)."));
    EXPECT_TRUE(capture.has(LogSeverity::Error, L"Failed to load library: Plugin.so."));
    EXPECT_EQ(api->frees, 0);
}

TEST_F(SharedLibraryTest, UnloadFailureKeepsTheHandleAndASecondUnloadAfterSuccessDoesNothing) {
    paths->files = {L"A" + kSep + L"Plugin.so"};
    auto library = make({L"Plugin.so", {L"A"}});
    api->freeSucceeds = false;
    {
        LogCapture capture;
        EXPECT_EQ(library->unloadLibrary(), MODULE_STATUS_UNSUCCESSFUL);
        EXPECT_TRUE(capture.has(LogSeverity::Error, L"Failed to free library: Plugin.so."));
        EXPECT_NE(library->moduleHandle(), nullptr);
    }
    api->freeSucceeds = true;
    EXPECT_EQ(library->unloadLibrary(), MODULE_STATUS_SUCCESS);
    EXPECT_EQ(library->moduleHandle(), nullptr);
    const int frees = api->frees;
    EXPECT_EQ(library->unloadLibrary(), MODULE_STATUS_SUCCESS);
    library.reset();
    EXPECT_EQ(api->frees, frees) << "an unloaded library is not freed again";
}

TEST(DllLoaderTest, RefusesANullHandlePointerAndContainsAThrowingWrapper) {
    struct ThrowingAPI : DllAPI {
        bool loadLibrary(const std::wstring&, void**) override { throw std::runtime_error("boom"); }
        void* getProcAddress(void*, const char*) override { throw std::runtime_error("boom"); }
    };
    DllLoader loader(std::make_shared<ThrowingAPI>());
    LogCapture capture;
    EXPECT_FALSE(loader.loadDLL(L"x", nullptr));
    EXPECT_TRUE(capture.has(LogSeverity::Warning, L"Invalid pHandle specified. Exiting."));
    void* handle = nullptr;
    EXPECT_FALSE(loader.loadDLL(L"x", &handle));
    EXPECT_TRUE(capture.has(LogSeverity::Error,
                            L"Failed to load library. Error code: MODULE_STATUS_UNKNOWN_EXCEPTION(2147483663)."));
    EXPECT_EQ(loader.getProcAddress(&handle, "CreateObject"), nullptr);
}

TEST(DllLoaderTest, AMissingExportIsAWarning) {
    auto api = std::make_shared<gptest::FakeDllAPI>();
    DllLoader loader(api);
    LogCapture capture;
    EXPECT_EQ(loader.getProcAddress(api.get(), "Nothing"), nullptr);
    EXPECT_TRUE(capture.has(LogSeverity::Warning, L"getProcAddress was unsuccessful in finding the handle's address"));
}

// ---- block list ----

struct BlockCase {
    const char* name;
    std::wstring fileName;
    std::wstring version;      // of the file; empty: no version resource
    std::wstring keyName;      // block-list subkey; empty: none
    std::wstring valueName;
    std::wstring valueData;
    bool scrambled;            // written through the scrambling key
    bool blocked;
};

void PrintTo(const BlockCase& c, std::ostream* os) {
    *os << c.name << ": " << gptest::Show(c.fileName) << " version " << gptest::Show(c.version) << ", list key "
        << gptest::Show(c.keyName) << " value " << gptest::Show(c.valueName) << " = " << gptest::Show(c.valueData)
        << (c.scrambled ? " (scrambled)" : "") << (c.blocked ? ": blocked" : ": loads");
}

class BlockList : public SharedLibraryTest, public ::testing::WithParamInterface<BlockCase> {};

TEST_P(BlockList, AnswersAsTheListSays) {
    const BlockCase& c = GetParam();
    if (!c.keyName.empty()) {
        std::shared_ptr<Kestrix::CRegKey> writer =
            c.scrambled ? std::make_shared<Kestrix::CObfuscatedRegKey>(registry.store)
                        : std::make_shared<Kestrix::CRegKey>(std::make_shared<Kestrix::internal::CRegKeyImpl>(registry.store));
        ASSERT_EQ(writer->Create(platform::HkeyLocalMachine(), (L"SOFTWARE\\Corvane\\Plinthos\\List\\" + c.keyName).c_str()), 0u);
        ASSERT_EQ(writer->SetStringValue(c.valueName.c_str(), c.valueData.c_str()), 0u);
    }
    paths->files = {L"A" + kSep + c.fileName};
    auto versions = std::make_shared<gptest::FixedVersionAPI>(c.version);
    auto reader = std::make_shared<Kestrix::FileVersionInfo>(versions);
    LogCapture capture;
    if (c.blocked) {
        EXPECT_THROW(make({c.fileName, {L"A"}}, nullptr, reader), ModuleException);
        EXPECT_TRUE(api->loads.empty()) << "a blocked library is never loaded";
        EXPECT_TRUE(capture.has(LogSeverity::Information, L"Blocked library: A" + kSep + c.fileName + L"."));
    } else {
        EXPECT_NO_THROW(make({c.fileName, {L"A"}}, nullptr, reader));
        EXPECT_EQ(api->loads.size(), 1u);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BlockList,
    ::testing::Values(
        BlockCase{"ListedVersion", L"Plugin.so", L"1.2.3", L"plugin.so", L"1.2.3", L"1.2.3", false, true},
        BlockCase{"ListedScrambled", L"Plugin.so", L"1.2.3", L"plugin.so", L"1.2.3", L"1.2.3", true, true},
        BlockCase{"KeyIsTheLowerCasedName", L"PlugIn.SO", L"1.2.3", L"plugin.so", L"1.2.3", L"1.2.3", false, true},
        BlockCase{"DataDiffersFromName", L"Plugin.so", L"1.2.3", L"plugin.so", L"1.2.3", L"1.2.4", false, false},
        BlockCase{"DataDiffersInCase", L"Plugin.so", L"1.2.3a", L"plugin.so", L"1.2.3a", L"1.2.3A", false, false},
        BlockCase{"OtherVersionListed", L"Plugin.so", L"1.2.3", L"plugin.so", L"1.0.0", L"1.0.0", false, false},
        BlockCase{"NoVersionResource", L"Plugin.so", L"", L"plugin.so", L"1.2.3", L"1.2.3", false, false},
        BlockCase{"NoListForTheName", L"Plugin.so", L"1.2.3", L"other.so", L"1.2.3", L"1.2.3", false, false},
        BlockCase{"NoListAtAll", L"Plugin.so", L"1.2.3", L"", L"", L"", false, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(SharedLibraryTest, FrameworkLibrariesAreExemptWhateverTheirCase) {
    for (const std::wstring& exempt : BlockListExemptNames()) {
        std::wstring mixed = exempt;
        mixed[0] = static_cast<wchar_t>(std::towupper(mixed[0]));
        auto writer = std::make_shared<Kestrix::CObfuscatedRegKey>(registry.store);
        ASSERT_EQ(writer->Create(platform::HkeyLocalMachine(), (L"SOFTWARE\\Corvane\\Plinthos\\List\\" + exempt).c_str()), 0u);
        ASSERT_EQ(writer->SetStringValue(L"1.2.3", L"1.2.3"), 0u);
        paths->files = {L"A" + kSep + mixed};
        api->loads.clear();
        auto reader = std::make_shared<Kestrix::FileVersionInfo>(std::make_shared<gptest::FixedVersionAPI>(L"1.2.3"));
        EXPECT_NO_THROW(make({mixed, {L"A"}}, nullptr, reader)) << mixed;
        EXPECT_EQ(api->loads.size(), 1u) << mixed;
    }
}

TEST_F(SharedLibraryTest, ExemptNamesCarryThePlatformSuffix) {
    const std::wstring busName = BusLibraryFileName();
    EXPECT_EQ(busName, std::wstring(L"BusBroker") + platform::kLibrarySuffix);
    std::vector<std::wstring> expected;
    for (const wchar_t* base : {L"sysprobe", L"cfgkeeper", L"modhost", L"busbroker"}) {
        expected.push_back(base + std::wstring(platform::kLibrarySuffix));
    }
    EXPECT_EQ(BlockListExemptNames(), expected);
}

TEST_F(SharedLibraryTest, BlockCheckIgnoresEmptyFolderOrNameAndExemptNames) {
    paths->files = {L"A" + kSep + L"Plugin.so"};
    auto library = make({L"Plugin.so", {L"A"}});
    auto writer = std::make_shared<Kestrix::CObfuscatedRegKey>(registry.store);
    ASSERT_EQ(writer->Create(platform::HkeyLocalMachine(), L"SOFTWARE\\Corvane\\Plinthos\\List\\busbroker.so"), 0u);
    ASSERT_EQ(writer->SetStringValue(L"1.6.0", L"1.6.0"), 0u);
    EXPECT_FALSE(library->isBlocked(L"", L"Plugin.so"));
    EXPECT_FALSE(library->isBlocked(L"A", L""));
    EXPECT_FALSE(library->isBlocked(L"A", std::wstring(L"BusBroker") + platform::kLibrarySuffix));
}

}  // namespace
}  // namespace Vornik
