// StringResources.cpp (POSIX side) - resource libraries as shared libraries exporting a
// string table, and loaded-module lookup through the dynamic loader.
#include "platform/StringResources.h"

#include "base/CaseFold.h"

#include <dlfcn.h>
#include <link.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "glimmerpane/resource_table.h"
#include "platform/LanguageIds.h"
#include "platform/TrustCheck.h"
#include "base/Utf.h"

namespace glimmerpane::platform {

namespace {

thread_local uint32_t t_lastError = 0;

// Bumped by every unload, so that a handle value reused for another library is never taken
// for the one that a thread's table cache remembers.
std::atomic<uint64_t> g_unloads{0};

std::string ExecutablePath() {
    char buffer[PATH_MAX];
    const ssize_t length = readlink("/proc/self/exe", buffer, sizeof(buffer) - 1);
    return length > 0 ? std::string(buffer, static_cast<size_t>(length)) : std::string();
}

std::string BaseName(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Windows compares module names without regard to letter case; so do we.
bool SameFileName(const std::string& a, const std::string& b) { return base::EqualsIgnoreAsciiCase(a, b); }

// A handle for an object that is already loaded, without keeping a reference: RTLD_NOLOAD
// adds one, which we give back at once.
ModuleHandle HandleOfLoadedObject(const char* path) {
    void* handle = dlopen(path, RTLD_LAZY | RTLD_NOLOAD);
    if (handle != nullptr) dlclose(handle);
    return handle;
}

const GpStringTable* LookUpTable(ModuleHandle module) {
    void* handle = module;
    if (handle == nullptr) handle = HandleOfLoadedObject(nullptr);
    dlerror();
    const auto* table = static_cast<const GpStringTable*>(dlsym(handle, GP_STRING_TABLE_SYMBOL));
    if (table == nullptr) {
        t_lastError = kErrorResourceTypeNotFound;
        return nullptr;
    }
    if (table->magic != GP_STRING_TABLE_MAGIC || table->version != GP_STRING_TABLE_VERSION ||
        table->wcharSize != sizeof(wchar_t)) {
        t_lastError = kErrorResourceDataNotFound;
        return nullptr;
    }
    return table;
}

// What a thread resolved last: the module's table (one dlsym per module, not per string)
// and the language chosen from it for the UI languages of a given generation.
struct ResolvedTable {
    ModuleHandle module = nullptr;
    uint64_t unloads = 0;
    const GpStringTable* table = nullptr;
    uint64_t languagesGeneration = 0;
    size_t chosen = 0;
    bool chosenValid = false;
};
thread_local ResolvedTable t_resolved;

const GpStringTable* TableOf(ModuleHandle module) {
    ResolvedTable& resolved = t_resolved;
    const uint64_t unloads = g_unloads.load(std::memory_order_acquire);
    if (resolved.table != nullptr && resolved.module == module && resolved.unloads == unloads) return resolved.table;
    const GpStringTable* table = LookUpTable(module);
    if (table == nullptr) return nullptr;
    resolved = ResolvedTable{module, unloads, table};
    return table;
}

// The index of the language table for the thread's current UI languages.
size_t ChosenLanguage(const GpStringTable* table) {
    uint64_t generation = 0;
    const std::vector<uint16_t>& preferences = CurrentUserUiLanguages(&generation);
    ResolvedTable& resolved = t_resolved;
    if (resolved.table == table && resolved.chosenValid && resolved.languagesGeneration == generation)
        return resolved.chosen;
    std::vector<uint16_t> available;
    available.reserve(table->languageCount);
    for (uint32_t i = 0; i < table->languageCount; ++i) available.push_back(table->languages[i].languageId);
    const size_t chosen = ChooseLanguage(available, preferences);
    if (resolved.table == table) {
        resolved.languagesGeneration = generation;
        resolved.chosen = chosen;
        resolved.chosenValid = true;
    }
    return chosen;
}

}  // namespace

uint32_t LastErrorCode() { return t_lastError; }
void SetLastErrorCode(uint32_t code) { t_lastError = code; }

ModuleHandle LoadResourceLibrary(const std::wstring& path) {
    // Mapping runs the library's constructors: only a trusted file, and the very file examined.
    std::wstring verified;
    if (uint32_t code = VerifyTrustedFile(path, &verified); code != kTrustOk) {
        // A missing file is what LoadLibraryW reports as 126; a refusal keeps the verifier's code.
        if (code == kErrorFileNotFound || code == kErrorPathNotFound) code = kErrorModNotFound;
        t_lastError = code;
        return nullptr;
    }
    const std::string narrow = glimmerpane::base::Utf8FromWide(verified);
    void* handle = dlopen(narrow.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        struct stat info {};
        t_lastError = (narrow.find('/') != std::string::npos && stat(narrow.c_str(), &info) == 0) ? kErrorBadExeFormat
                                                                                                   : kErrorModNotFound;
        return nullptr;
    }
    t_lastError = kErrorSuccess;
    return handle;
}

std::vector<uint16_t> ResourceLanguages(ModuleHandle module) {
    std::vector<uint16_t> languages;
    if (const GpStringTable* table = TableOf(module)) {
        for (uint32_t i = 0; i < table->languageCount; ++i) languages.push_back(table->languages[i].languageId);
    }
    return languages;
}

int LoadResourceString(ModuleHandle module, uint32_t id, wchar_t* buffer, int bufferMax) {
    if (buffer == nullptr || bufferMax < 0) {
        t_lastError = kErrorInvalidParameter;
        return 0;
    }
    const GpStringTable* table = TableOf(module);
    if (table == nullptr) return 0;
    const size_t chosen = ChosenLanguage(table);
    if (chosen >= table->languageCount) {
        t_lastError = kErrorResourceTypeNotFound;
        return 0;
    }
    const GpStringLanguage& language = table->languages[chosen];
    const GpStringEntry* begin = language.entries;
    const GpStringEntry* end = begin + language.count;
    const GpStringEntry* entry =
        std::lower_bound(begin, end, id, [](const GpStringEntry& e, uint32_t wanted) { return e.id < wanted; });
    if (entry == end || entry->id != id) {
        // No fallback to another language: Windows has none per string either.
        t_lastError = kErrorResourceNameNotFound;
        return 0;
    }
    t_lastError = kErrorSuccess;
    if (bufferMax == 0) {
        *reinterpret_cast<const wchar_t**>(buffer) = entry->text;
        return static_cast<int>(entry->length);
    }
    const size_t copied = std::min<size_t>(entry->length, static_cast<size_t>(bufferMax) - 1);
    std::copy_n(entry->text, copied, buffer);
    buffer[copied] = L'\0';
    return static_cast<int>(copied);
}

bool FreeResourceLibrary(ModuleHandle module) {
    g_unloads.fetch_add(1, std::memory_order_release);
    if (module == nullptr || dlclose(module) != 0) {
        t_lastError = kErrorInvalidHandle;
        return false;
    }
    return true;
}

ModuleHandle FindLoadedModule(const std::wstring& fileName) {
    // Several loaded objects may share a base name (a host that loads two copies, or a
    // copy dlclose could not unload); the one that holds this very code is ours.
    struct Search {
        std::string wanted;
        std::string path;
        bool found = false;
        bool holdsSelf = false;
        uintptr_t self = 0;
    } search{glimmerpane::base::Utf8FromWide(fileName), {}, false, false, reinterpret_cast<uintptr_t>(&FindLoadedModule)};
    if (search.wanted.empty()) {
        t_lastError = kErrorInvalidParameter;
        return nullptr;
    }
    dl_iterate_phdr(
        [](dl_phdr_info* info, size_t, void* data) -> int {
            auto* s = static_cast<Search*>(data);
            if (info->dlpi_name == nullptr || info->dlpi_name[0] == '\0') return 0;
            if (!SameFileName(BaseName(info->dlpi_name), s->wanted)) return 0;
            bool holdsSelf = false;
            for (int i = 0; i < info->dlpi_phnum; ++i) {
                const auto& segment = info->dlpi_phdr[i];
                const uintptr_t start = info->dlpi_addr + segment.p_vaddr;
                if (segment.p_type == PT_LOAD && s->self >= start && s->self < start + segment.p_memsz) holdsSelf = true;
            }
            if (!s->found || holdsSelf) {
                s->path = info->dlpi_name;
                s->found = true;
                s->holdsSelf = holdsSelf;
            }
            return holdsSelf ? 1 : 0;
        },
        &search);
    if (search.found) {
        if (ModuleHandle handle = HandleOfLoadedObject(search.path.c_str())) return handle;
    } else if (SameFileName(BaseName(ExecutablePath()), search.wanted)) {
        return HandleOfLoadedObject(nullptr);
    }
    t_lastError = kErrorModNotFound;
    return nullptr;
}

ModuleHandle ModuleContainingAddress(const void* address) {
    // glibc's dlopen handle is the object's link_map, which dladdr1 hands out directly
    // (dli_fname alone is as relative as the program was started).
    Dl_info info{};
    link_map* map = nullptr;
    if (address == nullptr || dladdr1(address, &info, reinterpret_cast<void**>(&map), RTLD_DL_LINKMAP) == 0 ||
        map == nullptr) {
        t_lastError = kErrorModNotFound;
        return nullptr;
    }
    return map;
}

uint32_t LoadedModuleFileName(ModuleHandle module, wchar_t* buffer, uint32_t size) {
    if (buffer == nullptr || size == 0) {
        t_lastError = kErrorInsufficientBuffer;
        return 0;
    }
    std::string path;
    if (module == nullptr || module == HandleOfLoadedObject(nullptr)) {
        path = ExecutablePath();
    } else {
        link_map* map = nullptr;
        if (dlinfo(module, RTLD_DI_LINKMAP, &map) != 0 || map == nullptr) {
            t_lastError = kErrorInvalidHandle;
            return 0;
        }
        path = map->l_name != nullptr && map->l_name[0] != '\0' ? map->l_name : ExecutablePath();
    }
    if (path.empty()) {
        t_lastError = kErrorFileNotFound;
        return 0;
    }
    const std::wstring wide = glimmerpane::base::WideFromUtf8(path);
    if (wide.size() >= size) {
        std::copy_n(wide.data(), size - 1, buffer);
        buffer[size - 1] = L'\0';
        t_lastError = kErrorInsufficientBuffer;
        return size;
    }
    std::copy(wide.begin(), wide.end(), buffer);
    buffer[wide.size()] = L'\0';
    t_lastError = kErrorSuccess;
    return static_cast<uint32_t>(wide.size());
}

bool PathExists(const std::wstring& path) {
    struct stat info {};
    if (stat(glimmerpane::base::Utf8FromWide(path).c_str(), &info) == 0) return true;
    t_lastError = errno == ENOENT ? kErrorFileNotFound : kErrorPathNotFound;
    return false;
}

bool CloseOsHandle(void* handle) {
    const auto value = reinterpret_cast<intptr_t>(handle);
    if (value <= 0 || value > INT_MAX || close(static_cast<int>(value - 1)) != 0) {
        t_lastError = kErrorInvalidHandle;
        return false;
    }
    return true;
}

}  // namespace glimmerpane::platform
