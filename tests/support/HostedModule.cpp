// HostedModule.cpp - the module through its C ABI on the fake bus, for the integration tests.
#include "support/HostedModule.h"

#include <memory>

#include "utility/CRegKey.h"

namespace gptest {

namespace fs = std::filesystem;

namespace {
ModuleStatus NoManager(void*, void*, void*, void*) { return 0; }
}  // namespace

::testing::AssertionResult HostedModule::Start(const fs::path& modulePath, const fs::path& resources,
                                               const wchar_t* instanceName) {
    const fs::path folder = prefix.path() / "module";
    const fs::path copy = folder / modulePath.filename();
    std::error_code ec;
    fs::create_directories(folder, ec);
    if (!ec) fs::copy_file(modulePath, copy, ec);
    if (!ec) fs::copy_file(resources, folder / ("GPNResources" + modulePath.extension().string()), ec);
    if (ec) return ::testing::AssertionFailure() << "cannot copy the module: " << ec.message();
    environment.set("GLIMMERPANE_PREFIX", prefix.path().string());
    library_.emplace(copy);
    if (!library_->loaded()) return ::testing::AssertionFailure() << library_->error();
    table = library_->create<ModuleFunctionTable>();
    if (table == nullptr) return ::testing::AssertionFailure() << "CreateObject gave no table";
    if (ModuleStatus s = table->NewModule(&handle, instanceName); s != 0)
        return ::testing::AssertionFailure() << "NewModule: " << s;
    if (ModuleStatus s = table->InitializeModuleV2(handle, L"Glimmerpane", L"", 0, nullptr, nullptr, &context_,
                                                   NoManager, bus.handle(), FakeBus::functions());
        s != 0) {
        return ::testing::AssertionFailure() << "InitializeModuleV2: " << s;
    }
    return ::testing::AssertionSuccess();
}

HostedModule::~HostedModule() {
    if (handle) {
        table->StopModule(handle);
        table->UninitializeModule(handle);
        table->DestroyModule(handle);
    }
    library_.reset();
}

void HostedModule::SetStatistic(const std::wstring& key, std::optional<uint32_t> value) {
    namespace platform = glimmerpane::platform;
    auto store = platform::OpenRegistryStore(prefix.wide("registry"));
    Kestrix::CRegKey writer(std::make_shared<Kestrix::internal::CRegKeyImpl>(store));
    ASSERT_EQ(writer.Create(platform::HkeyLocalMachine(), key.c_str()), 0u);
    if (value) {
        ASSERT_EQ(writer.SetDwordValue(L"SDSValue", *value), 0u);
    } else {
        writer.DeleteValue(L"SDSValue");
    }
}

std::vector<RecordedMessage> HostedModule::Payloads() const {
    std::vector<RecordedMessage> found;
    for (auto& m : bus.published())
        if (m.name == L"messaging.message.processed") found.push_back(m);
    return found;
}

}  // namespace gptest
