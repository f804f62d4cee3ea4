// ResultSet: an ascending list of record numbers with optional relevance
// weights, and the set operations that evaluate a query over such lists.
//
// Weights follow their records through every operation: an intersection or
// union adds the weights of a record found on both sides, a difference keeps
// the left side's, a negation has none. No weights at all (an empty
// `weights`) counts as weight 0 everywhere.
//
// Memory comes from the memory resource the owner names (a Recordset's
// arena), so a whole search is freed at once.
#ifndef LUN_ENGINE_QUERY_RESULT_SET_H_
#define LUN_ENGINE_QUERY_RESULT_SET_H_

#include <cstdint>
#include <memory_resource>
#include <span>
#include <vector>

namespace lun {

struct ResultSet {
  explicit ResultSet(std::pmr::memory_resource* memory = std::pmr::get_default_resource())
      : records(memory), weights(memory) {}

  uint32_t table = 0;                // ordinal of the table in its project
  std::pmr::vector<uint32_t> records;  // strictly ascending
  std::pmr::vector<uint32_t> weights;  // parallel to records, or empty: no weights

  bool has_weights() const { return !weights.empty(); }
  size_t count() const { return records.size(); }
  uint32_t WeightAt(size_t i) const { return weights.empty() ? 0 : weights[i]; }
};

// a := a ∩ b, weights summed.
void Intersect(ResultSet& a, const ResultSet& b);
// a := a ∪ b, weights summed where both hold a record.
void Unite(ResultSet& a, const ResultSet& b);
// a := a − b, a's weights.
void Subtract(ResultSet& a, const ResultSet& b);
// a := {0 .. slot_count-1} − a, no weights.
void Negate(ResultSet& a, uint32_t slot_count);
// a := a − deleted, where `deleted` is ascending.
void RemoveRecords(ResultSet& a, std::span<const uint32_t> deleted);
// a := {0 .. slot_count-1}, no weights.
void FillAll(ResultSet& a, uint32_t slot_count);

// Sorts records ascending (weights along) and merges duplicates, adding
// their weights: makes a well-formed set of an unordered list.
void Normalize(ResultSet& a);

}  // namespace lun

#endif  // LUN_ENGINE_QUERY_RESULT_SET_H_
