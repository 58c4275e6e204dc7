// LanguageIds.h - Windows language ids (LANGID) and the user's UI language on any platform.
//
// Resource scripts name languages as Windows does (LANGUAGE LANG_GERMAN, SUBLANG_GERMAN);
// POSIX users name them as locales ("de_DE.UTF-8"). This maps between the two and picks the
// string table a user should see, with the fallback order Windows' resource loader uses:
// each preferred language exactly, then the same primary language, then the neutral table,
// then en-US, then the first table. Portable code; no OS calls besides getenv.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace glimmerpane::platform {

inline constexpr uint16_t MakeLanguageId(uint16_t primary, uint16_t sub) {
    return static_cast<uint16_t>((sub << 10) | primary);
}
inline constexpr uint16_t PrimaryLanguage(uint16_t id) { return id & 0x3ff; }
inline constexpr uint16_t SubLanguage(uint16_t id) { return id >> 10; }

inline constexpr uint16_t kLanguageNeutral = 0x0000;
inline constexpr uint16_t kLanguageEnglishUs = 0x0409;

// The value of a LANG_* or SUBLANG_* name of the Windows SDK (the common ones), if known.
std::optional<uint16_t> LanguageConstant(std::string_view name);

// "en-US", "de-DE"; "neutral" for LANG_NEUTRAL; "0x1234" for an id without a known tag.
std::string LanguageTag(uint16_t id);

// The LANGID of a POSIX locale or BCP 47 name ("de_DE.UTF-8@euro", "fr-CA", "de").
// A bare language yields its primary language with SUBLANG_NEUTRAL. "C", "POSIX" and
// unknown languages yield nothing.
std::optional<uint16_t> LanguageIdFromLocaleName(std::string_view name);

// The user's UI languages in order of preference: the entries of LANGUAGE (colon
// separated), then the first set of LC_ALL, LC_MESSAGES, LANG. Unusable entries are skipped.
std::vector<uint16_t> UserUiLanguages();

// The same list without a copy, kept per thread. generation receives a number that changes
// whenever the list does, so a caller can keep what it chose for a list until then. The
// environment is read on every call, unless a UiLanguageScope lives on this thread.
const std::vector<uint16_t>& CurrentUserUiLanguages(uint64_t* generation);

// While an object lives, this thread's UI languages are the ones read when it was made: a
// renderer reads the environment once per tile set instead of once per string. Scopes nest.
class UiLanguageScope {
public:
    // A number for the outermost scope alive on this thread, new for each one; 0 when none
    // lives. Callers that keep other environment-derived state can refresh it once per scope.
    static uint64_t current();

    UiLanguageScope();
    ~UiLanguageScope();
    UiLanguageScope(const UiLanguageScope&) = delete;
    UiLanguageScope& operator=(const UiLanguageScope&) = delete;
};

// The index in available of the table to use for the preferences, or npos when available
// is empty.
size_t ChooseLanguage(const std::vector<uint16_t>& available, const std::vector<uint16_t>& preferences);

}  // namespace glimmerpane::platform
