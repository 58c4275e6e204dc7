// TraceCommand.cpp - `glimmerpane trace`: runs another subcommand of this program while a
// trace session enables the module's provider, printing each decoded event; with --files
// the file back end is chosen instead and the log folder is shown at the end.
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "Command.h"
#include "FreshName.h"
#include "TraceConsumer.h"
#include "etwlogging/LogBuilder.h"
#include "platform/Environment.h"
#include "platform/KnownFolders.h"
#include "utility/CObfuscatedRegKey.h"
#include "base/Utf.h"

namespace glimmerpane::cli {
namespace {

constexpr const char* kUsage =
    "usage: glimmerpane trace [--level N] [--flags N] [--files] -- COMMAND [ARGS...]\n\n"
    "Runs COMMAND (another glimmerpane subcommand, such as 'demo') in this process while a\n"
    "trace session enables the module's trace provider, and prints every event:\n"
    "time, level, group, source file, function and message.\n\n"
    "  --level N   1 (everything) .. 5 (critical only); default 1. Information (3) always passes.\n"
    "  --flags N   enable flags handed to the provider; default 0.\n"
    "  --files     choose the file back end instead (registry value \"Logging Mechanism\" = 1\n"
    "              for the run, restored afterwards) and list the log files it wrote at the end.\n"
    "              The run's prefix is COMMAND's --prefix, else a new folder that is kept for\n"
    "              the logs (demo and run get it as --prefix, seeded as usual).";

bool ParseNumber(const std::string& text, unsigned long max, unsigned long* value) {
    if (text.empty() || text.size() > 10) return false;
    for (char c : text)
        if (c < '0' || c > '9') return false;
    *value = std::stoul(text);
    return *value <= max;
}

const Command* FindCommand(const std::string& name) {
    for (const Command& c : Commands())
        if (name == c.name) return &c;
    return nullptr;
}

// Sets "Logging Mechanism" for the run and puts the old state back afterwards.
class MechanismOverride {
public:
    bool set() {
        if (key_.Create(platform::HkeyLocalMachine(), ETWLogging::kLoggingKeyPath) != 0) return false;
        had_ = key_.QueryDwordValue(ETWLogging::kLoggingMechanismValue, &old_) == 0;
        return key_.SetDwordValue(ETWLogging::kLoggingMechanismValue, 1) == 0;
    }
    ~MechanismOverride() {
        if (key_.GetHandle() == nullptr) return;
        if (had_) key_.SetDwordValue(ETWLogging::kLoggingMechanismValue, old_);
        else key_.DeleteValue(ETWLogging::kLoggingMechanismValue);
    }

private:
    Kestrix::CObfuscatedRegKey key_;
    bool had_ = false;
    uint32_t old_ = 0;
};

// --files: the module's records go to log files, and afterwards the files it really wrote
// are listed. The run needs a prefix whose registry chooses the file back end and that
// outlives the run (demo and run would otherwise make a temporary one and remove it, logs
// and all): the --prefix the command was given, else a new folder, kept for the logs.
int RunWithLogFiles(const Command& command, std::vector<std::string> rest) {
    const bool hosts = std::string(command.name) == "demo" || std::string(command.name) == "run";
    std::string prefix;
    for (size_t i = 0; i + 1 < rest.size(); ++i) {
        if (rest[i] == "--prefix") prefix = rest[i + 1];
    }
    bool fresh = false;
    if (prefix.empty()) {
        std::filesystem::path folder;
        std::string error;
        if (!CreateFreshTempFolder("glimmerpane-trace", &folder, &error)) {
            return Fail(1, "trace: cannot create a folder for the log files: " + error);
        }
        prefix = folder.string();
        fresh = true;
        if (hosts) rest.insert(rest.end(), {"--prefix", prefix, "--seed-statistics"});
    }
    // This process's own registry access and the module's resolve the prefix from here.
    if (!platform::SetEnvironmentValue("GLIMMERPANE_PREFIX", std::filesystem::absolute(prefix).string())) {
        return Fail(1, "trace: cannot set GLIMMERPANE_PREFIX");
    }
    int status = 0;
    {
        MechanismOverride mechanism;
        if (!mechanism.set()) return Fail(1, "trace: cannot set \"Logging Mechanism\" in the registry");
        status = command.run(rest);
    }
    std::wstring programData;
    std::vector<std::string> written;
    if (platform::ProgramDataFolder(&programData, false) == 0) {
        const std::filesystem::path logs =
            std::filesystem::path(glimmerpane::base::Utf8FromWide(programData)) / "Corvane" / "CVLOGS";
        std::error_code error;
        for (auto it = std::filesystem::recursive_directory_iterator(logs, error);
             !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
            if (it->is_regular_file()) written.push_back(it->path().string() + " (" + std::to_string(it->file_size()) + " bytes)");
        }
    }
    std::fprintf(stderr, "\ntrace: log files written under %s%s:\n", prefix.c_str(), fresh ? " (kept)" : "");
    if (written.empty()) std::fprintf(stderr, "  none\n");
    for (const std::string& file : written) std::fprintf(stderr, "  %s\n", file.c_str());
    return status;
}

int RunTrace(const std::vector<std::string>& args) {
    unsigned long level = 1, flags = 0;
    bool files = false;
    size_t i = 0;
    for (; i < args.size() && args[i] != "--"; ++i) {
        const std::string& a = args[i];
        if (a == "--help" || a == "-h") {
            std::puts(kUsage);
            return 0;
        } else if (a == "--files") {
            files = true;
        } else if ((a == "--level" || a == "--flags") && i + 1 < args.size()) {
            const bool isLevel = a == "--level";
            if (!ParseNumber(args[++i], isLevel ? 5 : 0xFFFFFFFFul, isLevel ? &level : &flags) ||
                (isLevel && level == 0))
                return Fail(2, "trace: bad value '" + args[i] + "' for " + a);
        } else {
            return Fail(2, "trace: unexpected argument '" + a + "' (see glimmerpane trace --help)");
        }
    }
    if (i + 1 >= args.size()) return Fail(2, "trace: name the command to run after '--'");
    const Command* command = FindCommand(args[i + 1]);
    if (command == nullptr || std::string(command->name) == "trace")
        return Fail(2, "trace: unknown command '" + args[i + 1] + "'");
    const std::vector<std::string> rest(args.begin() + static_cast<std::ptrdiff_t>(i + 2), args.end());

    if (files) return RunWithLogFiles(*command, rest);

    std::mutex outputMutex;
    TraceConsumer consumer;
    const uint32_t started = consumer.start(static_cast<uint8_t>(level), static_cast<uint32_t>(flags),
                                            [&](const TraceEventLine& line) {
                                                std::lock_guard lock(outputMutex);
                                                std::printf("[trace] %s\n", FormatTraceLine(line).c_str());
                                            });
    if (started != 0) return Fail(1, "trace: cannot start the trace session (" + std::to_string(started) + ")");
    const int status = command->run(rest);
    const platform::TraceSessionStats stats = consumer.stop();
    std::fflush(stdout);
    std::fprintf(stderr, "trace: %llu events, %llu lost\n", static_cast<unsigned long long>(stats.delivered),
                 static_cast<unsigned long long>(stats.lost));
    return status;
}

}  // namespace

GP_REGISTER_COMMAND(trace, "trace", "run a command while printing the module's trace events", RunTrace);

}  // namespace glimmerpane::cli
