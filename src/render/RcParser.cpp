// RcParser.cpp - a small resource-script reader: preprocessor, lexer and STRINGTABLE parser.
//
// Works in two passes: the lexer runs the preprocessor line by line, expands #define names
// and splices included files into one token stream; the parser then reads statements from
// that stream. Errors stop at the first problem, naming the file and line where it is.
#include "render/RcParser.h"

#include <algorithm>
#include <cstdio>
#include <cctype>
#include <fstream>
#include <functional>
#include <set>
#include <sstream>

#include "glimmerpane/resource_table.h"
#include "platform/LanguageIds.h"

namespace glimmerpane::resources {

namespace {

constexpr int kMaxIncludeDepth = 16;
constexpr int kMaxMacroDepth = 32;
constexpr uint32_t kMaxStringId = 0xffff;
constexpr size_t kMaxStringUnits = 0xffff;
constexpr uint16_t kDefaultLanguage = platform::kLanguageEnglishUs;  // rc.exe's default without /l

struct Token {
    enum Kind { End, Ident, Number, String, Punct } kind = End;
    std::string text;        // identifier or punctuation
    int64_t number = 0;
    std::u32string string;   // decoded string literal
    std::string file;
    uint32_t line = 0;
};

struct Macro {
    std::string value;
    bool functionLike = false;
};

std::string Utf8(std::u32string_view text) {
    std::string out;
    for (char32_t c : text) {
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xc0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3f));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xe0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3f));
            out += static_cast<char>(0x80 | (c & 0x3f));
        } else {
            out += static_cast<char>(0xf0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3f));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3f));
            out += static_cast<char>(0x80 | (c & 0x3f));
        }
    }
    return out;
}

// Decodes strict UTF-8; on failure returns false with the 1-based line of the bad byte.
bool DecodeUtf8(std::string_view bytes, std::u32string& out, uint32_t& badLine) {
    uint32_t line = 1;
    size_t i = 0;
    if (bytes.substr(0, 3) == "\xEF\xBB\xBF") i = 3;
    while (i < bytes.size()) {
        const auto b = static_cast<unsigned char>(bytes[i]);
        char32_t c = 0;
        int extra = 0;
        if (b < 0x80) {
            c = b;
        } else if ((b & 0xe0) == 0xc0) {
            c = b & 0x1f, extra = 1;
        } else if ((b & 0xf0) == 0xe0) {
            c = b & 0x0f, extra = 2;
        } else if ((b & 0xf8) == 0xf0) {
            c = b & 0x07, extra = 3;
        } else {
            badLine = line;
            return false;
        }
        for (int k = 1; k <= extra; ++k) {
            if (i + k >= bytes.size() || (static_cast<unsigned char>(bytes[i + k]) & 0xc0) != 0x80) {
                badLine = line;
                return false;
            }
            c = (c << 6) | (static_cast<unsigned char>(bytes[i + k]) & 0x3f);
        }
        const bool overlong = (extra == 1 && c < 0x80) || (extra == 2 && c < 0x800) || (extra == 3 && c < 0x10000);
        if (overlong || c > 0x10ffff || (c >= 0xd800 && c <= 0xdfff)) {
            badLine = line;
            return false;
        }
        if (c == U'\n') ++line;
        out += c;
        i += static_cast<size_t>(extra) + 1;
    }
    return true;
}

bool IsIdentStart(char32_t c) { return (c >= U'a' && c <= U'z') || (c >= U'A' && c <= U'Z') || c == U'_'; }
bool IsIdentChar(char32_t c) { return IsIdentStart(c) || (c >= U'0' && c <= U'9'); }
bool IsSpace(char32_t c) { return c == U' ' || c == U'\t' || c == U'\r' || c == U'\f' || c == U'\v'; }

int HexValue(char32_t c) {
    if (c >= U'0' && c <= U'9') return static_cast<int>(c - U'0');
    if (c >= U'a' && c <= U'f') return static_cast<int>(c - U'a' + 10);
    if (c >= U'A' && c <= U'F') return static_cast<int>(c - U'A' + 10);
    return -1;
}

std::string Hex4(char32_t c) {
    char buffer[16];
    std::snprintf(buffer, sizeof(buffer), "U+%04X", static_cast<unsigned>(c));
    return buffer;
}

std::string FolderOf(const std::string& path) {
    const size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

bool ReadFile(const std::string& path, std::string& bytes) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::ostringstream buffer;
    buffer << in.rdbuf();
    bytes = buffer.str();
    return true;
}

