// RcExpression.h - the evaluator of integer expressions in resource scripts.
//
// One grammar serves #if conditions and statement values (string ids, LANGUAGE,
// CHARACTERISTICS, VERSION). Loosest first:
//
//   ||        &&        == !=        + - | &        unary ! - ~ +        number, name, ( ... )
//
// + - | & share one level and apply left to right, the way rc evaluates ids: 1 + 2 | 4
// is (1 + 2) | 4. Arithmetic wraps at 64 bits. What a name is worth is the caller's
// business (a language constant in a statement, 0 in #if once macros are expanded).
//
// The evaluator keeps its own stacks instead of recursing, so nesting depth is bounded
// by the number of tokens, never by the thread's stack.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "render/RcLexer.h"

namespace glimmerpane::resources {

struct RcExpressionError {
    enum Kind {
        ExpectedOperand,    // at: the token found instead (tokens.size() for the end)
        MissingCloseParen,  // at: the '(' that was not closed
        BadName,            // at: the name; reason: what the resolver said
    } kind = ExpectedOperand;
    size_t at = 0;
    std::string reason;
};

// The value of an identifier; false with a reason when it has none.
using RcNameValue = std::function<bool(const RcToken& name, int64_t& value, std::string& reason)>;

// Evaluates the longest expression that starts at tokens[position] and leaves position at the
// first token after it.
bool evaluateRcExpression(const std::vector<RcToken>& tokens, size_t& position, const RcNameValue& names,
                          int64_t& value, RcExpressionError& error);

}  // namespace glimmerpane::resources
