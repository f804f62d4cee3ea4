// What the user interfaces may do with the running index, in one place: the
// desktop shell's windows and menus, and the status and control functions
// the application hands to the script pages, go through these operations
// instead of reaching into the engine and the crawler.
//
// The operations work on the running parts (IndexParts), asked for at every
// call: the parts come into being during start-up and go away at shutdown,
// and an operation whose part is missing does nothing (a run without the
// crawler has no indexing to control).
//
// Thread safety: the operations may be called from any thread; each is as
// thread-safe as the crawler's controls and the engine's counts it uses.
#ifndef LUN_APP_INDEX_OPERATIONS_H_
#define LUN_APP_INDEX_OPERATIONS_H_

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "crawler/crawler.h"

namespace lun {

class ChangeMonitor;
class DocumentWriter;
class SearchProject;
class SearchService;
class SettingsStore;

// The running parts; each is null until start-up has made it, and after
// shutdown has taken it down. `settings` is always set.
struct IndexParts {
  SettingsStore* settings = nullptr;
  SearchProject* project = nullptr;
  SearchService* search = nullptr;
  DocumentWriter* writer = nullptr;
  Crawler* crawler = nullptr;
  ChangeMonitor* monitor = nullptr;
  // The text of a file for a preview (Application::DocumentText); null: none.
  std::function<std::u16string(const std::string& path)> document_text;
};

// What the index is doing now, for the tray tip, the status window and the
// settings pages.
struct IndexActivity {
  uint32_t indexed = 0;  // live records of "文档"
  uint32_t queued = 0;   // live entries of "待扫描文件"
  // Whether this run indexes at all; the fields below it are its state.
  bool can_index = false;
  bool paused = false;
  SpeedMode speed = SpeedMode::kHighSpeed;
  bool scanning = false;
  // Records are checked against older ones (the table is not being filled
  // from empty in fast-insert mode).
  bool deduplicating = false;
  std::string scan_position;
  std::string index_position;
  // Files compared so far while a reconciliation runs; none otherwise.
  std::optional<uint64_t> reconcile_checked;
  // The change monitor, when one runs: its switches in force ("实时监控",
  // "实时文件删除"), its one-line status and the trees it cannot watch.
  bool monitor_running = false;
  bool monitoring = false;
  bool realtime_delete = false;
  std::string watch_status;
  std::vector<std::string> unwatched;
};

class IndexOperations {
 public:
  // `parts` is called at every operation and must stay callable for the
  // lifetime of this object.
  explicit IndexOperations(std::function<IndexParts()> parts);
  IndexOperations(const IndexOperations&) = delete;
  IndexOperations& operator=(const IndexOperations&) = delete;

  IndexActivity Activity() const;

  // Pause and speed of the crawl; nothing without a crawler.
  void SetPaused(bool paused);
  void TogglePaused();
  void SetSpeedMode(SpeedMode mode);
  // The re-index command (Crawler::Reindex); false without a crawler or when
  // a table could not be emptied.
  bool Reindex(bool keep_index);

  // The search service for the shell's quick search; null before start-up.
  SearchService* search() const;
  // Files over the size limit, indexed by name and attributes only; -1
  // before start-up. A search over the index: not for every refresh.
  int OversizeDocuments() const;
  // The text of a file for a preview; empty when it has none.
  std::u16string DocumentText(const std::string& path) const;

  // The settings, and changing one with its side effects (the hooks the
  // subsystems registered: scope, monitor, type lists) and saving it.
  SettingsStore& settings() const;
  bool ApplySetting(std::string_view key, std::string_view value);

 private:
  std::function<IndexParts()> parts_;
};

}  // namespace lun

#endif  // LUN_APP_INDEX_OPERATIONS_H_
