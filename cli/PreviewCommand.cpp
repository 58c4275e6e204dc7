// PreviewCommand.cpp - `glimmerpane preview`: tile payloads to an HTML page.
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "Command.h"
#include "HtmlPreview.h"
#include "TilePayload.h"
#include "platform/DynamicLibrary.h"
#include "platform/Environment.h"
#include "platform/LanguageIds.h"

namespace glimmerpane::cli {
namespace {

int RunPreview(const std::vector<std::string>& args) {
    if (WantsHelp(args)) {
        std::puts("usage: glimmerpane preview PAYLOAD.json [-o OUTPUT.html] [--lang L]\n\n"
                  "Draws every tile of a tile payload (the user data of \"messaging.message.processed\")\n"
                  "as the live tile shows it, medium and wide, on an HTML page that needs no network.\n"
                  "The input holds one payload, or one payload per line (as `--json` runs print them;\n"
                  "lines that do not start with '{' are skipped). Tiles are named by their captions in\n"
                  "the language of the payloads: --lang L (de-DE, fr-FR, ...), else LANGUAGE/LANG.\n"
                  "Payloads that follow each other unchanged are drawn once, with their count.\n\n"
                  "options:\n"
                  "  -o, --output FILE  the page to write (default: the input's name with .html)\n"
                  "  --lang L           the payloads' language: names their tiles and sets the page's lang\n\n"
                  "exit status: 0 written, 1 the page could not be written, 2 bad arguments or input");
        return 0;
    }
    std::string input, output, language;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--lang") {
            if (i + 1 >= args.size() || !platform::LanguageIdFromLocaleName(args[i + 1])) {
                return Fail(2, "preview: --lang needs a language such as de-DE");
            }
            language = args[++i];
        } else if (args[i] == "-o" || args[i] == "--output") {
            if (i + 1 >= args.size() || args[i + 1].empty()) return Fail(2, "preview: " + args[i] + " needs a file");
            output = args[++i];
        } else if (!args[i].empty() && args[i][0] == '-' && args[i] != "-") {
            return Fail(2, "preview: unknown option '" + args[i] + "'");
        } else if (input.empty()) {
            input = args[i];
        } else {
            return Fail(2, "preview: only one input file");
        }
    }
    if (input.empty()) return Fail(2, "preview: give a payload file (see glimmerpane preview --help)");
    std::ifstream in(input, std::ios::binary);
    if (!in) return Fail(2, "preview: cannot open " + input);
    std::stringstream whole;
    whole << in.rdbuf();
    const std::string text = whole.str();

    // One payload per line, or one payload spread over several lines (pretty-printed).
    std::vector<std::pair<int, std::string>> payloads;
    {
        std::istringstream lines(text);
        std::string line;
        int number = 0;
        while (std::getline(lines, line)) {
            ++number;
            const size_t start = line.find_first_not_of(" \t\r");
            if (start != std::string::npos && line[start] == '{') payloads.emplace_back(number, line.substr(start));
        }
    }
    // The namer reads the captions in the user's language: --lang chooses it, as for a run.
    if (!language.empty()) {
        std::string base = language;
        std::replace(base.begin(), base.end(), '-', '_');
        platform::SetEnvironmentValue("LANGUAGE", base);
    }
    const TileNamer namer(platform::ExecutableFolder() + platform::LibraryFileName(L"GPNResources"));
    PreviewSection section;
    section.title = input;
    std::string reason;
    auto decodeAll = [&]() {
        section.tileSets.clear();
        for (const auto& [line, json] : payloads) {
            PreviewTileSet set;
            if (!DecodePayload(json, &set.payload, &reason)) {
                reason = input + ":" + std::to_string(line) + ": " + reason;
                return false;
            }
            namer.nameAll(&set.payload);
            set.label = "payload on line " + std::to_string(line);
            section.tileSets.push_back(std::move(set));
        }
        return !section.tileSets.empty();
    };
    if (!decodeAll()) {
        // Not one payload per line: perhaps the whole file is one (pretty-printed) payload.
        const std::string lineReason = reason.empty() ? input + ": no payload found" : reason;
        payloads = {{1, text}};
        if (!decodeAll()) return Fail(2, "preview: " + lineReason);
    }
    if (output.empty()) {
        const size_t dot = input.find_last_of('.');
        const size_t slash = input.find_last_of("/\\");
        output = (dot != std::string::npos && (slash == std::string::npos || dot > slash) ? input.substr(0, dot) : input) +
                 ".html";
    }
    size_t tiles = 0;
    for (const auto& set : section.tileSets) tiles += set.payload.tiles.size();
    const std::string html =
        RenderPreviewHtml("Live tile preview", std::to_string(section.tileSets.size()) + " payloads, " +
                                                   std::to_string(tiles) + " tiles",
                          {section}, platform::ExecutableFolder(), PageLanguage(language));
    std::string error;
    if (!WriteTextFile(output, html, &error)) return Fail(1, "preview: " + error);
    std::printf("%zu payloads, %zu tiles -> %s\n", section.tileSets.size(), tiles, output.c_str());
    return 0;
}

}  // namespace

GP_REGISTER_COMMAND(preview, "preview", "draw tile payloads as an HTML page", RunPreview);

}  // namespace glimmerpane::cli
