// TestEnvironment.h - helpers of the tests: scoped environment
// variables and the folders of the test libraries.
#pragma once

#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/DynamicLibrary.h"
#include "platform/Environment.h"

namespace gptest {

// Sets (or, with nullopt, removes) environment variables and restores them on destruction.
class ScopedEnvironment {
public:
    ScopedEnvironment& set(const char* name, std::optional<std::string> value) {
        saved_.push_back({name, glimmerpane::platform::GetEnvironmentValue(name)});
        glimmerpane::platform::SetEnvironmentValue(name, value);
        return *this;
    }
    // Clears every variable that chooses the UI language, then sets LANG.
    ScopedEnvironment& language(const std::string& lang) {
        set("LANGUAGE", std::nullopt).set("LC_ALL", std::nullopt).set("LC_MESSAGES", std::nullopt);
        return set("LANG", lang);
    }
    ~ScopedEnvironment() {
        for (auto it = saved_.rbegin(); it != saved_.rend(); ++it)
            glimmerpane::platform::SetEnvironmentValue(it->first, it->second);
    }

private:
    std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

// Where the build put the shipped libraries (beside the test executable).
inline std::wstring BinFolder() { return glimmerpane::platform::ExecutableFolder(); }

#ifdef GP_TEST_LIBRARY_DIR
inline std::wstring TestLibraryFolder() { return std::wstring(std::string_view(GP_TEST_LIBRARY_DIR).begin(), std::string_view(GP_TEST_LIBRARY_DIR).end()) + L"/"; }
#endif

inline std::string SourceFolder() {
    const char* root = std::getenv("GLIMMERPANE_SOURCE_DIR");
    return root ? std::string(root) + "/" : std::string();
}

}  // namespace gptest
