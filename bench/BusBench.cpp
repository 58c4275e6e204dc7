// BusBench.cpp - one status message through the real BusBroker library and the module
// loaded through its C ABI, the way a host runs it.
//
// Glimmerpane.so (with GPNResources.so beside it) and BusBroker.so are loaded from the build's
// bin folder. A registry in a temporary prefix holds the twelve statistics, so every message
// renders four tiles. A publisher on its own bus handle sends "Core.Update.State"; a
// subscriber on that handle counts "messaging.message.processed".
//   BusWorkerCpu        the module worker's CPU per message (thread CPU from schedstat), one
//                       message in flight at a time; the kernel's share of it and the worker's
//                       context switches per message; heap allocations and minor page faults
//                       per message, whole process
//   BusThroughput       messages/s with up to 32 in flight (below the module's queue bound,
//                       so every message gets its own payload)
//   BusLatency          publish to payload, one message in flight: p50 and p99
//   BusFlood            2,000,000 published as fast as one thread can; resident memory
//                       growth at the peak and after the drain
#include <benchmark/benchmark.h>

#include <glimmerpane/abi.h>
#include <dirent.h>
#include <dlfcn.h>
#include <stdlib.h>
#include <cstdlib>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <iterator>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "BenchStatistics.h"
#include "base/Utf.h"
#include "platform/Registry.h"
#include "utility/CRegKey.h"

// Heap allocations of the whole process, counted by interposing glibc's allocator entry
// points (the module, the bus library and the C++ runtime all allocate through them).
namespace {
std::atomic<uint64_t> g_allocations{0};
}  // namespace
extern "C" {
void* __libc_malloc(size_t size);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* pointer, size_t size);
void* malloc(size_t size) {
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_malloc(size);
}
void* calloc(size_t count, size_t size) {
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_calloc(count, size);
}
void* realloc(void* pointer, size_t size) {
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_realloc(pointer, size);
}
}

namespace {

namespace reg = glimmerpane::platform;
using Clock = std::chrono::steady_clock;

ModuleStatus NoManager(void*, void*, void*, void*) { return 0; }

constexpr uint32_t kFrameworkVersion = 1006000;  // what the host hands CreateObject

// The build's bin folder, or GP_BENCH_BIN_DIR from the environment (to measure a kept copy
// of an earlier build against the current one).
std::string BinFolder() {
    const char* folder = std::getenv("GP_BENCH_BIN_DIR");
    return folder != nullptr && *folder != '\0' ? folder : GP_BENCH_BIN_DIR;
}

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "BusBench: %s\n", what);
    std::abort();
}

// CPU time of every thread of this process, by thread id (ns, from schedstat).
std::map<long, uint64_t> ThreadCpu() {
    std::map<long, uint64_t> cpu;
    DIR* tasks = opendir("/proc/self/task");
    if (tasks == nullptr) return cpu;
    while (dirent* entry = readdir(tasks)) {
        if (entry->d_name[0] == '.') continue;
        std::ifstream in(std::string("/proc/self/task/") + entry->d_name + "/schedstat");
        uint64_t ns = 0;
        if (in >> ns) cpu[std::stol(entry->d_name)] = ns;
    }
    closedir(tasks);
    return cpu;
}

long ResidentKiB(const char* field) {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind(field, 0) == 0) return std::stol(line.substr(std::strlen(field)));
    }
    return 0;
}

struct Payloads {
    std::mutex mutex;
    std::condition_variable arrived;
    uint64_t count = 0;
    uint64_t unlikeFirst = 0;  // payloads that differ from the first one
    std::wstring first;
    Clock::time_point last;
    void wait(uint64_t wanted) {
        std::unique_lock lock(mutex);
        arrived.wait(lock, [&] { return count >= wanted; });
    }
};

uint32_t OnPayload(void* context, const MessageHeader*, const wchar_t*, const wchar_t*, const wchar_t* userData) {
    auto* payloads = static_cast<Payloads*>(context);
    {
        std::lock_guard lock(payloads->mutex);
        if (payloads->first.empty()) payloads->first = userData;
        else if (payloads->first != userData) ++payloads->unlikeFirst;
        ++payloads->count;
        payloads->last = Clock::now();
    }
    payloads->arrived.notify_all();
    return 0;
}

