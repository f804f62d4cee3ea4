#include "engine/query/query_parser.h"

#include <vector>

#include "automation/date_time.h"
#include "engine/query/query_escape.h"
#include "engine/storage/engine_error.h"
#include "engine/storage/record_format.h"
#include "platform/normalize.h"
#include "platform/text.h"

namespace lun {
namespace {

constexpr char kAnyFieldName[] = "任意字段";
constexpr size_t kMaxFieldNameBytes = 259;

std::string_view TrimSpaces(std::string_view s) {
  while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
  while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
  return s;
}

char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }

// Case-insensitive (ASCII) search of `needle` in `haystack` from `from`.
size_t FindNoCase(std::string_view haystack, std::string_view needle, size_t from = 0) {
  for (size_t i = from; i + needle.size() <= haystack.size(); ++i) {
    size_t k = 0;
    while (k < needle.size() && AsciiLower(haystack[i + k]) == AsciiLower(needle[k])) ++k;
    if (k == needle.size()) return i;
  }
  return std::string_view::npos;
}

// Removes one leading "[" and one trailing "]", then trims.
std::string StripBrackets(std::string_view s) {
  s = TrimSpaces(s);
  if (!s.empty() && s.front() == '[') s.remove_prefix(1);
  if (!s.empty() && s.back() == ']') s.remove_suffix(1);
  return std::string(TrimSpaces(s));
}

// The next run of non-blank characters from `*pos`, after skipping blanks.
std::string_view NextWord(std::string_view s, size_t* pos) {
  while (*pos < s.size() && s[*pos] == ' ') ++*pos;
  const size_t start = *pos;
  while (*pos < s.size() && s[*pos] != ' ') ++*pos;
  return s.substr(start, *pos - start);
}

// ">>>" target: "[path:]table". Table names cannot hold ":", so the last
// ":" separates a project path from the table; a Windows-style target with a
// drive colon ("C:\x.db:tbl") splits the same way.
void SplitTarget(std::string_view target, QueryParts* parts) {
  parts->has_target = true;
  const size_t colon = target.rfind(':');
  if (colon == std::string_view::npos) {
    parts->target_table = StripBrackets(target);
  } else {
    parts->target_path = StripBrackets(target.substr(0, colon));
    parts->target_table = StripBrackets(target.substr(colon + 1));
  }
}

void SplitOrderClause(std::string* expression, QueryParts* parts) {
  const size_t order = FindNoCase(*expression, " order ");
  if (order == std::string::npos) return;
  const size_t by = FindNoCase(*expression, "by ", order + 7);
  if (by == std::string::npos) return;  // the words stay part of the expression
  size_t pos = by + 3;
  parts->sort_field = std::string(NextWord(*expression, &pos));
  const std::string_view direction = NextWord(*expression, &pos);
  parts->descending = direction.size() == 4 && FindNoCase(direction, "desc") == 0;
  expression->resize(order);
}

// A term's text split into field name, comparison and value, or a field
// prefix ("name=" with nothing after it).
struct ParsedTerm {
  bool ok = false;
  bool prefix = false;
  bool has_field = false;
  std::u16string field_name;
  Comparison comparison = Comparison::kMatch;
  std::u16string value;
};

ParsedTerm ParseTermText(std::u16string_view text) {
  ParsedTerm t;
  const size_t lt = text.find(u'<');
  const size_t gt = text.find(u'>');
  const size_t eq = text.find(u'=');
  constexpr size_t kNotFound = std::u16string_view::npos;
  if (lt != kNotFound && gt != kNotFound) return t;
  const size_t cmp = lt != kNotFound ? lt : gt;
  if (cmp != kNotFound) {
    if (cmp == 0) return t;  // a comparison needs a field name
    size_t value_start = cmp + 1;
    if (eq != kNotFound) {
      if (eq != cmp + 1) return t;  // "x=<5", "x<5=" ...
      value_start = eq + 1;
      t.comparison = lt != kNotFound ? Comparison::kLessEqual : Comparison::kGreaterEqual;
    } else {
      t.comparison = lt != kNotFound ? Comparison::kLess : Comparison::kGreater;
    }
    t.has_field = true;
    t.field_name = text.substr(0, cmp);
    t.value = text.substr(value_start);
    t.ok = true;
    return t;
  }
  if (eq != kNotFound) {
    if (eq == 0) return t;
    t.has_field = true;
    t.field_name = text.substr(0, eq);
    t.prefix = eq + 1 == text.size();
    t.value = text.substr(eq + 1);
    t.ok = true;
    return t;
  }
  t.value = text;
  t.ok = true;
  return t;
}

// `previous` of the conversion: a token type, or a field prefix.
enum class Previous { kOpen, kClose, kTerm, kBinary, kNegation, kFieldPrefix };

bool ExpectsOperand(Previous p) {
  return p == Previous::kOpen || p == Previous::kBinary || p == Previous::kNegation ||
         p == Previous::kFieldPrefix;
}

// Whether the evaluator can read the value of `term` as its field's type
// requires. Only dates are checked here: an unreadable date would compare
// as "no date" and select nearly every record, where a typing mistake should
// be told. The value is read as the look-up reads it: escapes decoded,
// leading blanks dropped.
bool ReadableValue(const QueryToken& term, const FieldTypeResolver& field_type) {
  if (!field_type || term.field < 0 || field_type(term.field) != kFieldDate) return true;
  std::u16string_view value = term.text;
  const std::u16string decoded = DecodeQueryEscapes(value);
  value = decoded;
  while (!value.empty() && (value.front() == u' ' || value.front() == u'\t'))
    value.remove_prefix(1);
  double serial = 0;
  return ParseDateText(value, &serial);
}

QueryToken Operator(TokenType type) {
  QueryToken t;
  t.type = type;
  return t;
}

}  // namespace

