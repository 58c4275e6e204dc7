// TableResources.h - a resource library served from a table, for tests.
//
// TableResourceAPI pretends that the module is loaded from /fake/Glimmerpane.so and that a
// resource library lies beside it whose strings come from a map. MakeFakeFormatter builds
// the real formatter and placeholder engine over it. StringsNamingTheirIds() gives a
// table in which every caption and body names its own id ("[301]"), so tests can read
// back which content a rendered tile shows.
#pragma once

#include <map>
#include <memory>
#include <string>

#include "render/PlaceHolders.h"
#include "render/ResourceAPI.h"
#include "render/ResourceDll.h"
#include "render/TileContentFormatter.h"

namespace gptest {

class TableResourceAPI : public Vornik::ResourceAPI {
public:
    explicit TableResourceAPI(std::map<uint32_t, std::wstring> strings) : strings_(std::move(strings)) {}

    bool loadLibrary(const std::wstring& path, Vornik::ResourceModuleHandle& module) override;
    int loadString(Vornik::ResourceModuleHandle module, uint32_t id, wchar_t* buffer, int bufferSize) override;
    Vornik::ResourceModuleHandle getModuleHandle(const wchar_t* fileName) override;
    uint32_t getModuleFileName(Vornik::ResourceModuleHandle module, wchar_t* buffer, uint32_t size) override;
    int fileExists(const std::wstring&) override { return 1; }
    int freeLibrary(Vornik::ResourceModuleHandle) override { return 1; }
    uint32_t getLastError() override { return 0; }

private:
    std::map<uint32_t, std::wstring> strings_;
    int library_ = 0;
};

// Template 101 as a small tile with the five content placeholders and every caption,
// body and count text naming its id.
std::map<uint32_t, std::wstring> StringsNamingTheirIds();

std::shared_ptr<Vornik::TileContentFormatter> MakeFakeFormatter(
    std::map<uint32_t, std::wstring> strings = StringsNamingTheirIds());

}  // namespace gptest
