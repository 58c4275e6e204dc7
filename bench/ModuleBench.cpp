// ModuleBench.cpp - one status message through the whole module: bus delivery, queue,
// handler, twelve statistics reads, a four-tile selection, rendering from the shipped
// GPNResources library and the tile publish.
//
// The bus is a minimal synchronous table in this file, so the figures are the module's
// own cost: "delivery" is the module's message callback being called, "published" is
// the module calling publish with "messaging.message.processed".
//   MessageLatency       deliver one message, wait for its payload (median = latency)
//   SustainedThroughput  deliver 10,000 at most 512 ahead of their payloads, wait for every
//                        payload (items/s)
//   MemoryOverMillion    10^6 messages, paced the same way; reports resident memory growth in KiB
#include <benchmark/benchmark.h>

#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <unistd.h>

#include "message/MessageBusClient.h"
#include "message/MessageBusShimImpl.h"
#include "module/ModuleManagerShim.h"
#include "platform/DynamicLibrary.h"
#include "platform/Registry.h"
#include "render/PlaceHolders.h"
#include "render/ResourceAPI.h"
#include "render/ResourceDll.h"
#include "render/TileContentFormatter.h"
#include "tiles/GlimmerpaneImpl.h"
#include "tiles/RegistryAPI.h"
#include "utility/CRegKey.h"
#include "base/Utf.h"
#include "BenchStatistics.h"

namespace {

namespace reg = glimmerpane::platform;

// The shipped resource library, found beside this executable as if the module were there.
class BinFolderResources : public Vornik::ResourceAPI {
public:
    Vornik::ResourceModuleHandle getModuleHandle(const wchar_t*) override { return this; }
    uint32_t getModuleFileName(Vornik::ResourceModuleHandle, wchar_t* buffer, uint32_t size) override {
        const std::wstring path = reg::ExecutableFolder() + reg::LibraryFileName(L"Glimmerpane");
        if (path.size() >= size) return size;
        std::wcscpy(buffer, path.c_str());
        return static_cast<uint32_t>(path.size());
    }
};

// A synchronous bus: subscriptions are called on the publishing thread.
struct InlineBus {
    std::mutex mutex;
    std::condition_variable published;
    uint64_t payloads = 0;
    struct Subscription {
        void* context;
        BusMessageCallback callback;
        std::wstring name;
    };
    std::vector<Subscription> subscriptions;

    void deliver(const wchar_t* name, const wchar_t* data) {
        MessageHeader header{};
        header.marker = 1;
        header.headerVersion = 2;
        for (auto& s : subscriptions)
            if (s.name == name) s.callback(s.context, &header, name, L"bench", data);
    }
    void waitFor(uint64_t count) {
        std::unique_lock lock(mutex);
        published.wait(lock, [&] { return payloads >= count; });
    }
    uint64_t payloadCount() {
        std::lock_guard lock(mutex);
        return payloads;
    }
};

InlineBus* BusOf(void* handle) { return static_cast<InlineBus*>(handle); }

const MessageBusFunctions kInlineFunctions = {
    [](void**) -> ModuleStatus { return 0x80000001; },
    [](void*) -> ModuleStatus { return 0; },
    [](void* h, MessageHeader*, const wchar_t* name, const wchar_t*, const wchar_t*) -> ModuleStatus {
        if (std::wcscmp(name, L"messaging.message.processed") == 0) {
            std::lock_guard lock(BusOf(h)->mutex);
            ++BusOf(h)->payloads;
            BusOf(h)->published.notify_all();
        }
        return 0;
    },
    [](void*, uint64_t, void*, BusReplyCallback, MessageHeader*, const wchar_t*, const wchar_t*, const wchar_t*,
       uint32_t) -> ModuleStatus { return 0x80000001; },
    [](void* h, void* context, BusMessageCallback callback, const wchar_t* name) -> uint32_t {
        BusOf(h)->subscriptions.push_back({context, callback, name});
        return static_cast<uint32_t>(BusOf(h)->subscriptions.size());
    },
    [](void*, void*, BusMessageCallback, const wchar_t*) -> uint32_t { return 0; },
    [](void*, uint32_t) -> ModuleStatus { return 0; },
    [](void*, BusReplyCallback) -> ModuleStatus { return 0; },
};

struct RunningModule {
    std::filesystem::path folder;
    InlineBus bus;
    std::unique_ptr<Vornik::GlimmerpaneImpl> module;

