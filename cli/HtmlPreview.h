// HtmlPreview.h - an HTML page that draws tile sets as the live tile shows them.
//
// Every tile is drawn in both sizes (medium 150x150, wide 310x150) with its image, caption
// and body, on the colour its image stands for: secure green, atrisk red, warning amber,
// neutral grey. The page is self-contained: inline CSS, images embedded as data: URLs read
// from imageFolder (a missing image leaves the coloured tile without a picture), no script,
// nothing fetched. Captions carry class "caption" and bodies class "body"; each tile carries
// data-tile (its content name) and data-size, so tests can query the DOM.
#pragma once

#include <string>
#include <vector>

#include "TilePayload.h"

namespace glimmerpane::cli {

struct PreviewTileSet {
    std::string label;          // "tile set 3"
    DecodedPayload payload;
};

struct PreviewSection {
    std::string title;                   // a step of the timeline, or the input file
    std::vector<std::string> notes;      // what happened (messages sent, registry changes)
    std::vector<PreviewTileSet> tileSets;
    std::string problem;                 // shown in red when not empty
};

std::string RenderPreviewHtml(const std::string& pageTitle, const std::string& summary,
                              const std::vector<PreviewSection>& sections, const std::wstring& imageFolder);

// Writes content to path (UTF-8 bytes). False with *error naming the path and the system's
// reason when the file cannot be created or fully written (full disk included); a partly
// written regular file is removed.
bool WriteTextFile(const std::string& path, const std::string& content, std::string* error);

// "<" -> "&lt;" and so on, for text and attribute values.
std::string EscapeHtml(const std::string& text);

}  // namespace glimmerpane::cli
