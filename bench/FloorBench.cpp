// FloorBench.cpp - the floor of one status message on this machine: the stages the module
// runs for a four-tile payload, each done the direct way, in one loop.
//
//   twelve statistics from one read transaction, key paths prepared once;
//   26 string loads from the resource library's table, resolved once (no dlsym, no getenv);
//   six counts grouped with the locale's separator read once;
//   four tiles expanded in a single pass with XML escaping, values computed once;
//   the payload through RapidJSON's writer into a reused buffer;
//   one message handed through the module's queue (same thread, uncontended).
// BusWorkerCpu (BusBench.cpp) divided by this is the module's ratio to the floor.
// BusFloorThreaded runs the same stages between two cross-thread hand-offs, as the module's
// worker meets them with one message in flight.
#include <benchmark/benchmark.h>

#include <dlfcn.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <time.h>

#include <algorithm>
#include <filesystem>
#include <locale>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include "BenchStatistics.h"
#include "base/Utf.h"
#include "glimmerpane/resource_table.h"
#include "platform/Registry.h"
#include "render/JSONParser.h"
#include "render/PlaceholderScanner.h"
#include "render/TileCatalogue.h"
#include "tiles/MessageQueue.h"

namespace {

namespace reg = glimmerpane::platform;

// The four tiles of the module benchmarks and the count texts their bodies name.
constexpr Vornik::TileContent kTiles[] = {Vornik::FILES_SCANNED, Vornik::CONNECTIONS_BLOCKED, Vornik::THREATS_REMOVED,
                                          Vornik::SECURE};
constexpr uint32_t kCountIds[6] = {225, 226, 223, 221, 231, 230};

struct Floor {
    std::filesystem::path folder;
    std::shared_ptr<reg::RegistryStore> store;
    std::vector<reg::RegDwordLocation> locations;
    void* library = nullptr;
    const GpStringLanguage* language = nullptr;
    wchar_t separator = L',';
    rapidjson::GenericStringBuffer<Vornik::JSONParser::Encoding> buffer;
    std::wstring tile, pending;
    Vornik::MessageQueue queue;
    std::shared_ptr<Vornik::Message> message =
        std::make_shared<Vornik::Message>(L"Core.Update.State", L"bench", LR"({"state":"on"})");

    Floor() {
        std::string pattern = (std::filesystem::temp_directory_path() / "gp-bench-floor-XXXXXX").string();
        folder = mkdtemp(pattern.data());
        store = reg::OpenRegistryStore(glimmerpane::base::WideFromUtf8((folder / "registry").string()));
        if (!gpbench::SeedStatistics(store)) std::abort();
        for (const auto& [key, value] : gpbench::kStatistics) {
            locations.push_back({reg::HkeyLocalMachine(), key, L"SDSValue", {}});
            if (store->PrepareValue(&locations.back()) != 0) std::abort();
        }
        library = dlopen(GP_BENCH_BIN_DIR "/GPNResources.so", RTLD_NOW | RTLD_LOCAL);
        if (library == nullptr) std::abort();
        const auto* table = static_cast<const GpStringTable*>(dlsym(library, GP_STRING_TABLE_SYMBOL));
        for (uint32_t i = 0; table != nullptr && i < table->languageCount; ++i)
            if (table->languages[i].languageId == 0x0409) language = &table->languages[i];
        if (language == nullptr) std::abort();
        separator = std::use_facet<std::numpunct<wchar_t>>(std::locale("en_US.UTF-8")).thousands_sep();
    }
    ~Floor() {
        dlclose(library);
        store.reset();
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
    }

