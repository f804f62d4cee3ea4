#include "pages/script/cycle_collector.h"

#include <unordered_map>

namespace lun::script {

void CycleCollector::Track(const std::shared_ptr<Dispatch>& container, ForEachFn for_each,
                           ClearFn clear) {
  entries_.push_back({container, for_each, clear});
}

void CycleCollector::Collect() {
  // Taken out first: releasing the cycles may create and track new objects.
  const std::vector<Entry> entries = std::move(entries_);
  entries_.clear();
  std::vector<std::shared_ptr<Dispatch>> alive;
  std::vector<const Entry*> entry_of;
  for (const auto& e : entries) {
    if (auto d = e.object.lock()) {
      alive.push_back(std::move(d));
      entry_of.push_back(&e);
    }
  }
  std::unordered_map<const Dispatch*, std::size_t> index;
  for (std::size_t i = 0; i < alive.size(); ++i) index.emplace(alive[i].get(), i);
  // References each container receives from the other collected ones.
  std::vector<long> internal(alive.size(), 0);
  for (std::size_t i = 0; i < alive.size(); ++i) {
    entry_of[i]->for_each(*alive[i], [&](const Dispatch* o) {
      if (auto it = index.find(o); it != index.end()) ++internal[it->second];
    });
  }
  // Roots: containers with a holder outside this set (the count minus
  // the one reference in `alive`).
  std::vector<bool> reached(alive.size(), false);
  std::vector<std::size_t> stack;
  for (std::size_t i = 0; i < alive.size(); ++i) {
    if (alive[i].use_count() - 1 > internal[i]) {
      reached[i] = true;
      stack.push_back(i);
    }
  }
  while (!stack.empty()) {
    std::size_t i = stack.back();
    stack.pop_back();
    entry_of[i]->for_each(*alive[i], [&](const Dispatch* o) {
      if (auto it = index.find(o); it != index.end() && !reached[it->second]) {
        reached[it->second] = true;
        stack.push_back(it->second);
      }
    });
  }
  for (std::size_t i = 0; i < alive.size(); ++i) {
    if (!reached[i]) entry_of[i]->clear(*alive[i]);
  }
}

}  // namespace lun::script
