// The cycle collector. Reference counting cannot free objects that hold
// each other (`Set d("me") = d`). The engine tracks the containers it
// creates; Collect, run after the engine dropped its own references,
// empties every tracked container that no outside holder reaches, which
// frees the cycle. Containers the host still holds, and everything they
// reach, are left alone. Internal to pages/script.
#ifndef LUN_PAGES_SCRIPT_CYCLE_COLLECTOR_H_
#define LUN_PAGES_SCRIPT_CYCLE_COLLECTOR_H_

#include <functional>
#include <memory>
#include <vector>

#include "automation/dispatch.h"

namespace lun::script {

class CycleCollector {
 public:
  using Visitor = std::function<void(const Dispatch*)>;
  // Calls the visitor for each object `container` holds directly.
  using ForEachFn = void (*)(Dispatch& container, const Visitor& visit);
  // Drops everything `container` holds.
  using ClearFn = void (*)(Dispatch& container);

  // Tracks a container the engine created; holds it weakly.
  void Track(const std::shared_ptr<Dispatch>& container, ForEachFn for_each, ClearFn clear);

  // Empties the unreachable tracked containers and forgets them all.
  void Collect();

 private:
  struct Entry {
    std::weak_ptr<Dispatch> object;
    ForEachFn for_each;
    ClearFn clear;
  };
  std::vector<Entry> entries_;
};

}  // namespace lun::script

#endif  // LUN_PAGES_SCRIPT_CYCLE_COLLECTOR_H_
