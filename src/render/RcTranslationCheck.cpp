#include "render/RcTranslationCheck.h"

#include <set>
#include <string>

#include "base/Utf.h"
#include "platform/LanguageIds.h"

namespace glimmerpane::resources {
namespace {

bool IsPlaceholderChar(wchar_t c) { return (c >= L'A' && c <= L'Z') || (c >= L'0' && c <= L'9') || c == L'_'; }

// The %NAME% tokens of a text: capitals, digits and '_' between two percent signs.
std::set<std::wstring> Placeholders(const std::wstring& text) {
    std::set<std::wstring> found;
    for (size_t open = text.find(L'%'); open != std::wstring::npos;) {
        size_t end = open + 1;
        while (end < text.size() && IsPlaceholderChar(text[end])) ++end;
        if (end < text.size() && text[end] == L'%' && end > open + 1) {
            found.insert(text.substr(open, end - open + 1));
            open = text.find(L'%', end + 1);
        } else {
            open = end < text.size() && text[end] == L'%' ? end : text.find(L'%', end);
        }
    }
    return found;
}

std::string Describe(const std::set<std::wstring>& names) {
    if (names.empty()) return "none";
    std::string out;
    for (const std::wstring& name : names) out += (out.empty() ? "" : " ") + base::Utf8FromWide(name);
    return out;
}

std::string At(const RcLocation& where) { return where.file + ":" + std::to_string(where.line); }

}  // namespace

bool checkRcTranslations(const RcScript& script, const RcTranslationOptions& options, std::vector<RcError>& problems) {
    // LANG_NEUTRAL with any sublanguage, else en-US.
    const RcStringTable* reference = nullptr;
    for (const RcStringTable& table : script.languages) {
        if ((table.languageId & 0x3ff) == 0 && reference == nullptr) reference = &table;
    }
    if (reference == nullptr) reference = script.language(platform::kLanguageEnglishUs);
    if (reference == nullptr) return true;
    const std::string referenceTag = platform::LanguageTag(reference->languageId);
    const size_t before = problems.size();
    for (const RcStringTable& table : script.languages) {
        if (&table == reference) continue;
        const std::string tag = platform::LanguageTag(table.languageId);
        for (const auto& [id, text] : reference->strings) {
            const auto translated = table.strings.find(id);
            if (translated == table.strings.end()) {
                if (!options.allowMissing) {
                    problems.push_back({table.firstBlock.file, table.firstBlock.line,
                                        "language " + tag + " lacks string " + std::to_string(id) + " (" + referenceTag +
                                            " has it at " + At(reference->definedAt.at(id)) + ")"});
                }
                continue;
            }
            const std::set<std::wstring> expected = Placeholders(text);
            const std::set<std::wstring> actual = Placeholders(translated->second);
            if (actual != expected) {
                const RcLocation& where = table.definedAt.at(id);
                problems.push_back({where.file, where.line,
                                    "string " + std::to_string(id) + " of " + tag + " uses the placeholders " +
                                        Describe(actual) + " where " + referenceTag + " uses " + Describe(expected) +
                                        " (" + At(reference->definedAt.at(id)) + ")"});
            }
        }
    }
    return problems.size() == before;
}

}  // namespace glimmerpane::resources
