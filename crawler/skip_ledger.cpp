#include "crawler/skip_ledger.h"

namespace lun {

void SkipLedger::Add(const std::string& reason, const std::string& path) {
  std::lock_guard lock(mutex_);
  Entry& e = entries_[reason];
  ++e.count;
  // A file met again (a re-index, a change) is listed once, at its latest.
  for (auto it = e.latest.begin(); it != e.latest.end(); ++it) {
    if (*it == path) {
      e.latest.erase(it);
      --e.count;
      break;
    }
  }
  e.latest.push_back(path);
  if (e.latest.size() > kKeptPaths) e.latest.pop_front();
}

std::map<std::string, SkipLedger::Entry> SkipLedger::Snapshot() const {
  std::lock_guard lock(mutex_);
  return entries_;
}

}  // namespace lun
