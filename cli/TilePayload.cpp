// TilePayload.cpp - payload decoding, a small tile-XML reader and tile recognition.
#include "TilePayload.h"

#include <cstdlib>

#include "platform/StringResources.h"
#include "render/JSONParser.h"
#include "render/TileCatalogue.h"
#include "base/Utf.h"

namespace glimmerpane::cli {

namespace {

// The value of attribute name inside one start tag's text ("<image src="x"/>").
std::string Attribute(const std::string& tag, const std::string& name) {
    size_t at = 0;
    while ((at = tag.find(name, at)) != std::string::npos) {
        const bool boundary = at > 0 && (tag[at - 1] == ' ' || tag[at - 1] == '\t' || tag[at - 1] == '\n');
        size_t p = at + name.size();
        while (p < tag.size() && tag[p] == ' ') ++p;
        if (boundary && p < tag.size() && tag[p] == '=') {
            ++p;
            while (p < tag.size() && tag[p] == ' ') ++p;
            if (p < tag.size() && (tag[p] == '"' || tag[p] == '\'')) {
                const size_t end = tag.find(tag[p], p + 1);
                if (end != std::string::npos) return DecodeXmlEntities(tag.substr(p + 1, end - p - 1));
            }
        }
        at += name.size();
    }
    return {};
}

// Reads one <binding>...</binding> body: the first image's src and the first two texts.
TileBinding ReadBinding(const std::string& body) {
    TileBinding binding;
    std::vector<std::string> texts;
    size_t at = 0;
    while ((at = body.find('<', at)) != std::string::npos) {
        const size_t close = body.find('>', at);
        if (close == std::string::npos) break;
        const std::string tag = body.substr(at, close - at + 1);
        if (tag.rfind("<image", 0) == 0 && binding.image.empty()) {
            binding.image = Attribute(tag, "src");
        } else if (tag.rfind("<text", 0) == 0 && tag.size() > 5 && (tag[5] == ' ' || tag[5] == '>' || tag[5] == '/')) {
            if (tag.size() >= 2 && tag[tag.size() - 2] == '/') {
                texts.emplace_back();
            } else {
                const size_t end = body.find("</text>", close);
                if (end == std::string::npos) break;
                texts.push_back(DecodeXmlEntities(body.substr(close + 1, end - close - 1)));
                at = end + 7;
                continue;
            }
        }
        at = close + 1;
    }
    if (!texts.empty()) binding.caption = texts[0];
    if (texts.size() > 1) binding.body = texts[1];
    return binding;
}

// Encodes one code point itself: a wchar_t holds only 16 bits on Windows, so a character
// beyond U+FFFF cannot pass through a one-character wide string there.
void AppendUtf8(std::string& out, unsigned long cp) {
    if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = 0xFFFD;
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

}  // namespace

std::string DecodeXmlEntities(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '&') {
            out += text[i];
            continue;
        }
        const size_t semi = text.find(';', i);
        if (semi == std::string::npos || semi - i > 12) {
            out += text[i];
            continue;
        }
        const std::string entity = text.substr(i + 1, semi - i - 1);
        bool known = true;
        if (entity == "amp") out += '&';
        else if (entity == "lt") out += '<';
        else if (entity == "gt") out += '>';
        else if (entity == "quot") out += '"';
        else if (entity == "apos") out += '\'';
        else if (entity.size() > 1 && entity[0] == '#') {
            char* end = nullptr;
            const bool hex = entity[1] == 'x' || entity[1] == 'X';
            const std::string digits = entity.substr(hex ? 2 : 1);
            const unsigned long cp = std::strtoul(digits.c_str(), &end, hex ? 16 : 10);
            known = !digits.empty() && end && *end == '\0' && cp > 0 && cp <= 0x10FFFF && (cp < 0xD800 || cp > 0xDFFF);
            if (known) AppendUtf8(out, cp);
        } else {
            known = false;
        }
        if (!known) {
            out += text[i];
            continue;
        }
        i = semi;
    }
    return out;
}

bool ParseTileXml(const std::string& xml, TileBinding* medium, TileBinding* wide) {
    bool found = false;
    size_t at = 0;
    while ((at = xml.find("<binding", at)) != std::string::npos) {
        const size_t close = xml.find('>', at);
        if (close == std::string::npos) break;
        const std::string tag = xml.substr(at, close - at + 1);
        size_t end = xml.find("</binding>", close);
        if (end == std::string::npos) end = xml.size();
        const std::string templ = Attribute(tag, "template");
        const TileBinding binding = ReadBinding(xml.substr(close + 1, end - close - 1));
        if (templ == "TileMedium") *medium = binding, found = true;
        else if (templ == "TileWide") *wide = binding, found = true;
        at = end;
    }
    return found;
}

