// JsonParserFuzz.cpp - libFuzzer target for the JSON document wrapper.
//
// The input bytes are read as UTF-8 (malformed sequences become U+FFFD), parsed, read
// through every getter, copied and serialized. A document that parsed must serialize to
// text that parses again to the same text; anything else is a crash or a sanitizer report.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "render/JSONParser.h"
#include "base/Utf.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::wstring text = glimmerpane::base::WideFromUtf8(std::string_view(reinterpret_cast<const char*>(data), size));
    Vornik::JSONParser json;
    const bool parsed = json.parse(text);

    // Keys worth trying: a few fixed ones and the first bytes of the input.
    std::vector<std::wstring> keys{L"", L"a", L"tiles", L"status"};
    if (text.size() > 2) keys.push_back(text.substr(1, 2));

    for (const std::wstring& key : keys) {
        std::wstring s;
        bool b = false;
        Vornik::JSONParser object;
        Vornik::JSONParser::StringMap map;
        std::vector<Vornik::JSONParser> list;
        json.getString(key, s);
        json.getBool(key, b);
        json.getString(key, key, s);
        json.getBool(key, key, b);
        json.getArrayString(key, key, s);
        json.getArrayBool(key, key, b);
        json.getStringMap(key, map);
        json.getObject(key, object);
        json.getArray(key, list);
    }

    if (parsed) {
        const std::wstring once = json.toString();
        // A document that parsed always serializes: no number may come out NaN or infinite.
        if (once.empty()) std::abort();
        Vornik::JSONParser again;
        if (!again.parse(once) || again.toString() != once) std::abort();
        Vornik::JSONParser copy(json);
        if (copy.toString() != once) std::abort();
    }

    // Writers over whatever the input made of the document.
    Vornik::JSONParser piece;
    piece.setString(L"k", text.substr(0, 16));
    json.setString(L"a", L"k", L"v");
    json.setBool(L"a", true);
    json.appendToArray(L"tiles", piece);
    json.setObject(L"status", piece);
    json.addObject(L"a", json);
    json.toString();
    return 0;
}