    std::wstring_view text(uint32_t id) const {
        const GpStringEntry* end = language->entries + language->count;
        const GpStringEntry* entry = std::lower_bound(language->entries, end, id,
                                                      [](const GpStringEntry& e, uint32_t wanted) { return e.id < wanted; });
        return entry == end || entry->id != id ? std::wstring_view() : std::wstring_view(entry->text, entry->length);
    }
    std::wstring grouped(uint64_t value) const {
        wchar_t digits[32];
        size_t length = 0, count = 0;
        do {
            if (count++ == 3) digits[length++] = separator, count = 1;
            digits[length++] = static_cast<wchar_t>(L'0' + value % 10);
            value /= 10;
        } while (value != 0);
        std::reverse(digits, digits + length);
        return std::wstring(digits, length);
    }
    // Appends text, expanding its placeholders from values and escaping the rest.
    void expand(std::wstring_view text, const std::vector<std::pair<std::wstring_view, std::wstring_view>>& values,
                std::wstring& out, bool escape) {
        size_t at = 0;
        for (Vornik::PlaceholderMatch m = Vornik::findPlaceholder(text); m.found(); m = Vornik::findPlaceholder(text, at)) {
            out.append(text.substr(at, m.position - at));
            const std::wstring_view name = text.substr(m.position, m.length);
            for (const auto& [placeholder, value] : values)
                if (placeholder == name) expand(value, values, out, true);
            at = m.position + m.length;
        }
        for (const wchar_t c : text.substr(at)) {
            if (escape && c == L'\'') out += L"&apos;";
            else out += c;
        }
    }
};

// One message's stages, as the module runs them for its four-tile payload.
void RunStages(Floor& floor) {
    uint32_t values[12], statuses[12];
    floor.store->ReadDwordValues(floor.locations.data(), 12, values, statuses);
    std::wstring counts[6];
    for (int i = 0; i < 6; ++i) counts[i] = floor.grouped(values[i % 3 == 0 ? 10 : 11] + i);
    std::wstring_view countTexts[6];
    for (int i = 0; i < 6; ++i) countTexts[i] = floor.text(kCountIds[i]);
    floor.buffer.Clear();
    rapidjson::Writer<decltype(floor.buffer), Vornik::JSONParser::Encoding, Vornik::JSONParser::Encoding> writer(
        floor.buffer);
    writer.StartObject();
    writer.Key(L"viewer_payload");
    writer.StartObject();
    writer.Key(L"tiles");
    writer.StartArray();
    for (const Vornik::TileContent content : kTiles) {
        const Vornik::TileResources& ids = *Vornik::findTileResources(content);
        const std::vector<std::pair<std::wstring_view, std::wstring_view>> tileValues = {
            {L"%IMAGE_SRC%", *Vornik::findTileImage(ids.image)},
            {L"%TILE_MEDIUM_TEXT_CAPTION%", floor.text(ids.mediumCaptionId)},
            {L"%TILE_MEDIUM_TEXT_BODY%", floor.text(ids.mediumBodyId)},
            {L"%TILE_WIDE_TEXT_CAPTION%", floor.text(ids.wideCaptionId)},
            {L"%TILE_WIDE_TEXT_BODY%", floor.text(ids.wideBodyId)},
            {L"%FILES_SCANNED_MEDIUM%", countTexts[0]}, {L"%FILES_SCANNED_WIDE%", countTexts[1]},
            {L"%CONNECTIONS_BLOCKED_MEDIUM%", countTexts[2]}, {L"%CONNECTIONS_BLOCKED_WIDE%", countTexts[3]},
            {L"%THREATS_REMOVED_MEDIUM%", countTexts[4]}, {L"%THREATS_REMOVED_WIDE%", countTexts[5]},
            {L"%NUM_FILES%", counts[0]}, {L"%NUM_OF_RISKY_CONNECTIONS%", counts[1]},
            {L"%NUM_THREATS_REMOVED%", counts[2]},
        };
        floor.tile.clear();
        floor.expand(floor.text(Vornik::TILE_TEMPLATE_ID), tileValues, floor.tile, false);
        writer.StartObject();
        writer.Key(L"xml");
        writer.String(floor.tile.data(), static_cast<rapidjson::SizeType>(floor.tile.size()));
        writer.EndObject();
    }
    writer.EndArray();
    writer.Key(L"clear_existing");
    writer.Bool(true);
    writer.EndObject();
    writer.Key(L"viewer_type");
    writer.String(L"corvane-uwp-live-tile");
    writer.EndObject();
    benchmark::DoNotOptimize(floor.buffer.GetString());
}

void BusFloor(benchmark::State& state) {
    Floor floor;
    for (auto _ : state) {
        RunStages(floor);
        floor.queue.push(floor.message);
        std::shared_ptr<Vornik::Message> taken;
        floor.queue.pop(taken);
    }
    state.counters["payload_chars"] = static_cast<double>(floor.buffer.GetSize() / sizeof(wchar_t));
}
BENCHMARK(BusFloor);

uint64_t ThisThreadCpuNs() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<uint64_t>(now.tv_sec) * 1'000'000'000u + static_cast<uint64_t>(now.tv_nsec);
}

long ThisThreadSwitches() {
    rusage usage{};
    getrusage(RUSAGE_THREAD, &usage);
    return usage.ru_nvcsw + usage.ru_nivcsw;
}

// The same stages on a worker thread fed as the module's worker is, one message in flight:
// the message arrives through a queue the worker sleeps on, and the payload leaves through
// a queue that a second thread (the bus's delivery thread) sleeps on, which hands it back
// to the publisher. What the worker spends here beyond BusFloor is this machine's cost of
// being put to sleep and woken once and of waking another thread once per message.
// With the argument 0 the worker runs no stages: the hand-offs alone.
void BusFloorThreaded(benchmark::State& state) {
    Floor floor;
    const bool stages = state.range(0) != 0;
    Vornik::MessageQueue delivery, back;
    uint64_t workerCpuNs = 0;
    long workerSwitches = 0;
    std::thread worker([&] {
        const uint64_t cpuStart = ThisThreadCpuNs();
        const long switchesStart = ThisThreadSwitches();
        std::shared_ptr<Vornik::Message> message;
        while (floor.queue.pop(message)) {
            if (stages) RunStages(floor);
            delivery.push(std::move(message));
        }
        workerCpuNs = ThisThreadCpuNs() - cpuStart;
        workerSwitches = ThisThreadSwitches() - switchesStart;
    });
    std::thread deliverer([&] {
        std::shared_ptr<Vornik::Message> payload;
        while (delivery.pop(payload)) back.push(std::move(payload));
    });
    int64_t messages = 0;
    for (auto _ : state) {
        floor.queue.push(floor.message);
        std::shared_ptr<Vornik::Message> returned;
        back.pop(returned);
        ++messages;
    }
    floor.queue.shutdown();
    worker.join();
    delivery.shutdown();
    deliverer.join();
    state.counters["worker_cpu_us"] = static_cast<double>(workerCpuNs) / 1000.0 / static_cast<double>(messages);
    state.counters["switches_per_msg"] = static_cast<double>(workerSwitches) / static_cast<double>(messages);
}
BENCHMARK(BusFloorThreaded)->Arg(1)->Arg(0)->Iterations(20000)->UseRealTime();

}  // namespace
