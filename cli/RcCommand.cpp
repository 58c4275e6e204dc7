// RcCommand.cpp - `glimmerpane rc`: builds a resource library from a resource script.
//
// POSIX only in effect: the script's string tables become C source that the system C
// compiler ($CC, else cc) links into a shared library exporting the string table. On
// Windows the resource compiler does this job.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "Command.h"
#include "FreshName.h"
#include "platform/LanguageIds.h"
#include "platform/Shell.h"
#include "render/RcParser.h"
#include "render/RcTranslationCheck.h"

namespace glimmerpane::cli {
namespace {

constexpr const char* kUsage =
    "usage: glimmerpane rc INPUT.rc -o OUTPUT.so [--keep-source FILE.c] [--allow-missing]\n\n"
    "Builds a resource library from a resource script: every STRINGTABLE of every LANGUAGE,\n"
    "with #include, #define and #pragma code_page(65001). The library exports one string\n"
    "table, loaded the way LoadStringW loads strings. The C compiler is $CC, else cc.\n\n"
    "Every language is checked against the neutral table (else en-US) first: a string that\n"
    "is missing, or that uses other %NAME% placeholders, is an error at FILE:LINE, and\n"
    "nothing is built (docs/translating.md).\n\n"
    "options:\n"
    "  -o OUTPUT.so          the library to write (required)\n"
    "  --keep-source FILE.c  also keep the generated C source\n"
    "  --allow-missing       a language may leave strings out on purpose (the module then\n"
    "                        shows no tile that needs them in that language)\n"
    "  -q, --quiet           print nothing on success\n";

int RunRc(const std::vector<std::string>& args) {
    if (WantsHelp(args)) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    std::string input, output, keepSource;
    bool quiet = false;
    resources::RcTranslationOptions translation;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if ((arg == "-o" || arg == "--keep-source") && i + 1 < args.size()) {
            (arg == "-o" ? output : keepSource) = args[++i];
        } else if (arg == "-q" || arg == "--quiet") {
            quiet = true;
        } else if (arg == "--allow-missing") {
            translation.allowMissing = true;
        } else if (!arg.empty() && arg[0] != '-' && input.empty()) {
            input = arg;
        } else {
            std::fputs(kUsage, stderr);
            return Fail(2, "rc: unexpected argument '" + arg + "'");
        }
    }
    if (input.empty() || output.empty()) {
        std::fputs(kUsage, stderr);
        return Fail(2, "rc: an input script and -o OUTPUT are required");
    }

    resources::RcScript script;
    resources::RcError error;
    if (!resources::parseRcFile(input, script, error)) {
        std::fprintf(stderr, "%s:%u: error: %s\n", error.file.c_str(), error.line, error.reason.c_str());
        return 2;
    }
    std::vector<resources::RcError> problems;
    if (!resources::checkRcTranslations(script, translation, problems)) {
        for (const resources::RcError& p : problems) {
            std::fprintf(stderr, "%s:%u: error: %s\n", p.file.c_str(), p.line, p.reason.c_str());
        }
        return Fail(2, "rc: " + std::to_string(problems.size()) + " translation problems; nothing was built");
    }

    namespace fs = std::filesystem;
    std::error_code ignored;
    fs::path source = keepSource;
    bool temporary = false;
    const std::string text = resources::generateStringTableSource(script);
    if (source.empty()) {
        // A name of its own, created exclusively: a file or link planted in the shared
        // temporary folder is never written through.
        std::string path;
        uint32_t code = 0;
        FILE* file = CreateFreshFile((fs::temp_directory_path(ignored) / "glimmerpane-rc-").string(), ".c", &path, &code);
        if (file == nullptr) return Fail(1, "rc: cannot create " + path + ": " + FileErrorReason(code));
        source = path;
        temporary = true;
        const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
        if (std::fclose(file) != 0 || !written) {
            fs::remove(source, ignored);
            return Fail(1, "rc: cannot write " + source.string());
        }
    } else {
        std::ofstream out(source, std::ios::binary | std::ios::trunc);
        out << text;
        if (!out.flush()) return Fail(1, "rc: cannot write " + source.string());
    }
    const char* compiler = std::getenv("CC");
    const std::string command = std::string(compiler != nullptr && *compiler != '\0' ? compiler : "cc") +
                                " -shared -fPIC -O1 -o " + platform::QuoteShellArgument(output) + " " +
                                platform::QuoteShellArgument(source.string());
    const int status = std::system(command.c_str());
    if (temporary) fs::remove(source, ignored);
    if (status != 0) return Fail(1, "rc: the C compiler failed: " + command);

    if (!quiet) {
        size_t strings = 0;
        std::string languages;
        for (const resources::RcStringTable& table : script.languages) {
            strings += table.strings.size();
            languages += (languages.empty() ? "" : ", ") + platform::LanguageTag(table.languageId);
        }
        std::printf("%s: %zu strings in %zu languages (%s)%s\n", output.c_str(), strings, script.languages.size(),
                    languages.c_str(),
                    script.skippedResources ? (", " + std::to_string(script.skippedResources) +
                                               " other resources ignored").c_str()
                                            : "");
    }
    return 0;
}

}  // namespace

GP_REGISTER_COMMAND(rc, "rc", "build a resource library from a .rc script", RunRc);

}  // namespace glimmerpane::cli
