// HostRun.cpp - the host, the simulated suite and the viewer around one module run.
#include "HostRun.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <iostream>
#include <locale>
#include <mutex>
#include <optional>
#include <set>

#include "BusLibrary.h"
#include "FreshName.h"
#include "HtmlPreview.h"
#include "ModuleHost.h"
#include "TilePayload.h"
#include "platform/DynamicLibrary.h"
#include "platform/Environment.h"
#include "platform/Registry.h"
#include "platform/Shell.h"
#include "platform/LanguageIds.h"
#include "platform/StringResources.h"
#include "utility/CRegKey.h"
#include "base/Utf.h"

namespace glimmerpane::cli {

const char* const kCommonOptionsHelp =
    "  --lang L          tile language, any the resource library holds: en-US, de-DE, fr-FR\n"
    "                    as shipped (sets LANGUAGE and LC_ALL before the module loads;\n"
    "                    default: your own environment)\n"
    "  --json            print each tile payload as the module published it\n"
    "  --module-bus      initialise with InitializeModule: the module loads BusBroker itself\n"
    "                    (default: InitializeModuleV2 with the host's broker handle)\n"
    "  --html FILE       where to write the HTML preview, checked before the run (default: a\n"
    "                    new file of this run in the temporary folder)\n"
    "  --prefix DIR      run on this prefix (created when missing, kept): its registry, as\n"
    "                    `glimmerpane reg --prefix DIR` left it, reaches the module; the\n"
    "                    scenario's starting statistics are written only to a fresh prefix\n"
    "  --keep-prefix     keep the temporary prefix at the end and print where it is\n"
    "  --seed-statistics write the scenario's starting statistics into --prefix DIR too\n"
    "  --timeout MS      how long to wait for each tile set (default 5000)\n";

namespace {

constexpr int kExitOutputClosed = 141;  // as a shell reports a command ended by SIGPIPE
constexpr const wchar_t* kSuiteSender = L"Simulated suite";

using Clock = std::chrono::steady_clock;

// ---- bus endpoints of the host ----

// The viewer: collects every tile payload the module publishes.
class TileCollector {
public:
    static uint32_t OnMessage(void* context, const MessageHeader*, const wchar_t*, const wchar_t* sender,
                              const wchar_t* userData) {
        auto* self = static_cast<TileCollector*>(context);
        std::lock_guard lock(self->mutex_);
        self->payloads_.push_back({glimmerpane::base::Utf8FromWide(sender ? sender : L""),
                                   glimmerpane::base::Utf8FromWide(userData ? userData : L"")});
        self->changed_.notify_all();
        return 0;
    }
    size_t count() const {
        std::lock_guard lock(mutex_);
        return forgotten_ + payloads_.size();
    }
    std::pair<std::string, std::string> at(size_t index) const {
        std::lock_guard lock(mutex_);
        return payloads_.at(index - forgotten_);
    }
    // A long-running host keeps no payload it has shown: without this they pile up for ever.
    void forgetBefore(size_t index) {
        std::lock_guard lock(mutex_);
        const size_t drop = std::min(index - forgotten_, payloads_.size());
        payloads_.erase(payloads_.begin(), payloads_.begin() + static_cast<std::ptrdiff_t>(drop));
        forgotten_ += drop;
    }
    // True when at least `count` payloads have come; false on timeout or interrupt.
    bool waitFor(size_t count, uint32_t timeoutMs) const {
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        std::unique_lock lock(mutex_);
        while (forgotten_ + payloads_.size() < count) {
            if (platform::InterruptRequested() || Clock::now() >= deadline) return false;
            changed_.wait_for(lock, std::chrono::milliseconds(50));
        }
        return true;
    }

private:
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::vector<std::pair<std::string, std::string>> payloads_;  // sender, payload
    size_t forgotten_ = 0;  // payloads before payloads_.front()
};

// The suite components' ears: which refresh requests came. They answer from the host thread.
class RefreshRecorder {
public:
    static uint32_t OnMessage(void* context, const MessageHeader*, const wchar_t* name, const wchar_t*,
                              const wchar_t*) {
        auto* self = static_cast<RefreshRecorder*>(context);
        std::lock_guard lock(self->mutex_);
        self->seen_.insert(glimmerpane::base::Utf8FromWide(name ? name : L""));
        self->changed_.notify_all();
        return 0;
    }
    bool waitFor(size_t count, uint32_t timeoutMs) {
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        std::unique_lock lock(mutex_);
        while (seen_.size() < count) {
            if (platform::InterruptRequested() || Clock::now() >= deadline) return false;
            changed_.wait_for(lock, std::chrono::milliseconds(50));
        }
        return true;
    }
    bool seen(const std::string& name) {
        std::lock_guard lock(mutex_);
        return seen_.count(name) > 0;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::set<std::string> seen_;
};

ModuleStatus NoManager(void*, void*, void*, void*) { return 0; }

// ---- environment ----

// Who published a payload, in the host's words: the module signs its payloads with the name
// of its implementation class.
std::string Publisher(const std::string& sender) {
    return sender == "GlimmerpaneImpl" ? std::string("the module") : "\"" + sender + "\"";
}

// "de-DE" -> "de_DE", the form LANGUAGE and locale names use.
std::string LocaleBase(const std::string& tag) {
    std::string base = tag;
    std::replace(base.begin(), base.end(), '-', '_');
    return base;
}

// Whether the C++ library can make the locale; without it the module's numbers stay ungrouped.
bool LocaleInstalled(const std::string& name) {
    try {
        std::locale probe(name.c_str());
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

// Sets variables for the run and puts the old values back at the end.
class EnvironmentOverride {
public:
    bool set(const std::string& name, const std::string& value) {
        if (!saved_.count(name)) saved_[name] = platform::GetEnvironmentValue(name);
        return platform::SetEnvironmentValue(name, value);
    }
    ~EnvironmentOverride() {
        for (const auto& [name, value] : saved_) platform::SetEnvironmentValue(name, value);
    }

private:
    std::map<std::string, std::optional<std::string>> saved_;
};

// The run's prefix: the folder given with --prefix (created when missing, never removed),
// or a fresh temporary one, removed at the end unless it is to be kept.
class RunPrefix {
public:
    bool open(const std::string& given, bool keep, std::string* error) {
        std::error_code ec;
        if (!given.empty()) {
            path_ = std::filesystem::absolute(given, ec);
            if (!ec) std::filesystem::create_directories(path_, ec);
            if (ec || !std::filesystem::is_directory(path_, ec)) {
                *error = "cannot use " + given + " as the prefix: " + (ec ? ec.message() : "not a folder");
                path_.clear();
                return false;
            }
            return true;
        }
        if (!CreateFreshTempFolder("glimmerpane-prefix", &path_, error)) return false;
        temporary_ = true;
        remove_ = !keep;
        return true;
    }
    const std::filesystem::path& path() const { return path_; }
    bool temporary() const { return temporary_; }
    bool removedAtEnd() const { return remove_; }
    ~RunPrefix() {
        if (!remove_) return;
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }

private:
    std::filesystem::path path_;
    bool temporary_ = false;
    bool remove_ = false;
};

// Statistics are written by a child "glimmerpane reg add" rather than in this process:
// the module keeps the prefix's LMDB store open, and LMDB must not be opened twice in one
// process (closing either copy drops the other's file locks).
bool WriteStatistics(const std::map<std::string, uint32_t>& stats, std::string* error) {
    const std::string self = glimmerpane::base::Utf8FromWide(platform::ExecutablePath(4096));
    for (const auto& [name, value] : stats) {
        const std::string path = glimmerpane::base::Utf8FromWide(StatisticsKeys().at(name));
        const std::string command = platform::QuoteShellArgument(self) + " reg add " +
                                    platform::QuoteShellArgument("HKLM\\" + path) + " /v SDSValue /t REG_DWORD /d " +
                                    std::to_string(value) + " /f";
        if (const int code = platform::RunShellCommandQuietly(command); code != 0) {
            *error = "cannot write statistics key HKEY_LOCAL_MACHINE\\" + path + " (glimmerpane reg exited with " +
                     std::to_string(code) + ")";
            return false;
        }
    }
    return true;
}

std::string Join(const std::vector<std::string>& items, const char* separator) {
    std::string out;
    for (const std::string& item : items) out += (out.empty() ? "" : separator) + item;
    return out;
}

std::string DescribeStats(const std::map<std::string, uint32_t>& stats) {
    std::vector<std::string> items;
    for (const auto& [k, v] : stats) items.push_back(k + "=" + std::to_string(v));
    return "registry: " + Join(items, " ");
}

// ---- the run ----

class Run {
public:
    Run(const Scenario& scenario, const HostRunOptions& options) : scenario_(scenario), options_(options) {}

    int execute();

private:
    bool setUp();
    bool chooseLanguage();
    bool startModule();
    void answerRefreshRequests();
    void playSteps();
    void playInteractive();
    void serve();
    bool perform(const ScenarioAction& action, PreviewSection* section);
    bool awaitTileSet(const std::string& cause, PreviewSection* section);
    void checkExpectation(const ScenarioStep& step, const PreviewSection& section);
    void shutDown();
    void writePreview();
    bool check(const char* step, ModuleStatus status);
    void failure(const std::string& message) {
        std::fprintf(stderr, "glimmerpane: %s\n", message.c_str());
        failed_ = true;
    }
    // Flushes what was printed. Output that can no longer be written (a reader that closed
    // the pipe, as `| head` does) ends the run the way Ctrl-C does: the module is stopped
    // and destroyed, and the temporary prefix removed.
    void flush() {
        for (FILE* stream : {out_, stdout}) {
            if (std::fflush(stream) != 0 || std::ferror(stream)) {
                if (!outputClosed_) platform::RequestInterrupt();
                outputClosed_ = true;
            }
        }
    }

    const Scenario& scenario_;
    const HostRunOptions& options_;
    std::wstring bin_;
    EnvironmentOverride environment_;
    RunPrefix prefix_;
    BusLibrary bus_;
    ModuleHost module_;
    ModuleHandle handle_ = nullptr;
    bool initialized_ = false, started_ = false;
    void* suiteHandle_ = nullptr;
    void* viewerHandle_ = nullptr;
    void* moduleBusHandle_ = nullptr;
    TileCollector tiles_;
    RefreshRecorder refreshes_;
    std::optional<TileNamer> namer_;
    size_t tilesSeen_ = 0;
    std::vector<PreviewSection> sections_;
    int expectationsMet_ = 0, expectationsFailed_ = 0, rejectedLines_ = 0;
    bool failed_ = false;
    // Progress and tile sets; with --json only the payloads go to standard output and this
    // is standard error, so that every line there is one JSON document.
    FILE* const out_ = options_.printJson ? stderr : stdout;
    bool outputClosed_ = false;
    OutputFile preview_;
    bool previewWritten_ = false;
    bool badArgument_ = false;  // found only once the libraries are at hand: exit code 2
};

bool Run::check(const char* step, ModuleStatus status) {
    std::fprintf(out_, "  %-20s %s\n", step, DescribeStatus(status).c_str());
    flush();
    if (status != 0) failure(std::string(step) + " failed: " + DescribeStatus(status));
    return status == 0;
}

bool Run::setUp() {
    bin_ = options_.binFolder.empty() ? platform::ExecutableFolder() : options_.binFolder;
    std::string error;
    // The preview's file first: a bad --html path ends the run before anything has run.
    if (!preview_.open(options_.htmlPath, "glimmerpane-" + options_.runName, &error)) return failure(error), false;
    if (!prefix_.open(options_.prefix, options_.keepPrefix, &error)) return failure(error), false;
    // The module reads the prefix, the language and the locale when it first needs them, so
    // they are set before anything is loaded.
    if (!environment_.set("GLIMMERPANE_PREFIX", prefix_.path().string()))
        return failure("cannot set GLIMMERPANE_PREFIX"), false;
    if (!chooseLanguage()) return false;
    std::fprintf(out_, "prefix   %s%s\n", prefix_.path().string().c_str(),
                 prefix_.temporary() ? (prefix_.removedAtEnd() ? " (temporary)" : " (temporary, kept)") : "");
    // A prefix of the user's own keeps its registry as it is; a fresh one gets the scenario's
    // starting statistics.
    if ((prefix_.temporary() || options_.seedStatistics) && !scenario_.seedStats.empty()) {
        if (!WriteStatistics(scenario_.seedStats, &error)) return failure(error), false;
        std::fprintf(out_, "seeded   %zu statistics values\n", scenario_.seedStats.size());
    }
    namer_.emplace(bin_ + platform::LibraryFileName(L"GPNResources"));
    if (!namer_->error().empty())
        std::fprintf(stderr, "glimmerpane: warning: tiles will not be named: %s\n", namer_->error().c_str());

    // The module (with InitializeModule) loads BusBroker from the host's folder too; the
    // same file means the same library and so the same broker, which the suite shares.
    if (!bus_.load(bin_ + platform::LibraryFileName(L"BusBroker"), kFrameworkVersion))
        return failure(bus_.error()), false;
    std::fprintf(out_, "bus      BusBroker %s\n", bus_.versionString());
    ModuleStatus status = 0;
    suiteHandle_ = bus_.open(&status);
    if (suiteHandle_) viewerHandle_ = bus_.open(&status);
    if (!viewerHandle_) return failure("the bus refused a handle: " + DescribeStatus(status)), false;
    if (bus_.functions()->subscribe(viewerHandle_, &tiles_, &TileCollector::OnMessage, kTileMessage) == 0)
        return failure("the bus refused the viewer's subscription"), false;
    for (const StatusKind& kind : StatusKinds()) {
        const std::wstring name = glimmerpane::base::WideFromUtf8(kind.refresh);
        if (bus_.functions()->subscribe(suiteHandle_, &refreshes_, &RefreshRecorder::OnMessage, name.c_str()) == 0)
            return failure("the bus refused the subscription to " + std::string(kind.refresh)), false;
    }
    return true;
}

// --lang: any language the resource library holds. Said once, and not fatal: a locale that
// is not installed, which leaves the numbers of the tiles without grouping.
bool Run::chooseLanguage() {
    std::string locale;
    if (!options_.language.empty()) {
        const auto wanted = platform::LanguageIdFromLocaleName(options_.language);
        const std::wstring library = bin_ + platform::LibraryFileName(L"GPNResources");
        std::vector<uint16_t> held;
        if (platform::ModuleHandle resources = platform::LoadResourceLibrary(library)) {
            held = platform::ResourceLanguages(resources);
            platform::FreeResourceLibrary(resources);
        }
        if (!wanted || std::find(held.begin(), held.end(), *wanted) == held.end()) {
            std::vector<std::string> tags;
            for (uint16_t id : held) tags.push_back(platform::LanguageTag(id));
            badArgument_ = true;
            return failure("--lang " + options_.language + ": the resource library has no texts in it (it holds " +
                           (tags.empty() ? std::string("none") : Join(tags, ", ")) + ")"),
                   false;
        }
        locale = LocaleBase(options_.language) + ".UTF-8";
        environment_.set("LANGUAGE", LocaleBase(options_.language));
        environment_.set("LC_ALL", locale);
    }
    if (!LocaleInstalled(locale)) {
        std::fprintf(stderr,
                     "glimmerpane: warning: the locale %s is not installed, so the tiles show numbers without "
                     "grouping (Debian: enable it in /etc/locale.gen and run locale-gen)\n",
                     locale.empty() ? "of your environment" : locale.c_str());
    }
    return true;
}

bool Run::startModule() {
    const std::wstring path = bin_ + platform::LibraryFileName(L"Glimmerpane");
    if (!module_.load(path)) return failure(module_.error()), false;
    std::fprintf(out_, "module   Glimmerpane %s (%u)\n", module_.versionString(), module_.versionNumber());
    const ModuleFunctionTable* table = module_.table();
    if (!check("NewModule", table->NewModule(&handle_, L"GlimmerpaneHost"))) return false;
    const wchar_t* names[] = {L"Host"};
    const wchar_t* values[] = {L"glimmerpane"};
    static int managerContext = 0;
    ModuleStatus status;
    if (options_.moduleLoadsBus) {
        status = table->InitializeModule(handle_, L"Glimmerpane", L"GlimmerpaneHost", 1, names, values, &managerContext,
                                         NoManager);
        if (!check("InitializeModule", status)) {
            std::fprintf(stderr,
                         "glimmerpane: the module could not load the bus library itself (InitializeModule); "
                         "run without --module-bus to hand it the host's broker instead\n");
            return false;
        }
    } else {
        moduleBusHandle_ = bus_.open(&status);
        if (!moduleBusHandle_) return failure("the bus refused the module's handle: " + DescribeStatus(status)), false;
        status = table->InitializeModuleV2(handle_, L"Glimmerpane", L"GlimmerpaneHost", 1, names, values,
                                           &managerContext, NoManager, moduleBusHandle_, bus_.functions());
        if (!check("InitializeModuleV2", status)) return false;
    }
    initialized_ = true;
    if (!check("StartModule", table->StartModule(handle_))) return false;
    started_ = true;
    return true;
}

void Run::answerRefreshRequests() {
    PreviewSection section;
    section.title = "Start: the module asks every component to refresh";
    std::fprintf(out_, "\n== %s\n", section.title.c_str());
    if (!refreshes_.waitFor(StatusKinds().size(), options_.timeoutMs) && !platform::InterruptRequested())
        std::fprintf(stderr, "glimmerpane: warning: not every refresh request came within %u ms\n", options_.timeoutMs);
    // Answered one by one in the module's own order, each followed by its tile set, so the
    // run is the same every time (answers racing each other would reorder the tile sets).
    for (const StatusKind& kind : StatusKinds()) {
        if (platform::InterruptRequested()) break;
        if (!refreshes_.seen(kind.refresh)) {
            section.notes.push_back(std::string("no request ") + kind.refresh);
            continue;
        }
        auto it = scenario_.initial.find(kind.status);
        if (it == scenario_.initial.end()) {
            section.notes.push_back(std::string(kind.refresh) + " left unanswered (no initial state)");
            std::fprintf(out_, "-- %s: no initial state, left unanswered\n", kind.refresh);
            continue;
        }
        ScenarioAction answer;
        answer.name = kind.status;
        answer.userData = it->second;
        if (!perform(answer, &section)) break;
    }
    sections_.push_back(std::move(section));
}

bool Run::perform(const ScenarioAction& action, PreviewSection* section) {
    std::string error;
    if (action.kind == ScenarioAction::Kind::Stats) {
        const std::string note = DescribeStats(action.stats);
        std::fprintf(out_, "-- %s\n", note.c_str());
        section->notes.push_back(note);
        if (!WriteStatistics(action.stats, &error)) return failure(error), false;
        return true;
    }
    const std::string note = action.name + (action.userData.empty() ? "" : " " + action.userData);
    std::fprintf(out_, "-> %s\n", note.c_str());
    section->notes.push_back("sent " + note);
    const ModuleStatus status = bus_.publish(suiteHandle_, glimmerpane::base::WideFromUtf8(action.name), kSuiteSender,
                                             glimmerpane::base::WideFromUtf8(action.userData));
    if (status != 0) return failure("publishing " + action.name + " failed: " + DescribeStatus(status)), false;
    if (!IsStatusMessage(action.name)) {
        std::fprintf(out_, "   (not a status message of the module: no tile set expected)\n");
        return true;
    }
    return awaitTileSet(action.name, section);
}

bool Run::awaitTileSet(const std::string& cause, PreviewSection* section) {
    if (!tiles_.waitFor(tilesSeen_ + 1, options_.timeoutMs)) {
        if (platform::InterruptRequested()) return false;
        const std::string problem = "no tile set within " + std::to_string(options_.timeoutMs) + " ms after " + cause;
        section->problem = problem;
        return failure(problem), false;
    }
    const auto [sender, payload] = tiles_.at(tilesSeen_++);
    PreviewTileSet set;
    set.label = "tile set " + std::to_string(tilesSeen_) + " after " + cause;
    if (options_.printJson) {
        std::fprintf(stdout, "%s\n", payload.c_str());
        flush();
    }
    std::string reason;
    if (!DecodePayload(payload, &set.payload, &reason)) {
        const std::string problem = "tile set " + std::to_string(tilesSeen_) + " from " + Publisher(sender) +
                                    " is not a tile payload: " + reason;
        section->problem = problem;
        return failure(problem), false;
    }
    if (namer_) namer_->nameAll(&set.payload);
    if (!options_.printJson) {
        std::fprintf(out_, "   tile set %zu from %s: ", tilesSeen_, Publisher(sender).c_str());
        std::vector<std::string> names;
        for (const DecodedTile& t : set.payload.tiles) names.push_back(t.name);
        std::fprintf(out_, "%s\n", Join(names, ", ").c_str());
        for (size_t i = 0; i < set.payload.tiles.size(); ++i) {
            const DecodedTile& t = set.payload.tiles[i];
            std::fprintf(out_, "     %zu. %-21s [%s]\n", i + 1, t.name.c_str(), t.medium.image.c_str());
            std::fprintf(out_, "        medium: %s | %s\n", t.medium.caption.c_str(), t.medium.body.c_str());
            std::fprintf(out_, "        wide:   %s | %s\n", t.wide.caption.c_str(), t.wide.body.c_str());
        }
    }
    flush();
    section->tileSets.push_back(std::move(set));
    return true;
}

void Run::checkExpectation(const ScenarioStep& step, const PreviewSection& section) {
    if (!step.expect) return;
    std::vector<std::string> actual;
    if (!section.tileSets.empty())
        for (const DecodedTile& t : section.tileSets.back().payload.tiles) actual.push_back(t.name);
    if (actual == *step.expect) {
        ++expectationsMet_;
        std::fprintf(out_, "   expected tiles: %s  ok\n", Join(*step.expect, ", ").c_str());
    } else {
        ++expectationsFailed_;
        failure("step '" + step.title + "' (line " + std::to_string(step.line) + "): expected tiles " +
                Join(*step.expect, ", ") + " but the last tile set holds " +
                (actual.empty() ? std::string("nothing") : Join(actual, ", ")));
        sections_.back().problem = "expected " + Join(*step.expect, ", ");
    }
}

void Run::playSteps() {
    // A missed expectation is reported and the day goes on; a step that could not be
    // played (no tile set, a refused publish) ends it.
    for (const ScenarioStep& step : scenario_.steps) {
        if (platform::InterruptRequested()) return;
        PreviewSection section;
        section.title = step.title;
        std::fprintf(out_, "\n== %s\n", step.title.c_str());
        bool ok = true;
        for (const ScenarioAction& action : step.actions) {
            if (!(ok = perform(action, &section))) break;
        }
        sections_.push_back(std::move(section));
        if (!ok) return;
        checkExpectation(step, sections_.back());
    }
}

void Run::playInteractive() {
    std::fprintf(stderr,
                 "Type status messages, one per line: NAME {JSON}  (e.g. Core.Firewall.State "
                 "{\"state\":\"off\",\"off_by_user\":true}),\n'stats KEY=N ...' to change statistics, "
                 "'quit' or end of input to finish, Ctrl-C to stop.\n");
    std::string line;
    int number = 0;
    while (!platform::InterruptRequested() && std::getline(*options_.interactiveInput, line)) {
        ++number;
        const std::string trimmed = [&] {
            const size_t b = line.find_first_not_of(" \t\r");
            const size_t e = line.find_last_not_of(" \t\r");
            return b == std::string::npos ? std::string() : line.substr(b, e - b + 1);
        }();
        if (trimmed.empty() || trimmed[0] == '#') continue;
        if (trimmed == "quit" || trimmed == "exit") break;
        ScenarioAction action;
        std::string reason;
        if (!ParseInteractiveLine(trimmed, &action, &reason)) {
            ++rejectedLines_;
            std::fprintf(stderr, "glimmerpane: input line %d: %s\n", number, reason.c_str());
            continue;
        }
        PreviewSection section;
        section.title = "Input line " + std::to_string(number);
        const bool ok = perform(action, &section);
        sections_.push_back(std::move(section));
        // A tile set that never came is worth reporting, not worth ending the session.
        if (!ok && !platform::InterruptRequested()) continue;
    }
}

void Run::serve() {
    PreviewSection section;
    section.title = "Hosted until stopped";
    std::fprintf(out_, "\n== %s: hosting, SIGTERM or Ctrl-C stops\n", section.title.c_str());
    flush();
    while (!platform::InterruptRequested()) {
        // Payloads caused by other processes count like our own; none is awaited in vain.
        if (!tiles_.waitFor(tilesSeen_ + 1, 250)) continue;
        awaitTileSet("a status message", &section);
        tiles_.forgetBefore(tilesSeen_);
        // The preview at the end shows the latest tile sets, not all of a long run.
        constexpr size_t kKept = 100;
        if (section.tileSets.size() > kKept) section.tileSets.erase(section.tileSets.begin());
    }
    sections_.push_back(std::move(section));
}

void Run::shutDown() {
    if (handle_ != nullptr) {
        const ModuleFunctionTable* table = module_.table();
        std::fprintf(out_, "\n");
        if (started_) check("StopModule", table->StopModule(handle_));
        if (initialized_) check("UninitializeModule", table->UninitializeModule(handle_));
        check("DestroyModule", table->DestroyModule(handle_));
        handle_ = nullptr;
    }
    // The module never closes a handle it was given; the host does, once the module is gone.
    if (moduleBusHandle_) bus_.close(moduleBusHandle_);
    if (suiteHandle_) bus_.close(suiteHandle_);
    if (viewerHandle_) bus_.close(viewerHandle_);
    moduleBusHandle_ = suiteHandle_ = viewerHandle_ = nullptr;
}

void Run::writePreview() {
    if (!preview_.isOpen()) return;
    std::string summary = "Tile sets: " + std::to_string(tilesSeen_) + ". Language: " +
                          (options_.language.empty() ? std::string("from the environment") : options_.language) +
                          ". Initialised with " + (options_.moduleLoadsBus ? "InitializeModule" : "InitializeModuleV2") +
                          ".";
    if (expectationsMet_ + expectationsFailed_ > 0)
        summary += " Expectations met: " + std::to_string(expectationsMet_) + " of " +
                   std::to_string(expectationsMet_ + expectationsFailed_) + ".";
    if (failed_) summary += " The run failed.";
    const std::string html = RenderPreviewHtml(scenario_.title, summary, sections_, bin_, PageLanguage(options_.language));
    std::string error;
    if (preview_.commit(html, &error)) {
        previewWritten_ = true;
    } else {
        failure(error);
    }
}

int Run::execute() {
    std::fprintf(out_, "%s\n", scenario_.title.c_str());
    if (setUp() && startModule()) {
        answerRefreshRequests();
        if (!failed_) {
            if (options_.interactiveInput) playInteractive();
            else if (options_.serve) serve();
            else playSteps();
        }
    }
    flush();
    const bool interrupted = platform::InterruptRequested() && !outputClosed_;
    if (interrupted) std::fprintf(out_, "\n%s: stopping the module\n", options_.serve ? "stop requested" : "interrupted");
    shutDown();
    writePreview();
    std::fprintf(out_, "\nsummary: %zu tile sets", tilesSeen_);
    if (expectationsMet_ + expectationsFailed_ > 0)
        std::fprintf(out_, ", %d of %d expected tile sets seen", expectationsMet_, expectationsMet_ + expectationsFailed_);
    if (rejectedLines_ > 0) std::fprintf(out_, ", %d input lines rejected", rejectedLines_);
    std::fprintf(out_, ", %s\n",
                 options_.serve ? (failed_ ? "FAILED" : "stopped")
                 : interrupted  ? "interrupted"
                 : failed_      ? "FAILED"
                                : "all steps succeeded");
    if (previewWritten_) std::fprintf(out_, "preview: %s\n", preview_.path().c_str());
    if (prefix_.temporary() && !prefix_.removedAtEnd()) std::fprintf(out_, "kept     %s\n", prefix_.path().string().c_str());
    flush();
    if (badArgument_) return 2;
    if (outputClosed_) return kExitOutputClosed;
    if (interrupted && !options_.serve) return 130;
    return failed_ ? 1 : 0;
}

}  // namespace

bool ParseCommonOptions(std::vector<std::string>* args, HostRunOptions* options, std::string* error) {
    std::vector<std::string> rest;
    for (size_t i = 0; i < args->size(); ++i) {
        const std::string& a = (*args)[i];
        auto value = [&](std::string* out) {
            if (i + 1 >= args->size()) {
                *error = a + " needs a value";
                return false;
            }
            *out = (*args)[++i];
            return true;
        };
        if (a == "--json") {
            options->printJson = true;
        } else if (a == "--module-bus") {
            options->moduleLoadsBus = true;
        } else if (a == "--lang") {
            if (!value(&options->language)) return false;
            const auto id = platform::LanguageIdFromLocaleName(options->language);
            if (!id || options->language.find_first_of("_.@") != std::string::npos ||
                platform::SubLanguage(*id) == 0) {
                *error = "unknown language '" + options->language + "' (a tag such as en-US, de-DE or fr-FR)";
                return false;
            }
        } else if (a == "--prefix") {
            if (!value(&options->prefix)) return false;
            if (options->prefix.empty()) {
                *error = "--prefix needs a folder";
                return false;
            }
        } else if (a == "--keep-prefix") {
            options->keepPrefix = true;
        } else if (a == "--seed-statistics") {
            options->seedStatistics = true;
        } else if (a == "--html") {
            if (!value(&options->htmlPath)) return false;
            if (options->htmlPath.empty()) {
                *error = "--html needs a file name";
                return false;
            }
        } else if (a == "--timeout") {
            std::string text;
            if (!value(&text)) return false;
            char* end = nullptr;
            const unsigned long ms = std::strtoul(text.c_str(), &end, 10);
            if (text.empty() || *end != '\0' || ms == 0 || ms > 600000) {
                *error = "--timeout needs milliseconds from 1 to 600000, not '" + text + "'";
                return false;
            }
            options->timeoutMs = static_cast<uint32_t>(ms);
        } else {
            rest.push_back(a);
        }
    }
    *args = std::move(rest);
    return true;
}

int RunHost(const Scenario& scenario, const HostRunOptions& options) {
    platform::InstallInterruptFlag();
    Run run(scenario, options);
    return run.execute();
}

}  // namespace glimmerpane::cli
