// Tests of the JSON document wrapper: parsing, member reads and writes, member order,
// deep copies, and bad input (malformed text, wrong types, huge, deep, non-BMP, NUL).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/ThreadStack.h"
#include "render/JSONParser.h"
#include "support/CaseNames.h"
#include "support/RecordingLogger.h"

namespace Vornik {
namespace {

using ETWLogging::LogSeverity;

JSONParser Parsed(const std::wstring& text) {
    JSONParser json;
    EXPECT_TRUE(json.parse(text)) << "fixture text must parse";
    return json;
}

// ---- parse ----

struct ParseCase {
    const char* name;
    const wchar_t* text;
    bool ok;
    const wchar_t* serialized;  // toString after the parse
};

void PrintTo(const ParseCase& c, std::ostream* os) {
    *os << gptest::Show(c.text) << (c.ok ? " parses to " : " is refused, leaving ") << gptest::Show(c.serialized);
}

class JSONParserParse : public ::testing::TestWithParam<ParseCase> {};

TEST_P(JSONParserParse, ResultAndDocument) {
    const ParseCase& c = GetParam();
    JSONParser json;
    json.setString(L"stale", L"x");
    gptest::LogCapture log;
    EXPECT_EQ(json.parse(c.text), c.ok) << c.text;
    EXPECT_EQ(json.toString(), c.serialized);
    if (!c.ok) {
        EXPECT_TRUE(log.records().empty());  // the caller reports the failure
        std::wstring out = L"untouched";
        EXPECT_FALSE(json.getString(L"stale", out));
        EXPECT_EQ(out, L"untouched");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, JSONParserParse,
    ::testing::Values(ParseCase{"Empty", L"", false, L"null"}, ParseCase{"EmptyObject", L"{}", true, L"{}"},
                      ParseCase{"Whitespace", L" \n{ } \t", true, L"{}"},
                      ParseCase{"TrailingText", L"{} x", false, L"null"},
                      ParseCase{"TwoDocuments", L"{}{}", false, L"null"},
                      ParseCase{"Truncated", L"{\"a\":", false, L"null"},
                      ParseCase{"NotJson", L"not json", false, L"null"},
                      ParseCase{"NumberAsName", L"{1:2}", false, L"null"},
                      ParseCase{"NumberTooBig", L"{\"a\":1e400}", false, L"null"},
                      ParseCase{"LoneSurrogate", L"{\"a\":\"\\uD83D\"}", false, L"null"},
                      ParseCase{"Nested", L"{\"a\":[1,-2,3.5,true,null],\"b\":{\"c\":\"d\"}}", true,
                                L"{\"a\":[1,-2,3.5,true,null],\"b\":{\"c\":\"d\"}}"},
                      ParseCase{"SixtyFourBitLimits",
                                L"{\"big\":18446744073709551615,\"neg\":-9223372036854775808}", true,
                                L"{\"big\":18446744073709551615,\"neg\":-9223372036854775808}"},
                      ParseCase{"ArrayRoot", L"[1,2]", true, L"[1,2]"},
                      ParseCase{"StringRoot", L"\"text\"", true, L"\"text\""}),
    gptest::ByName());

TEST(JSONParser, NumbersReadBackExactlyAsWritten) {
    // Found by the fuzz target: the default number reader is off in the last bit for some
    // long numbers, so each round trip changed the document.
    for (const wchar_t* text : {L"{\"n\":555666666666666666666666666666666666666666}", L"{\"n\":0.1}",
                                L"{\"n\":2.2250738585072014e-308}", L"{\"n\":1.7976931348623157e308}",
                                L"{\"n\":9007199254740993.0}"}) {
        JSONParser first = Parsed(text);
        const std::wstring once = first.toString();
        JSONParser second = Parsed(once);
        EXPECT_EQ(second.toString(), once) << text;
    }
}

// Every number lands on its nearest double, or is refused when no double holds it. The
// tiny ones crashed the full-precision reader of RapidJSON 1.1.0 (an out-of-bounds read)
// or came out as NaN and -8.99e307, which then serialized to an empty text.
struct NumberCase {
    const wchar_t* number;
    const wchar_t* serialized;  // nullptr: refused with a parse error
};

void PrintTo(const NumberCase& c, std::ostream* os) {
    *os << gptest::Show(c.number);
    if (c.serialized) {
        *os << " serializes as " << gptest::Show(c.serialized);
    } else {
        *os << " is refused";
    }
}

class JSONParserNumbers : public ::testing::TestWithParam<NumberCase> {};

TEST_P(JSONParserNumbers, ConvertToTheNearestDoubleOrAreRefused) {
    const NumberCase& c = GetParam();
    const std::wstring text = std::wstring(L"{\"n\":") + c.number + L"}";
    JSONParser json;
    gptest::LogCapture log;
    if (c.serialized == nullptr) {
        EXPECT_FALSE(json.parse(text)) << text;
        EXPECT_TRUE(log.records().empty()) << text;  // the caller reports the failure
        EXPECT_EQ(json.toString(), L"null");
        return;
    }
    ASSERT_TRUE(json.parse(text)) << text;
    EXPECT_EQ(json.toString(), std::wstring(L"{\"n\":") + c.serialized + L"}") << text;
}

INSTANTIATE_TEST_SUITE_P(
    Table, JSONParserNumbers,
    ::testing::Values(NumberCase{L"0.018076626666660000437e-337", L"0.0"}, NumberCase{L"7E-325", L"0.0"},
                      NumberCase{L"66E-326", L"0.0"}, NumberCase{L"6666E-328", L"0.0"},
                      NumberCase{L"6E-325", L"0.0"}, NumberCase{L"-1e-400", L"-0.0"},
                      NumberCase{L"0.00000000000000000000000000000001e-300", L"0.0"},
                      NumberCase{L"2.4703282292062328e-324", L"5e-324"},
                      NumberCase{L"1e-310", L"1e-310"}, NumberCase{L"-0.0", L"-0.0"},
                      // Integers keep their integer form; beyond 64 bits they become doubles.
                      NumberCase{L"-0", L"0"}, NumberCase{L"2147483648", L"2147483648"},
                      NumberCase{L"-2147483648", L"-2147483648"},
                      NumberCase{L"-9223372036854775809", L"-9223372036854776000.0"},
                      NumberCase{L"123456789012345678901234567890", L"1.2345678901234568e29"},
                      NumberCase{L"1.7976931348623157e308", L"1.7976931348623157e308"},
                      // Past the largest double: refused, whichever road the digits take.
                      NumberCase{L"1.7976931348623159e308", nullptr},
                      NumberCase{L"0.12345678901234567e320", nullptr}, NumberCase{L"1e400", nullptr}));

TEST(JSONParser, FreshDocumentIsAnEmptyObject) {
    JSONParser json;
    EXPECT_EQ(json.toString(), L"{}");
}

TEST(JSONParser, RootThatIsNotAnObjectParsesSilentlyAndRefusesWrites) {
    gptest::LogCapture log;
    JSONParser json;
    ASSERT_TRUE(json.parse(L"[{\"a\":\"b\"}]"));
    EXPECT_TRUE(log.records().empty());
    std::wstring out;
    EXPECT_FALSE(json.getString(L"a", out));
    std::vector<JSONParser> list;
    EXPECT_FALSE(json.getArray(L"a", list));
    json.setString(L"a", L"c");
    json.setBool(L"o", L"k", true);
    json.appendToArray(L"l", JSONParser());
    EXPECT_EQ(json.toString(), L"[{\"a\":\"b\"}]");
    EXPECT_EQ(log.withMessage(L"The document's root is not an object. Document left unchanged.").size(), 3u);
    EXPECT_EQ(log.records().size(), 3u);
}

TEST(JSONParser, EmbeddedNulEndsTheTextAndIsReported) {
    gptest::LogCapture log;
    JSONParser json;
    const std::wstring text(L"{\"a\":true}\0{\"b\":1}", 18);
    EXPECT_TRUE(json.parse(text));
    EXPECT_EQ(json.toString(), L"{\"a\":true}");
    EXPECT_EQ(log.withMessage(L"JSON text holds a NUL character at offset 10 of 18; the text after it was not read.")
                  .size(),
              1u);

    const std::wstring cut(L"{\"a\":\0true}", 11);
    gptest::LogCapture failed;
    EXPECT_FALSE(json.parse(cut));
    EXPECT_TRUE(failed.records().empty());  // a failed parse is the caller's to report
}

TEST(JSONParser, CharactersAboveTheBasicPlaneSurviveEveryRoad) {
    const std::wstring smiley = L"\U0001F600";
    // Escaped surrogate pair in the text.
    JSONParser escaped = Parsed(L"{\"s\":\"a\\uD83D\\uDE00b\"}");
    std::wstring out;
    ASSERT_TRUE(escaped.getString(L"s", out));
    EXPECT_EQ(out, L"a" + smiley + L"b");
    // Literal character in the text, as key and value.
    JSONParser literal = Parsed(L"{\"" + smiley + L"\":\"" + smiley + L"\"}");
    ASSERT_TRUE(literal.getString(smiley, out));
    EXPECT_EQ(out, smiley);
    // Written, serialized and read back.
    JSONParser written;
    written.setString(L"k", smiley + L"\u00e9\u4e2d");
    EXPECT_EQ(written.toString(), L"{\"k\":\"" + smiley + L"\u00e9\u4e2d\"}");
    JSONParser again = Parsed(written.toString());
    ASSERT_TRUE(again.getString(L"k", out));
    EXPECT_EQ(out, smiley + L"\u00e9\u4e2d");
}

TEST(JSONParser, StringsWithNulAreStoredWholeAndReadToTheNul) {
    JSONParser json;
    json.setString(L"k", std::wstring(L"ab\0cd", 5));
    EXPECT_EQ(json.toString(), L"{\"k\":\"ab\\u0000cd\"}");
    std::wstring out;
    ASSERT_TRUE(json.getString(L"k", out));
    EXPECT_EQ(out, L"ab");
    // Keys compare by their full length: "k\0x" is not "k".
    JSONParser keys;
    keys.setString(std::wstring(L"k\0x", 3), L"first");
    keys.setString(L"k", L"second");
    ASSERT_TRUE(keys.getString(L"k", out));
    EXPECT_EQ(out, L"second");
}

TEST(JSONParser, MegabyteDocumentsParseAndRoundTrip) {
    const std::wstring big(1 << 20, L'x');
    std::wstring text = L"{\"big\":\"" + big + L"\",\"list\":[";
    for (int i = 0; i < 50000; ++i) text += (i ? L"," : L"") + std::to_wstring(i);
    text += L"]}";
    JSONParser json = Parsed(text);
    std::wstring out;
    ASSERT_TRUE(json.getString(L"big", out));
    EXPECT_EQ(out.size(), big.size());
    EXPECT_EQ(json.toString(), text);
}

std::wstring Nested(size_t depth, bool closed) {
    std::wstring text = L"{\"deep\":";
    text.append(depth, L'[');
    if (closed) {
        text.append(depth, L']');
        text += L"}";
    }
    return text;
}

TEST(JSONParser, HundredThousandLevelsNeedNoStack) {
    const std::wstring deep = Nested(100000, true);
    const std::wstring open = Nested(100000, false);
    bool parsed = false, refused = false, sameText = false, copied = false, object = false;
    // 256 KiB: a quarter of a Windows default stack, far less than one byte per level
    // times the depth, so any recursion over the levels would crash this thread.
    ASSERT_TRUE(glimmerpane::platform::RunOnThreadWithStack(256 * 1024, [&] {
        JSONParser json;
        parsed = json.parse(deep);
        sameText = json.toString() == deep;
        JSONParser copy(json);
        copied = copy.toString() == deep;
        JSONParser holder;
        holder.setObject(L"inner", json);
        JSONParser back;
        object = holder.getObject(L"inner", back) && back.toString() == deep;
        std::vector<JSONParser> list;
        list.push_back(json);
        holder.setArray(L"list", list);
        holder.appendToArray(L"list", copy);
        JSONParser bad;
        refused = !bad.parse(open);
    }));
    EXPECT_TRUE(parsed);
    EXPECT_TRUE(sameText);
    EXPECT_TRUE(copied);
    EXPECT_TRUE(object);
    EXPECT_TRUE(refused);
}

// ---- getters ----

const wchar_t* kReadFixture =
    L"{\"s\":\"text\",\"n\":5,\"t\":true,\"f\":false,\"o\":{\"s\":\"inner\",\"t\":true,\"n\":1},"
    L"\"one\":[{\"s\":\"only\",\"t\":false}],\"two\":[{\"s\":\"first\",\"t\":true},{\"s\":\"second\"}],"
    L"\"scalar\":[\"s\"],\"empty\":[],\"dup\":\"first\",\"dup\":\"second\"}";

enum class Getter { String, Bool, NestedString, NestedBool, ArrayString, ArrayBool };

struct GetCase {
    Getter getter;
    const wchar_t* outer;  // object or array name for the two-name forms
    const wchar_t* key;
    bool found;
    const wchar_t* text;  // expected string
    bool flag;            // expected boolean
};

const char* GetterName(Getter g) {
    switch (g) {
        case Getter::String: return "String";
        case Getter::Bool: return "Bool";
        case Getter::NestedString: return "NestedString";
        case Getter::NestedBool: return "NestedBool";
        case Getter::ArrayString: return "ArrayString";
        case Getter::ArrayBool: return "ArrayBool";
    }
    return "?";
}

bool ReadsText(Getter g) { return g == Getter::String || g == Getter::NestedString || g == Getter::ArrayString; }

void PrintTo(const GetCase& c, std::ostream* os) {
    *os << "get" << GetterName(c.getter) << "(";
    if (*c.outer) *os << gptest::Show(c.outer) << ", ";
    *os << gptest::Show(c.key) << ") ";
    if (!c.found) {
        *os << "finds nothing";
    } else if (ReadsText(c.getter)) {
        *os << "reads " << gptest::Show(c.text);
    } else {
        *os << "reads " << gptest::Show(c.flag);
    }
}

// "NestedString_o_s": getter, then the names it is given.
std::string GetCaseName(const ::testing::TestParamInfo<GetCase>& info) {
    const GetCase& c = info.param;
    std::string name = GetterName(c.getter);
    for (const wchar_t* part : {c.outer, c.key}) {
        if (!*part) continue;
        name += '_';
        for (const wchar_t* p = part; *p; ++p) name += static_cast<char>(*p);
    }
    return gptest::TestNameFrom(name);
}

class JSONParserGet : public ::testing::TestWithParam<GetCase> {};

TEST_P(JSONParserGet, FindsOnlyTheRightTypeAndLeavesOutputOtherwise) {
    const GetCase& c = GetParam();
    JSONParser json = Parsed(kReadFixture);
    std::wstring text = L"untouched";
    bool flag = true;
    bool sentinelFlag = true;
    bool found = false;
    switch (c.getter) {
        case Getter::String: found = json.getString(c.key, text); break;
        case Getter::Bool: found = json.getBool(c.key, flag); break;
        case Getter::NestedString: found = json.getString(c.outer, c.key, text); break;
        case Getter::NestedBool: found = json.getBool(c.outer, c.key, flag); break;
        case Getter::ArrayString: found = json.getArrayString(c.outer, c.key, text); break;
        case Getter::ArrayBool: found = json.getArrayBool(c.outer, c.key, flag); break;
    }
    EXPECT_EQ(found, c.found);
    if (found && ReadsText(c.getter)) {
        EXPECT_EQ(text, c.text);
    } else if (found) {
        EXPECT_EQ(flag, c.flag);
    } else {
        EXPECT_EQ(text, L"untouched");
        EXPECT_EQ(flag, sentinelFlag);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, JSONParserGet,
    ::testing::Values(
        GetCase{Getter::String, L"", L"s", true, L"text", false},
        GetCase{Getter::String, L"", L"n", false, L"", false},  // a number is not a string
        GetCase{Getter::String, L"", L"t", false, L"", false},
        GetCase{Getter::String, L"", L"missing", false, L"", false},
        GetCase{Getter::String, L"", L"S", false, L"", false},  // names are case-sensitive
        GetCase{Getter::String, L"", L"dup", true, L"first", false},  // the first of a name wins
        GetCase{Getter::Bool, L"", L"t", true, L"", true}, GetCase{Getter::Bool, L"", L"f", true, L"", false},
        GetCase{Getter::Bool, L"", L"s", false, L"", false}, GetCase{Getter::Bool, L"", L"n", false, L"", false},
        GetCase{Getter::NestedString, L"o", L"s", true, L"inner", false},
        GetCase{Getter::NestedString, L"o", L"n", false, L"", false},
        GetCase{Getter::NestedString, L"s", L"s", false, L"", false},  // outer member is a string
        GetCase{Getter::NestedString, L"missing", L"s", false, L"", false},
        GetCase{Getter::NestedBool, L"o", L"t", true, L"", true},
        GetCase{Getter::NestedBool, L"o", L"s", false, L"", false},
        GetCase{Getter::NestedBool, L"one", L"t", false, L"", false},  // outer member is an array
        GetCase{Getter::ArrayString, L"one", L"s", true, L"only", false},
        GetCase{Getter::ArrayString, L"two", L"s", false, L"", false},  // two elements
        GetCase{Getter::ArrayString, L"scalar", L"s", false, L"", false},  // element not an object
        GetCase{Getter::ArrayString, L"empty", L"s", false, L"", false},
        GetCase{Getter::ArrayString, L"o", L"s", false, L"", false},  // not an array
        GetCase{Getter::ArrayString, L"one", L"t", false, L"", false},
        GetCase{Getter::ArrayBool, L"one", L"t", true, L"", false},
        GetCase{Getter::ArrayBool, L"two", L"t", false, L"", false},
        GetCase{Getter::ArrayBool, L"scalar", L"t", false, L"", false}),
    GetCaseName);

TEST(JSONParser, GettersOnAFailedParseFindNothing) {
    JSONParser json;
    EXPECT_FALSE(json.parse(L"{\"s\":\"x\""));
    std::wstring s;
    bool b = false;
    JSONParser o;
    JSONParser::StringMap map;
    std::vector<JSONParser> list;
    EXPECT_FALSE(json.getString(L"s", s) || json.getBool(L"s", b) || json.getString(L"o", L"s", s) ||
                 json.getArrayString(L"a", L"s", s) || json.getStringMap(L"s", map) || json.getObject(L"s", o) ||
                 json.getArray(L"s", list));
}

TEST(JSONParser, StringMapConvertsAndSkipsByType) {
    JSONParser json = Parsed(
        L"{\"m\":{\"s\":\"str\",\"t\":true,\"f\":false,\"five\":5,\"neg\":-7,\"max\":2147483647,"
        L"\"over\":2147483648,\"min\":-2147483648,\"frac\":1.5,\"nil\":null,\"obj\":{},\"arr\":[],"
        L"\"d\":\"one\",\"d\":\"two\"},\"notobj\":[1]}");
    JSONParser::StringMap map{{L"keep", L"me"}};
    ASSERT_TRUE(json.getStringMap(L"m", map));
    const JSONParser::StringMap expected{{L"keep", L"me"}, {L"s", L"str"},    {L"t", L"1"},
                                         {L"f", L"0"},     {L"five", L"5"},   {L"neg", L"-7"},
                                         {L"max", L"2147483647"}, {L"min", L"-2147483648"}, {L"d", L"two"}};
    EXPECT_EQ(map, expected);
    JSONParser::StringMap untouched{{L"a", L"b"}};
    EXPECT_FALSE(json.getStringMap(L"notobj", untouched));
    EXPECT_FALSE(json.getStringMap(L"missing", untouched));
    EXPECT_EQ(untouched.size(), 1u);
}

// ---- writers and member order ----

TEST(JSONParser, ReplacingWritersMoveTheMemberToTheEnd) {
    JSONParser json;
    json.setString(L"a", L"1");
    json.setString(L"b", L"2");
    json.setString(L"a", L"3");
    EXPECT_EQ(json.toString(), L"{\"b\":\"2\",\"a\":\"3\"}");

    // The last member takes the removed member's slot.
    JSONParser order;
    order.setBool(L"a", true);
    order.setBool(L"b", true);
    order.setBool(L"c", true);
    order.setBool(L"a", false);
    EXPECT_EQ(order.toString(), L"{\"c\":true,\"b\":true,\"a\":false}");

    JSONParser inner = Parsed(L"{\"x\":1}");
    order.setObject(L"b", inner);
    EXPECT_EQ(order.toString(), L"{\"c\":true,\"a\":false,\"b\":{\"x\":1}}");
    order.setArray(L"c", {inner, JSONParser()});
    EXPECT_EQ(order.toString(), L"{\"b\":{\"x\":1},\"a\":false,\"c\":[{\"x\":1},{}]}");
    order.setString(L"c", L"s");  // a replacement may change the type
    EXPECT_EQ(order.toString(), L"{\"b\":{\"x\":1},\"a\":false,\"c\":\"s\"}");
}

TEST(JSONParser, NestedWritesAppendWithoutLookingForTheKey) {
    JSONParser json;
    json.setString(L"o", L"k", L"v");
    json.setBool(L"o", L"k", true);
    json.setString(L"p", L"k", L"w");
    EXPECT_EQ(json.toString(), L"{\"o\":{\"k\":\"v\",\"k\":true},\"p\":{\"k\":\"w\"}}");
    std::wstring out;
    ASSERT_TRUE(json.getString(L"o", L"k", out));
    EXPECT_EQ(out, L"v");
}

TEST(JSONParser, AddObjectAppendsDuplicatesAndCopiesItself) {
    JSONParser json;
    json.setString(L"s", L"x");
    json.addObject(L"self", json);
    json.addObject(L"self", JSONParser());
    EXPECT_EQ(json.toString(), L"{\"s\":\"x\",\"self\":{\"s\":\"x\"},\"self\":{}}");
}

TEST(JSONParser, AppendToArrayMakesOneArray) {
    JSONParser json;
    JSONParser tile;
    tile.setString(L"t", L"1");
    json.appendToArray(L"tiles", tile);
    tile.setString(L"t", L"2");
    json.appendToArray(L"tiles", tile);
    EXPECT_EQ(json.toString(), L"{\"tiles\":[{\"t\":\"1\"},{\"t\":\"2\"}]}");
    json.appendToArray(L"tiles", json);  // a copy of itself, taken before the append
    EXPECT_EQ(json.toString(),
              L"{\"tiles\":[{\"t\":\"1\"},{\"t\":\"2\"},{\"tiles\":[{\"t\":\"1\"},{\"t\":\"2\"}]}]}");
}

struct ConflictCase {
    const char* name;
    void (*write)(JSONParser&);
    const wchar_t* message;
};

void PrintTo(const ConflictCase& c, std::ostream* os) { *os << c.name << ", logging " << gptest::Show(c.message); }

class JSONParserConflict : public ::testing::TestWithParam<ConflictCase> {};

TEST_P(JSONParserConflict, WrongTypedMemberLeavesTheDocumentUnchanged) {
    const wchar_t* text = L"{\"o\":\"string\",\"l\":{\"a\":1}}";
    JSONParser json = Parsed(text);
    gptest::LogCapture log;
    GetParam().write(json);
    EXPECT_EQ(json.toString(), text);
    const auto records = log.withMessage(GetParam().message);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].severity, LogSeverity::Warning);
    EXPECT_EQ(records[0].source, L"render\\JSONParser");
}

INSTANTIATE_TEST_SUITE_P(
    Table, JSONParserConflict,
    ::testing::Values(
        ConflictCase{"setStringNested", [](JSONParser& j) { j.setString(L"o", L"k", L"v"); },
                     L"Member o is not an object. Document left unchanged."},
        ConflictCase{"setBoolNested", [](JSONParser& j) { j.setBool(L"o", L"k", true); },
                     L"Member o is not an object. Document left unchanged."},
        ConflictCase{"appendToArray", [](JSONParser& j) { j.appendToArray(L"l", JSONParser()); },
                     L"Member l is not an array. Document left unchanged."},
        ConflictCase{"appendToString", [](JSONParser& j) { j.appendToArray(L"o", JSONParser()); },
                     L"Member o is not an array. Document left unchanged."}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- copies ----

TEST(JSONParser, CopiesAreDeepAndIndependent) {
    JSONParser original = Parsed(L"{\"o\":{\"s\":\"a\"},\"l\":[{\"x\":true}]}");
    JSONParser copy(original);
    original.setString(L"o", L"changed");
    std::wstring out;
    ASSERT_TRUE(copy.getString(L"o", L"s", out));
    EXPECT_EQ(out, L"a");

    JSONParser assigned;
    assigned = copy;
    const JSONParser& same = assigned;  // self-assignment through an alias, as a container may do it
    assigned = same;
    copy.setBool(L"extra", true);
    EXPECT_EQ(assigned.toString(), L"{\"o\":{\"s\":\"a\"},\"l\":[{\"x\":true}]}");

    JSONParser object = Parsed(L"{\"old\":1}");
    ASSERT_TRUE(assigned.getObject(L"o", object));
    assigned.setString(L"o", L"s", L"appended");
    EXPECT_EQ(object.toString(), L"{\"s\":\"a\"}");

    JSONParser untouched = Parsed(L"{\"keep\":1}");
    EXPECT_FALSE(assigned.getObject(L"l", untouched));
    EXPECT_FALSE(assigned.getObject(L"missing", untouched));
    EXPECT_EQ(untouched.toString(), L"{\"keep\":1}");

    JSONParser moved(std::move(untouched));
    EXPECT_EQ(moved.toString(), L"{\"keep\":1}");
    EXPECT_EQ(untouched.toString(), L"{}");  // NOLINT(bugprone-use-after-move): the moved-from state is specified
}

struct ArrayCase {
    const char* name;
    const wchar_t* text;
    bool result;
    std::vector<std::wstring> appended;  // serialized elements after the one already in the vector
};

void PrintTo(const ArrayCase& c, std::ostream* os) {
    *os << gptest::Show(c.text) << (c.result ? " succeeds" : " fails") << ", appending " << gptest::Show(c.appended);
}

class JSONParserGetArray : public ::testing::TestWithParam<ArrayCase> {};

TEST_P(JSONParserGetArray, AppendsObjectsUpToTheFirstOther) {
    JSONParser json = Parsed(GetParam().text);
    std::vector<JSONParser> list(1);
    EXPECT_EQ(json.getArray(L"a", list), GetParam().result);
    ASSERT_EQ(list.size(), GetParam().appended.size() + 1);
    EXPECT_EQ(list[0].toString(), L"{}");
    for (size_t i = 0; i < GetParam().appended.size(); ++i) EXPECT_EQ(list[i + 1].toString(), GetParam().appended[i]);
}

INSTANTIATE_TEST_SUITE_P(
    Table, JSONParserGetArray,
    ::testing::Values(ArrayCase{"NoMember", L"{}", true, {}}, ArrayCase{"EmptyArray", L"{\"a\":[]}", true, {}},
                      ArrayCase{"NotAnArray", L"{\"a\":{}}", false, {}},
                      ArrayCase{"TwoObjects", L"{\"a\":[{\"x\":1},{\"y\":[2]}]}", true,
                                {L"{\"x\":1}", L"{\"y\":[2]}"}},
                      ArrayCase{"StopsAtANumber", L"{\"a\":[{\"x\":1},3,{\"y\":2}]}", false, {L"{\"x\":1}"}},
                      ArrayCase{"StopsAtNull", L"{\"a\":[null]}", false, {}}),
    gptest::ByName());

}  // namespace
}  // namespace Vornik
