// IniFileFuzz.cpp - libFuzzer target for the INI reader and writer (log.ini).
//
// The input is the file (UTF-8, UTF-8 with a mark, or UTF-16LE); a value read back must be
// what was written, and reading must find nothing it was not given.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "base/Utf.h"
#include "utility/IniFile.h"

namespace {

const std::wstring& ScratchFile() {
    static const std::wstring path = [] {
        const auto folder = std::filesystem::temp_directory_path() / ("gp-inifuzz-" + std::to_string(getpid()));
        std::filesystem::create_directories(folder);
        return glimmerpane::base::WideFromUtf8((folder / "log.ini").string());
    }();
    return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::wstring& path = ScratchFile();
    {
        std::ofstream out(glimmerpane::base::Utf8FromWide(path), std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    for (const wchar_t* key : {L"Enable", L"Level", L"MaxSize", L""}) {
        if (const auto value = Kestrix::IniFile::GetString(path, L"Logging", key)) {
            Kestrix::ParseIniInteger(*value, 0, 0xFFFFFFFF);
        }
    }
    if (Kestrix::IniFile::WriteString(path, L"Logging", L"Level", L"4") == 0) {
        const auto back = Kestrix::IniFile::GetString(path, L"Logging", L"Level");
        if (!back || *back != L"4") std::abort();
    }
    return 0;
}
