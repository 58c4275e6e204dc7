// FileVersionInfo.h - strings of a file's version resource ("FileVersion", "ProductVersion").
//
// FileVersionInfo loads one file once for its lifetime: a second Load returns false and
// keeps the first file's data. GetString tries the resource's translations in order and
// returns the first value found, or an empty string. Nothing is logged; results say it all.
// On POSIX the resource is the ELF package-metadata note, whose "version" answers both
// "FileVersion" and "ProductVersion".
//
// SystemFileVersionInfo loads a file relative to the system folder (FOLDERID_System on
// Windows; none on POSIX, where the folder is the bare separator and system files are not
// found). The folder comes from the shell-folder wrapper (known folder FOLDERID_System), or
// from an injected getter.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "utility/FileVersionAPI.h"

namespace Kestrix {

class FileVersionInfo {
public:
    explicit FileVersionInfo(std::shared_ptr<FileVersionAPI> api = nullptr);
    virtual ~FileVersionInfo();

    virtual bool Load(const std::wstring& path);
    // value receives the string (empty when not found); it is also the result.
    virtual std::wstring GetString(std::wstring& value, const std::wstring& name);

protected:
    std::shared_ptr<FileVersionAPI> api_;

private:
    std::vector<uint8_t> block_;
    bool loaded_ = false;
};

class SystemFileVersionInfo : public FileVersionInfo {
public:
    // Fills the folder and returns true, or returns false when the system folder is unknown.
    using SystemFolderGetter = std::function<bool(std::wstring& folder)>;

    // An empty getter asks the platform for its known System folder.
    explicit SystemFileVersionInfo(std::shared_ptr<FileVersionAPI> api = nullptr,
                                   SystemFolderGetter systemFolder = nullptr);

    // name is relative to the system folder ("kernel32.dll").
    bool Load(const std::wstring& name) override;

private:
    SystemFolderGetter systemFolderGetter_;
    std::wstring systemFolder_;  // with trailing separator once known
    bool folderKnown_ = false;
};

}  // namespace Kestrix