int SplitQuery(std::string_view query, QueryParts* parts) {
  *parts = QueryParts{};
  if (query.empty()) return kQueryEmpty;
  if (query.size() > kMaxQueryBytes) return kQueryTooLong;
  const std::string_view q = TrimSpaces(query);
  const size_t colon = q.find(':');
  if (colon == std::string_view::npos) return kQuerySyntaxError;
  parts->table = StripBrackets(q.substr(0, colon));
  std::string expression(q.substr(colon + 1));

  if (const size_t target = expression.find(">>>"); target != std::string::npos) {
    SplitTarget(std::string_view(expression).substr(target + 3), parts);
    expression.resize(target);
  }
  SplitOrderClause(&expression, parts);

  // " in all" right after the colon ("文档: in all") has lost its blank to
  // the trim, so the search treats the start of the expression as a blank.
  const std::string padded = " " + std::string(TrimSpaces(expression));
  if (const size_t in_all = FindNoCase(padded, " in all"); in_all != std::string::npos) {
    parts->in_all = true;
    expression = std::string(TrimSpaces(std::string_view(padded).substr(0, in_all)));
  } else {
    expression = padded.substr(1);
  }
  // " whole words" closing the expression (before " in all") keeps only the
  // whole-word matches of Latin terms (whole_word.h).
  constexpr std::string_view kWholeWords = " whole words";
  const std::string tail = " " + expression;
  if (tail.size() >= kWholeWords.size() &&
      FindNoCase(tail.substr(tail.size() - kWholeWords.size()), kWholeWords) == 0) {
    parts->whole_words = true;
    expression =
        std::string(TrimSpaces(std::string_view(tail).substr(0, tail.size() - kWholeWords.size())));
  }
  parts->expression = std::move(expression);
  return kEngineOk;
}

std::u16string NormalizeQueryText(std::string_view expression) {
  std::u16string wide = ToWide(expression);
  NormalizeInPlace(wide);
  return wide;
}

TokenList Tokenize(const OperatorTable& ops, std::u16string_view expression) {
  TokenList tokens;
  std::u16string pending;
  auto emit_pending = [&] {
    if (pending.find_first_not_of(u' ') != std::u16string::npos) {
      QueryToken term;
      term.text = std::move(pending);
      tokens.push_back(std::move(term));
    }
    pending.clear();
  };
  const struct {
    std::u16string_view text;
    TokenType type;
  } operators[] = {
      {std::u16string_view(&ops.open, 1), TokenType::kOpen},
      {std::u16string_view(&ops.close, 1), TokenType::kClose},
      {ops.intersection, TokenType::kIntersection},
      {ops.unite, TokenType::kUnion},
      {ops.difference, TokenType::kDifference},
  };
  size_t pos = 0;
  while (pos < expression.size()) {
    const std::u16string_view rest = expression.substr(pos);
    bool matched = false;
    for (const auto& op : operators) {
      if (op.text.empty() || rest.substr(0, op.text.size()) != op.text) continue;
      emit_pending();
      tokens.push_back(Operator(op.type));
      pos += op.text.size();
      matched = true;
      break;
    }
    if (!matched) pending.push_back(expression[pos++]);
  }
  emit_pending();
  return tokens;
}

