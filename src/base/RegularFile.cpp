#include "base/RegularFile.h"

#include <filesystem>
#include <fstream>

namespace glimmerpane::base {

FileReadResult ReadRegularFile(const std::string& path, size_t limit, std::string& bytes) {
    namespace fs = std::filesystem;
    bytes.clear();
    std::error_code ec;
    const fs::file_status status = fs::status(path, ec);
    if (ec || !fs::exists(status)) return FileReadResult::CannotOpen;
    if (fs::is_directory(status)) return FileReadResult::Folder;
    if (!fs::is_regular_file(status)) return FileReadResult::NotRegularFile;
    const uintmax_t size = fs::file_size(path, ec);
    if (ec) return FileReadResult::CannotOpen;
    if (size > limit) return FileReadResult::TooLarge;
    std::ifstream in(path, std::ios::binary);
    if (!in) return FileReadResult::CannotOpen;
    char buffer[1 << 16];
    while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
        bytes.append(buffer, static_cast<size_t>(in.gcount()));
        if (bytes.size() > limit) {
            bytes.clear();
            return FileReadResult::TooLarge;
        }
    }
    if (in.bad()) {
        bytes.clear();
        return FileReadResult::CannotOpen;
    }
    return FileReadResult::Read;
}

}  // namespace glimmerpane::base
