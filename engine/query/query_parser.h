// The query language: how a query string is split into its parts and how its
// expression becomes a postfix token list.
//
// A query string reads
//   table ":" expression [" in all"] [" order by" field ["desc"]] [">>>" target]
// where square brackets around the table name are optional decoration. The
// expression is a boolean formula over terms joined by the operators of the
// OperatorTable ("*" intersection, "+" union, "-" difference, parentheses).
// Operators have no precedence and group from the left (a+b*c is (a+b)*c);
// a "-" with no left operand is a negation that binds to the operand after
// it. Spaces are not separators: "a b" is one term, a phrase.
//
// A term is "value", "field=value", "field<value", "field<=value",
// "field>value" or "field>=value"; "field=" with nothing after it (a field
// prefix) sets the field of what follows at its parenthesis level, so
// 文本内容=(a*b) searches both terms in 文本内容. Terms without a field use
// the field last named at their level, else the table's any-field list.
#ifndef LUN_ENGINE_QUERY_QUERY_PARSER_H_
#define LUN_ENGINE_QUERY_QUERY_PARSER_H_

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "engine/query/operator_table.h"
#include "engine/query/query_token.h"

namespace lun {

// Longest query string accepted, in bytes.
inline constexpr size_t kMaxQueryBytes = 2037;

struct QueryParts {
  std::string table;
  std::string expression;    // narrow, not yet normalised
  bool in_all = false;       // include deleted records
  bool whole_words = false;  // " whole words": Latin terms match whole words only
  std::string sort_field;    // empty: no order clause
  bool descending = false;
  bool has_target = false;  // a ">>>" part was given
  std::string target_path;  // project path of the target, may be empty
  std::string target_table;
};

// Splits a query string. Returns an engine result code: 0, kQueryEmpty (14)
// for an empty string, kQueryTooLong (13) beyond kMaxQueryBytes, or
// kQuerySyntaxError (7) when there is no ":" after the table name.
int SplitQuery(std::string_view query, QueryParts* parts);

// The expression as the index sees text: UTF-16, through the one
// normalisation table (full-width to half-width, lower case, traditional to
// simplified Chinese).
std::u16string NormalizeQueryText(std::string_view expression);

// Splits a normalised expression into terms and operators in text order.
// Terms that are empty or only spaces are dropped.
TokenList Tokenize(const OperatorTable& ops, std::u16string_view expression);

// Looks up a field of the searched table by its narrow name (without regard
// to case); returns the field number or kUnknownField.
using FieldResolver = std::function<int32_t(std::string_view name)>;

// The field number of a field name in a term: the name is trimmed of spaces;
// "任意字段" (any field) gives kAnyField; otherwise what `resolver` says.
int32_t ResolveField(std::u16string_view name, const FieldResolver& resolver);

// The stored type code of a field number (record_format.h: kFieldDate ...),
// so that the parser can check the values it can read itself.
using FieldTypeResolver = std::function<int(int32_t field)>;

// Rewrites `infix` (from Tokenize) into postfix order, parsing each term's
// field and comparison. False on a syntax error: an operator without an
// operand, an unmatched parenthesis, a malformed comparison, an unknown
// field, a field prefix not followed by "(" or a negation, and (when
// `field_type` is given) a term on a date field whose value is no readable
// date: "修改时间>=9999-99-99" is a mistake to report, not a comparison that
// quietly matches every record.
bool ToPostfix(const TokenList& infix, const FieldResolver& resolver, int32_t default_field,
               TokenList* postfix, const FieldTypeResolver& field_type = {});

// Tokenize followed by ToPostfix; nullopt on a syntax error. An empty
// expression gives an empty list (every record).
std::optional<TokenList> ParseExpression(const OperatorTable& ops,
                                         std::u16string_view normalized_expression,
                                         const FieldResolver& resolver,
                                         const FieldTypeResolver& field_type = {});

}  // namespace lun

#endif  // LUN_ENGINE_QUERY_QUERY_PARSER_H_
