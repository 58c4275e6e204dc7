// OSVersion.cpp (POSIX side) - version facts of Linux and the ELF package-metadata note.
#include "platform/OSVersion.h"

#include "base/CaseFold.h"

#include <elf.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <rapidjson/document.h>

#include <cstdlib>
#include <cstring>
#include <cwctype>

#include "base/Utf.h"

namespace glimmerpane::platform {

namespace {

constexpr uint32_t kNoteTypePackage = 0xcafe1a7e;  // NT_FDO_PACKAGING_METADATA
constexpr char kNoteOwner[] = "FDO";
// Largest note we accept; the metadata is a short JSON object.
constexpr uint64_t kMaxNoteBytes = 64 * 1024;

int ConditionOf(uint64_t conditionMask, uint32_t typeBit) {
    int index = 0;
    while (typeBit > 1) {
        typeBit >>= 1;
        ++index;
    }
    return static_cast<int>((conditionMask >> (3 * index)) & 7);
}

bool Compare(uint64_t actual, uint64_t wanted, int condition) {
    switch (condition) {
        case 1: return actual == wanted;
        case 2: return actual > wanted;
        case 3: return actual >= wanted;
        case 4: return actual < wanted;
        case 5: return actual <= wanted;
        default: return false;
    }
}

OSVersionRecord RunningSystem() {
    OSVersionRecord running;
    running.platformId = kPlatformIdPosix;
    struct utsname name {};
    if (uname(&name) == 0) {
        char* end = nullptr;
        running.majorVersion = static_cast<uint32_t>(std::strtoul(name.release, &end, 10));
        if (end && *end == '.') running.minorVersion = static_cast<uint32_t>(std::strtoul(end + 1, &end, 10));
        if (end && *end == '.') running.buildNumber = static_cast<uint32_t>(std::strtoul(end + 1, &end, 10));
    }
    return running;
}

class File {
public:
    explicit File(const std::wstring& path) : fd_(::open(glimmerpane::base::Utf8FromWide(path).c_str(), O_RDONLY | O_CLOEXEC)) {}
    ~File() {
        if (fd_ >= 0) ::close(fd_);
    }
    File(const File&) = delete;
    File& operator=(const File&) = delete;
    bool ok() const { return fd_ >= 0; }
    uint64_t size() const {
        struct stat info {};
        return fstat(fd_, &info) == 0 && S_ISREG(info.st_mode) ? static_cast<uint64_t>(info.st_size) : 0;
    }
    bool read(uint64_t offset, void* out, uint64_t count) const {
        auto* bytes = static_cast<char*>(out);
        while (count > 0) {
            const ssize_t n = ::pread(fd_, bytes, count, static_cast<off_t>(offset));
            if (n <= 0) return false;
            bytes += n;
            offset += static_cast<uint64_t>(n);
            count -= static_cast<uint64_t>(n);
        }
        return true;
    }

private:
    int fd_;
};

uint64_t Align4(uint64_t n) { return (n + 3) & ~uint64_t{3}; }

// Finds the package note among the SHT_NOTE sections; its descriptor goes to out.
template <typename Ehdr, typename Shdr, typename Nhdr>
bool FindPackageNote(const File& file, uint64_t fileSize, std::vector<uint8_t>& out) {
    Ehdr header;
    if (!file.read(0, &header, sizeof header)) return false;
    if (header.e_shentsize != sizeof(Shdr) || header.e_shoff == 0) return false;
    for (uint64_t i = 0; i < header.e_shnum; ++i) {
        Shdr section;
        const uint64_t at = header.e_shoff + i * sizeof(Shdr);
        if (at + sizeof(Shdr) > fileSize || !file.read(at, &section, sizeof section)) return false;
        if (section.sh_type != SHT_NOTE) continue;
        const uint64_t start = section.sh_offset;
        const uint64_t end = start + section.sh_size;
        if (end < start || end > fileSize) continue;
        uint64_t pos = start;
        while (pos + sizeof(Nhdr) <= end) {
            Nhdr note;
            if (!file.read(pos, &note, sizeof note)) return false;
            const uint64_t nameAt = pos + sizeof(Nhdr);
            const uint64_t descAt = nameAt + Align4(note.n_namesz);
            const uint64_t next = descAt + Align4(note.n_descsz);
            if (next > end || next <= pos) break;
            if (note.n_type == kNoteTypePackage && note.n_namesz == sizeof kNoteOwner &&
                note.n_descsz <= kMaxNoteBytes) {
                char owner[sizeof kNoteOwner];
                if (file.read(nameAt, owner, sizeof owner) && std::memcmp(owner, kNoteOwner, sizeof owner) == 0) {
                    out.assign(note.n_descsz, 0);
                    if (!file.read(descAt, out.data(), note.n_descsz)) return false;
                    // The descriptor is NUL-padded JSON; keep the text only.
                    while (!out.empty() && out.back() == 0) out.pop_back();
                    return !out.empty();
                }
            }
            pos = next;
        }
    }
    return false;
}

bool ReadPackageNote(const std::wstring& path, std::vector<uint8_t>& out) {
    File file(path);
    if (!file.ok()) return false;
    const uint64_t size = file.size();
    unsigned char ident[EI_NIDENT];
    if (size < sizeof(Elf32_Ehdr) || !file.read(0, ident, sizeof ident)) return false;
    if (std::memcmp(ident, ELFMAG, SELFMAG) != 0) return false;
    // Only the byte order of the running machine is read; foreign-endian files have no note for us.
    const unsigned char native = __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__ ? ELFDATA2LSB : ELFDATA2MSB;
    if (ident[EI_DATA] != native) return false;
    if (ident[EI_CLASS] == ELFCLASS64 && size >= sizeof(Elf64_Ehdr))
        return FindPackageNote<Elf64_Ehdr, Elf64_Shdr, Elf64_Nhdr>(file, size, out);
    if (ident[EI_CLASS] == ELFCLASS32) return FindPackageNote<Elf32_Ehdr, Elf32_Shdr, Elf32_Nhdr>(file, size, out);
    return false;
}

bool EqualsNoCase(const std::wstring& a, const std::wstring& b) { return base::EqualsIgnoreCase(a, b); }

}  // namespace

bool VerifyOSVersion(const OSVersionRecord& record, uint32_t typeMask, uint64_t conditionMask) {
    if (typeMask == 0) return false;
    const OSVersionRecord running = RunningSystem();
    struct Field {
        uint32_t bit;
        uint64_t actual;
        uint64_t wanted;
    };
    const Field fields[] = {{0x1, running.minorVersion, record.minorVersion},
                            {0x2, running.majorVersion, record.majorVersion},
                            {0x4, running.buildNumber, record.buildNumber},
                            {0x8, running.platformId, record.platformId},
                            {0x10, running.servicePackMinor, record.servicePackMinor},
                            {0x20, running.servicePackMajor, record.servicePackMajor}};
    for (const Field& field : fields) {
        if ((typeMask & field.bit) == 0) continue;
        if (!Compare(field.actual, field.wanted, ConditionOf(conditionMask, field.bit))) return false;
    }
    return true;
}

bool IsWow64() {
    if (sizeof(void*) != 4) return false;
    struct utsname name {};
    if (uname(&name) != 0) return false;
    return std::strcmp(name.machine, "x86_64") == 0 || std::strcmp(name.machine, "aarch64") == 0;
}

uint32_t FileVersionInfoSize(const std::wstring& path) {
    std::vector<uint8_t> note;
    return ReadPackageNote(path, note) ? static_cast<uint32_t>(note.size()) : 0;
}

bool ReadFileVersionInfo(const std::wstring& path, std::vector<uint8_t>& block) {
    std::vector<uint8_t> note;
    if (!ReadPackageNote(path, note)) return false;
    block = std::move(note);
    return true;
}

bool QueryVersionTranslations(const std::vector<uint8_t>& block, std::vector<std::pair<uint16_t, uint16_t>>& out) {
    if (block.empty()) return false;
    out.assign(1, {0x0409, 0x04B0});  // en-US, Unicode: the note carries one language-neutral text
    return true;
}

bool QueryVersionString(const std::vector<uint8_t>& block, const std::wstring& subBlock, std::wstring& value) {
    if (!EqualsNoCase(subBlock, L"\\StringFileInfo\\040904B0\\FileVersion") &&
        !EqualsNoCase(subBlock, L"\\StringFileInfo\\040904B0\\ProductVersion"))
        return false;
    rapidjson::Document json;
    json.Parse(reinterpret_cast<const char*>(block.data()), block.size());
    if (json.HasParseError() || !json.IsObject()) return false;
    // HasMember and operator[], not FindMember == MemberEnd: RapidJSON 1.1.0's iterator
    // comparison is ambiguous under C++20's reversed operators (clang refuses it).
    if (!json.HasMember("version") || !json["version"].IsString()) return false;
    const auto& version = json["version"];
    value = glimmerpane::base::WideFromUtf8(std::string_view(version.GetString(), version.GetStringLength()));
    return !value.empty();
}

bool SystemFolder(std::wstring& folder) {
    folder.clear();
    return false;
}

}  // namespace glimmerpane::platform