    RunningModule() {
        std::string pattern = (std::filesystem::temp_directory_path() / "gp-bench-module-XXXXXX").string();
        folder = mkdtemp(pattern.data());
        auto store = reg::OpenRegistryStore(glimmerpane::base::WideFromUtf8((folder / "registry").string()));
        if (!gpbench::SeedStatistics(store)) std::abort();
        auto resources = std::make_shared<Vornik::ResourceDll>(L"Glimmerpane.so", L"GPNResources.so",
                                                               std::make_shared<BinFolderResources>());
        auto formatter =
            std::make_shared<Vornik::TileContentFormatter>(std::make_shared<Vornik::PlaceHolders>(resources));
        module = std::make_unique<Vornik::GlimmerpaneImpl>(nullptr, formatter,
                                                           std::make_shared<Vornik::RegistryAPI>(store));
        auto client = std::make_shared<Vornik::MessageBusClient>(
            std::make_shared<Vornik::MessageBusShimImpl>(&bus, &kInlineFunctions), nullptr);
        if (module->baseInitialize(L"Glimmerpane", L"", {}, std::make_shared<Vornik::internal::ModuleManagerShim>(nullptr, nullptr),
                                   client) != 0 ||
            module->initialize() != 0 || module->start() != 0)
            std::abort();
        // Protection state 0 with all statistics above zero: a four-tile payload.
        deliver();
        bus.waitFor(1);
    }
    ~RunningModule() {
        module->stop();
        module.reset();
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
    }
    void deliver() { bus.deliver(L"Core.Update.State", LR"({"state":"on"})"); }
};

void MessageLatency(benchmark::State& state) {
    RunningModule running;
    uint64_t expected = running.bus.payloads;
    for (auto _ : state) {
        running.deliver();
        running.bus.waitFor(++expected);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(MessageLatency)->UseRealTime();

// Delivers count messages, never more than 512 ahead of their payloads: below
// GlimmerpaneImpl::kCatchUpDepth, so every message has its own payload.
void DeliverPaced(RunningModule& running, uint64_t count) {
    constexpr uint64_t kAhead = 512;
    const uint64_t start = running.bus.payloadCount();
    for (uint64_t i = 0; i < count; ++i) {
        if (i >= kAhead) running.bus.waitFor(start + i - kAhead + 1);
        running.deliver();
    }
    running.bus.waitFor(start + count);
}

void SustainedThroughput(benchmark::State& state) {
    RunningModule running;
    const uint64_t batch = static_cast<uint64_t>(state.range(0));
    for (auto _ : state) DeliverPaced(running, batch);
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * batch));
}
BENCHMARK(SustainedThroughput)->Arg(10000)->UseRealTime()->MeasureProcessCPUTime()->Unit(benchmark::kMillisecond);

long ResidentKiB() {
    std::ifstream statm("/proc/self/statm");
    long size = 0, resident = 0;
    statm >> size >> resident;
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

void MemoryOverMillion(benchmark::State& state) {
    RunningModule running;
    constexpr uint64_t kMessages = 1000000;
    for (auto _ : state) {
        // Warm-up so allocator pools are at their working size before the first reading.
        DeliverPaced(running, 10000);
        const long before = ResidentKiB();
        DeliverPaced(running, kMessages);
        state.counters["rss_growth_KiB"] = static_cast<double>(ResidentKiB() - before);
        state.counters["rss_KiB"] = static_cast<double>(ResidentKiB());
    }
    state.SetItemsProcessed(static_cast<int64_t>(kMessages));
}
BENCHMARK(MemoryOverMillion)->Iterations(1)->UseRealTime()->Unit(benchmark::kSecond);

}  // namespace