class Parser {
public:
    Parser(RcScript& script, RcError& error) : script_(script), error_(error) {
        macros_["RC_INVOKED"] = {"1", false};
    }

    bool lexFile(const std::string& path, std::string_view bytes, int depth);
    bool parse();

private:
    struct Conditional {
        bool active;        // this branch is being read
        bool taken;         // some branch of this #if was taken
        bool parentActive;
        bool seenElse;
        uint32_t line;
    };

    bool fail(const std::string& file, uint32_t line, const std::string& reason) {
        error_.file = file;
        error_.line = line;
        error_.reason = reason;
        return false;
    }
    bool fail(const Token& at, const std::string& reason) { return fail(at.file, at.line, reason); }

    bool active() const { return conditionals_.empty() || conditionals_.back().active; }
    bool directive(const std::string& file, uint32_t line, std::u32string text, int depth);
    bool evaluateCondition(const std::string& file, uint32_t line, const std::string& text, bool& value);
    bool lexLine(const std::string& file, uint32_t line, const std::u32string& text, std::vector<Token>& out);
    bool emit(Token token, int macroDepth);

    // ---- parser ----
    const Token& peek(size_t ahead = 0) const {
        static const Token end;
        const size_t index = position_ + ahead;
        return index < tokens_.size() ? tokens_[index] : (tokens_.empty() ? end : endToken_);
    }
    const Token& next() {
        const Token& token = peek();
        if (position_ < tokens_.size()) ++position_;
        return token;
    }
    static bool isWord(const Token& token, const char* word) { return token.kind == Token::Ident && token.text == word; }
    static bool isPunct(const Token& token, const char* punct) {
        return token.kind == Token::Punct && token.text == punct;
    }
    static bool isBegin(const Token& token) { return isWord(token, "BEGIN") || isPunct(token, "{"); }
    static bool isEnd(const Token& token) { return isWord(token, "END") || isPunct(token, "}"); }

    bool expression(int64_t& value);
    bool term(int64_t& value);
    bool languageArguments(uint16_t& language);
    bool stringTable();
    bool skipResource();
    bool skipBlock();
    RcStringTable& table(uint16_t language);

    RcScript& script_;
    RcError& error_;
    std::map<std::string, Macro> macros_;
    std::vector<Conditional> conditionals_;
    std::set<std::string> openFiles_;
    bool utf8CodePage_ = false;
    std::vector<Token> tokens_;
    Token endToken_;
    size_t position_ = 0;
    uint16_t language_ = kDefaultLanguage;
    std::map<std::pair<uint16_t, uint32_t>, std::pair<std::string, uint32_t>> definedAt_;
};

bool Parser::lexFile(const std::string& path, std::string_view bytes, int depth) {
    if (depth > kMaxIncludeDepth) return fail(path, 1, "#include nested more than 16 deep");
    if (!openFiles_.insert(path).second) return fail(path, 1, "#include cycle: the file includes itself");
    if (std::find(script_.files.begin(), script_.files.end(), path) == script_.files.end()) {
        script_.files.push_back(path);
    }
    std::u32string text;
    uint32_t badLine = 0;
    if (!DecodeUtf8(bytes, text, badLine)) return fail(path, badLine, "invalid UTF-8 (save the file as UTF-8)");
    const size_t conditionalDepth = conditionals_.size();

    // Split into physical lines; a block comment may span lines, a directive may continue
    // with a trailing backslash.
    bool inComment = false;
    uint32_t commentLine = 0;
    std::vector<Token> lineTokens;
    size_t start = 0;
    uint32_t line = 0;
    while (start <= text.size()) {
        ++line;
        size_t stop = text.find(U'\n', start);
        if (stop == std::u32string::npos) stop = text.size();
        std::u32string current = text.substr(start, stop - start);
        start = stop + 1;
        const uint32_t firstLine = line;
        if (!inComment) {
            const size_t first = current.find_first_not_of(U" \t\r");
            if (first != std::u32string::npos && current[first] == U'#') {
                while (!current.empty() && (current.back() == U'\\' || (current.back() == U'\r' && current.size() > 1 &&
                                                                         current[current.size() - 2] == U'\\')) &&
                       start <= text.size()) {
                    while (current.back() != U'\\') current.pop_back();
                    current.pop_back();
                    size_t more = text.find(U'\n', start);
                    if (more == std::u32string::npos) more = text.size();
                    current += text.substr(start, more - start);
                    start = more + 1;
                    ++line;
                }
                if (!directive(path, firstLine, current.substr(first + 1), depth)) return false;
                continue;
            }
        }
        if (!active()) continue;
        // Strip comments, keeping string literals intact.
        std::u32string code;
        for (size_t i = 0; i < current.size(); ++i) {
            if (inComment) {
                if (current[i] == U'*' && i + 1 < current.size() && current[i + 1] == U'/') {
                    inComment = false;
                    ++i;
                    code += U' ';
                }
                continue;
            }
            if (current[i] == U'"') {
                const size_t open = i;
                for (++i; i < current.size(); ++i) {
                    if (current[i] == U'\\' && i + 1 < current.size()) {
                        ++i;
                    } else if (current[i] == U'"') {
                        if (i + 1 < current.size() && current[i + 1] == U'"') {
                            ++i;
                        } else {
                            break;
                        }
                    }
                }
                code += current.substr(open, i - open + (i < current.size() ? 1 : 0));
                continue;
            }
            if (current[i] == U'/' && i + 1 < current.size() && current[i + 1] == U'/') break;
            if (current[i] == U'/' && i + 1 < current.size() && current[i + 1] == U'*') {
                inComment = true;
                commentLine = line;
                ++i;
                continue;
            }
            code += current[i];
        }
        lineTokens.clear();
        if (!lexLine(path, firstLine, code, lineTokens)) return false;
        for (Token& token : lineTokens) {
            if (!emit(std::move(token), 0)) return false;
        }
    }
    if (inComment) return fail(path, commentLine, "unterminated /* comment");
    if (conditionals_.size() > conditionalDepth) {
        return fail(path, conditionals_.back().line, "#if without #endif");
    }
    openFiles_.erase(path);
    return true;
}

