// RcPreprocessor.cpp - line splitting, comments, directives, conditionals and macro expansion.
//
// Macro values are kept as text and lexed at each use, with the use's file and line and
// the code page then in force: a header may define values that only some scripts can use
// (3.14f, a text with accents), and those must not fail where they are never used.
#include "render/RcPreprocessor.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <map>
#include <set>

#include "base/Utf.h"
#include "render/RcExpression.h"

namespace glimmerpane::resources {

namespace {

constexpr const char* kFileLimit = "16 MiB";
constexpr const char* kTotalLimit = "64 MiB";

// The lexer works on code points; wchar_t holds UTF-16 on Windows.
std::u32string CodePoints(std::wstring_view wide) {
    std::u32string out;
    out.reserve(wide.size());
    for (size_t i = 0; i < wide.size(); ++i) {
        char32_t c = static_cast<char32_t>(wide[i]);
        if constexpr (sizeof(wchar_t) == 2) {
            if (c >= 0xd800 && c <= 0xdbff && i + 1 < wide.size()) {
                c = 0x10000 + ((c - 0xd800) << 10) + (static_cast<char32_t>(wide[++i]) - 0xdc00);
            }
        }
        out += c;
    }
    return out;
}

std::string Utf8(std::u32string_view text) {
    std::wstring wide;
    wide.reserve(text.size());
    for (char32_t c : text) {
        if constexpr (sizeof(wchar_t) == 2) {
            if (c >= 0x10000) {
                wide += static_cast<wchar_t>(0xd800 + ((c - 0x10000) >> 10));
                wide += static_cast<wchar_t>(0xdc00 + ((c - 0x10000) & 0x3ff));
                continue;
            }
        }
        wide += static_cast<wchar_t>(c);
    }
    return base::Utf8FromWide(wide);
}

// Strict UTF-8. The shared decoder replaces what it cannot read with U+FFFD (three bytes
// for one), so the text is valid exactly when encoding the result again gives back the
// same bytes, and the first difference lies in the first bad sequence.
bool DecodeUtf8(std::string_view bytes, std::u32string& out, uint32_t& badLine) {
    if (bytes.substr(0, 3) == "\xEF\xBB\xBF") bytes.remove_prefix(3);
    const std::wstring wide = base::WideFromUtf8(bytes);
    const std::string again = base::Utf8FromWide(wide);
    if (again != bytes) {
        const auto bad = std::mismatch(bytes.begin(), bytes.end(), again.begin(), again.end()).first;
        badLine = 1 + static_cast<uint32_t>(std::count(bytes.begin(), bad, '\n'));
        return false;
    }
    out = CodePoints(wide);
    return true;
}

std::string FolderOf(const std::string& path) {
    const size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

bool IsPunct(const RcToken& token, const char* text) { return token.kind == RcToken::Punct && token.text == text; }

struct Macro {
    std::u32string value;
    bool functionLike = false;
};

class Preprocessor {
public:
    Preprocessor(RcPreprocessed& out, RcError& error) : out_(out), error_(error) {
        macros_["RC_INVOKED"] = {U"1", false};
    }

    bool lexFile(const std::string& path, std::string_view bytes, int depth);

private:
    struct Conditional {
        bool active;  // this branch is being read
        bool taken;   // some branch of this #if was taken
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
    bool fail(const RcToken& at, const std::string& reason) { return fail(out_.files[at.file], at.line, reason); }

    uint32_t fileIndex(const std::string& path) {
        const auto found = std::find(out_.files.begin(), out_.files.end(), path);
        if (found != out_.files.end()) return static_cast<uint32_t>(found - out_.files.begin());
        out_.files.push_back(path);
        return static_cast<uint32_t>(out_.files.size() - 1);
    }

    bool active() const { return conditionals_.empty() || conditionals_.back().active; }
    bool directive(const std::string& file, uint32_t line, std::u32string text, int depth);
    bool evaluateCondition(const std::string& file, uint32_t line, const std::string& text, bool& value);
    bool include(const std::string& file, uint32_t line, const std::string& rest, int depth);
    // Appends token to out, or what it expands to when it names a macro.
    bool expand(RcToken token, bool inCondition, std::vector<RcToken>& out);
    bool expandAt(RcToken token, int depth, bool inCondition, const std::string& outer, size_t& produced,
                  std::vector<RcToken>& out);

    RcPreprocessed& out_;
    RcError& error_;
    std::map<std::string, Macro> macros_;
    std::vector<Conditional> conditionals_;
    std::set<std::string> openFiles_;
    bool utf8CodePage_ = false;
    size_t totalBytes_ = 0;
};

bool Preprocessor::lexFile(const std::string& path, std::string_view bytes, int depth) {
    if (depth > kMaxRcIncludeDepth) return fail(path, 1, "#include nested more than 16 deep");
    if (!openFiles_.insert(path).second) return fail(path, 1, "#include cycle: the file includes itself");
    const uint32_t file = fileIndex(path);
    totalBytes_ += bytes.size();
    std::u32string text;
    uint32_t badLine = 0;
    if (!DecodeUtf8(bytes, text, badLine)) return fail(path, badLine, "invalid UTF-8 (save the file as UTF-8)");
    const size_t conditionalDepth = conditionals_.size();

    // Split into physical lines; a block comment may span lines, a directive may continue
    // with a trailing backslash.
    bool inComment = false;
    uint32_t commentLine = 0;
    std::vector<RcToken> lineTokens;
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
        std::string reason;
        if (!lexRcLine(code, file, firstLine, {utf8CodePage_, RcNumberStyle::Statement}, lineTokens, reason)) {
            return fail(path, firstLine, reason);
        }
        for (RcToken& token : lineTokens) {
            if (!expand(std::move(token), false, out_.tokens)) return false;
        }
    }
    if (inComment) return fail(path, commentLine, "unterminated /* comment");
    if (conditionals_.size() > conditionalDepth) {
        return fail(path, conditionals_.back().line, "#if without #endif");
    }
    openFiles_.erase(path);
    return true;
}

bool Preprocessor::expand(RcToken token, bool inCondition, std::vector<RcToken>& out) {
    size_t produced = 0;
    const std::string outer = token.text;
    return expandAt(std::move(token), 0, inCondition, outer, produced, out);
}

bool Preprocessor::expandAt(RcToken token, int depth, bool inCondition, const std::string& outer, size_t& produced,
                            std::vector<RcToken>& out) {
    if (token.kind == RcToken::Ident) {
        const auto macro = macros_.find(token.text);
        // In #if a function-like name is not a use of the macro, as in C.
        if (macro != macros_.end() && !(inCondition && macro->second.functionLike)) {
            if (macro->second.functionLike) {
                return fail(token, "function-like macro " + token.text + " is not supported here");
            }
            if (depth >= kMaxRcMacroDepth) return fail(token, "#define " + token.text + " expands without end");
            std::vector<RcToken> expansion;
            std::string reason;
            const RcLexOptions options{utf8CodePage_, inCondition ? RcNumberStyle::Condition : RcNumberStyle::Statement};
            if (!lexRcLine(macro->second.value, token.file, token.line, options, expansion, reason)) {
                return fail(token, reason);
            }
            for (RcToken& part : expansion) {
                if (!expandAt(std::move(part), depth + 1, inCondition, outer, produced, out)) return false;
            }
            return true;
        }
    }
    if (++produced > kMaxRcMacroTokens) {
        return fail(token, "#define " + outer + " expands to more than " + std::to_string(kMaxRcMacroTokens) + " tokens");
    }
    if (out.size() >= kMaxRcTokens) {
        return fail(token, "the script expands to more than " + std::to_string(kMaxRcTokens) + " tokens");
    }
    out.push_back(std::move(token));
    return true;
}

bool Preprocessor::directive(const std::string& file, uint32_t line, std::u32string text, int depth) {
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
    if (name == "include") return include(file, line, rest, depth);
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
        if (!macro.functionLike && valueStart != std::string::npos) {
            uint32_t ignored = 0;
            DecodeUtf8(std::string_view(rest).substr(valueStart), macro.value, ignored);  // valid: encoded above
        }
        macros_[rest.substr(0, nameEnd)] = std::move(macro);
        return true;
    }
    if (name == "undef") {
        macros_.erase(rest.substr(0, rest.find_first_of(" \t")));
        return true;
    }
    if (name == "error") return fail(file, line, "#error " + rest);
    return fail(file, line, "unknown preprocessor directive #" + name);
}

bool Preprocessor::include(const std::string& file, uint32_t line, const std::string& rest, int depth) {
    if (!rest.empty() && rest[0] == '<') return true;  // SDK headers: their names are built in
    if (rest.size() < 2 || rest[0] != '"' || rest.back() != '"') {
        return fail(file, line, "#include needs a \"file\" or <file> name");
    }
    std::string target = rest.substr(1, rest.size() - 2);
    std::replace(target.begin(), target.end(), '\\', '/');
    // In the platform's own separators ("sub/more.h" beside "C:\\rc\\a.rc" is "C:\\rc\\sub\\more.h").
    const std::string path = std::filesystem::path((!target.empty() && target[0] == '/') ? target : FolderOf(file) + target)
                                 .make_preferred()
                                 .string();
    std::string bytes;
    switch (readRcSource(path, bytes)) {
        case RcReadResult::Read: break;
        case RcReadResult::CannotOpen: return fail(file, line, "cannot read included file " + path);
        case RcReadResult::Folder:
        case RcReadResult::NotRegularFile: return fail(file, line, "included file " + path + " is not a regular file");
        case RcReadResult::TooLarge:
            return fail(file, line, "included file " + path + " is larger than " + kFileLimit);
    }
    if (totalBytes_ + bytes.size() > kMaxRcTotalBytes) {
        return fail(file, line, std::string("the script and its included files are larger than ") + kTotalLimit);
    }
    const bool savedCodePage = utf8CodePage_;
    if (!lexFile(path, bytes, depth + 1)) return false;
    utf8CodePage_ = savedCodePage;  // a code page pragma holds for its own file
    return true;
}

bool Preprocessor::evaluateCondition(const std::string& file, uint32_t line, const std::string& text, bool& value) {
    const uint32_t fileId = fileIndex(file);
    std::u32string code;
    uint32_t ignored = 0;
    DecodeUtf8(text, code, ignored);  // valid: the directive was encoded from code points
    std::vector<RcToken> raw;
    std::string reason;
    if (!lexRcLine(code, fileId, line, {utf8CodePage_, RcNumberStyle::Condition}, raw, reason)) {
        return fail(file, line, reason);
    }
    // defined applies to the name as written, so it goes before any expansion.
    std::vector<RcToken> expanded;
    for (size_t i = 0; i < raw.size(); ++i) {
        if (raw[i].kind == RcToken::Ident && raw[i].text == "defined") {
            size_t at = i + 1;
            const bool parenthesised = at < raw.size() && IsPunct(raw[at], "(");
            if (parenthesised) ++at;
            std::string macro;
            if (at < raw.size() && raw[at].kind == RcToken::Ident) macro = raw[at++].text;
            if (macro.empty()) return fail(file, line, "defined without a name");
            if (parenthesised) {
                if (at >= raw.size() || !IsPunct(raw[at], ")")) return fail(file, line, "missing ) after defined(");
                ++at;
            }
            RcToken result = raw[i];
            result.kind = RcToken::Number;
            result.number = macros_.count(macro) != 0;
            expanded.push_back(std::move(result));
            i = at - 1;
            continue;
        }
        if (!expand(raw[i], true, expanded)) return false;
    }
    size_t position = 0;
    int64_t result = 0;
    RcExpressionError problem;
    const RcNameValue zero = [](const RcToken&, int64_t& v, std::string&) {
        v = 0;
        return true;
    };
    if (!evaluateRcExpression(expanded, position, zero, result, problem)) {
        if (problem.kind == RcExpressionError::MissingCloseParen) return fail(file, line, "missing ) in #if expression");
        if (problem.at >= expanded.size()) return fail(file, line, "incomplete #if expression");
        const RcToken& found = expanded[problem.at];
        return fail(file, line,
                    "unexpected " + (found.kind == RcToken::String ? std::string("string") : "'" + found.text + "'") +
                        " in #if expression");
    }
    if (position < expanded.size()) return fail(file, line, "cannot evaluate #if " + text);
    value = result != 0;
    return true;
}

}  // namespace

RcReadResult readRcSource(const std::string& path, std::string& bytes) {
    return base::ReadRegularFile(path, kMaxRcFileBytes, bytes);
}

bool preprocessRc(std::string_view text, const std::string& fileName, RcPreprocessed& out, RcError& error) {
    out = RcPreprocessed();
    Preprocessor preprocessor(out, error);
    return preprocessor.lexFile(fileName, text, 0);
}

}  // namespace glimmerpane::resources
