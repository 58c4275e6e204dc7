// TableResources.cpp - a resource library served from a table, for tests.
#include "support/TableResources.h"

#include <cwchar>

#include "platform/DynamicLibrary.h"
#include "platform/FileSystem.h"
#include "render/TileCatalogue.h"

namespace gptest {

bool TableResourceAPI::loadLibrary(const std::wstring&, Vornik::ResourceModuleHandle& module) {
    module = &library_;
    return true;
}

int TableResourceAPI::loadString(Vornik::ResourceModuleHandle, uint32_t id, wchar_t* buffer, int bufferSize) {
    auto found = strings_.find(id);
    if (found == strings_.end()) return 0;
    if (bufferSize == 0) {
        *reinterpret_cast<const wchar_t**>(buffer) = found->second.c_str();
        return static_cast<int>(found->second.size());
    }
    const int length = std::min<int>(bufferSize - 1, static_cast<int>(found->second.size()));
    std::wmemcpy(buffer, found->second.c_str(), length);
    buffer[length] = L'\0';
    return length;
}

Vornik::ResourceModuleHandle TableResourceAPI::getModuleHandle(const wchar_t*) { return &library_; }

uint32_t TableResourceAPI::getModuleFileName(Vornik::ResourceModuleHandle, wchar_t* buffer, uint32_t size) {
    // The platform's own shape: "/fake/Glimmerpane.so" or "\fake\Glimmerpane.dll".
    static const std::wstring kPath = std::wstring(1, glimmerpane::platform::kPathSeparator) + L"fake" +
                                      glimmerpane::platform::kPathSeparator +
                                      glimmerpane::platform::LibraryFileName(L"Glimmerpane");
    const uint32_t length = static_cast<uint32_t>(kPath.size());
    if (size <= length) return size;
    std::wmemcpy(buffer, kPath.c_str(), length + 1);
    return length;
}

std::map<uint32_t, std::wstring> StringsNamingTheirIds() {
    std::map<uint32_t, std::wstring> strings;
    strings[Vornik::TILE_TEMPLATE_ID] =
        L"<tile><visual><binding template=\"TileMedium\"><image src=\"%IMAGE_SRC%\"/>"
        L"<text>%TILE_MEDIUM_TEXT_CAPTION%</text><text>%TILE_MEDIUM_TEXT_BODY%</text></binding>"
        L"<binding template=\"TileWide\"><text>%TILE_WIDE_TEXT_CAPTION%</text><text>%TILE_WIDE_TEXT_BODY%</text>"
        L"</binding></visual></tile>";
    for (uint32_t id : Vornik::allTileStringIds()) {
        if (id == Vornik::TILE_TEMPLATE_ID) continue;
        strings[id] = L"[" + std::to_wstring(id) + L"]";
    }
    return strings;
}

std::shared_ptr<Vornik::TileContentFormatter> MakeFakeFormatter(std::map<uint32_t, std::wstring> strings) {
    auto api = std::make_shared<TableResourceAPI>(std::move(strings));
    auto resources = std::make_shared<Vornik::ResourceDll>(glimmerpane::platform::LibraryFileName(L"Glimmerpane").c_str(),
                                                           glimmerpane::platform::LibraryFileName(L"GPNResources").c_str(), api);
    auto placeholders = std::make_shared<Vornik::PlaceHolders>(resources);
    return std::make_shared<Vornik::TileContentFormatter>(placeholders);
}

}  // namespace gptest