bool Parser::lexLine(const std::string& file, uint32_t line, const std::u32string& text, std::vector<Token>& out) {
    size_t i = 0;
    while (i < text.size()) {
        const char32_t c = text[i];
        if (IsSpace(c)) {
            ++i;
            continue;
        }
        Token token;
        token.file = file;
        token.line = line;
        const bool widePrefix = (c == U'L' || c == U'l') && i + 1 < text.size() && text[i + 1] == U'"';
        if (c == U'"' || widePrefix) {
            if (widePrefix) ++i;
            ++i;
            token.kind = Token::String;
            bool closed = false;
            while (i < text.size()) {
                char32_t ch = text[i];
                if (ch == U'"') {
                    if (i + 1 < text.size() && text[i + 1] == U'"') {
                        token.string += U'"';
                        i += 2;
                        continue;
                    }
                    ++i;
                    closed = true;
                    break;
                }
                if (ch == U'\\' && i + 1 < text.size()) {
                    const char32_t e = text[i + 1];
                    i += 2;
                    switch (e) {
                        case U'n': token.string += U'\n'; break;
                        case U't': token.string += U'\t'; break;
                        case U'r': token.string += U'\r'; break;
                        case U'a': token.string += U'\a'; break;
                        case U'\\': token.string += U'\\'; break;
                        case U'"': token.string += U'"'; break;
                        case U'x':
                        case U'X': {
                            char32_t value = 0;
                            int digits = 0;
                            while (digits < 4 && i < text.size() && HexValue(text[i]) >= 0) {
                                value = value * 16 + static_cast<char32_t>(HexValue(text[i++]));
                                ++digits;
                            }
                            if (digits == 0) return fail(file, line, "\\x escape without hex digits");
                            if (value >= 0xdc00 && value <= 0xdfff && !token.string.empty() &&
                                token.string.back() >= 0xd800 && token.string.back() <= 0xdbff) {
                                token.string.back() = 0x10000 + ((token.string.back() - 0xd800) << 10) + (value - 0xdc00);
                            } else {
                                token.string += value;
                            }
                            break;
                        }
                        default:
                            if (e >= U'0' && e <= U'7') {
                                char32_t value = e - U'0';
                                for (int digits = 1; digits < 3 && i < text.size() && text[i] >= U'0' && text[i] <= U'7';
                                     ++digits) {
                                    value = value * 8 + (text[i++] - U'0');
                                }
                                token.string += value;
                            } else {
                                // rc keeps an unknown escape as written.
                                token.string += U'\\';
                                token.string += e;
                            }
                    }
                    continue;
                }
                if (ch >= 0x80 && !utf8CodePage_) {
                    return fail(file, line,
                                "non-ASCII character " + Hex4(ch) + " before #pragma code_page(65001)");
                }
                token.string += ch;
                ++i;
            }
            if (!closed) return fail(file, line, "unterminated string literal");
            for (char32_t ch : token.string) {
                if (ch >= 0xd800 && ch <= 0xdfff) return fail(file, line, "escape yields a lone surrogate");
            }
            out.push_back(std::move(token));
            continue;
        }
        if (c >= U'0' && c <= U'9') {
            int64_t value = 0;
            if (c == U'0' && i + 1 < text.size() && (text[i + 1] == U'x' || text[i + 1] == U'X')) {
                i += 2;
                const size_t digitsStart = i;
                while (i < text.size() && HexValue(text[i]) >= 0) {
                    value = value * 16 + HexValue(text[i++]);
                    if (value > 0xffffffffLL) return fail(file, line, "number too large");
                }
                if (i == digitsStart) return fail(file, line, "malformed hexadecimal number");
            } else {
                while (i < text.size() && text[i] >= U'0' && text[i] <= U'9') {
                    value = value * 10 + (text[i++] - U'0');
                    if (value > 0xffffffffLL) return fail(file, line, "number too large");
                }
            }
            while (i < text.size() && (text[i] == U'L' || text[i] == U'l' || text[i] == U'U' || text[i] == U'u')) ++i;
            if (i < text.size() && IsIdentChar(text[i])) return fail(file, line, "malformed number");
            token.kind = Token::Number;
            token.number = value;
            out.push_back(std::move(token));
            continue;
        }
        if (IsIdentStart(c)) {
            const size_t begin = i;
            while (i < text.size() && IsIdentChar(text[i])) ++i;
            token.kind = Token::Ident;
            token.text = Utf8(text.substr(begin, i - begin));
            out.push_back(std::move(token));
            continue;
        }
        if (c >= 0x80) return fail(file, line, "unexpected character " + Hex4(c) + " outside a string");
        token.kind = Token::Punct;
        token.text = std::string(1, static_cast<char>(c));
        out.push_back(std::move(token));
        ++i;
    }
    return true;
}

