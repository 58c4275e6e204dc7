// DbusBench.cpp - the bus across processes: a private dbus-daemon, `glimmerpane host` in a
// child process hosting the module, and this process publishing over its own connection.
//
//   DbusLatency     publish "Core.Update.State" to the module's payload arriving back here,
//                   one message in flight: p50 and p99 (compare BusLatency, in-process)
//   DbusThroughput  messages/s end to end with up to 32 in flight (compare BusThroughput)
//   DbusRawRate     messages/s between two connections, no module: one publishes 100,000
//                   small messages, the other counts them
//   BrokerRawRate   the same between two handles of one in-process Broker
// The host gets the statistics of BusBench (four tiles a payload) through its scenario and
// prints its tile sets to /dev/null.
#if GP_BUS_DBUS
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "Broker.h"
#include "Transport.h"
#include "support/PrivateDbus.h"

namespace {

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "DbusBench: %s\n", what);
    std::abort();
}

std::string BinFolder() {
    const char* folder = std::getenv("GP_BENCH_BIN_DIR");
    return folder != nullptr && *folder != '\0' ? folder : GP_BENCH_BIN_DIR;
}

MessageHeader NewHeader() {
    MessageHeader header{};
    header.marker = 1;
    header.headerVersion = 2;
    return header;
}

struct Counter {
    std::mutex mutex;
    std::condition_variable arrived;
    uint64_t count = 0;
    size_t lastSize = 0;
    Clock::time_point last;
    static uint32_t On(void* context, const MessageHeader*, const wchar_t*, const wchar_t*, const wchar_t* data) {
        auto* self = static_cast<Counter*>(context);
        {
            std::lock_guard lock(self->mutex);
            ++self->count;
            self->lastSize = std::wcslen(data);
            self->last = Clock::now();
        }
        self->arrived.notify_all();
        return 0;
    }
    uint64_t now() {
        std::lock_guard lock(mutex);
        return count;
    }
    bool wait(uint64_t wanted, std::chrono::seconds limit = std::chrono::seconds(30)) {
        std::unique_lock lock(mutex);
        return arrived.wait_for(lock, limit, [&] { return count >= wanted; });
    }
};

// One connection with one handle on it.
struct Connection {
    std::unique_ptr<BusBroker::Transport> transport;
    void* handle = nullptr;
    explicit Connection(const std::string& address) {
        BusBroker::DbusOptions options;
        options.address = address;
        std::string error;
        transport = BusBroker::ConnectDbus(options, nullptr, {}, &error);
        if (!transport || transport->broker().open(&handle) != 0) Fail(error.c_str());
    }
    void subscribe(Counter& counter, const wchar_t* name) {
        const uint32_t id = transport->broker().subscribe(handle, &counter, &Counter::On, name);
        if (id == 0) Fail("subscribe failed");
        transport->subscribed(handle, id, false, name);
    }
    void publish(const wchar_t* name, const wchar_t* data) {
        MessageHeader header = NewHeader();
        if (transport->admit(name, L"bench", data) != 0 ||
            transport->broker().publish(handle, &header, name, L"bench", data) != 0)
            Fail("publish failed");
    }
};

const char* const kScenario =
    "title Bench\n"
    "initial Core.Antivirus.LastScanTime {\"scan_out_of_date\":false}\n"
    "initial Core.ProductState.ProductListChange {\"default\":{\"pelmor\":\"enabled\",\"dravix\":\"enabled\"}}\n"
    "initial Core.ProductState.3rdPartyListChange {\"firewall_state\":\"on\",\"antivirus_state\":\"on\","
    "\"firewall\":\"Corvane Firewall\",\"antivirus\":\"Corvane Antivirus\"}\n"
    "initial Core.Antivirus.RTSState {\"state\":\"on\",\"repair\":\"off\",\"starting\":false,\"pup_scan_enabled\":true}\n"
    "initial Core.Firewall.State {\"state\":\"on\",\"off_by_user\":false}\n"
    "initial Core.Antivirus.DATState {\"dat_out_of_date\":false}\n"
    "initial Core.Update.State {\"state\":\"on\"}\n"
    "initial Core.Protection.State {\"state\":\"green\"}\n"
    "stats RootKitsResolved=1 TrackingCookiesResolved=2 TrojansResolved=3 UnwantedProgramResolved=4 VirusResolved=5\n"
    "stats RootKitsDetected=1 TrackingCookiesDetected=2 TrojansDetected=3 UnwantedProgramDetected=4 VirusDetected=5\n"
    "stats TotalItemScanned=1234567 TotalInboundConnectionBlocked=42\n";

