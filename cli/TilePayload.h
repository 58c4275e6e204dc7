// TilePayload.h - reads the module's tile payload back into tiles a person can look at.
//
// The payload is {"viewer_payload":{"tiles":[{"xml":X},...],"clear_existing":true},
// "viewer_type":"corvane-uwp-live-tile"}; each X is tile XML with a TileMedium and a
// TileWide binding, each holding an image and two text elements (caption, body).
// DecodePayload pulls those out (entities decoded). The payload does not name its tile
// contents, so TileNamer recognises them by image and captions, which it reads from the
// resource library in the current UI language.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace glimmerpane::cli {

struct TileBinding {
    std::string image;     // the image's src ("secure.png")
    std::string caption;   // UTF-8, entities decoded
    std::string body;
};

struct DecodedTile {
    std::string name;      // the tile content ("SECURE") when recognised, else "?"
    TileBinding medium;
    TileBinding wide;
    std::string xml;       // as published
};

struct DecodedPayload {
    std::vector<DecodedTile> tiles;
    bool clearExisting = false;
    std::string viewerType;
};

// Decodes one payload text (UTF-8 JSON). False with *reason set when it is not a payload
// of the shape above; a tile whose XML lacks a binding keeps empty fields for it.
bool DecodePayload(const std::string& json, DecodedPayload* payload, std::string* reason);

// Pulls the bindings out of tile XML: false when it has neither binding.
bool ParseTileXml(const std::string& xml, TileBinding* medium, TileBinding* wide);

// "a &amp; b" -> "a & b"; numeric references included; unknown entities stay as written.
std::string DecodeXmlEntities(const std::string& text);

// What tells one tile content from another in a payload.
struct TileSignature {
    std::string image;
    std::string mediumCaption;
    std::string wideCaption;
};

// Recognises tile contents by (image, medium caption, wide caption).
class TileNamer {
public:
    // Reads the captions of every tile content from the resource library at path. A namer
    // that could not load the library names every tile "?"; error() says why.
    explicit TileNamer(const std::wstring& resourceLibraryPath);
    // A namer over given signatures (tests).
    explicit TileNamer(std::map<std::string, TileSignature> signatures) : signatures_(std::move(signatures)) {}

    std::string nameOf(const DecodedTile& tile) const;
    void nameAll(DecodedPayload* payload) const;
    const std::string& error() const { return error_; }

private:
    std::map<std::string, TileSignature> signatures_;
    std::string error_;
};

// The name of a tile content value ("SECURE"), or empty for an unknown value.
std::string TileContentName(int value);

}  // namespace glimmerpane::cli