bool Parser::emit(Token token, int macroDepth) {
    if (token.kind == Token::Ident) {
        const auto macro = macros_.find(token.text);
        if (macro != macros_.end()) {
            if (macro->second.functionLike) {
                return fail(token, "function-like macro " + token.text + " is not supported here");
            }
            if (macroDepth >= kMaxMacroDepth) return fail(token, "#define " + token.text + " expands without end");
            std::u32string value;
            uint32_t badLine = 0;
            DecodeUtf8(macro->second.value, value, badLine);
            std::vector<Token> expansion;
            if (!lexLine(token.file, token.line, value, expansion)) return false;
            for (Token& part : expansion) {
                if (!emit(std::move(part), macroDepth + 1)) return false;
            }
            return true;
        }
    }
    tokens_.push_back(std::move(token));
    return true;
}

bool Parser::directive(const std::string& file, uint32_t line, std::u32string text, int depth) {
    // Comments after a directive ("#include "x.h" // ids") are not part of it.
    for (size_t i = 0; i + 1 < text.size(); ++i) {
        if (text[i] == U'"') {
            const size_t close = text.find(U'"', i + 1);
            if (close == std::u32string::npos) break;
            i = close;
            continue;
        }
        if (text[i] == U'/' && text[i + 1] == U'/') {
            text.erase(i);
            break;
        }
        if (text[i] == U'/' && text[i + 1] == U'*') {
            const size_t close = text.find(U"*/", i + 2);
            text.erase(i, close == std::u32string::npos ? std::u32string::npos : close + 2 - i);
            text.insert(i, 1, U' ');
        }
    }
    const std::string line8 = Utf8(text);
    size_t pos = line8.find_first_not_of(" \t");
    if (pos == std::string::npos) return true;  // a lone '#'
    size_t end = line8.find_first_not_of("abcdefghijklmnopqrstuvwxyz_", pos);
    const std::string name = line8.substr(pos, end == std::string::npos ? std::string::npos : end - pos);
    std::string rest = end == std::string::npos ? std::string() : line8.substr(end);
    const size_t restStart = rest.find_first_not_of(" \t\r");
    rest = restStart == std::string::npos ? std::string() : rest.substr(restStart);
    while (!rest.empty() && (rest.back() == ' ' || rest.back() == '\t' || rest.back() == '\r')) rest.pop_back();

    if (name == "if" || name == "ifdef" || name == "ifndef") {
        bool value = false;
        if (active()) {
            if (name == "if") {
                if (!evaluateCondition(file, line, rest, value)) return false;
            } else {
                if (rest.empty()) return fail(file, line, "#" + name + " without a name");
                const std::string macro = rest.substr(0, rest.find_first_of(" \t"));
                value = (macros_.count(macro) != 0) == (name == "ifdef");
            }
        }
        conditionals_.push_back({active() && value, value, active(), false, line});
        return true;
    }
    if (name == "elif" || name == "else" || name == "endif") {
        if (conditionals_.empty()) return fail(file, line, "#" + name + " without #if");
        Conditional& top = conditionals_.back();
        if (name == "endif") {
            conditionals_.pop_back();
            return true;
        }
        if (top.seenElse) return fail(file, line, "#" + name + " after #else");
        if (name == "else") {
            top.seenElse = true;
            top.active = top.parentActive && !top.taken;
            top.taken = true;
            return true;
        }
        bool value = false;
        if (top.parentActive && !top.taken && !evaluateCondition(file, line, rest, value)) return false;
        top.active = top.parentActive && !top.taken && value;
        top.taken = top.taken || value;
        return true;
    }
    if (!active()) return true;

    if (name == "pragma") {
        if (rest.rfind("code_page", 0) == 0) {
            const size_t open = rest.find('(');
            const size_t close = rest.find(')');
            const std::string page =
                open == std::string::npos || close == std::string::npos ? std::string() : rest.substr(open + 1, close - open - 1);
            if (page != "65001") {
                return fail(file, line, "code page " + (page.empty() ? std::string("?") : page) +
                                            " is not supported: save the file as UTF-8 and use #pragma code_page(65001)");
            }
            utf8CodePage_ = true;
        }
        return true;  // other pragmas do not concern string tables
    }
    if (name == "include") {
        if (!rest.empty() && rest[0] == '<') return true;  // SDK headers: their names are built in
        if (rest.size() < 2 || rest[0] != '"' || rest.back() != '"') {
            return fail(file, line, "#include needs a \"file\" or <file> name");
        }
        std::string target = rest.substr(1, rest.size() - 2);
        std::replace(target.begin(), target.end(), '\\', '/');
        const std::string path = (!target.empty() && target[0] == '/') ? target : FolderOf(file) + target;
        std::string bytes;
        if (!ReadFile(path, bytes)) return fail(file, line, "cannot read included file " + path);
        const bool savedCodePage = utf8CodePage_;
        if (!lexFile(path, bytes, depth + 1)) return false;
        utf8CodePage_ = savedCodePage;  // a code page pragma holds for its own file
        return true;
    }
    if (name == "define") {
        size_t nameEnd = 0;
        while (nameEnd < rest.size() && (std::isalnum(static_cast<unsigned char>(rest[nameEnd])) || rest[nameEnd] == '_')) {
            ++nameEnd;
        }
        if (nameEnd == 0 || std::isdigit(static_cast<unsigned char>(rest[0]))) {
            return fail(file, line, "#define without a valid name");
        }
        Macro macro;
        macro.functionLike = nameEnd < rest.size() && rest[nameEnd] == '(';
        const size_t valueStart = rest.find_first_not_of(" \t", nameEnd);
        macro.value = macro.functionLike || valueStart == std::string::npos ? std::string() : rest.substr(valueStart);
        macros_[rest.substr(0, nameEnd)] = macro;
        return true;
    }
    if (name == "undef") {
        macros_.erase(rest.substr(0, rest.find_first_of(" \t")));
        return true;
    }
    if (name == "error") return fail(file, line, "#error " + rest);
    return fail(file, line, "unknown preprocessor directive #" + name);
}