// The daemon, the host child and this process's connection, for the module benchmarks.
class HostedModule {
public:
    HostedModule() : daemon_(), folder_(fs::temp_directory_path() / ("gp-dbus-bench-" + std::to_string(getpid()))) {
        if (daemon_.address().empty()) Fail("dbus-daemon did not start");
        fs::create_directories(folder_);
        std::ofstream(folder_ / "bench.scn") << kScenario;
        const std::string cli = BinFolder() + "/glimmerpane";
        const std::string scenario = (folder_ / "bench.scn").string();
        const std::string html = (folder_ / "host.html").string();
        const std::string bus = "GLIMMERPANE_BUS=" + daemon_.address();
        setenv("GLIMMERPANE_BUS", daemon_.address().c_str(), 1);
        char* argv[] = {const_cast<char*>(cli.c_str()), const_cast<char*>("host"), const_cast<char*>("--scenario"),
                        const_cast<char*>(scenario.c_str()), const_cast<char*>("--html"),
                        const_cast<char*>(html.c_str()), nullptr};
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        if (posix_spawn(&host_, cli.c_str(), &actions, nullptr, argv, environ) != 0) Fail("cannot start the host");
        posix_spawn_file_actions_destroy(&actions);
        unsetenv("GLIMMERPANE_BUS");
        connection_.emplace(daemon_.address());
        connection_->subscribe(payloads, L"messaging.message.processed");
        // Until the module answers one of ours; then its start's own payloads have passed too.
        const auto until = Clock::now() + std::chrono::seconds(60);
        while (!publishAndWait(std::chrono::seconds(1))) {
            if (Clock::now() > until) Fail("the hosted module published no tile set");
        }
        std::this_thread::sleep_for(std::chrono::seconds(1));
    }
    ~HostedModule() {
        kill(host_, SIGTERM);
        int status = 0;
        waitpid(host_, &status, 0);
        connection_.reset();
        std::error_code ignored;
        fs::remove_all(folder_, ignored);
    }
    void publish() { connection_->publish(L"Core.Update.State", LR"({"state":"on"})"); }
    bool publishAndWait(std::chrono::seconds limit = std::chrono::seconds(30)) {
        const uint64_t wanted = payloads.now() + 1;
        publish();
        return payloads.wait(wanted, limit);
    }

    Counter payloads;

private:
    gptest::PrivateDbus daemon_;
    fs::path folder_;
    pid_t host_ = -1;
    std::optional<Connection> connection_;
};

HostedModule& Hosted() {
    static HostedModule hosted;
    return hosted;
}

void DbusLatency(benchmark::State& state) {
    HostedModule& hosted = Hosted();
    std::vector<double> samples;
    for (auto _ : state) {
        const auto start = Clock::now();
        if (!hosted.publishAndWait()) Fail("no payload within 30 s");
        std::lock_guard lock(hosted.payloads.mutex);
        samples.push_back(std::chrono::duration<double, std::micro>(hosted.payloads.last - start).count());
    }
    std::sort(samples.begin(), samples.end());
    state.counters["p50_us"] = samples[samples.size() / 2];
    state.counters["p99_us"] = samples[samples.size() * 99 / 100];
    state.counters["payload_chars"] = static_cast<double>(hosted.payloads.lastSize);
}
BENCHMARK(DbusLatency)->UseRealTime()->Iterations(5000);

void DbusThroughput(benchmark::State& state) {
    HostedModule& hosted = Hosted();
    constexpr uint64_t kMessages = 20000, kWindow = 32;
    for (auto _ : state) {
        const uint64_t start = hosted.payloads.now();
        for (uint64_t i = 0; i < kMessages; ++i) {
            if (i >= kWindow && !hosted.payloads.wait(start + i - kWindow + 1)) Fail("payloads stopped");
            hosted.publish();
        }
        if (!hosted.payloads.wait(start + kMessages)) Fail("payloads stopped");
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kMessages));
}
BENCHMARK(DbusThroughput)->UseRealTime()->Iterations(1)->Unit(benchmark::kMillisecond);

constexpr uint64_t kRawMessages = 100000;

void DbusRawRate(benchmark::State& state) {
    gptest::PrivateDbus daemon;
    if (daemon.address().empty()) Fail("dbus-daemon did not start");
    Counter received;
    Connection publisher(daemon.address());
    Connection subscriber(daemon.address());
    subscriber.subscribe(received, L"Bench.Tick");
    for (auto _ : state) {
        const uint64_t start = received.now();
        for (uint64_t i = 0; i < kRawMessages; ++i) publisher.publish(L"Bench.Tick", L"{\"n\":1}");
        if (!received.wait(start + kRawMessages, std::chrono::seconds(120))) Fail("messages lost");
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kRawMessages));
}
BENCHMARK(DbusRawRate)->UseRealTime()->Iterations(1)->Unit(benchmark::kMillisecond);

void BrokerRawRate(benchmark::State& state) {
    Counter received;
    BusBroker::Broker broker;
    void* publisher = nullptr;
    void* subscriber = nullptr;
    if (broker.open(&publisher) != 0 || broker.open(&subscriber) != 0) Fail("open failed");
    if (broker.subscribe(subscriber, &received, &Counter::On, L"Bench.Tick") == 0) Fail("subscribe failed");
    for (auto _ : state) {
        const uint64_t start = received.now();
        for (uint64_t i = 0; i < kRawMessages; ++i) {
            MessageHeader header = NewHeader();
            broker.publish(publisher, &header, L"Bench.Tick", L"bench", L"{\"n\":1}");
        }
        if (!received.wait(start + kRawMessages)) Fail("messages lost");
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kRawMessages));
}
BENCHMARK(BrokerRawRate)->UseRealTime()->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

#endif  // GP_BUS_DBUS
