// HtmlPreview.h - an HTML page that draws tile sets as the live tile shows them.
//
// Every tile is drawn in both sizes (medium 150x150, wide 310x150, each labelled) with its
// image, caption and body, the tiles of a set in a grid that uses the page's width, on the
// colour its image stands for: secure green, atrisk red, warning amber, neutral grey. The page is self-contained: inline CSS, images embedded as data: URLs read
// from imageFolder (a missing image leaves the coloured tile without a picture), no script,
// nothing fetched. Captions carry class "caption" and bodies class "body"; each tile carries
// data-tile (its content name) and data-size, so tests can query the DOM.
#pragma once

#include <cstdio>
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

// language is the page's lang (a BCP 47 tag such as "de-DE"; empty: "en"). Tile sets that
// follow each other unchanged within a section are drawn once, with their count.
std::string RenderPreviewHtml(const std::string& pageTitle, const std::string& summary,
                              const std::vector<PreviewSection>& sections, const std::wstring& imageFolder,
                              const std::string& language = "");

// A page's file, opened before the work that fills it so that a bad path fails at once.
// - path given, a regular file or nothing there: the page is written to a new file beside
//   it and renamed over it at the end, so a half-written page never shows and a symbolic
//   link at the path is replaced, never followed;
// - path given, a device or a pipe (/dev/stdout): written in place;
// - path empty: a new file of this run in the temporary folder, DEFAULTNAME-XXXXXXXX.html,
//   created where nothing is (a name taken by a file or a link is never reused).
// Errors name the path and the system's reason (full disk included); a file that was not
// completed is removed.
class OutputFile {
public:
    OutputFile() = default;
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;
    ~OutputFile();

    bool open(const std::string& path, const std::string& defaultName, std::string* error);
    // Writes content (UTF-8 bytes) and closes; once.
    bool commit(const std::string& content, std::string* error);
    bool isOpen() const { return file_ != nullptr; }
    const std::string& path() const { return path_; }

private:
    void discard();

    std::string path_;
    std::string temp_;  // the new file beside path_, renamed over it by commit
    FILE* file_ = nullptr;
    bool direct_ = false;
};

// open(path) and commit(content) in one.
bool WriteTextFile(const std::string& path, const std::string& content, std::string* error);

// The lang of a page for tiles in the language chosen (a tag such as "de-DE"), or, when none
// was, in the user's UI language; "en" when that is unknown.
std::string PageLanguage(const std::string& chosen);

// "<" -> "&lt;" and so on, for text and attribute values.
std::string EscapeHtml(const std::string& text);

}  // namespace glimmerpane::cli
