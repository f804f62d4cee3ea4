// The reconciliation pass: brings the document records level with the disk
// after the change monitor could not follow it (changes made while lun was
// not running, lost events, trees that cannot be watched, a change of the
// roots, forbidden paths or type lists).
//
// It walks the trees asked for and compares every admitted file's size,
// modification time and identity (device and inode) with its record, by
// stat alone: a file without a record, or whose record differs, is queued
// for the index thread; an unchanged file is not read. Then it looks at the
// records: a record that left the scope (no permitted root above it, a
// forbidden path, a type no longer admitted) is removed; a record of a file
// that is gone from a walked tree is removed when its file reappeared under
// another name (a rename: the file is indexed under the new one) or when
// real-time deletion is on, and otherwise kept (its text stays readable;
// the result pages mark it deleted).
//
// A pass can be stopped at any entry; it then removes nothing, and the
// next pass (at the latest the one at the next start-up) does the whole
// work again. What it queued is in the queue table and survives.
//
// Thread safety: one Run at a time per Reconciler; the scope and writer are
// thread-safe.
#ifndef LUN_CRAWLER_RECONCILER_H_
#define LUN_CRAWLER_RECONCILER_H_

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace lun {

class DocumentWriter;
class ScanScope;
struct StoredFile;

// What a pass covers. Requests merge: everything wins over trees.
struct ReconcileRequest {
  bool everything = false;         // every permitted root
  std::vector<std::string> trees;  // these trees only (below permitted roots)
  // No walk: only the records that left the scope are removed (roots,
  // forbidden paths or types were taken away). Every pass does this too.
  bool prune = false;
  // "图片文字识别" was turned on: the records of pictures, of PDFs read
  // without any text, and of archives holding either (with those members)
  // are marked changed first (DocumentWriter::MarkChanged), so the walk
  // queues them and their text is read again.
  bool reread_pictures = false;

  bool empty() const { return !everything && trees.empty() && !prune && !reread_pictures; }
  void Merge(const ReconcileRequest& other);
};

struct ReconcileStats {
  uint64_t checked = 0;  // files and directories compared with their records
  uint64_t queued = 0;   // new or changed, handed to the index thread
  uint64_t removed = 0;  // records removed (gone, renamed or out of scope)
};

// A permitted root as the last pass that walked it whole found it.
struct RootSummary {
  uint64_t files = 0;         // admitted files under it
  int64_t reconciled_at = 0;  // end of that walk, seconds since the epoch
};

struct ReconcileHooks {
  // Appends a queue entry; false when the queue cannot be written.
  std::function<bool(const std::string& path, bool is_directory)> queue;
  // Whether a file without an admitted type is admitted by its content
  // (the unknown-type text detector), and whether that detector is on;
  // both may be null (off).
  std::function<bool(const std::string& path)> admit_unknown;
  std::function<bool()> detects_text;
  // Called before every directory entry: the crawler's pace.
  std::function<void()> throttle;
  // Progress for the status displays.
  std::function<void(const std::string& text)> position;
  // "实时文件删除".
  std::function<bool()> realtime_delete;
};

class Reconciler {
 public:
  // Everything given must outlive the reconciler.
  Reconciler(ScanScope& scope, DocumentWriter& writer, ReconcileHooks hooks);

  // Runs one pass; false when `stop` ended it early.
  bool Run(const ReconcileRequest& request, const std::atomic<bool>& stop);
  // The figures of the last (or running) pass.
  ReconcileStats stats() const;
  // By root: the roots that some pass walked to their end.
  std::map<std::string, RootSummary> roots() const;

 private:
  struct Pass;
  bool WalkTree(Pass& pass, const std::string& directory, const std::atomic<bool>& stop);
  bool RecordInScope(const std::string& path, const std::string& type) const;
  // Whether turning recognition on may add to the text of record `f`.
  bool RecognitionMayAdd(const StoredFile& f) const;

  ScanScope& scope_;
  DocumentWriter& writer_;
  ReconcileHooks hooks_;
  std::atomic<uint64_t> checked_{0}, queued_{0}, removed_{0};
  mutable std::mutex roots_mutex_;
  std::map<std::string, RootSummary> roots_;
};

}  // namespace lun

#endif  // LUN_CRAWLER_RECONCILER_H_
