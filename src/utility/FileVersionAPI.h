// FileVersionAPI.h - wrapper of the version-resource calls (GetFileVersionInfoSizeW,
// GetFileVersionInfoW, VerQueryValueW) that FileVersionInfo reads through.
//
// The default instance calls the platform layer: real version resources on Windows, the
// ELF package-metadata note on POSIX. Tests inject version blocks of their own shape.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace Kestrix {

class FileVersionAPI {
public:
    using Translations = std::vector<std::pair<uint16_t, uint16_t>>;  // language, code page

    virtual ~FileVersionAPI() = default;
    // Size of the file's version resource; 0 when it has none.
    virtual uint32_t GetFileVersionInfoSize(const std::wstring& path);
    // Reads the resource into block; false when it cannot.
    virtual bool GetFileVersionInfo(const std::wstring& path, std::vector<uint8_t>& block);
    // "\VarFileInfo\Translation" of a block.
    virtual bool QueryTranslations(const std::vector<uint8_t>& block, Translations& translations);
    // A string value of a block by its sub-block path.
    virtual bool QueryString(const std::vector<uint8_t>& block, const std::wstring& subBlock, std::wstring& value);
};

}  // namespace Kestrix
