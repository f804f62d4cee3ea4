#include "engine/query/result_set.h"

#include <algorithm>
#include <numeric>

namespace lun {

void Intersect(ResultSet& a, const ResultSet& b) {
  const bool weights = a.has_weights() || b.has_weights();
  if (weights && a.weights.empty()) a.weights.assign(a.records.size(), 0);
  size_t out = 0, j = 0;
  for (size_t i = 0; i < a.records.size(); ++i) {
    while (j < b.records.size() && b.records[j] < a.records[i]) ++j;
    if (j == b.records.size()) break;
    if (b.records[j] != a.records[i]) continue;
    a.records[out] = a.records[i];
    if (weights) a.weights[out] = a.weights[i] + b.WeightAt(j);
    ++out;
  }
  a.records.resize(out);
  if (weights) a.weights.resize(out);
}

void Unite(ResultSet& a, const ResultSet& b) {
  const bool weights = a.has_weights() || b.has_weights();
  std::pmr::vector<uint32_t> records(a.records.get_allocator());
  std::pmr::vector<uint32_t> merged_weights(a.records.get_allocator());
  records.reserve(a.records.size() + b.records.size());
  if (weights) merged_weights.reserve(records.capacity());
  size_t i = 0, j = 0;
  while (i < a.records.size() || j < b.records.size()) {
    uint32_t record, w = 0;
    if (j == b.records.size() || (i < a.records.size() && a.records[i] < b.records[j])) {
      record = a.records[i];
      w = a.WeightAt(i++);
    } else if (i == a.records.size() || b.records[j] < a.records[i]) {
      record = b.records[j];
      w = b.WeightAt(j++);
    } else {
      record = a.records[i];
      w = a.WeightAt(i++) + b.WeightAt(j++);
    }
    records.push_back(record);
    if (weights) merged_weights.push_back(w);
  }
  a.records.swap(records);
  a.weights.swap(merged_weights);
}

void Subtract(ResultSet& a, const ResultSet& b) {
  size_t out = 0, j = 0;
  for (size_t i = 0; i < a.records.size(); ++i) {
    while (j < b.records.size() && b.records[j] < a.records[i]) ++j;
    if (j < b.records.size() && b.records[j] == a.records[i]) continue;
    a.records[out] = a.records[i];
    if (a.has_weights()) a.weights[out] = a.weights[i];
    ++out;
  }
  a.records.resize(out);
  if (a.has_weights()) a.weights.resize(out);
}

void RemoveRecords(ResultSet& a, std::span<const uint32_t> deleted) {
  ResultSet d(a.records.get_allocator().resource());
  d.records.assign(deleted.begin(), deleted.end());
  Subtract(a, d);
}

void Negate(ResultSet& a, uint32_t slot_count) {
  std::pmr::vector<uint32_t> records(a.records.get_allocator());
  records.reserve(slot_count >= a.records.size() ? slot_count - a.records.size() : 0);
  size_t j = 0;
  for (uint32_t r = 0; r < slot_count; ++r) {
    while (j < a.records.size() && a.records[j] < r) ++j;
    if (j < a.records.size() && a.records[j] == r) continue;
    records.push_back(r);
  }
  a.records.swap(records);
  a.weights.clear();
}

void FillAll(ResultSet& a, uint32_t slot_count) {
  a.records.resize(slot_count);
  std::iota(a.records.begin(), a.records.end(), 0u);
  a.weights.clear();
}

void Normalize(ResultSet& a) {
  const size_t n = a.records.size();
  if (std::is_sorted(a.records.begin(), a.records.end()) &&
      std::adjacent_find(a.records.begin(), a.records.end()) == a.records.end()) {
    return;
  }
  std::vector<size_t> order(n);
  std::iota(order.begin(), order.end(), size_t{0});
  std::stable_sort(order.begin(), order.end(),
                   [&](size_t x, size_t y) { return a.records[x] < a.records[y]; });
  std::pmr::vector<uint32_t> records(a.records.get_allocator());
  std::pmr::vector<uint32_t> weights(a.records.get_allocator());
  for (const size_t k : order) {
    if (!records.empty() && records.back() == a.records[k]) {
      if (a.has_weights()) weights.back() += a.weights[k];
      continue;
    }
    records.push_back(a.records[k]);
    if (a.has_weights()) weights.push_back(a.weights[k]);
  }
  a.records.swap(records);
  a.weights.swap(weights);
}

}  // namespace lun