// #if expressions: numbers, names (0 when undefined), defined(NAME), !, ==, !=, &&, ||, ().
bool Parser::evaluateCondition(const std::string& file, uint32_t line, const std::string& text, bool& value) {
    size_t pos = 0;
    std::string problem;
    auto skip = [&] {
        while (pos < text.size() && (text[pos] == ' ' || text[pos] == '\t')) ++pos;
    };
    auto word = [&]() -> std::string {
        const size_t begin = pos;
        while (pos < text.size() && (std::isalnum(static_cast<unsigned char>(text[pos])) || text[pos] == '_')) ++pos;
        return text.substr(begin, pos - begin);
    };
    std::function<int64_t(int)> orExpr;
    std::function<int64_t()> unary = [&]() -> int64_t {
        skip();
        if (pos >= text.size()) {
            problem = "incomplete #if expression";
            return 0;
        }
        if (text[pos] == '!') {
            ++pos;
            return !unary();
        }
        if (text[pos] == '(') {
            ++pos;
            const int64_t inner = orExpr(0);
            skip();
            if (pos >= text.size() || text[pos] != ')') problem = "missing ) in #if expression";
            ++pos;
            return inner;
        }
        if (std::isdigit(static_cast<unsigned char>(text[pos]))) {
            const std::string digits = word();
            try {
                return std::stoll(digits, nullptr, 0);
            } catch (const std::exception&) {
                problem = "bad number " + digits + " in #if";
                return 0;
            }
        }
        const std::string name = word();
        if (name.empty()) {
            problem = std::string("unexpected '") + text[pos] + "' in #if expression";
            return 0;
        }
        if (name == "defined") {
            skip();
            const bool parenthesised = pos < text.size() && text[pos] == '(';
            if (parenthesised) ++pos;
            skip();
            const std::string macro = word();
            skip();
            if (parenthesised) {
                if (pos >= text.size() || text[pos] != ')') problem = "missing ) after defined(";
                ++pos;
            }
            if (macro.empty()) problem = "defined without a name";
            return macros_.count(macro) != 0;
        }
        const auto macro = macros_.find(name);
        if (macro == macros_.end() || macro->second.value.empty()) return 0;
        try {
            return std::stoll(macro->second.value, nullptr, 0);
        } catch (const std::exception&) {
            problem = "#if cannot evaluate " + name;
            return 0;
        }
    };
    // Precedence levels: 0 ||, 1 &&, 2 == !=.
    orExpr = [&](int level) -> int64_t {
        if (level == 3) return unary();
        int64_t left = orExpr(level + 1);
        for (;;) {
            skip();
            const std::string op = text.substr(pos, 2);
            if (level == 0 && op == "||") {
                pos += 2;
                const int64_t right = orExpr(level + 1);
                left = left || right;
            } else if (level == 1 && op == "&&") {
                pos += 2;
                const int64_t right = orExpr(level + 1);
                left = left && right;
            } else if (level == 2 && (op == "==" || op == "!=")) {
                pos += 2;
                const int64_t right = orExpr(level + 1);
                left = op == "==" ? left == right : left != right;
            } else {
                return left;
            }
        }
    };
    const int64_t result = orExpr(0);
    skip();
    if (problem.empty() && pos < text.size()) problem = "cannot evaluate #if " + text;
    if (!problem.empty()) return fail(file, line, problem);
    value = result != 0;
    return true;
}

