// HtmlPreview.cpp - the self-contained tile preview page and its careful file writer.
#include "HtmlPreview.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>

#include "FreshName.h"

#include "platform/FileSystem.h"
#include "platform/LanguageIds.h"
#include "base/Utf.h"
#include "base/Win32Error.h"

namespace glimmerpane::cli {

namespace {

std::string Base64(const std::string& bytes) {
    static const char* alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    size_t i = 0;
    for (; i + 2 < bytes.size(); i += 3) {
        const uint32_t n = (uint8_t(bytes[i]) << 16) | (uint8_t(bytes[i + 1]) << 8) | uint8_t(bytes[i + 2]);
        out += alphabet[n >> 18];
        out += alphabet[(n >> 12) & 63];
        out += alphabet[(n >> 6) & 63];
        out += alphabet[n & 63];
    }
    if (i < bytes.size()) {
        uint32_t n = uint8_t(bytes[i]) << 16;
        if (i + 1 < bytes.size()) n |= uint8_t(bytes[i + 1]) << 8;
        out += alphabet[n >> 18];
        out += alphabet[(n >> 12) & 63];
        out += i + 1 < bytes.size() ? alphabet[(n >> 6) & 63] : '=';
        out += '=';
    }
    return out;
}

// The colour class of a tile by its image file name.
std::string ToneOf(const std::string& image) {
    if (image == "secure.png") return "secure";
    if (image == "atrisk.png") return "atrisk";
    if (image == "warning.png") return "warning";
    return "neutral";
}

class ImageCache {
public:
    explicit ImageCache(std::wstring folder) : folder_(std::move(folder)) {}
    // A data: URL for the shipped image, or empty when there is none. Only plain file names
    // are looked up, so a payload cannot make the page embed an arbitrary file.
    std::string dataUrl(const std::string& name) {
        if (name.empty() || name.find_first_of("/\\") != std::string::npos || name.find("..") != std::string::npos)
            return {};
        if (auto it = cache_.find(name); it != cache_.end()) return it->second;
        std::string url;
        const std::filesystem::path path = std::filesystem::path(folder_) / std::filesystem::path(glimmerpane::base::WideFromUtf8(name));
        std::ifstream in(path, std::ios::binary);
        if (in) {
            std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
            if (!bytes.empty()) url = "data:image/png;base64," + Base64(bytes);
        }
        return cache_[name] = url;
    }

private:
    std::wstring folder_;
    std::map<std::string, std::string> cache_;
};

void RenderTile(std::ostringstream& out, const DecodedTile& tile, const TileBinding& binding, const char* size,
                const char* label, ImageCache& images) {
    const std::string url = images.dataUrl(binding.image);
    out << "<figure class=\"size\"><div class=\"tile " << size << ' ' << ToneOf(binding.image) << "\" data-tile=\""
        << EscapeHtml(tile.name) << "\" data-size=\"" << size << "\">";
    if (!url.empty()) out << "<img class=\"image\" alt=\"" << EscapeHtml(binding.image) << "\" src=\"" << url << "\">";
    out << "<div class=\"text\"><div class=\"caption\">" << EscapeHtml(binding.caption) << "</div><div class=\"body\">"
        << EscapeHtml(binding.body) << "</div></div></div><figcaption>" << label << "</figcaption></figure>\n";
}

bool SameBinding(const TileBinding& a, const TileBinding& b) {
    return a.image == b.image && a.caption == b.caption && a.body == b.body;
}

// Two tile sets that look the same on the live tile.
bool SameTiles(const DecodedPayload& a, const DecodedPayload& b) {
    if (a.tiles.size() != b.tiles.size()) return false;
    for (size_t i = 0; i < a.tiles.size(); ++i) {
        if (a.tiles[i].name != b.tiles[i].name || !SameBinding(a.tiles[i].medium, b.tiles[i].medium) ||
            !SameBinding(a.tiles[i].wide, b.tiles[i].wide)) {
            return false;
        }
    }
    return true;
}

const char* kStyle = R"(
body { font-family: "Segoe UI", "DejaVu Sans", Arial, sans-serif; background: #1f1f1f; color: #eee; margin: 24px; }
h1 { font-weight: 300; margin: 0 0 4px 0; }
h2 { font-weight: 400; border-bottom: 1px solid #444; padding-bottom: 4px; margin-top: 32px; }
.summary { color: #bbb; margin-bottom: 16px; white-space: pre-wrap; }
.notes { color: #aaa; font-family: "DejaVu Sans Mono", monospace; font-size: 12px; margin: 4px 0 8px 0; padding-left: 18px; }
.problem { color: #ff8a80; font-weight: bold; }
.tileset { margin: 12px 0 20px 0; }
.tileset-label { color: #999; font-size: 12px; margin-bottom: 4px; }
.tiles { display: grid; grid-template-columns: repeat(auto-fill, minmax(480px, 1fr)); gap: 12px 16px; }
.tile-row { background: #2a2a2a; border-radius: 4px; padding: 8px; }
.pair { display: flex; flex-wrap: wrap; gap: 6px; align-items: flex-start; }
figure.size { margin: 0; }
figcaption { color: #888; font-size: 11px; margin-top: 2px; }
.repeat { color: #bbb; font-size: 12px; margin-left: 6px; }
.tile { position: relative; height: 150px; box-sizing: border-box; padding: 10px; overflow: hidden;
        display: flex; align-items: center; gap: 8px; color: #fff; }
.tile.medium { width: 150px; flex-direction: column; justify-content: center; text-align: center; }
.tile.wide { width: 310px; }
.tile.secure { background: #1e7e34; }
.tile.atrisk { background: #b3261e; }
.tile.warning { background: #c77c02; }
.tile.neutral { background: #5f6368; }
.tile .image { width: 48px; height: 48px; flex: none; }
.tile.medium .image { width: 40px; height: 40px; }
.tile .caption { font-size: 15px; font-weight: 600; }
.tile.wide .caption { font-size: 18px; font-weight: 400; }
.tile .body { font-size: 12px; opacity: 0.85; margin-top: 4px; }
.name { color: #ccc; font-size: 12px; font-family: "DejaVu Sans Mono", monospace; margin-bottom: 6px;
        overflow-wrap: anywhere; }
)";

}  // namespace

std::string PageLanguage(const std::string& chosen) {
    if (!chosen.empty()) return chosen;
    const std::vector<uint16_t> languages = platform::UserUiLanguages();
    if (languages.empty() || platform::PrimaryLanguage(languages.front()) == 0) return "en";
    const std::string tag = platform::LanguageTag(languages.front());
    return tag.rfind("0x", 0) == 0 ? "en" : tag;
}

std::string EscapeHtml(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            case '\'': out += "&#39;"; break;
            default: out += c;
        }
    }
    return out;
}

std::string RenderPreviewHtml(const std::string& pageTitle, const std::string& summary,
                              const std::vector<PreviewSection>& sections, const std::wstring& imageFolder,
                              const std::string& language) {
    ImageCache images(imageFolder);
    std::ostringstream out;
    out << "<!DOCTYPE html>\n<html lang=\"" << EscapeHtml(language.empty() ? "en" : language)
        << "\"><head><meta charset=\"utf-8\"><title>" << EscapeHtml(pageTitle)
        << "</title>\n<style>" << kStyle << "</style></head>\n<body>\n<h1>" << EscapeHtml(pageTitle) << "</h1>\n";
    if (!summary.empty()) out << "<div class=\"summary\">" << EscapeHtml(summary) << "</div>\n";
    for (size_t s = 0; s < sections.size(); ++s) {
        const PreviewSection& section = sections[s];
        out << "<section class=\"step\" id=\"step-" << s + 1 << "\"><h2>" << EscapeHtml(section.title) << "</h2>\n";
        if (!section.notes.empty()) {
            out << "<ul class=\"notes\">";
            for (const std::string& note : section.notes) out << "<li>" << EscapeHtml(note) << "</li>";
            out << "</ul>\n";
        }
        if (!section.problem.empty()) out << "<p class=\"problem\">" << EscapeHtml(section.problem) << "</p>\n";
        // Tile sets that follow each other unchanged are drawn once, with their count.
        for (size_t t = 0; t < section.tileSets.size();) {
            const PreviewTileSet& set = section.tileSets[t];
            size_t same = 1;
            while (t + same < section.tileSets.size() && SameTiles(section.tileSets[t + same].payload, set.payload)) ++same;
            out << "<div class=\"tileset\" data-count=\"" << same << "\"><div class=\"tileset-label\">"
                << EscapeHtml(set.label) << " &middot; " << set.payload.tiles.size()
                << (set.payload.tiles.size() == 1 ? " tile" : " tiles");
            if (same > 1) {
                out << "<span class=\"repeat\">&times;" << same << ", unchanged up to "
                    << EscapeHtml(section.tileSets[t + same - 1].label) << "</span>";
            }
            out << "</div>\n<div class=\"tiles\">\n";
            for (const DecodedTile& tile : set.payload.tiles) {
                out << "<div class=\"tile-row\"><div class=\"name\">" << EscapeHtml(tile.name) << "</div><div class=\"pair\">";
                RenderTile(out, tile, tile.medium, "medium", "medium 150&times;150", images);
                RenderTile(out, tile, tile.wide, "wide", "wide 310&times;150", images);
                out << "</div></div>\n";
            }
            out << "</div></div>\n";
            t += same;
        }
        out << "</section>\n";
    }
    out << "</body></html>\n";
    return out.str();
}

bool OutputFile::open(const std::string& path, const std::string& defaultName, std::string* error) {
    namespace fs = std::filesystem;
    uint32_t code = 0;
    if (path.empty()) {
        std::error_code ec;
        const fs::path folder = fs::temp_directory_path(ec);
        if (ec) {
            *error = "no temporary folder for the preview: " + ec.message();
            return false;
        }
        file_ = CreateFreshFile((folder / (defaultName + "-")).string(), ".html", &path_, &code);
        if (file_ == nullptr) {
            *error = "cannot create " + path_ + ": " + FileErrorReason(code);
            return false;
        }
        return true;
    }
    path_ = path;
    std::error_code ec;
    const fs::file_status status = fs::status(path, ec);
    if (!ec && fs::is_directory(status)) {
        *error = "cannot create " + path + ": it is a folder";
        return false;
    }
    if (!ec && fs::exists(status) && !fs::is_regular_file(status)) {
        // A device or a pipe the user named (/dev/stdout): written in place.
        errno = 0;
        file_ = std::fopen(path.c_str(), "wb");
        if (file_ == nullptr) {
            *error = "cannot open " + path + ": " + std::strerror(errno);
            return false;
        }
        direct_ = true;
        return true;
    }
    // Anything else is written beside the target and renamed over it: a half-written page
    // never shows, and a link at the path is replaced, not followed.
    file_ = CreateFreshFile(path + ".", ".tmp", &temp_, &code);
    if (file_ == nullptr) {
        temp_.clear();
        *error = "cannot create " + path + ": " + FileErrorReason(code);
        return false;
    }
    return true;
}

bool OutputFile::commit(const std::string& content, std::string* error) {
    if (file_ == nullptr) {
        *error = "the preview file is not open";
        return false;
    }
    errno = 0;
    const size_t written = std::fwrite(content.data(), 1, content.size(), file_);
    int problem = written == content.size() ? 0 : errno;
    // A full disk often shows only when the buffer is flushed.
    if (std::fflush(file_) != 0 && problem == 0) problem = errno;
    if (std::fclose(file_) != 0 && problem == 0) problem = errno;
    file_ = nullptr;
    if (problem != 0 || written != content.size()) {
        *error = "cannot write " + path_ + ": " + std::strerror(problem != 0 ? problem : EIO);
        discard();
        return false;
    }
    if (!temp_.empty()) {
        std::error_code ec;
        std::filesystem::rename(temp_, path_, ec);
        if (ec) {
            *error = "cannot write " + path_ + ": " + ec.message();
            discard();
            return false;
        }
        temp_.clear();
    }
    return true;
}

void OutputFile::discard() {
    if (file_ != nullptr) std::fclose(file_);
    file_ = nullptr;
    std::error_code ignored;
    if (!temp_.empty()) std::filesystem::remove(temp_, ignored);
    else if (!direct_ && !path_.empty()) std::filesystem::remove(path_, ignored);  // our own new file
    temp_.clear();
}

OutputFile::~OutputFile() {
    if (file_ != nullptr) discard();
}

bool WriteTextFile(const std::string& path, const std::string& content, std::string* error) {
    OutputFile file;
    return file.open(path, "", error) && file.commit(content, error);
}

}  // namespace glimmerpane::cli
