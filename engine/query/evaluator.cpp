#include "engine/query/evaluator.h"

#include "engine/query/query_escape.h"

namespace lun {
namespace {

// A term without a field: the union of its look-ups in the any-field list.
// The merged entry carries no weights.
void LookupAnyField(TermSource& source, std::u16string_view text, Comparison comparison,
                    ResultSet* out) {
  std::pmr::memory_resource* memory = out->records.get_allocator().resource();
  for (const int32_t field : source.AnyFieldList()) {
    ResultSet part(memory);
    if (!source.Lookup(field, text, comparison, &part)) continue;
    Normalize(part);
    part.weights.clear();
    Unite(*out, part);
  }
  out->weights.clear();
}

}  // namespace

EvaluateStatus EvaluatePostfix(const TokenList& postfix, TermSource& source, bool in_all,
                               ResultSet* result, const std::atomic<bool>* cancel) {
  std::pmr::memory_resource* memory = result->records.get_allocator().resource();
  result->records.clear();
  result->weights.clear();
  if (postfix.empty()) {
    FillAll(*result, source.SlotCount());
  } else {
    std::vector<ResultSet> stack;
    stack.reserve(postfix.size());
    for (const QueryToken& token : postfix) {
      if (cancel && cancel->load(std::memory_order_relaxed)) return EvaluateStatus::kCancelled;
      if (token.type == TokenType::kTerm) {
        stack.emplace_back(memory);
        const std::u16string text = DecodeQueryEscapes(token.text);
        if (token.field == kAnyField) {
          LookupAnyField(source, text, token.comparison, &stack.back());
        } else if (!source.Lookup(token.field, text, token.comparison, &stack.back())) {
          stack.back().records.clear();
          stack.back().weights.clear();
        }
        continue;
      }
      const size_t operands = token.type == TokenType::kNegation ? 1 : 2;
      if (stack.size() < operands) return EvaluateStatus::kMalformed;
      if (token.type == TokenType::kNegation) {
        Negate(stack.back(), source.SlotCount());
        continue;
      }
      ResultSet& a = stack[stack.size() - 2];
      const ResultSet& b = stack.back();
      switch (token.type) {
        case TokenType::kIntersection: Intersect(a, b); break;
        case TokenType::kUnion: Unite(a, b); break;
        case TokenType::kDifference: Subtract(a, b); break;
        default: break;
      }
      stack.pop_back();
    }
    if (stack.size() != 1) return EvaluateStatus::kMalformed;
    result->records.swap(stack.back().records);
    result->weights.swap(stack.back().weights);
  }
  if (!in_all) RemoveRecords(*result, source.Deletions());
  return EvaluateStatus::kOk;
}

}  // namespace lun
