// JSONParser.h - the module's one view of JSON: a small document value over RapidJSON.
//
// A JSONParser owns one RapidJSON document in the wide encoding that matches wchar_t
// (UTF-32 on POSIX, UTF-16 on Windows), so every character, including those above U+FFFF,
// survives a parse and a serialization unchanged. It exposes whole-member reads and writes
// by key, one level of nesting, arrays of objects, and never hands out references into the
// document. A fresh object holds "{}".
//
// Contract in brief (the header of each operation says more):
// - Getters return false and leave their output untouched when the member is missing or of
//   another type (getArray alone may have appended elements before it fails). They do not
//   log: a missing member is for the caller to judge.
// - Top-level writers with replacement (setString/setBool/setObject/setArray by key) remove
//   an existing member by moving the last member into its slot, then append the new member
//   at the end.
// - Writers that meet a member of the wrong type, or a document whose root is not an
//   object, leave the document unchanged and log one Warning record.
// - parse never throws: bad JSON, deep nesting (the parser is iterative) and embedded NULs
//   (the text ends there) end in a result and a log record.
// - Serialization, deep copies and destruction never recurse, so documents nested hundreds
//   of thousands of levels deep are safe on a small thread stack.
//
// Not thread-safe; each user keeps its own instances. Copying copies the whole document.
#pragma once

#include <cwchar>
#include <string>
#include <unordered_map>
#include <vector>

#include <rapidjson/allocators.h>
#include <rapidjson/document.h>
#include <rapidjson/encodings.h>

namespace Vornik {

class JSONParser {
public:
#if WCHAR_MAX > 0xFFFF
    using Encoding = rapidjson::UTF32<wchar_t>;
#else
    using Encoding = rapidjson::UTF16<wchar_t>;
#endif
    using Allocator = rapidjson::MemoryPoolAllocator<rapidjson::CrtAllocator>;
    using Document = rapidjson::GenericDocument<Encoding, Allocator, rapidjson::CrtAllocator>;
    using Value = rapidjson::GenericValue<Encoding, Allocator>;
    using StringMap = std::unordered_map<std::wstring, std::wstring>;

    JSONParser();
    JSONParser(const JSONParser& other);             // deep copy into the new object's own allocator
    JSONParser& operator=(const JSONParser& other);  // deep copy; self-assignment is harmless
    JSONParser(JSONParser&& other) noexcept;         // takes the document; other is left holding "{}"
    JSONParser& operator=(JSONParser&& other) noexcept;
    virtual ~JSONParser();

    // 1. Replaces the document by the parse of text. True exactly when the text is one JSON
    //    value with nothing but whitespace after it. On failure the document holds null (so
    //    every getter returns false) and a Warning names the error and its offset. Text after
    //    an embedded NUL is not read (a Warning says so); a root that is not an object parses
    //    but is reported with a Warning, since no getter can find anything in it.
    virtual bool parse(const std::wstring& text);

    // 2. The whole document, compact (no indentation, no line breaks), members in order.
    virtual std::wstring toString();

    // 3./4. A string member of the object member objectName, or a top-level string member.
    //    The copy ends at the string's first NUL.
    virtual bool getString(const std::wstring& objectName, const std::wstring& key, std::wstring& value);
    virtual bool getString(const std::wstring& key, std::wstring& value);

    // 5./6. As getString, for JSON true/false.
    virtual bool getBool(const std::wstring& objectName, const std::wstring& key, bool& value);
    virtual bool getBool(const std::wstring& key, bool& value);

    // 7. Nested write: makes the object member objectName when missing, then appends key
    //    (no look-up for an existing key of that name). If objectName holds a non-object,
    //    nothing changes.
    virtual void setString(const std::wstring& objectName, const std::wstring& key, const std::wstring& value);
    // 8. Top-level write with replacement.
    virtual void setString(const std::wstring& key, const std::wstring& value);
    // 9./10. As 7 and 8, for a boolean.
    virtual void setBool(const std::wstring& objectName, const std::wstring& key, bool value);
    virtual void setBool(const std::wstring& key, bool value);

    // 11./12. True when the top-level member arrayName is an array of exactly one element,
    //    that element is an object, and its member key is a string (a boolean).
    virtual bool getArrayString(const std::wstring& arrayName, const std::wstring& key, std::wstring& value);
    virtual bool getArrayBool(const std::wstring& arrayName, const std::wstring& key, bool& value);

    // 13. Appends key with a deep copy of object's document (no look-up for an existing key).
    virtual void addObject(const std::wstring& key, const JSONParser& object);

    // 14. Texts of the members of the object member key: strings as they are, booleans as
    //    "1"/"0", numbers that fit a signed 32-bit integer in decimal; other members are
    //    skipped; a repeated name keeps the later member. False when key is missing or not
    //    an object.
    virtual bool getStringMap(const std::wstring& key, StringMap& map);

    // 15. Top-level write with replacement of a deep copy of object's document.
    virtual void setObject(const std::wstring& key, const JSONParser& object);

    // 16. True when the top-level member key is an object; object becomes a deep copy of it.
    virtual bool getObject(const std::wstring& key, JSONParser& object);

    // 17. Top-level write with replacement of an array holding a deep copy of each element.
    virtual void setArray(const std::wstring& key, const std::vector<JSONParser>& array);

    // 18. Appends one JSONParser per element of the top-level array key. A missing key is
    //    true with nothing appended; a non-array is false; at the first element that is not
    //    an object it returns false, keeping the elements appended before it.
    virtual bool getArray(const std::wstring& key, std::vector<JSONParser>& array);

    // 19. Makes the top-level array key when missing, then appends a deep copy of object's
    //    document. If key holds a non-array, nothing changes.
    virtual void appendToArray(const std::wstring& key, const JSONParser& object);

private:
    Document doc_;
};

}  // namespace Vornik
