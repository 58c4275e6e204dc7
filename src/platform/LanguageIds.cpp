// LanguageIds.cpp - Windows language ids, locale names and the choice of a string table.
#include "platform/LanguageIds.h"

#include "base/Hex.h"

#include <cctype>
#include <cstdlib>

namespace glimmerpane::platform {

namespace {

struct NamedValue {
    std::string_view name;
    uint16_t value;
};

// The LANG_* and SUBLANG_* constants a resource script is likely to use.
constexpr NamedValue kConstants[] = {
    {"LANG_NEUTRAL", 0x00}, {"LANG_INVARIANT", 0x7f}, {"LANG_ENGLISH", 0x09}, {"LANG_GERMAN", 0x07},
    {"LANG_FRENCH", 0x0c}, {"LANG_SPANISH", 0x0a}, {"LANG_ITALIAN", 0x10}, {"LANG_DUTCH", 0x13},
    {"LANG_PORTUGUESE", 0x16}, {"LANG_JAPANESE", 0x11}, {"LANG_CHINESE", 0x04}, {"LANG_KOREAN", 0x12},
    {"LANG_RUSSIAN", 0x19}, {"LANG_POLISH", 0x15}, {"LANG_SWEDISH", 0x1d}, {"LANG_DANISH", 0x06},
    {"LANG_NORWEGIAN", 0x14}, {"LANG_FINNISH", 0x0b}, {"LANG_CZECH", 0x05}, {"LANG_HUNGARIAN", 0x0e},
    {"LANG_TURKISH", 0x1f}, {"LANG_GREEK", 0x08},
    {"SUBLANG_NEUTRAL", 0x00}, {"SUBLANG_DEFAULT", 0x01}, {"SUBLANG_SYS_DEFAULT", 0x02},
    {"SUBLANG_ENGLISH_US", 0x01}, {"SUBLANG_ENGLISH_UK", 0x02}, {"SUBLANG_ENGLISH_AUS", 0x03},
    {"SUBLANG_ENGLISH_CAN", 0x04}, {"SUBLANG_GERMAN", 0x01}, {"SUBLANG_GERMAN_SWISS", 0x02},
    {"SUBLANG_GERMAN_AUSTRIAN", 0x03}, {"SUBLANG_FRENCH", 0x01}, {"SUBLANG_FRENCH_BELGIAN", 0x02},
    {"SUBLANG_FRENCH_CANADIAN", 0x03}, {"SUBLANG_FRENCH_SWISS", 0x04}, {"SUBLANG_SPANISH", 0x01},
    {"SUBLANG_SPANISH_MODERN", 0x03}, {"SUBLANG_ITALIAN", 0x01}, {"SUBLANG_DUTCH", 0x01},
    {"SUBLANG_PORTUGUESE_BRAZILIAN", 0x01}, {"SUBLANG_PORTUGUESE", 0x02}, {"SUBLANG_JAPANESE_JAPAN", 0x01},
};

struct LanguageName {
    uint16_t primary;
    std::string_view language;
};

constexpr LanguageName kLanguages[] = {
    {0x09, "en"}, {0x07, "de"}, {0x0c, "fr"}, {0x0a, "es"}, {0x10, "it"}, {0x13, "nl"}, {0x16, "pt"},
    {0x11, "ja"}, {0x04, "zh"}, {0x12, "ko"}, {0x19, "ru"}, {0x15, "pl"}, {0x1d, "sv"}, {0x06, "da"},
    {0x14, "nb"}, {0x0b, "fi"}, {0x05, "cs"}, {0x0e, "hu"}, {0x1f, "tr"}, {0x08, "el"},
};

struct RegionName {
    uint16_t id;
    std::string_view region;
};

constexpr RegionName kRegions[] = {
    {0x0409, "US"}, {0x0809, "GB"}, {0x0c09, "AU"}, {0x1009, "CA"}, {0x0407, "DE"}, {0x0807, "CH"},
    {0x0c07, "AT"}, {0x040c, "FR"}, {0x080c, "BE"}, {0x0c0c, "CA"}, {0x100c, "CH"}, {0x0c0a, "ES"},
    {0x080a, "MX"}, {0x0410, "IT"}, {0x0413, "NL"}, {0x0416, "BR"}, {0x0816, "PT"}, {0x0411, "JP"},
    {0x0804, "CN"}, {0x0404, "TW"}, {0x0412, "KR"}, {0x0419, "RU"}, {0x0415, "PL"}, {0x041d, "SE"},
    {0x0406, "DK"}, {0x0414, "NO"}, {0x040b, "FI"}, {0x0405, "CZ"}, {0x040e, "HU"}, {0x041f, "TR"},
    {0x0408, "GR"},
};

std::string Lower(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

std::string Upper(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return out;
}

}  // namespace

std::optional<uint16_t> LanguageConstant(std::string_view name) {
    for (const NamedValue& entry : kConstants) {
        if (entry.name == name) return entry.value;
    }
    return std::nullopt;
}

std::string LanguageTag(uint16_t id) {
    if (PrimaryLanguage(id) == 0) return "neutral";
    for (const LanguageName& language : kLanguages) {
        if (language.primary != PrimaryLanguage(id)) continue;
        if (SubLanguage(id) == 0) return std::string(language.language);
        for (const RegionName& region : kRegions) {
            if (region.id == id) return std::string(language.language) + "-" + std::string(region.region);
        }
    }
    char buffer[8];
    buffer[0] = '0';
    buffer[1] = 'x';
    for (int i = 0; i < 4; ++i) buffer[2 + i] = base::HexDigit(static_cast<unsigned>(id >> (12 - 4 * i)));
    return std::string(buffer, 6);
}

std::optional<uint16_t> LanguageIdFromLocaleName(std::string_view name) {
    // Strip the codeset and modifier: "de_DE.UTF-8@euro" -> "de_DE".
    name = name.substr(0, name.find_first_of(".@"));
    if (name.empty() || name == "C" || name == "POSIX") return std::nullopt;
    const size_t separator = name.find_first_of("_-");
    const std::string language = Lower(name.substr(0, separator));
    const std::string region = separator == std::string_view::npos ? std::string() : Upper(name.substr(separator + 1));
    for (const LanguageName& known : kLanguages) {
        if (known.language != language) continue;
        if (region.empty()) return MakeLanguageId(known.primary, 0);
        for (const RegionName& candidate : kRegions) {
            if (PrimaryLanguage(candidate.id) == known.primary && candidate.region == region) return candidate.id;
        }
        return MakeLanguageId(known.primary, 0);  // unknown region: the language still counts
    }
    return std::nullopt;
}

namespace {

std::vector<uint16_t> ParseUserUiLanguages() {
    std::vector<uint16_t> languages;
    auto add = [&](std::string_view name) {
        if (auto id = LanguageIdFromLocaleName(name)) languages.push_back(*id);
    };
    if (const char* list = std::getenv("LANGUAGE"); list != nullptr && *list != '\0') {
        std::string_view rest(list);
        while (!rest.empty()) {
            const size_t colon = rest.find(':');
            add(rest.substr(0, colon));
            rest = colon == std::string_view::npos ? std::string_view() : rest.substr(colon + 1);
        }
    }
    for (const char* variable : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = std::getenv(variable);
        if (value != nullptr && *value != '\0') {
            add(value);
            break;
        }
    }
    return languages;
}

}  // namespace

namespace {

struct UiLanguageCache {
    bool valid = false;
    std::string values[4];
    std::vector<uint16_t> languages;
    uint64_t generation = 0;
    int scopes = 0;  // UiLanguageScope objects alive on this thread
    uint64_t scopeSerial = 0;
};

thread_local UiLanguageCache t_uiLanguages;

// Every string load asks; the answer changes only with the environment. The cache is per
// thread and compared against the variables' current text, so it needs no lock and a
// changed environment is seen at the next load (or at the next scope).
void RefreshUiLanguages(UiLanguageCache& cache) {
    static constexpr const char* kVariables[] = {"LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG"};
    const char* current[4];
    bool same = cache.valid;
    for (size_t i = 0; i < 4; ++i) {
        current[i] = std::getenv(kVariables[i]);
        same = same && cache.values[i] == (current[i] ? current[i] : "");
    }
    if (same) return;
    for (size_t i = 0; i < 4; ++i) cache.values[i] = current[i] ? current[i] : "";
    std::vector<uint16_t> languages = ParseUserUiLanguages();
    if (!cache.valid || languages != cache.languages) ++cache.generation;
    cache.languages = std::move(languages);
    cache.valid = true;
}

}  // namespace

const std::vector<uint16_t>& CurrentUserUiLanguages(uint64_t* generation) {
    UiLanguageCache& cache = t_uiLanguages;
    if (cache.scopes == 0 || !cache.valid) RefreshUiLanguages(cache);
    if (generation != nullptr) *generation = cache.generation;
    return cache.languages;
}

std::vector<uint16_t> UserUiLanguages() { return CurrentUserUiLanguages(nullptr); }

UiLanguageScope::UiLanguageScope() {
    UiLanguageCache& cache = t_uiLanguages;
    if (cache.scopes++ > 0) return;
    ++cache.scopeSerial;
    RefreshUiLanguages(cache);
}

uint64_t UiLanguageScope::current() {
    const UiLanguageCache& cache = t_uiLanguages;
    return cache.scopes > 0 ? cache.scopeSerial : 0;
}

UiLanguageScope::~UiLanguageScope() { --t_uiLanguages.scopes; }

size_t ChooseLanguage(const std::vector<uint16_t>& available, const std::vector<uint16_t>& preferences) {
    if (available.empty()) return std::string_view::npos;
    auto find = [&](auto matches) -> size_t {
        for (size_t i = 0; i < available.size(); ++i) {
            if (matches(available[i])) return i;
        }
        return std::string_view::npos;
    };
    for (const uint16_t wanted : preferences) {
        if (SubLanguage(wanted) != 0) {
            if (size_t i = find([&](uint16_t id) { return id == wanted; }); i != std::string_view::npos) return i;
        }
        // Same language, other region: the default sublanguage first.
        const uint16_t primary = PrimaryLanguage(wanted);
        if (size_t i = find([&](uint16_t id) { return id == MakeLanguageId(primary, 1); });
            i != std::string_view::npos) {
            return i;
        }
        if (size_t i = find([&](uint16_t id) { return PrimaryLanguage(id) == primary; }); i != std::string_view::npos) {
            return i;
        }
    }
    if (size_t i = find([](uint16_t id) { return PrimaryLanguage(id) == 0; }); i != std::string_view::npos) return i;
    if (size_t i = find([](uint16_t id) { return id == kLanguageEnglishUs; }); i != std::string_view::npos) return i;
    return 0;
}

}  // namespace glimmerpane::platform
