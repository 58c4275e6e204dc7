// PlaceholderBench.cpp - placeholder expansion: the hand scanner against a std::wregex
// compiled per call, over a template of about 700 characters, and one whole tile rendered
// from the shipped resource library.
//
//   build/default/bin/gp_bench --benchmark_filter=Placeholder
#include <benchmark/benchmark.h>

#include <regex>
#include <string>

#include "render/PlaceHolders.h"
#include "render/PlaceholderScanner.h"

namespace {

// The shape of the shipped template plus the visual's optional attributes.
const std::wstring kTemplate =
    L"<tile><visual version=\"2\" lang=\"en-US\" branding=\"nameAndLogo\" displayName=\"Glimmerpane\" baseUri=\"ms-appx:///Assets/Tiles/\" addImageQuery=\"false\"><binding template=\"TileMedium\" hint-textStacking=\"center\"><image placement=\"peek\" "
    L"src=\"%IMAGE_SRC%\"/><text hint-style=\"base\" hint-wrap=\"true\">%TILE_MEDIUM_TEXT_CAPTION%</text><text "
    L"hint-style=\"captionSubtle\" hint-wrap=\"true\" hint-maxLines=\"3\">%TILE_MEDIUM_TEXT_BODY%</text></binding>"
    L"<binding template=\"TileWide\" hint-textStacking=\"center\"><image placement=\"peek\" src=\"%IMAGE_SRC%\"/>"
    L"<text hint-style=\"subtitle\" hint-wrap=\"true\">%TILE_WIDE_TEXT_CAPTION%</text><text hint-style=\"bodySubtle\" "
    L"hint-wrap=\"true\" hint-maxLines=\"3\">%TILE_WIDE_TEXT_BODY%</text></binding></visual></tile>";

std::wstring ValueOf(const std::wstring& placeholder) {
    if (placeholder == L"%IMAGE_SRC%") return L"secure.png";
    if (placeholder == L"%TILE_MEDIUM_TEXT_BODY%") return L"%FILES_SCANNED_MEDIUM%";
    if (placeholder == L"%FILES_SCANNED_MEDIUM%") return L"%NUM_FILES% files scanned";
    if (placeholder == L"%NUM_FILES%") return L"1,234,567";
    return L"Some caption";
}

// The same left-to-right rewrite, once with each matcher.
template <class Find>
std::wstring Expand(const std::wstring& input, Find find) {
    std::wstring work = input, out;
    for (;;) {
        size_t position = 0, length = 0;
        if (!find(work, position, length)) return out + work;
        const std::wstring value = ValueOf(work.substr(position, length));
        out.append(work, 0, position);
        work = value + work.substr(position + length);
    }
}

void BM_PlaceholderScanner(benchmark::State& state) {
    for (auto _ : state) {
        std::wstring out = Expand(kTemplate, [](const std::wstring& text, size_t& position, size_t& length) {
            const Vornik::PlaceholderMatch match = Vornik::findPlaceholder(text);
            position = match.position;
            length = match.length;
            return match.found();
        });
        benchmark::DoNotOptimize(out);
    }
    state.SetLabel(std::to_string(kTemplate.size()) + " chars");
}
BENCHMARK(BM_PlaceholderScanner);

void BM_PlaceholderRegexPerCall(benchmark::State& state) {
    for (auto _ : state) {
        const std::wregex pattern(L"\\%([^%]+)\\%");
        std::wstring out = Expand(kTemplate, [&](const std::wstring& text, size_t& position, size_t& length) {
            std::wsmatch match;
            if (!std::regex_search(text, match, pattern)) return false;
            position = static_cast<size_t>(match.position(0));
            length = static_cast<size_t>(match.length(0));
            return true;
        });
        benchmark::DoNotOptimize(out);
    }
}
BENCHMARK(BM_PlaceholderRegexPerCall);

// One FILES_SCANNED tile from GPNResources beside this executable, under the user's locale.
void BM_PlaceholderRenderTile(benchmark::State& state) {
    auto resources = std::make_shared<Vornik::ResourceDll>(L"gp_bench", L"GPNResources.so", nullptr);
    Vornik::PlaceHolders engine(resources);
    Vornik::ProcState status;
    status.filesScanned = 1234567;
    for (auto _ : state) {
        std::wstring xml;
        if (!engine.getTileXML(xml, Vornik::FILES_SCANNED, status)) state.SkipWithError("tile failed");
        benchmark::DoNotOptimize(xml);
    }
}
BENCHMARK(BM_PlaceholderRenderTile);

}  // namespace
