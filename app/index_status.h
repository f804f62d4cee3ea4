// The index status as the status page asks for it: one value by name, made
// from the crawler, the change monitor and the index folder. The names and
// their forms are those of FTS.IndexStatus (pages/fts_object.h): figures as
// decimal text, lists one item a line with tab-separated fields, times as
// "YYYY-MM-DD HH:MM:SS" local time.
//
// Thread safety: reads only thread-safe members of what it is given.
#ifndef LUN_APP_INDEX_STATUS_H_
#define LUN_APP_INDEX_STATUS_H_

#include <cstdint>
#include <string>

namespace lun {

class ChangeMonitor;
class Crawler;
class ScanScope;

struct IndexStatusSources {
  const Crawler* crawler = nullptr;        // null: nothing is indexed
  const ChangeMonitor* monitor = nullptr;  // null: no monitor
  const ScanScope* scope = nullptr;        // the permitted roots
  std::string index_folder;                // the folder of the index files
  uint32_t queue_length = 0;
};

// "" for an unknown name. "根目录" lists every permitted root; its count and
// time are empty until a reconciliation walked it.
std::string IndexStatusValue(const IndexStatusSources& sources, const std::string& name);

}  // namespace lun

#endif  // LUN_APP_INDEX_STATUS_H_