// ---- statements ----

RcStringTable& Parser::table(uint16_t language) {
    for (RcStringTable& existing : script_.languages) {
        if (existing.languageId == language) return existing;
    }
    script_.languages.push_back(RcStringTable{language, {}});
    return script_.languages.back();
}

bool Parser::term(int64_t& value) {
    const Token& token = next();
    if (token.kind == Token::Number) {
        value = token.number;
        return true;
    }
    if (token.kind == Token::Ident) {
        if (auto constant = platform::LanguageConstant(token.text)) {
            value = *constant;
            return true;
        }
        return fail(token, "unknown name " + token.text);
    }
    if (isPunct(token, "(")) {
        if (!expression(value)) return false;
        if (!isPunct(next(), ")")) return fail(token, "missing )");
        return true;
    }
    if (isPunct(token, "-") || isPunct(token, "~")) {
        if (!term(value)) return false;
        value = token.text == "-" ? -value : ~value;
        return true;
    }
    if (token.kind == Token::End) return fail(token, "unexpected end of file, expected a number");
    return fail(token, "expected a number, found " +
                           (token.kind == Token::String ? std::string("a string") : "'" + token.text + "'"));
}

bool Parser::expression(int64_t& value) {
    if (!term(value)) return false;
    while (isPunct(peek(), "+") || isPunct(peek(), "-") || isPunct(peek(), "|") || isPunct(peek(), "&")) {
        const std::string op = next().text;
        int64_t right = 0;
        if (!term(right)) return false;
        if (op == "+") value += right;
        if (op == "-") value -= right;
        if (op == "|") value |= right;
        if (op == "&") value &= right;
    }
    return true;
}