class BusHost {
public:
    BusHost() {
        std::string pattern = (std::filesystem::temp_directory_path() / "gp-bench-bus-XXXXXX").string();
        folder_ = mkdtemp(pattern.data());
        {
            // Seeded before the module opens the store, and released again: one process should
            // hold one environment per store.
            auto store = reg::OpenRegistryStore(glimmerpane::base::WideFromUtf8((folder_ / "registry").string()));
            if (!gpbench::SeedStatistics(store)) Fail("cannot seed the registry");
        }
        setenv("GLIMMERPANE_PREFIX", folder_.c_str(), 1);
        bus_ = dlopen((BinFolder() + "/BusBroker.so").c_str(), RTLD_NOW | RTLD_LOCAL);
        module_ = dlopen((BinFolder() + "/Glimmerpane.so").c_str(), RTLD_NOW | RTLD_LOCAL);
        if (bus_ == nullptr || module_ == nullptr) Fail(dlerror());
        using Create = void* (*)(uint32_t);
        functions_ = static_cast<const MessageBusFunctions*>(reinterpret_cast<Create>(dlsym(bus_, "CreateObject"))(kFrameworkVersion));
        table_ = static_cast<const ModuleFunctionTable*>(reinterpret_cast<Create>(dlsym(module_, "CreateObject"))(kFrameworkVersion));
        if (functions_ == nullptr || table_ == nullptr) Fail("no function table");
        if (functions_->open(&moduleBus_) != 0 || functions_->open(&publisher_) != 0) Fail("bus open failed");
        if (functions_->subscribe(publisher_, &payloads, OnPayload, L"messaging.message.processed") == 0) Fail("subscribe failed");
        if (table_->NewModule(&handle_, L"BusBench") != 0 ||
            table_->InitializeModuleV2(handle_, L"Glimmerpane", L"", 0, nullptr, nullptr, nullptr, NoManager,
                                       moduleBus_, functions_) != 0)
            Fail("the module did not initialise");
        const std::map<long, uint64_t> beforeStart = ThreadCpu();
        if (table_->StartModule(handle_) != 0) Fail("the module did not start");
        // Nobody subscribes to the refresh requests of the start, so the only thread the
        // start makes is the module's worker (the bus starts its threads on the first
        // delivery). Should there be others, the worker is the new thread that works
        // hardest for the messages below.
        std::vector<long> started;
        for (const auto& [tid, ns] : ThreadCpu())
            if (beforeStart.count(tid) == 0) started.push_back(tid);
        publishAndWait();  // the module's first payload: its worker is running
        const std::map<long, uint64_t> before = ThreadCpu();
        for (int i = 0; i < 200; ++i) publishAndWait();
        uint64_t most = 0;
        for (const auto& [tid, ns] : ThreadCpu()) {
            const uint64_t spent = ns - (before.count(tid) ? before.at(tid) : 0);
            const bool candidate = started.empty() || std::find(started.begin(), started.end(), tid) != started.end();
            if (candidate && tid != gettid() && spent > most) most = spent, worker_ = tid;
        }
        if (started.size() != 1) std::fprintf(stderr, "BusBench: %zu threads started with the module\n", started.size());
    }
    ~BusHost() {
        table_->StopModule(handle_);
        table_->UninitializeModule(handle_);
        table_->DestroyModule(handle_);
        functions_->close(publisher_);
        functions_->close(moduleBus_);
        dlclose(module_);
        dlclose(bus_);
        unsetenv("GLIMMERPANE_PREFIX");
        std::error_code ignored;
        std::filesystem::remove_all(folder_, ignored);
    }

    void publish(const wchar_t* name = L"Core.Update.State", const wchar_t* data = LR"({"state":"on"})") {
        MessageHeader header{};
        header.marker = 1;
        header.headerVersion = 2;
        if (functions_->publish(publisher_, &header, name, L"bench", data) != 0) Fail("publish failed");
    }
    // Publishes a red protection state after whatever is queued and waits for its payload,
    // the first unlike the four-tile one; then restores the state.
    void drain() {
        uint64_t unlike = 0;
        {
            std::lock_guard lock(payloads.mutex);
            unlike = payloads.unlikeFirst;
        }
        publish(L"Core.Protection.State", LR"({"state":"red"})");
        uint64_t count = 0;
        {
            std::unique_lock lock(payloads.mutex);
            payloads.arrived.wait(lock, [&] { return payloads.unlikeFirst > unlike; });
            count = payloads.count;
        }
        publish(L"Core.Protection.State", LR"({"state":"none"})");
        payloads.wait(count + 1);
    }
    void publishAndWait() {
        const uint64_t wanted = payloadsBefore() + 1;
        publish();
        payloads.wait(wanted);
    }
    uint64_t payloadsBefore() {
        std::lock_guard lock(payloads.mutex);
        return payloads.count;
    }
    uint64_t workerCpuNs() {
        const auto cpu = ThreadCpu();
        return cpu.count(worker_) ? cpu.at(worker_) : 0;
    }
    // The worker's user and system CPU in clock ticks (/proc stat fields 14 and 15).
    std::pair<long, long> workerUserSystemTicks() const {
        std::ifstream in("/proc/self/task/" + std::to_string(worker_) + "/stat");
        std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        const size_t close = text.rfind(')');  // the name may hold spaces
        if (close == std::string::npos) return {0, 0};
        std::istringstream fields(text.substr(close + 2));
        std::string field;
        long user = 0, system = 0;
        for (int i = 3; i <= 15 && fields >> field; ++i) {
            if (i == 14) user = std::stol(field);
            if (i == 15) system = std::stol(field);
        }
        return {user, system};
    }
    // Context switches of the worker: it gave up the processor (slept) or was preempted.
    long workerSwitches() const {
        std::ifstream status("/proc/self/task/" + std::to_string(worker_) + "/status");
        long total = 0;
        for (std::string line; std::getline(status, line);) {
            if (line.rfind("voluntary_ctxt_switches:", 0) == 0 || line.rfind("nonvoluntary_ctxt_switches:", 0) == 0)
                total += std::stol(line.substr(line.find(':') + 1));
        }
        return total;
    }

