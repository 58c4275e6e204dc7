// JSONParser.cpp - the JSON document wrapper over RapidJSON.
//
// RapidJSON's own deep copy (the copying constructor) and its writer walk (Accept) recurse
// once per nesting level; a document from the bus may nest far deeper than a thread stack
// allows. Every walk here therefore runs over an explicit stack and feeds SAX events either
// to the writer or to a document's own handler, which builds the copy without recursion.
// The memory-pool allocator frees a document in one sweep, so destruction does not recurse
// either.
#include "render/JSONParser.h"

#include <rapidjson/reader.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <string>

#include "etwlogging/LogCall.h"
#include "base/Utf.h"

namespace Vornik {

namespace {

using Encoding = JSONParser::Encoding;
using Value = JSONParser::Value;
using Document = JSONParser::Document;
using Allocator = JSONParser::Allocator;

constexpr const wchar_t* kSource = L"render\\JSONParser";

// The iterative parser accepts exactly the grammar of the default one but keeps its state
// on the heap, so nesting depth is bounded by memory, not by the thread's stack.
//
// Numbers arrive as their raw text and are converted here with std::from_chars, which
// rounds every input to the nearest double. RapidJSON 1.1.0's own converters cannot be
// trusted with that: its default one may be off in the last bit (a document would change
// on every round trip), and its full-precision one reads out of bounds on some tiny numbers
// ("0.018076626666660000437e-337" crashes it) and turns others (7E-325) into NaN.
//
// The in-situ flag is needed with numbers as text: without it, RapidJSON 1.1.0 copies the
// number's digits into a wide buffer over the very stack bytes it reads them from, so only
// the first digit survives. In situ, the reader hands out the digits where they lie, in a
// copy of the text that parse owns; strings and keys are copied into the document all the
// same (NumberConvertingHandler asks for it), so nothing points into that copy afterwards.
constexpr unsigned kParseFlags =
    rapidjson::kParseIterativeFlag | rapidjson::kParseNumbersAsStringsFlag | rapidjson::kParseInsituFlag;

// Exactly RapidJSON's choice of number type, so a document's numbers keep their form:
// integers without fraction or exponent become Int/Uint/Int64/Uint64 as they fit, and
// every other number a double. Returns false for a number no double can hold.
template <typename Handler>
bool ConvertNumber(const wchar_t* text, rapidjson::SizeType length, Handler& handler) {
    // The reader has already checked the JSON number grammar, so every character is ASCII.
    std::string narrow(length, '\0');
    for (rapidjson::SizeType i = 0; i < length; ++i) narrow[i] = static_cast<char>(text[i]);
    const char* first = narrow.data();
    const char* last = first + narrow.size();
    const bool negative = *first == '-';

    if (narrow.find_first_of(".eE") == std::string::npos) {
        uint64_t magnitude = 0;
        const auto [end, ec] = std::from_chars(first + (negative ? 1 : 0), last, magnitude);
        if (ec == std::errc() && end == last) {
            if (!negative) {
                if (magnitude <= UINT32_MAX) return handler.Uint(static_cast<unsigned>(magnitude));
                return handler.Uint64(magnitude);
            }
            if (magnitude <= 0x80000000ull) return handler.Int(static_cast<int>(-static_cast<int64_t>(magnitude)));
            if (magnitude <= 0x8000000000000000ull) return handler.Int64(static_cast<int64_t>(0 - magnitude));
        }
        // Integers beyond 64 bits are doubles, as RapidJSON makes them.
    }

    double value = 0.0;
    const auto [end, ec] = std::from_chars(first, last, value, std::chars_format::general);
    if (ec == std::errc() && end == last) return handler.Double(value);
    if (ec != std::errc::result_out_of_range || end != last) return false;

    // Out of range either way: a number too small for the smallest subnormal rounds to
    // zero, as it does in strtod; one too large for any double is refused. Which one it is
    // follows from the position of its first significant digit: the value is 0.D x 10^scale
    // with D starting at that digit, so it is below one exactly when scale <= 0.
    const size_t leading = narrow.find_first_of("123456789");
    const size_t mark = std::min(narrow.find_first_of("eE"), narrow.size());
    const size_t point = std::min(narrow.find('.'), mark);
    int64_t scale = leading < point ? static_cast<int64_t>(point - leading)
                                    : -static_cast<int64_t>(leading - point - 1);
    if (mark < narrow.size()) {
        size_t digit = mark + 1;
        const bool exponentNegative = narrow[digit] == '-';
        if (narrow[digit] == '-' || narrow[digit] == '+') ++digit;
        int64_t exponent = 0;
        for (; digit < narrow.size(); ++digit) {
            exponent = std::min<int64_t>(exponent * 10 + (narrow[digit] - '0'), int64_t{1} << 40);
        }
        scale += exponentNegative ? -exponent : exponent;
    }
    if (scale <= 0) return handler.Double(negative ? -0.0 : 0.0);
    return false;
}

// Forwards every SAX event to the document under construction; numbers go through
// ConvertNumber.
struct NumberConvertingHandler {
    Document& target;

