// RcExpression.cpp - operator precedence with an operand stack and an operator stack.
//
// Prefix operators and open parentheses wait on the operator stack; a complete operand
// applies the prefix operators above it, and a binary operator first reduces the ones of
// equal or tighter binding (all are left associative).
#include "render/RcExpression.h"

#include <optional>
#include <string_view>

namespace glimmerpane::resources {

namespace {

enum class Op { Or, And, Equal, NotEqual, Add, Subtract, BitOr, BitAnd, Not, Negate, Complement, Plus, Paren };

struct Pending {
    Op op;
    size_t at;  // the token, for an unclosed '('
};

bool IsPunct(const RcToken& token, std::string_view text) { return token.kind == RcToken::Punct && token.text == text; }

std::optional<Op> BinaryOp(const RcToken& token) {
    if (token.kind != RcToken::Punct) return std::nullopt;
    static constexpr std::pair<std::string_view, Op> kOps[] = {
        {"||", Op::Or},  {"&&", Op::And},      {"==", Op::Equal}, {"!=", Op::NotEqual},
        {"+", Op::Add},  {"-", Op::Subtract}, {"|", Op::BitOr},  {"&", Op::BitAnd},
    };
    for (const auto& [text, op] : kOps) {
        if (token.text == text) return op;
    }
    return std::nullopt;
}

std::optional<Op> PrefixOp(const RcToken& token) {
    if (token.kind != RcToken::Punct || token.text.size() != 1) return std::nullopt;
    switch (token.text[0]) {
        case '!': return Op::Not;
        case '-': return Op::Negate;
        case '~': return Op::Complement;
        case '+': return Op::Plus;
        default: return std::nullopt;
    }
}

bool IsPrefix(Op op) { return op == Op::Not || op == Op::Negate || op == Op::Complement || op == Op::Plus; }

int Binding(Op op) {
    switch (op) {
        case Op::Or: return 1;
        case Op::And: return 2;
        case Op::Equal:
        case Op::NotEqual: return 3;
        default: return 4;
    }
}

// Unsigned arithmetic, so that a hostile script cannot reach signed overflow.
int64_t Wrap(uint64_t v) { return static_cast<int64_t>(v); }

int64_t ApplyPrefix(Op op, int64_t v) {
    switch (op) {
        case Op::Not: return !v;
        case Op::Negate: return Wrap(0 - static_cast<uint64_t>(v));
        case Op::Complement: return ~v;
        default: return v;
    }
}

int64_t ApplyBinary(Op op, int64_t a, int64_t b) {
    switch (op) {
        case Op::Or: return a || b;
        case Op::And: return a && b;
        case Op::Equal: return a == b;
        case Op::NotEqual: return a != b;
        case Op::Add: return Wrap(static_cast<uint64_t>(a) + static_cast<uint64_t>(b));
        case Op::Subtract: return Wrap(static_cast<uint64_t>(a) - static_cast<uint64_t>(b));
        case Op::BitOr: return a | b;
        default: return a & b;
    }
}

}  // namespace

bool evaluateRcExpression(const std::vector<RcToken>& tokens, size_t& position, const RcNameValue& names,
                          int64_t& value, RcExpressionError& error) {
    std::vector<int64_t> values;
    std::vector<Pending> ops;
    size_t openParens = 0;
    auto reduce = [&] {
        const int64_t right = values.back();
        values.pop_back();
        values.back() = ApplyBinary(ops.back().op, values.back(), right);
        ops.pop_back();
    };
    auto applyPrefixes = [&] {
        while (!ops.empty() && IsPrefix(ops.back().op)) {
            values.back() = ApplyPrefix(ops.back().op, values.back());
            ops.pop_back();
        }
    };
    auto refuse = [&](RcExpressionError::Kind kind, size_t at, std::string reason = {}) {
        error = RcExpressionError{kind, at, std::move(reason)};
        return false;
    };

    bool expectOperand = true;
    for (;;) {
        const RcToken* token = position < tokens.size() ? &tokens[position] : nullptr;
        if (expectOperand) {
            if (token == nullptr) return refuse(RcExpressionError::ExpectedOperand, position);
            if (const auto prefix = PrefixOp(*token)) {
                ops.push_back({*prefix, position++});
                continue;
            }
            if (IsPunct(*token, "(")) {
                ops.push_back({Op::Paren, position++});
                ++openParens;
                continue;
            }
            int64_t operand = 0;
            if (token->kind == RcToken::Number) {
                operand = token->number;
            } else if (token->kind == RcToken::Ident) {
                std::string reason;
                if (!names(*token, operand, reason)) return refuse(RcExpressionError::BadName, position, reason);
            } else {
                return refuse(RcExpressionError::ExpectedOperand, position);
            }
            values.push_back(operand);
            ++position;
            applyPrefixes();
            expectOperand = false;
            continue;
        }
        if (token == nullptr) break;
        if (const auto binary = BinaryOp(*token)) {
            while (!ops.empty() && !IsPrefix(ops.back().op) && ops.back().op != Op::Paren &&
                   Binding(ops.back().op) >= Binding(*binary)) {
                reduce();
            }
            ops.push_back({*binary, position++});
            expectOperand = true;
            continue;
        }
        if (openParens > 0 && IsPunct(*token, ")")) {
            while (ops.back().op != Op::Paren) reduce();
            ops.pop_back();
            --openParens;
            ++position;
            applyPrefixes();
            continue;
        }
        break;
    }
    while (!ops.empty()) {
        if (ops.back().op == Op::Paren) return refuse(RcExpressionError::MissingCloseParen, ops.back().at);
        reduce();
    }
    value = values.back();
    return true;
}

}  // namespace glimmerpane::resources