bool DecodePayload(const std::string& json, DecodedPayload* payload, std::string* reason) {
    Vornik::JSONParser document;
    if (json.find('\0') != std::string::npos || !document.parse(glimmerpane::base::WideFromUtf8(json))) {
        *reason = "not valid JSON";
        return false;
    }
    Vornik::JSONParser viewerPayload;
    if (!document.getObject(L"viewer_payload", viewerPayload)) {
        *reason = "no \"viewer_payload\" object";
        return false;
    }
    std::vector<Vornik::JSONParser> tiles;
    if (!viewerPayload.getArray(L"tiles", tiles)) {
        *reason = "\"tiles\" is not an array of objects";
        return false;
    }
    DecodedPayload result;
    viewerPayload.getBool(L"clear_existing", result.clearExisting);
    std::wstring viewerType;
    if (document.getString(L"viewer_type", viewerType)) result.viewerType = glimmerpane::base::Utf8FromWide(viewerType);
    for (size_t i = 0; i < tiles.size(); ++i) {
        std::wstring xml;
        if (!tiles[i].getString(L"xml", xml)) {
            *reason = "tile " + std::to_string(i + 1) + " has no \"xml\" string";
            return false;
        }
        DecodedTile tile;
        tile.xml = glimmerpane::base::Utf8FromWide(xml);
        tile.name = "?";
        ParseTileXml(tile.xml, &tile.medium, &tile.wide);
        result.tiles.push_back(std::move(tile));
    }
    *payload = std::move(result);
    return true;
}

std::string TileContentName(int value) {
    switch (value) {
        case Vornik::SECURE: return "SECURE";
        case Vornik::THREATS_UNRESOLVED: return "THREATS_UNRESOLVED";
        case Vornik::SCAN_OUT_OF_DATE: return "SCAN_OUT_OF_DATE";
        case Vornik::FILES_SCANNED: return "FILES_SCANNED";
        case Vornik::NO_ACTIVE_ANTIVIRUS: return "NO_ACTIVE_ANTIVIRUS";
        case Vornik::RTS_OFF: return "RTS_OFF";
        case Vornik::RTS_REPAIRING: return "RTS_REPAIRING";
        case Vornik::RTS_STARTING: return "RTS_STARTING";
        case Vornik::THREATS_REMOVED: return "THREATS_REMOVED";
        case Vornik::NO_ACTIVE_FIREWALL: return "NO_ACTIVE_FIREWALL";
        case Vornik::FIREWALL_OFF: return "FIREWALL_OFF";
        case Vornik::FIREWALL_OFF_BY_USER: return "FIREWALL_OFF_BY_USER";
        case Vornik::CONNECTIONS_BLOCKED: return "CONNECTIONS_BLOCKED";
        case Vornik::DAT_OUT_OF_DATE: return "DAT_OUT_OF_DATE";
        case Vornik::UPDATES_OFF: return "UPDATES_OFF";
        case Vornik::AT_RISK: return "AT_RISK";
        default: return {};
    }
}

TileNamer::TileNamer(const std::wstring& resourceLibraryPath) {
    platform::ModuleHandle library = platform::LoadResourceLibrary(resourceLibraryPath);
    if (library == nullptr) {
        error_ = "cannot load " + glimmerpane::base::Utf8FromWide(resourceLibraryPath) + " (error " +
                 std::to_string(platform::LastErrorCode()) + ")";
        return;
    }
    auto load = [&](uint32_t id) {
        wchar_t buffer[512];
        const int length = platform::LoadResourceString(library, id, buffer, 512);
        return length > 0 ? glimmerpane::base::Utf8FromWide(std::wstring(buffer, static_cast<size_t>(length))) : std::string();
    };
    for (int value = 0; value <= 32; ++value) {
        const std::string name = TileContentName(value);
        const Vornik::TileResources* resources = Vornik::findTileResources(static_cast<Vornik::TileContent>(value));
        if (name.empty() || resources == nullptr) continue;
        const std::wstring* image = Vornik::findTileImage(resources->image);
        TileSignature signature;
        signature.image = image ? glimmerpane::base::Utf8FromWide(*image) : std::string();
        signature.mediumCaption = load(resources->mediumCaptionId);
        signature.wideCaption = load(resources->wideCaptionId);
        signatures_[name] = signature;
    }
    platform::FreeResourceLibrary(library);
}

std::string TileNamer::nameOf(const DecodedTile& tile) const {
    for (const auto& [name, signature] : signatures_) {
        if (signature.image == tile.medium.image && signature.mediumCaption == tile.medium.caption &&
            signature.wideCaption == tile.wide.caption)
            return name;
    }
    return "?";
}

void TileNamer::nameAll(DecodedPayload* payload) const {
    for (DecodedTile& tile : payload->tiles) tile.name = nameOf(tile);
}

}  // namespace glimmerpane::cli