bool Parser::languageArguments(uint16_t& language) {
    const Token& at = peek();
    int64_t primary = 0;
    int64_t sub = 0;
    if (!expression(primary)) return false;
    if (!isPunct(next(), ",")) return fail(at, "LANGUAGE needs two values: primary, sublanguage");
    if (!expression(sub)) return false;
    if (primary < 0 || primary > 0x3ff || sub < 0 || sub > 0x3f) return fail(at, "LANGUAGE value out of range");
    language = platform::MakeLanguageId(static_cast<uint16_t>(primary), static_cast<uint16_t>(sub));
    return true;
}

bool Parser::stringTable() {
    const Token& keyword = next();
    uint16_t language = language_;
    static const std::set<std::string> flags = {"DISCARDABLE", "PURE",  "IMPURE",     "MOVEABLE", "FIXED",
                                                "PRELOAD",     "SHARED", "NONSHARED", "LOADONCALL"};
    while (!isBegin(peek())) {
        const Token& option = next();
        if (option.kind == Token::Ident && flags.count(option.text)) continue;
        if (isWord(option, "LANGUAGE")) {
            if (!languageArguments(language)) return false;
            continue;
        }
        if (isWord(option, "CHARACTERISTICS") || isWord(option, "VERSION")) {
            int64_t ignored = 0;
            if (!expression(ignored)) return false;
            continue;
        }
        if (option.kind == Token::End) return fail(keyword, "STRINGTABLE without BEGIN");
        return fail(option, "expected BEGIN after STRINGTABLE, found '" + option.text + "'");
    }
    next();
    RcStringTable& strings = table(language);
    for (;;) {
        const Token& at = peek();
        if (isEnd(at)) {
            next();
            return true;
        }
        if (at.kind == Token::End) return fail(keyword, "STRINGTABLE block not closed with END");
        int64_t id = 0;
        if (!expression(id)) return false;
        if (id < 0 || id > kMaxStringId) return fail(at, "string id " + std::to_string(id) + " outside 0..65535");
        if (isPunct(peek(), ",")) next();
        if (peek().kind != Token::String) return fail(at, "expected a string after id " + std::to_string(id));
        std::u32string text;
        while (peek().kind == Token::String) text += next().string;
        std::wstring wide(text.begin(), text.end());
        size_t units = 0;
        for (char32_t c : text) units += c > 0xffff ? 2 : 1;
        if (units > kMaxStringUnits) return fail(at, "string " + std::to_string(id) + " is longer than 65535 characters");
        const auto key = std::make_pair(language, static_cast<uint32_t>(id));
        if (auto previous = definedAt_.find(key); previous != definedAt_.end()) {
            return fail(at, "string id " + std::to_string(id) + " defined twice for language " +
                                platform::LanguageTag(language) + " (first at " + previous->second.first + ":" +
                                std::to_string(previous->second.second) + ")");
        }
        definedAt_[key] = {at.file, at.line};
        strings.strings[static_cast<uint32_t>(id)] = std::move(wide);
    }
}

bool Parser::skipBlock() {
    const Token& open = next();
    int depth = 1;
    while (depth > 0) {
        const Token& token = next();
        if (token.kind == Token::End) return fail(open, "BEGIN without END");
        if (isBegin(token)) ++depth;
        if (isEnd(token)) --depth;
    }
    return true;
}

bool Parser::skipResource() {
    static const std::set<std::string> blockTypes = {
        "DIALOG",  "DIALOGEX",   "MENU",       "MENUEX", "VERSIONINFO", "ACCELERATORS", "TEXTINCLUDE",
        "DESIGNINFO", "TOOLBAR", "DLGINIT", "AFX_DIALOG_LAYOUT"};
    const Token& name = next();
    if (isBegin(name) || isEnd(name) || name.kind == Token::Punct) {
        return fail(name, "unexpected '" + name.text + "'");
    }
    const Token& type = next();
    if (type.kind == Token::End || (type.file == name.file && type.line != name.line)) {
        return fail(name, "incomplete resource statement starting with " +
                              (name.kind == Token::String ? std::string("a string") : name.text));
    }
    ++script_.skippedResources;
    if (type.kind == Token::Ident && blockTypes.count(type.text)) {
        while (!isBegin(peek())) {
            if (peek().kind == Token::End) return fail(type, type.text + " without BEGIN");
            next();
        }
        return skipBlock();
    }
    bool sameLine = false;
    while (peek().kind != Token::End && peek().file == type.file && peek().line == type.line) {
        if (isBegin(peek())) return skipBlock();
        next();
        sameLine = true;
    }
    if (sameLine) return true;  // a resource read from a file, such as ICON "app.ico"
    while (!isBegin(peek())) {
        if (peek().kind == Token::End) return fail(type, "resource without BEGIN");
        next();
    }
    return skipBlock();
}

