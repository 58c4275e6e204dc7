// RcGenerate.cpp - the build's resource compiler step: .rc in, C source of the string table out.
//
//   gp_rcgen INPUT.rc -o OUTPUT.c [--depfile OUTPUT.d] [--allow-missing]
//
// Every language is checked against the reference first (RcTranslationCheck.h), so a
// translation that lacks a string or misspells a placeholder fails the build.
// The depfile lists the .rc and every file it included, so that editing an included header
// rebuilds the library. A malformed script fails the build with "file:line: reason".
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "render/RcParser.h"
#include "render/RcTranslationCheck.h"

namespace {

int Usage() {
    std::fputs("usage: gp_rcgen INPUT.rc -o OUTPUT.c [--depfile OUTPUT.d] [--allow-missing]\n", stderr);
    return 2;
}

std::string EscapeMake(const std::string& path) {
    std::string out;
    for (char c : path) {
        if (c == ' ' || c == '#') out += '\\';
        if (c == '$') out += '$';
        out += c;
    }
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    std::string input, output, depfile;
    glimmerpane::resources::RcTranslationOptions translation;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--allow-missing") {
            translation.allowMissing = true;
        } else if ((arg == "-o" || arg == "--depfile") && i + 1 < argc) {
            (arg == "-o" ? output : depfile) = argv[++i];
        } else if (!arg.empty() && arg[0] != '-' && input.empty()) {
            input = arg;
        } else {
            return Usage();
        }
    }
    if (input.empty() || output.empty()) return Usage();
    glimmerpane::resources::RcScript script;
    glimmerpane::resources::RcError error;
    if (!glimmerpane::resources::parseRcFile(input, script, error)) {
        std::fprintf(stderr, "%s: error: %s\n", error.file.empty() ? input.c_str() : (error.file + ":" + std::to_string(error.line)).c_str(),
                     error.reason.c_str());
        return 1;
    }
    std::vector<glimmerpane::resources::RcError> problems;
    if (!glimmerpane::resources::checkRcTranslations(script, translation, problems)) {
        for (const auto& p : problems) std::fprintf(stderr, "%s:%u: error: %s\n", p.file.c_str(), p.line, p.reason.c_str());
        return 1;
    }
    std::ofstream out(output, std::ios::binary | std::ios::trunc);
    out << glimmerpane::resources::generateStringTableSource(script);
    if (!out.flush()) {
        std::fprintf(stderr, "gp_rcgen: cannot write %s\n", output.c_str());
        return 1;
    }
    if (!depfile.empty()) {
        std::ofstream dep(depfile, std::ios::binary | std::ios::trunc);
        dep << EscapeMake(output) << ":";
        for (const std::string& file : script.files) dep << " \\\n  " << EscapeMake(file);
        dep << "\n";
        if (!dep.flush()) {
            std::fprintf(stderr, "gp_rcgen: cannot write %s\n", depfile.c_str());
            return 1;
        }
    }
    return 0;
}
