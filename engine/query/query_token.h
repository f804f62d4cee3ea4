// The tokens of a parsed query expression.
//
// Tokenize turns an expression into tokens in text order; ToPostfix turns
// them into postfix order with a field number on every term, which is what
// the evaluator runs.
#ifndef LUN_ENGINE_QUERY_QUERY_TOKEN_H_
#define LUN_ENGINE_QUERY_QUERY_TOKEN_H_

#include <cstdint>
#include <string>
#include <vector>

namespace lun {

enum class TokenType : uint16_t {
  kIntersection = 1,
  kUnion = 2,
  kDifference = 3,
  kTerm = 4,
  kOpen = 5,
  kClose = 6,
  kNegation = 7,  // made by the parser from a "-" that has no left operand
};

enum class Comparison : uint16_t {
  kMatch = 0,         // "="
  kGreater = 1,       // ">"
  kGreaterEqual = 2,  // ">="
  kLess = 3,          // "<"
  kLessEqual = 4,     // "<="
};

// Field number of a term without a field: the table's any-field list.
inline constexpr int32_t kAnyField = -1;
// What a field resolver answers for a name the table lacks.
inline constexpr int32_t kUnknownField = -2;

struct QueryToken {
  TokenType type = TokenType::kTerm;
  Comparison comparison = Comparison::kMatch;  // terms only
  std::u16string text;                         // terms only: the value to look for
  int32_t field = kAnyField;                   // terms only

  bool operator==(const QueryToken&) const = default;
};

using TokenList = std::vector<QueryToken>;

}  // namespace lun

#endif  // LUN_ENGINE_QUERY_QUERY_TOKEN_H_
