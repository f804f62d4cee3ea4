// The evaluator's view of a real table: terms are looked up in the fields'
// indexes (engine/index/field_lookup.h), and in the stored values for fields
// without an index and for records an index has not taken yet.
#ifndef LUN_ENGINE_QUERY_INDEX_TERM_SOURCE_H_
#define LUN_ENGINE_QUERY_INDEX_TERM_SOURCE_H_

#include <atomic>
#include <memory>

#include "engine/query/evaluator.h"

namespace lun {

class DataTable;

// A TermSource over `table` (which must outlive it). `cancel`, when given,
// stops long look-ups early.
std::unique_ptr<TermSource> MakeIndexTermSource(DataTable& table,
                                                const std::atomic<bool>* cancel);

}  // namespace lun

#endif  // LUN_ENGINE_QUERY_INDEX_TERM_SOURCE_H_
