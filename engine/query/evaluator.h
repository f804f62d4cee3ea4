// Evaluation of a postfix token list (query_parser.h) over a table's
// indexes.
//
// The evaluator walks the list with a stack of ResultSets: a term pushes the
// records its field's index finds (escapes decoded first), an operator
// combines the top entries (result_set.h). A term without a field is looked
// up in every field of the table's any-field list and the lists are merged
// without weights. Deleted records are removed from the final result only,
// unless the search includes them ("in all").
#ifndef LUN_ENGINE_QUERY_EVALUATOR_H_
#define LUN_ENGINE_QUERY_EVALUATOR_H_

#include <atomic>
#include <memory_resource>
#include <span>
#include <string_view>
#include <vector>

#include "engine/query/query_token.h"
#include "engine/query/result_set.h"

namespace lun {

// What the evaluator needs of the searched table. Called under the table's
// read lock by one search at a time per object.
class TermSource {
 public:
  virtual ~TermSource() = default;
  // Number of record slots (deleted records included).
  virtual uint32_t SlotCount() const = 0;
  // Field numbers searched by a term without a field.
  virtual std::vector<int32_t> AnyFieldList() const = 0;
  // Ascending record numbers of deleted records.
  virtual std::span<const uint32_t> Deletions() const = 0;
  // Fills `out` with the records whose field `field` matches `text` (already
  // decoded) under `comparison`, ascending, with weights where the field's
  // look-up gives them. False when the look-up failed (it is logged there);
  // the term then matches nothing.
  virtual bool Lookup(int32_t field, std::u16string_view text, Comparison comparison,
                      ResultSet* out) = 0;
};

enum class EvaluateStatus {
  kOk,
  kCancelled,  // the cancel flag was raised
  kMalformed,  // the list is not a well-formed postfix expression
};

// Evaluates `postfix` (well-formed, from ToPostfix) into `*result`. An empty
// list selects every record. `cancel`, when given, is polled between tokens:
// a search abandoned by its watchdog stops early and leaves no result.
EvaluateStatus EvaluatePostfix(const TokenList& postfix, TermSource& source, bool in_all,
                               ResultSet* result, const std::atomic<bool>* cancel = nullptr);

}  // namespace lun

#endif  // LUN_ENGINE_QUERY_EVALUATOR_H_
