// RcStatementParser.cpp - LANGUAGE, STRINGTABLE and the statements that are skipped.
#include "render/RcStatementParser.h"

#include <map>
#include <set>
#include <string>

#include "platform/LanguageIds.h"
#include "render/RcExpression.h"

namespace glimmerpane::resources {

namespace {

constexpr uint32_t kMaxStringId = 0xffff;
constexpr size_t kMaxStringUnits = 0xffff;
constexpr uint16_t kDefaultLanguage = platform::kLanguageEnglishUs;  // rc.exe's default without /l

using Token = RcToken;

class Parser {
public:
    Parser(const std::vector<Token>& tokens, RcScript& script, RcError& error)
        : tokens_(tokens), script_(script), error_(error) {
        endToken_.file = tokens_.empty() ? 0 : tokens_.back().file;
        endToken_.line = tokens_.empty() ? 1 : tokens_.back().line;
    }

    bool parse();

private:
    bool fail(const Token& at, const std::string& reason) {
        error_.file = at.file < script_.files.size() ? script_.files[at.file] : std::string();
        error_.line = at.line;
        error_.reason = reason;
        return false;
    }

    const Token& tokenAt(size_t index) const { return index < tokens_.size() ? tokens_[index] : endToken_; }
    const Token& peek(size_t ahead = 0) const { return tokenAt(position_ + ahead); }
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
    bool languageArguments(uint16_t& language);
    bool stringTable();
    bool skipResource();
    bool skipBlock();
    RcStringTable& table(uint16_t language, const Token& block);

    const std::vector<Token>& tokens_;
    RcScript& script_;
    RcError& error_;
    Token endToken_;
    size_t position_ = 0;
    uint16_t language_ = kDefaultLanguage;
};

RcStringTable& Parser::table(uint16_t language, const Token& block) {
    for (RcStringTable& existing : script_.languages) {
        if (existing.languageId == language) return existing;
    }
    RcStringTable fresh;
    fresh.languageId = language;
    fresh.firstBlock = {script_.files[block.file], block.line};
    script_.languages.push_back(std::move(fresh));
    return script_.languages.back();
}

bool Parser::expression(int64_t& value) {
    static const RcNameValue languageNames = [](const Token& name, int64_t& v, std::string& reason) {
        if (auto constant = platform::LanguageConstant(name.text)) {
            v = *constant;
            return true;
        }
        reason = "unknown name " + name.text;
        return false;
    };
    RcExpressionError problem;
    if (evaluateRcExpression(tokens_, position_, languageNames, value, problem)) return true;
    const Token& where = tokenAt(problem.at);
    switch (problem.kind) {
        case RcExpressionError::BadName: return fail(where, problem.reason);
        case RcExpressionError::MissingCloseParen: return fail(where, "missing )");
        case RcExpressionError::ExpectedOperand: break;
    }
    if (where.kind == Token::End) return fail(where, "unexpected end of file, expected a number");
    return fail(where, "expected a number, found " +
                           (where.kind == Token::String ? std::string("a string") : "'" + where.text + "'"));
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
    RcStringTable& strings = table(language, keyword);
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
        if (auto previous = strings.definedAt.find(static_cast<uint32_t>(id)); previous != strings.definedAt.end()) {
            return fail(at, "string id " + std::to_string(id) + " defined twice for language " +
                                platform::LanguageTag(language) + " (first at " + previous->second.file + ":" +
                                std::to_string(previous->second.line) + ")");
        }
        strings.strings[static_cast<uint32_t>(id)] = std::move(wide);
        strings.definedAt[static_cast<uint32_t>(id)] = {script_.files[at.file], at.line};
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

}  // namespace

bool parseRcStatements(const std::vector<RcToken>& tokens, RcScript& script, RcError& error) {
    return Parser(tokens, script, error).parse();
}

}  // namespace glimmerpane::resources
