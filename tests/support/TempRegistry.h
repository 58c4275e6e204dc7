// TempRegistry.h - a temporary folder, and a registry store inside it, for one test.
#pragma once

#include <filesystem>
#include <memory>
#include <string>

#include "platform/Registry.h"
#include "base/Utf.h"

namespace gptest {

// A fresh folder under the system's temporary folder, removed with everything in it.
class TempFolder {
public:
    TempFolder() {
        std::string pattern = (std::filesystem::temp_directory_path() / "gp-test-XXXXXX").string();
        path_ = MakeTemp(pattern);
    }
    ~TempFolder() {
        std::error_code ignored;
        std::filesystem::permissions(path_, std::filesystem::perms::owner_all, ignored);
        std::filesystem::remove_all(path_, ignored);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::wstring wide(const std::string& child = "") const {
        return glimmerpane::base::WideFromUtf8((child.empty() ? path_ : path_ / child).string());
    }

private:
    static std::filesystem::path MakeTemp(std::string& pattern);
    std::filesystem::path path_;
};

// A registry store in <temp>/registry, as a prefix would hold it.
struct TempRegistry {
    TempFolder folder;
    std::shared_ptr<glimmerpane::platform::RegistryStore> store =
        glimmerpane::platform::OpenRegistryStore(folder.wide("registry"));
};

}  // namespace gptest