bool Parser::parse() {
    endToken_.file = tokens_.empty() ? (script_.files.empty() ? std::string() : script_.files.front()) : tokens_.back().file;
    endToken_.line = tokens_.empty() ? 1 : tokens_.back().line;
    while (peek().kind != Token::End) {
        const Token& token = peek();
        if (isWord(token, "LANGUAGE")) {
            next();
            if (!languageArguments(language_)) return false;
        } else if (isWord(token, "STRINGTABLE")) {
            if (!stringTable()) return false;
        } else if (!skipResource()) {
            return false;
        }
    }
    return true;
}

std::string CString(const std::wstring& text) {
    std::string out;
    char buffer[16];
    for (size_t i = 0; i < text.size(); ++i) {
        std::snprintf(buffer, sizeof(buffer), "0x%x,", static_cast<unsigned>(text[i]));
        out += buffer;
        if (i % 16 == 15) out += "\n    ";
    }
    return out + "0";
}

}  // namespace

std::string RcError::toString() const { return file + ":" + std::to_string(line) + ": " + reason; }

const RcStringTable* RcScript::language(uint16_t languageId) const {
    for (const RcStringTable& table : languages) {
        if (table.languageId == languageId) return &table;
    }
    return nullptr;
}

bool parseRcText(std::string_view text, const std::string& fileName, RcScript& script, RcError& error) {
    script = RcScript();
    Parser parser(script, error);
    return parser.lexFile(fileName, text, 0) && parser.parse();
}

bool parseRcFile(const std::string& path, RcScript& script, RcError& error) {
    std::string bytes;
    if (!ReadFile(path, bytes)) {
        script = RcScript();
        error = RcError{path, 0, "cannot read the file"};
        return false;
    }
    return parseRcText(bytes, path, script, error);
}

std::string generateStringTableSource(const RcScript& script) {
    std::ostringstream out;
    out << "/* String table generated by glimmerpane rc from " << (script.files.empty() ? "?" : script.files.front())
        << ". Do not edit. */\n"
           "#include <stddef.h>\n#include <stdint.h>\n\n"
           "_Static_assert(sizeof(wchar_t) == 4, \"the table holds UTF-32 text\");\n\n"
           "typedef struct { uint32_t id; uint32_t length; const wchar_t* text; } GpStringEntry;\n"
           "typedef struct { uint16_t languageId; uint16_t reserved; uint32_t count; const GpStringEntry* entries; } "
           "GpStringLanguage;\n"
           "typedef struct { uint32_t magic; uint32_t version; uint32_t wcharSize; uint32_t languageCount; "
           "const GpStringLanguage* languages; } GpStringTable;\n\n";
    for (size_t l = 0; l < script.languages.size(); ++l) {
        const RcStringTable& table = script.languages[l];
        out << "/* " << platform::LanguageTag(table.languageId) << " */\n";
        for (const auto& [id, text] : table.strings) {
            out << "static const wchar_t s" << l << "_" << id << "[] = {" << CString(text) << "};\n";
        }
        if (!table.strings.empty()) {
            out << "static const GpStringEntry entries" << l << "[] = {\n";
            for (const auto& [id, text] : table.strings) {
                out << "    {" << id << "u, " << text.size() << "u, s" << l << "_" << id << "},\n";
            }
            out << "};\n";
        }
        out << "\n";
    }
    if (!script.languages.empty()) {
        out << "static const GpStringLanguage languages[] = {\n";
        for (size_t l = 0; l < script.languages.size(); ++l) {
            const RcStringTable& table = script.languages[l];
            char id[16];
            std::snprintf(id, sizeof(id), "0x%04xu", table.languageId);
            out << "    {" << id << ", 0u, " << table.strings.size() << "u, "
                << (table.strings.empty() ? std::string("NULL") : "entries" + std::to_string(l)) << "},\n";
        }
        out << "};\n\n";
    }
    char header[128];
    std::snprintf(header, sizeof(header), "{0x%08xu, %uu, (uint32_t)sizeof(wchar_t), %zuu, ", GP_STRING_TABLE_MAGIC,
                  GP_STRING_TABLE_VERSION, script.languages.size());
    out << "__attribute__((visibility(\"default\"))) const GpStringTable " << GP_STRING_TABLE_SYMBOL << " = " << header
        << (script.languages.empty() ? "NULL" : "languages") << "};\n";
    return out.str();
}

}  // namespace glimmerpane::resources
