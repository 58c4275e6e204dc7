// RcExpressionTest.cpp - the one evaluator of #if conditions and statement values:
// precedence and rc's left-to-right arithmetic, where it stops, what it reports, and
// nesting far deeper than any stack would allow.
#include "render/RcExpression.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace glimmerpane::resources {
namespace {

std::vector<RcToken> Tokens(const std::string& code, RcNumberStyle style = RcNumberStyle::Statement) {
    std::vector<RcToken> tokens;
    std::string reason;
    EXPECT_TRUE(lexRcLine(std::u32string(code.begin(), code.end()), 0, 1, {false, style}, tokens, reason)) << reason;
    return tokens;
}

// Names are worth their length; "bad" has no value.
bool NameLength(const RcToken& name, int64_t& value, std::string& reason) {
    if (name.text == "bad") {
        reason = "no value for bad";
        return false;
    }
    value = static_cast<int64_t>(name.text.size());
    return true;
}

TEST(RcExpression, EvaluatesWithOneGrammarForConditionsAndValues) {
    const struct {
        const char* code;
        int64_t value;
    } cases[] = {
        {"7", 7},
        {"1 + 2 | 4", 7},
        {"1 + 2 | 4 & 1", 1},  // + - | & apply left to right, as rc evaluates ids
        {"6 & 3 + 1", 3},
        {"10 - 2 - 3", 5},
        {"-(2 + 3)", -5},
        {"~0", -1},
        {"- -4", 4},
        {"+5", 5},
        {"!0 + 1", 2},  // prefix operators bind tightest
        {"!(0 + 1)", 0},
        {"1 || 0 && 0", 1},  // && binds tighter than ||
        {"(1 || 0) && 0", 0},
        {"2 == 2 == 1", 1},
        {"1 + 1 == 2", 1},
        {"3 != 3 || 4 == 4", 1},
        {"abc + ab", 5},
        {"((((1))))", 1},
    };
    for (const auto& c : cases) {
        const std::vector<RcToken> tokens = Tokens(c.code);
        size_t position = 0;
        int64_t value = 0;
        RcExpressionError error;
        ASSERT_TRUE(evaluateRcExpression(tokens, position, NameLength, value, error)) << c.code;
        EXPECT_EQ(value, c.value) << c.code;
        EXPECT_EQ(position, tokens.size()) << c.code;
    }
}

TEST(RcExpression, StopsBeforeTheFirstTokenThatCannotContinueIt) {
    const struct {
        const char* code;
        size_t start;
        size_t stop;
        int64_t value;
    } cases[] = {
        {"1 + 2 \"text\"", 0, 3, 3},
        {"100, \"a\"", 0, 1, 100},
        {"9, 1 + 1 BEGIN", 2, 5, 2},
        {"(1) 2", 0, 3, 1},
        {"4 ) x", 0, 1, 4},  // a ')' it did not open ends it
    };
    for (const auto& c : cases) {
        const std::vector<RcToken> tokens = Tokens(c.code);
        size_t position = c.start;
        int64_t value = 0;
        RcExpressionError error;
        ASSERT_TRUE(evaluateRcExpression(tokens, position, NameLength, value, error)) << c.code;
        EXPECT_EQ(position, c.stop) << c.code;
        EXPECT_EQ(value, c.value) << c.code;
    }
}

TEST(RcExpression, ReportsWhatWentWrongAndWhere) {
    const struct {
        const char* code;
        RcExpressionError::Kind kind;
        size_t at;
    } cases[] = {
        {"", RcExpressionError::ExpectedOperand, 0},
        {"1 +", RcExpressionError::ExpectedOperand, 2},
        {"(", RcExpressionError::ExpectedOperand, 1},
        {"!(", RcExpressionError::ExpectedOperand, 2},
        {"\"s\"", RcExpressionError::ExpectedOperand, 0},
        {"1 + )", RcExpressionError::ExpectedOperand, 2},
        {"(1", RcExpressionError::MissingCloseParen, 0},
        {"((1) + (2", RcExpressionError::MissingCloseParen, 5},
        {"(1 2)", RcExpressionError::MissingCloseParen, 0},
        {"1 + bad", RcExpressionError::BadName, 2},
    };
    for (const auto& c : cases) {
        const std::vector<RcToken> tokens = Tokens(c.code);
        size_t position = 0;
        int64_t value = 0;
        RcExpressionError error;
        ASSERT_FALSE(evaluateRcExpression(tokens, position, NameLength, value, error)) << c.code;
        EXPECT_EQ(error.kind, c.kind) << c.code;
        EXPECT_EQ(error.at, c.at) << c.code;
        if (c.kind == RcExpressionError::BadName) {
            EXPECT_EQ(error.reason, "no value for bad");
        }
    }
}

TEST(RcExpression, NestsDeeperThanAnyStackWouldHold) {
    constexpr size_t kDepth = 200000;
    const struct {
        std::string code;
        int64_t value;
    } cases[] = {
        {std::string(kDepth, '-') + "3", 3},
        {std::string(kDepth + 1, '-') + "3", -3},
        {std::string(kDepth, '!') + "5", 1},
        {std::string(kDepth, '~') + "5", 5},
        {std::string(kDepth, '(') + "6" + std::string(kDepth, ')'), 6},
        {std::string(kDepth, '(') + "6" + std::string(kDepth - 1, ')'), 0},  // one ( left open
    };
    for (const auto& c : cases) {
        const std::vector<RcToken> tokens = Tokens(c.code);
        size_t position = 0;
        int64_t value = 0;
        RcExpressionError error;
        const bool ok = evaluateRcExpression(tokens, position, NameLength, value, error);
        if (c.value == 0) {
            EXPECT_FALSE(ok);
            EXPECT_EQ(error.kind, RcExpressionError::MissingCloseParen);
            EXPECT_EQ(error.at, 0u);
        } else {
            ASSERT_TRUE(ok) << c.code.substr(0, 20);
            EXPECT_EQ(value, c.value) << c.code.substr(0, 20);
        }
    }
}

TEST(RcExpression, ArithmeticWrapsInsteadOfOverflowing) {
    const struct {
        const char* code;
        int64_t value;
    } cases[] = {
        {"9223372036854775807 + 1", INT64_MIN},
        {"0 - 9223372036854775807 - 2", INT64_MAX},
        {"-(0 - 9223372036854775807 - 1)", INT64_MIN},
    };
    for (const auto& c : cases) {
        const std::vector<RcToken> tokens = Tokens(c.code, RcNumberStyle::Condition);
        size_t position = 0;
        int64_t value = 0;
        RcExpressionError error;
        ASSERT_TRUE(evaluateRcExpression(tokens, position, NameLength, value, error)) << c.code;
        EXPECT_EQ(value, c.value) << c.code;
    }
}

}  // namespace
}  // namespace glimmerpane::resources