int32_t ResolveField(std::u16string_view name, const FieldResolver& resolver) {
  std::string narrow = ToNarrow(name);
  if (narrow.size() > kMaxFieldNameBytes) narrow.resize(kMaxFieldNameBytes);
  const std::string_view trimmed = TrimSpaces(narrow);
  if (trimmed == kAnyFieldName) return kAnyField;
  return resolver ? resolver(trimmed) : kUnknownField;
}

bool ToPostfix(const TokenList& infix, const FieldResolver& resolver, int32_t default_field,
               TokenList* postfix, const FieldTypeResolver& field_type) {
  postfix->clear();
  // The bottom "(" is a sentinel that the end of the expression must meet.
  std::vector<TokenType> stack = {TokenType::kOpen};
  std::vector<int32_t> scope = {default_field};  // field per parenthesis level
  Previous previous = Previous::kOpen;

  auto pop_to_open = [&]() -> bool {
    while (!stack.empty() && stack.back() != TokenType::kOpen) {
      postfix->push_back(Operator(stack.back()));
      stack.pop_back();
    }
    return !stack.empty();
  };
  auto binary = [&](TokenType type) {
    // No precedence: a new binary operator first outputs the one operator on
    // top of the stack, so operators group from the left and a pending
    // negation applies to the operand just read.
    if (stack.back() != TokenType::kOpen) {
      postfix->push_back(Operator(stack.back()));
      stack.pop_back();
    }
    stack.push_back(type);
    previous = Previous::kBinary;
  };

  for (const QueryToken& token : infix) {
    switch (token.type) {
      case TokenType::kTerm: {
        if (previous == Previous::kClose) return false;
        const ParsedTerm parsed = ParseTermText(token.text);
        if (!parsed.ok) return false;
        if (parsed.has_field) {
          const int32_t field = ResolveField(parsed.field_name, resolver);
          if (field == kUnknownField) return false;
          scope.back() = field;
        }
        if (parsed.prefix) {
          previous = Previous::kFieldPrefix;
          break;
        }
        QueryToken term;
        term.comparison = parsed.comparison;
        term.text = parsed.value;
        term.field = scope.back();
        if (!ReadableValue(term, field_type)) return false;
        postfix->push_back(std::move(term));
        previous = Previous::kTerm;
        break;
      }
      case TokenType::kOpen:
        if (previous == Previous::kTerm || previous == Previous::kClose) return false;
        stack.push_back(TokenType::kOpen);
        scope.push_back(scope.back());
        previous = Previous::kOpen;
        break;
      case TokenType::kClose:
        if (ExpectsOperand(previous)) return false;
        if (!pop_to_open()) return false;
        stack.pop_back();
        // Closing the outermost level (the sentinel) is an unmatched ")".
        if (stack.empty() || scope.size() == 1) return false;
        scope.pop_back();
        previous = Previous::kClose;
        break;
      case TokenType::kDifference:
        if (previous != Previous::kTerm && previous != Previous::kClose) {
          stack.push_back(TokenType::kNegation);
          previous = Previous::kNegation;
        } else {
          binary(TokenType::kDifference);
        }
        break;
      case TokenType::kIntersection:
      case TokenType::kUnion:
        if (ExpectsOperand(previous)) return false;
        binary(token.type);
        break;
      case TokenType::kNegation:
        return false;  // never produced by Tokenize
    }
  }
  if (ExpectsOperand(previous)) return false;
  if (!pop_to_open()) return false;
  return stack.size() == 1;  // only the sentinel: every "(" was closed
}

std::optional<TokenList> ParseExpression(const OperatorTable& ops,
                                         std::u16string_view normalized_expression,
                                         const FieldResolver& resolver,
                                         const FieldTypeResolver& field_type) {
  TokenList postfix;
  const TokenList infix = Tokenize(ops, normalized_expression);
  if (infix.empty()) return postfix;
  if (!ToPostfix(infix, resolver, kAnyField, &postfix, field_type)) return std::nullopt;
  return postfix;
}

}  // namespace lun