    bool Null() { return target.Null(); }
    bool Bool(bool b) { return target.Bool(b); }
    bool Int(int i) { return target.Int(i); }
    bool Uint(unsigned u) { return target.Uint(u); }
    bool Int64(int64_t i) { return target.Int64(i); }
    bool Uint64(uint64_t u) { return target.Uint64(u); }
    bool Double(double d) { return target.Double(d); }
    bool RawNumber(const wchar_t* text, rapidjson::SizeType length, bool) {
        return ConvertNumber(text, length, target);
    }
    bool String(const wchar_t* s, rapidjson::SizeType length, bool) { return target.String(s, length, true); }
    bool StartObject() { return target.StartObject(); }
    bool Key(const wchar_t* s, rapidjson::SizeType length, bool) { return target.Key(s, length, true); }
    bool EndObject(rapidjson::SizeType count) { return target.EndObject(count); }
    bool StartArray() { return target.StartArray(); }
    bool EndArray(rapidjson::SizeType count) { return target.EndArray(count); }
};

// Feeds the SAX events of value to handler, depth-first, without recursion.
template <typename Handler>
bool Walk(const Value& root, Handler& handler) {
    struct Frame {
        const Value* container;
        rapidjson::SizeType next;
    };
    std::vector<Frame> stack;

    auto visit = [&](const Value& v) -> bool {
        switch (v.GetType()) {
            case rapidjson::kNullType: return handler.Null();
            case rapidjson::kFalseType: return handler.Bool(false);
            case rapidjson::kTrueType: return handler.Bool(true);
            case rapidjson::kStringType: return handler.String(v.GetString(), v.GetStringLength(), true);
            case rapidjson::kNumberType:
                // Same order as RapidJSON's Accept, so the number keeps its exact form.
                if (v.IsDouble()) return handler.Double(v.GetDouble());
                if (v.IsInt()) return handler.Int(v.GetInt());
                if (v.IsUint()) return handler.Uint(v.GetUint());
                if (v.IsInt64()) return handler.Int64(v.GetInt64());
                return handler.Uint64(v.GetUint64());
            case rapidjson::kObjectType:
                stack.push_back({&v, 0});
                return handler.StartObject();
            case rapidjson::kArrayType:
                stack.push_back({&v, 0});
                return handler.StartArray();
        }
        return false;
    };

    if (!visit(root)) return false;
    while (!stack.empty()) {
        Frame& frame = stack.back();
        const Value& c = *frame.container;
        if (c.IsObject()) {
            if (frame.next < c.MemberCount()) {
                const auto& member = *(c.MemberBegin() + frame.next++);
                if (!handler.Key(member.name.GetString(), member.name.GetStringLength(), true)) return false;
                if (!visit(member.value)) return false;  // may invalidate frame
            } else {
                const rapidjson::SizeType count = c.MemberCount();
                stack.pop_back();
                if (!handler.EndObject(count)) return false;
            }
        } else {
            if (frame.next < c.Size()) {
                const Value& element = c[frame.next++];
                if (!visit(element)) return false;
            } else {
                const rapidjson::SizeType count = c.Size();
                stack.pop_back();
                if (!handler.EndArray(count)) return false;
            }
        }
    }
    return true;
}

struct WalkGenerator {
    const Value& source;
    template <typename Handler>
    bool operator()(Handler& handler) const {
        return Walk(source, handler);
    }
};

// Replaces target by a deep copy of source, in target's own (new) allocator.
void CopyDocument(const Value& source, Document& target) {
    Document fresh;
    WalkGenerator generator{source};
    fresh.Populate(generator);
    target.Swap(fresh);
}

// A deep copy of source whose storage lives in allocator.
Value CopyValue(const Value& source, Allocator& allocator) {
    Document builder(&allocator);
    WalkGenerator generator{source};
    builder.Populate(generator);
    Value copy;
    copy.Swap(builder);
    return copy;
}

// A name or string value that refers to the caller's text with its exact length.
Value Ref(const std::wstring& text) {
    return Value(rapidjson::StringRef(text.data(), static_cast<rapidjson::SizeType>(text.size())));
}

Value CopyString(const std::wstring& text, Allocator& allocator) {
    return Value(text.data(), static_cast<rapidjson::SizeType>(text.size()), allocator);
}

// RapidJSON's iterator comparisons are ambiguous under C++20's reversed operators; the
// distance from the first member is not.
template <typename Iterator, typename Object>
bool AtEnd(const Iterator& it, Object& object) {
    return it - object.MemberBegin() == static_cast<rapidjson::SizeType>(object.MemberCount());
}

// The member key of object, or null. object must be an object.
const Value* FindIn(const Value& object, const std::wstring& key) {
    auto it = object.FindMember(Ref(key));
    return AtEnd(it, object) ? nullptr : &it->value;
}

Value* FindIn(Value& object, const std::wstring& key) {
    auto it = object.FindMember(Ref(key));
    return AtEnd(it, object) ? nullptr : &it->value;
}

const Value* FindTop(const Document& doc, const std::wstring& key) {
    return doc.IsObject() ? FindIn(static_cast<const Value&>(doc), key) : nullptr;
}

bool RootIsObject(const Document& doc, const wchar_t* function) {
    if (doc.IsObject()) return true;
    GP_LOG_WARNING(kSource, function, L"The document's root is not an object. Document left unchanged.");
    return false;
}

// Top-level write with replacement: the old member's slot takes the last member, the new
// member goes to the end.
void Replace(Document& doc, const std::wstring& key, Value& value) {
    auto& allocator = doc.GetAllocator();
    auto it = doc.FindMember(Ref(key));
    if (!AtEnd(it, doc)) doc.RemoveMember(it);
    Value name = CopyString(key, allocator);
    doc.AddMember(name, value, allocator);
}

// Appends key with value to the object member objectName, making it when missing.
void NestedAppend(Document& doc, const std::wstring& objectName, const std::wstring& key, Value& value,
                  const wchar_t* function) {
    if (!RootIsObject(doc, function)) return;
    auto& allocator = doc.GetAllocator();
    Value* object = FindIn(static_cast<Value&>(doc), objectName);
    if (object != nullptr && !object->IsObject()) {
        GP_LOG_WARNING(kSource, function, L"Member %ls is not an object. Document left unchanged.",
                       objectName.c_str());
        return;
    }
    if (object == nullptr) {
        Value name = CopyString(objectName, allocator);
        Value empty(rapidjson::kObjectType);
        doc.AddMember(name, empty, allocator);
        object = &(doc.MemberEnd() - 1)->value;
    }
    Value name = CopyString(key, allocator);
    object->AddMember(name, value, allocator);
}

bool CopyStringOut(const Value* v, std::wstring& out) {
    if (v == nullptr || !v->IsString()) return false;
    out.assign(v->GetString());  // up to the first NUL, as the text is read as a C string
    return true;
}

bool CopyBoolOut(const Value* v, bool& out) {
    if (v == nullptr || !v->IsBool()) return false;
    out = v->GetBool();
    return true;
}

// The member key of the single element of the top-level array arrayName.
const Value* SingleElementMember(const Document& doc, const std::wstring& arrayName, const std::wstring& key) {
    const Value* array = FindTop(doc, arrayName);
    if (array == nullptr || !array->IsArray() || array->Size() != 1) return nullptr;
    const Value& element = (*array)[0];
    if (!element.IsObject()) return nullptr;
    return FindIn(element, key);
}

}  // namespace

JSONParser::JSONParser() { doc_.SetObject(); }

JSONParser::JSONParser(const JSONParser& other) { CopyDocument(other.doc_, doc_); }

JSONParser& JSONParser::operator=(const JSONParser& other) {
    if (this != &other) CopyDocument(other.doc_, doc_);
    return *this;
}

JSONParser::JSONParser(JSONParser&& other) noexcept {
    doc_.Swap(other.doc_);
    other.doc_.SetObject();
}

JSONParser& JSONParser::operator=(JSONParser&& other) noexcept {
    if (this != &other) {
        doc_.Swap(other.doc_);
        other.doc_.SetObject();
    }
    return *this;
}

JSONParser::~JSONParser() = default;

bool JSONParser::parse(const std::wstring& text) {
    const wchar_t* function = L"Vornik::JSONParser::parse";
    // A fresh document brings a fresh pool; swapping it in releases the old one whole.
    Document fresh;
    rapidjson::ParseResult result;
    auto parseInto = [&](Document& target) {
        NumberConvertingHandler handler{target};
        rapidjson::GenericReader<Encoding, Encoding, rapidjson::CrtAllocator> reader;
        std::wstring scratch(text.c_str());  // in-situ parsing writes into its input
        rapidjson::GenericInsituStringStream<Encoding> input(scratch.data());
        result = reader.Parse<kParseFlags>(input, handler);
        return !result.IsError();
    };
    // Populate keeps the root only when the whole text parsed; otherwise it stays null.
    fresh.Populate(parseInto);
    doc_.Swap(fresh);

    // A failed parse, or a root that is not an object, is the caller's to report: it knows
    // what the text was for. Only a NUL that cut a text which then parsed would go unseen.
    if (result.IsError()) return false;
    const size_t nul = text.find(L'\0');
    if (nul != std::wstring::npos) {
        GP_LOG_WARNING(kSource, function,
                       L"JSON text holds a NUL character at offset %lu of %lu; the text after it was not read.",
                       static_cast<unsigned long>(nul), static_cast<unsigned long>(text.size()));
    }
    return true;
}

std::wstring JSONParser::toString() {
    rapidjson::GenericStringBuffer<Encoding> buffer;
    rapidjson::Writer<rapidjson::GenericStringBuffer<Encoding>, Encoding, Encoding> writer(buffer);
    if (!Walk(doc_, writer)) {
        // Only a number the writer cannot express (NaN, infinity) stops it; parse and the
        // writers of this class never store one.
        GP_LOG_ERROR(kSource, L"Vornik::JSONParser::toString", L"The document could not be serialized.");
        return std::wstring();
    }
    return std::wstring(buffer.GetString(), buffer.GetSize() / sizeof(wchar_t));
}

bool JSONParser::getString(const std::wstring& objectName, const std::wstring& key, std::wstring& value) {
    const Value* object = FindTop(doc_, objectName);
    if (object == nullptr || !object->IsObject()) return false;
    return CopyStringOut(FindIn(*object, key), value);
}

bool JSONParser::getString(const std::wstring& key, std::wstring& value) {
    return CopyStringOut(FindTop(doc_, key), value);
}

bool JSONParser::getBool(const std::wstring& objectName, const std::wstring& key, bool& value) {
    const Value* object = FindTop(doc_, objectName);
    if (object == nullptr || !object->IsObject()) return false;
    return CopyBoolOut(FindIn(*object, key), value);
}

bool JSONParser::getBool(const std::wstring& key, bool& value) { return CopyBoolOut(FindTop(doc_, key), value); }

void JSONParser::setString(const std::wstring& objectName, const std::wstring& key, const std::wstring& value) {
    Value v = CopyString(value, doc_.GetAllocator());
    NestedAppend(doc_, objectName, key, v, L"Vornik::JSONParser::setString");
}

void JSONParser::setString(const std::wstring& key, const std::wstring& value) {
    if (!RootIsObject(doc_, L"Vornik::JSONParser::setString")) return;
    Value v = CopyString(value, doc_.GetAllocator());
    Replace(doc_, key, v);
}

void JSONParser::setBool(const std::wstring& objectName, const std::wstring& key, bool value) {
    Value v(value);
    NestedAppend(doc_, objectName, key, v, L"Vornik::JSONParser::setBool");
}

void JSONParser::setBool(const std::wstring& key, bool value) {
    if (!RootIsObject(doc_, L"Vornik::JSONParser::setBool")) return;
    Value v(value);
    Replace(doc_, key, v);
}

bool JSONParser::getArrayString(const std::wstring& arrayName, const std::wstring& key, std::wstring& value) {
    return CopyStringOut(SingleElementMember(doc_, arrayName, key), value);
}

bool JSONParser::getArrayBool(const std::wstring& arrayName, const std::wstring& key, bool& value) {
    return CopyBoolOut(SingleElementMember(doc_, arrayName, key), value);
}

void JSONParser::addObject(const std::wstring& key, const JSONParser& object) {
    if (!RootIsObject(doc_, L"Vornik::JSONParser::addObject")) return;
    auto& allocator = doc_.GetAllocator();
    // Copy before touching the members: object may be this very document.
    Value copy = CopyValue(object.doc_, allocator);
    Value name = CopyString(key, allocator);
    doc_.AddMember(name, copy, allocator);
}

bool JSONParser::getStringMap(const std::wstring& key, StringMap& map) {
    const Value* object = FindTop(doc_, key);
    if (object == nullptr || !object->IsObject()) return false;
    // By index, not by iterator comparison: RapidJSON 1.1.0's member iterators compare
    // ambiguously under C++20's reversed operators.
    for (rapidjson::SizeType i = 0; i < object->MemberCount(); ++i) {
        const auto it = object->MemberBegin() + i;
        const Value& v = it->value;
        std::wstring text;
        if (v.IsString()) {
            text.assign(v.GetString());
        } else if (v.IsBool()) {
            text = v.GetBool() ? L"1" : L"0";
        } else if (v.IsInt()) {
            text = std::to_wstring(v.GetInt());
        } else {
            continue;
        }
        map[std::wstring(it->name.GetString())] = std::move(text);
    }
    return true;
}

void JSONParser::setObject(const std::wstring& key, const JSONParser& object) {
    if (!RootIsObject(doc_, L"Vornik::JSONParser::setObject")) return;
    Value copy = CopyValue(object.doc_, doc_.GetAllocator());
    Replace(doc_, key, copy);
}

bool JSONParser::getObject(const std::wstring& key, JSONParser& object) {
    const Value* member = FindTop(doc_, key);
    if (member == nullptr || !member->IsObject()) return false;
    CopyDocument(*member, object.doc_);
    return true;
}

void JSONParser::setArray(const std::wstring& key, const std::vector<JSONParser>& array) {
    if (!RootIsObject(doc_, L"Vornik::JSONParser::setArray")) return;
    auto& allocator = doc_.GetAllocator();
    Value list(rapidjson::kArrayType);
    list.Reserve(static_cast<rapidjson::SizeType>(array.size()), allocator);
    for (const JSONParser& element : array) {
        Value copy = CopyValue(element.doc_, allocator);
        list.PushBack(copy, allocator);
    }
    Replace(doc_, key, list);
}

bool JSONParser::getArray(const std::wstring& key, std::vector<JSONParser>& array) {
    if (!doc_.IsObject()) return false;
    const Value* member = FindTop(doc_, key);
    if (member == nullptr) return true;
    if (!member->IsArray()) return false;
    for (const Value& element : member->GetArray()) {
        if (!element.IsObject()) return false;
        JSONParser copy;
        CopyDocument(element, copy.doc_);
        array.push_back(std::move(copy));
    }
    return true;
}

void JSONParser::appendToArray(const std::wstring& key, const JSONParser& object) {
    const wchar_t* function = L"Vornik::JSONParser::appendToArray";
    if (!RootIsObject(doc_, function)) return;
    auto& allocator = doc_.GetAllocator();
    Value* array = FindIn(static_cast<Value&>(doc_), key);
    if (array != nullptr && !array->IsArray()) {
        GP_LOG_WARNING(kSource, function, L"Member %ls is not an array. Document left unchanged.", key.c_str());
        return;
    }
    Value copy = CopyValue(object.doc_, allocator);
    if (array == nullptr) {
        Value name = CopyString(key, allocator);
        Value empty(rapidjson::kArrayType);
        doc_.AddMember(name, empty, allocator);
        array = &(doc_.MemberEnd() - 1)->value;
    }
    array->PushBack(copy, allocator);
}

}  // namespace Vornik