    Payloads payloads;

private:
    std::filesystem::path folder_;
    void* bus_ = nullptr;
    void* module_ = nullptr;
    const MessageBusFunctions* functions_ = nullptr;
    const ModuleFunctionTable* table_ = nullptr;
    void* moduleBus_ = nullptr;
    void* publisher_ = nullptr;
    ModuleHandle handle_ = nullptr;
    long worker_ = 0;
};

BusHost& Host() {
    static BusHost host;
    return host;
}

long MinorFaults() {
    std::ifstream stat("/proc/self/stat");
    std::string field;
    for (int i = 0; i < 10 && stat >> field; ++i) {
    }
    return std::stol(field);  // field 10: minflt
}

void BusWorkerCpu(benchmark::State& state) {
    BusHost& host = Host();
    const uint64_t cpuBefore = host.workerCpuNs();
    const uint64_t allocationsBefore = g_allocations.load();
    const long faultsBefore = MinorFaults();
    const auto ticksBefore = host.workerUserSystemTicks();
    const long switchesBefore = host.workerSwitches();
    for (auto _ : state) host.publishAndWait();
    const double messages = static_cast<double>(state.iterations());
    const auto ticks = host.workerUserSystemTicks();
    const long user = ticks.first - ticksBefore.first, system = ticks.second - ticksBefore.second;
    // Coarse (clock ticks), but over 20,000 messages it shows how much is the kernel's.
    state.counters["worker_sys_share"] = user + system > 0 ? static_cast<double>(system) / static_cast<double>(user + system) : 0.0;
    state.counters["switches_per_msg"] = static_cast<double>(host.workerSwitches() - switchesBefore) / messages;
    state.counters["worker_cpu_us"] = static_cast<double>(host.workerCpuNs() - cpuBefore) / 1000.0 / messages;
    state.counters["allocs_per_msg"] = static_cast<double>(g_allocations.load() - allocationsBefore) / messages;
    state.counters["faults_per_msg"] = static_cast<double>(MinorFaults() - faultsBefore) / messages;
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BusWorkerCpu)->UseRealTime()->Iterations(20000);

void BusThroughput(benchmark::State& state) {
    BusHost& host = Host();
    constexpr uint64_t kMessages = 50000, kWindow = 32;
    for (auto _ : state) {
        const uint64_t start = host.payloadsBefore();
        for (uint64_t i = 0; i < kMessages; ++i) {
            if (i >= kWindow) host.payloads.wait(start + i - kWindow + 1);
            host.publish();
        }
        host.payloads.wait(start + kMessages);
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kMessages));
}
BENCHMARK(BusThroughput)->UseRealTime()->Iterations(1)->Unit(benchmark::kMillisecond);

void BusLatency(benchmark::State& state) {
    BusHost& host = Host();
    std::vector<double> samples;
    samples.reserve(20000);
    for (auto _ : state) {
        const auto start = Clock::now();
        host.publishAndWait();
        std::lock_guard lock(host.payloads.mutex);
        samples.push_back(std::chrono::duration<double, std::micro>(host.payloads.last - start).count());
    }
    std::sort(samples.begin(), samples.end());
    state.counters["p50_us"] = samples[samples.size() / 2];
    state.counters["p99_us"] = samples[samples.size() * 99 / 100];
}
BENCHMARK(BusLatency)->UseRealTime()->Iterations(20000);

void BusFlood(benchmark::State& state) {
    BusHost& host = Host();
    constexpr uint64_t kMessages = 2000000;
    for (auto _ : state) {
        const long before = ResidentKiB("VmRSS:");
        const uint64_t payloadsBefore = host.payloadsBefore();
        for (uint64_t i = 0; i < kMessages; ++i) host.publish();
        const long afterPublish = ResidentKiB("VmRSS:");
        host.drain();
        state.counters["rss_growth_at_end_of_publish_MiB"] = static_cast<double>(afterPublish - before) / 1024.0;
        state.counters["rss_growth_after_drain_MiB"] = static_cast<double>(ResidentKiB("VmRSS:") - before) / 1024.0;
        state.counters["rss_peak_MiB"] = static_cast<double>(ResidentKiB("VmHWM:")) / 1024.0;
        state.counters["payloads"] = static_cast<double>(host.payloadsBefore() - payloadsBefore);
    }
    state.SetItemsProcessed(static_cast<int64_t>(kMessages));
}
BENCHMARK(BusFlood)->UseRealTime()->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace
