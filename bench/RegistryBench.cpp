// RegistryBench.cpp - the cost of the module's statistics reads on the LMDB registry store.
//
// ReadDword is one RegistryAPI::readDword (open HKLM + key with KEY_READ, query, close);
// TwelveStatisticsReads is the full set the module reads after every handled message;
// EngineRead is the bare LMDB lookup underneath, for the ratio. All on a temporary prefix.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "platform/Registry.h"
#include "platform/RegistryProbe.h"
#include "tiles/RegistryAPI.h"
#include "utility/CRegKey.h"
#include "base/Utf.h"

namespace {

namespace reg = glimmerpane::platform;

const wchar_t* const kStatisticsKeys[] = {
    L"SOFTWARE\\Corvane\\Tavrel\\Settings\\Stats\\Dravix\\Activity\\ScanReport\\RootKitsResolved",
    L"SOFTWARE\\Corvane\\Tavrel\\Settings\\Stats\\Dravix\\Activity\\ScanReport\\TrackingCookiesResolved",
    L"SOFTWARE\\Corvane\\Tavrel\\Settings\\Stats\\Dravix\\Activity\\ScanReport\\TrojansResolved",
    L"SOFTWARE\\Corvane\\Tavrel\\Settings\\Stats\\Dravix\\Activity\\ScanReport\\UnwantedProgramResolved",
    L"SOFTWARE\\Corvane\\Tavrel\\Settings\\Stats\\Dravix\\Activity\\ScanReport\\VirusResolved",
    L"SOFTWARE\\Corvane\\Tavrel\\Settings\\Stats\\Dravix\\Activity\\ScanReport\\RootKitsDetected",
    L"SOFTWARE\\Corvane\\Tavrel\\Settings\\Stats\\Dravix\\Activity\\ScanReport\\TrackingCookiesDetected",
    L"SOFTWARE\\Corvane\\Tavrel\\Settings\\Stats\\Dravix\\Activity\\ScanReport\\TrojansDetected",
    L"SOFTWARE\\Corvane\\Tavrel\\Settings\\Stats\\Dravix\\Activity\\ScanReport\\UnwantedProgramDetected",
    L"SOFTWARE\\Corvane\\Tavrel\\Settings\\Stats\\Dravix\\Activity\\ScanReport\\VirusDetected",
    L"SOFTWARE\\Corvane\\Tavrel\\Settings\\Stats\\Dravix\\Activity\\ScanReport\\TotalItemScanned",
    L"SOFTWARE\\Corvane\\Tavrel\\Settings\\Stats\\Pelmor\\Activity\\TotalInboundConnectionBlocked",
};

// A seeded store in a temporary folder, shared by all benchmarks of the run.
struct Fixture {
    std::filesystem::path folder;
    std::wstring registryFolder;
    std::shared_ptr<reg::RegistryStore> store;
    Fixture() {
        std::string pattern = (std::filesystem::temp_directory_path() / "gp-bench-XXXXXX").string();
        folder = mkdtemp(pattern.data());
        registryFolder = glimmerpane::base::WideFromUtf8((folder / "registry").string());
        store = reg::OpenRegistryStore(registryFolder);
        uint32_t value = 1;
        for (const wchar_t* key : kStatisticsKeys) {
            Kestrix::CRegKey writer(std::make_shared<Kestrix::internal::CRegKeyImpl>(store));
            if (writer.Create(reg::HkeyLocalMachine(), key) != 0 || writer.SetDwordValue(L"SDSValue", value++) != 0) {
                std::abort();
            }
        }
    }
    ~Fixture() {
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
    }
};

Fixture& Shared() {
    static Fixture fixture;
    return fixture;
}

void ReadDword(benchmark::State& state) {
    Vornik::RegistryAPI api(Shared().store);
    uint32_t value = 0;
    for (auto _ : state) {
        if (api.readDword(kStatisticsKeys[4], L"SDSValue", value) != 0) state.SkipWithError("read failed");
        benchmark::DoNotOptimize(value);
    }
}
BENCHMARK(ReadDword);

void TwelveStatisticsReads(benchmark::State& state) {
    Vornik::RegistryAPI api(Shared().store);
    uint64_t sum = 0;
    for (auto _ : state) {
        for (const wchar_t* key : kStatisticsKeys) {
            uint32_t value = 0;
            if (api.readDword(key, L"SDSValue", value) != 0) state.SkipWithError("read failed");
            sum += value;
        }
        benchmark::DoNotOptimize(sum);
    }
    state.counters["per_read_ns"] = benchmark::Counter(12.0 * static_cast<double>(state.iterations()),
                                                       benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(TwelveStatisticsReads);

void EngineRead(benchmark::State& state) {
    const std::string key = reg::RegistryEngineKey(reg::HkeyLocalMachine(), kStatisticsKeys[4], L"SDSValue");
    uint32_t size = 0;
    for (auto _ : state) {
        if (reg::RegistryEngineRead(Shared().registryFolder, key, &size) != 0) state.SkipWithError("read failed");
        benchmark::DoNotOptimize(size);
    }
}
BENCHMARK(EngineRead);

}  // namespace
