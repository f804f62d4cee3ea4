// The crawler's background threads and the per-file pipeline.
//
// The scan thread walks the permitted roots (scan_scope.h) once and queues
// every admitted file and directory in the table "待扫描文件"; the index
// thread takes queued entries in record order and gathers each file's
// attributes and text, and a writer thread beside it writes the document
// records (document_table.h), so that the next text is being extracted while
// the last record is written. Every entry taken is written before the index
// thread ends.
// The queue is a table of the database, so it survives restarts; the setting
// "完成全面扫描" remembers that a full walk has finished, so a later start
// only resumes the queue. A queue entry is deleted only after its record is
// committed (or when it turned out to need none): a process killed at any
// moment loses no file.
//
// Reconciliation (reconciler.h) runs on the scan thread too, after the full
// walk or on its own: RequestReconcile merges requests and starts the
// thread when it is idle. While the table is filled in fast-insert mode no
// pass runs (a file queued twice would get two records); the requests wait
// until the first scan's queue has run dry.
//
// Symbolic links are not followed: a link to a directory could lead the walk
// in a circle or out of the permitted roots, and a linked file is indexed
// under its own path when its tree is walked.
//
// Ownership and lifetime: the crawler owns its scan and index threads (and
// the writer thread the index thread starts); the destructor stops them, so
// no thread of the crawler outlives it. It owns nothing of its
// environment: the project, search service, settings, scope and document
// writer must outlive it, and the environment's functions may be called on
// its threads until the destructor has returned.
//
// Thread safety: the flags may be read and written from any thread; the
// threads poll them between entries. The control members (Start*, Stop*,
// Reindex) may be called from any thread, one at a time (the application
// core's). IndexFile and IndexDirectory may run on several threads at once
// (index thread, change monitor).
#ifndef LUN_CRAWLER_CRAWLER_H_
#define LUN_CRAWLER_CRAWLER_H_

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "crawler/document_table.h"
#include "crawler/extract/crawl_outcome.h"
#include "crawler/reconciler.h"
#include "crawler/skip_ledger.h"

namespace lun {

class ScanScope;
class SettingsStore;

struct CrawlerEnvironment {
  SearchProject* project = nullptr;
  SearchService* search = nullptr;
  SettingsStore* settings = nullptr;
  ScanScope* scope = nullptr;
  DocumentWriter* writer = nullptr;
  // Asks the crawl service for the text of a file, filling `*text`. A
  // failed exchange is tried once more; a service that cannot be reached
  // (or was told to exit) is not the file's fault, so the index thread puts
  // the file back and waits instead of writing a record without text; a
  // listener that is not our service got no path at all: the file is
  // indexed by name only.
  std::function<CrawlOutcome(const std::string& path, std::u16string* text)> extract_text;
  // True when the crawl service can extract text of this type token.
  std::function<bool(const std::string& token)> service_extracts;
  // The crawl service's program (luncrawl), which also reads the members of
  // archives; empty: archives are recorded as files, never opened.
  std::string archive_reader;
  // A notice for the user (title, text).
  std::function<void(const std::string& title, const std::string& text)> notify;
  // The scan's pass over the mail stores (MailSources::IndexAll), run after
  // the walk; may be null.
  std::function<void()> index_mail;
  // Whether the user is away (user_idle.h), asked at most every
  // `user_idle_poll_ms` while the speed mode is kIdleHighSpeed. Null: the
  // user_idle flag is left to whoever sets it.
  std::function<bool()> user_idle_probe;
  int user_idle_poll_ms = 5000;
  // The clock of that poll, in milliseconds; null: the monotonic clock.
  std::function<int64_t()> clock_ms;
  // Where the database lives, for the free-space check.
  std::string data_path;
  // The user's desktop folder, walked first when it lies under a root.
  std::string desktop;
  // Whether files of a type no list admits are looked at by their content
  // (text_detector.h; the setting "识别无扩展名文本"); null: never.
  std::function<bool()> detects_text;
};

// Where the crawler's time went, for the index status and the benchmarks.
// Times are summed over the threads that spent them (the scan, index and
// writer threads overlap, so the stages may add up to more than the wall
// time).
struct CrawlStats {
  int64_t walk_ns = 0;      // listing directories and deciding admission
  int64_t queue_ns = 0;     // appending to and taking from "待扫描文件"
  int64_t extract_ns = 0;   // asking the crawl service for text
  int64_t write_ns = 0;     // writing document records (periodic index flushes included)
  int64_t flush_ns = 0;     // the index flush when the index thread ends
  uint64_t files = 0;       // records written: files, directories, compiled-help pages
  uint64_t text_units = 0;  // UTF-16 units of text written
};

// What IndexFile and IndexDirectory did with one path.
enum class IndexOutcome {
  kWritten,             // its record (a compiled-help file's: its pages') is committed
  kWrittenWithoutText,  // committed without text: no crawl service could be reached
  kNothingToWrite,      // excluded, of no admitted type, gone, or its record is current
  kNoDiskSpace,         // the database's disk is below the free-space limit: not written
  kFailed,              // the record could not be written
};

enum class SpeedMode { kIdleHighSpeed = 0, kHighSpeed = 1, kLowSpeed = 2 };

class Crawler {
 public:
  explicit Crawler(CrawlerEnvironment env);
  ~Crawler();  // stops both threads
  Crawler(const Crawler&) = delete;
  Crawler& operator=(const Crawler&) = delete;

  // Starts the scan thread (nothing when it runs already) / asks it to stop
  // and waits for it. A new scan forgets the files that broke the crawl
  // service in the last one.
  void StartScan();
  void StopScan();
  // Asks for a reconciliation pass (merged with those waiting); starts the
  // scan thread when it is idle. Nothing runs while no type list is set.
  void RequestReconcile(const ReconcileRequest& request);
  // A pass is running, and the figures of the last one.
  bool reconciling() const { return reconciling_; }
  ReconcileStats reconcile_stats() const;
  std::map<std::string, RootSummary> reconciled_roots() const;
  // The database's disk is below the free-space limit: indexing waits.
  bool low_disk() const { return low_disk_; }

  // Starts the index thread / asks it to stop and waits for it.
  void StartIndexing();
  void StopIndexing();

  // The re-index command (and, keeping the index, the answer to the rescan
  // question after new types were chosen). Stops the scan and index
  // threads, writes
  // "完成全面扫描" = "FALSE", and starts the scan again (and the index thread,
  // when it was running). `keep_index` true keeps the document records (the
  // walk re-checks every file against its record: the fast-insert and
  // first-pass flags are cleared); false empties "文档" and "待扫描文件" while
  // the clearing flag is raised (nothing is indexed meanwhile, records
  // being written elsewhere are waited for) and raises the fast-insert and
  // first-pass flags, as at start-up on an empty table. False when a table
  // could not be emptied; the scan is restarted all the same.
  bool Reindex(bool keep_index);

  // Appends one entry to the queue table (created when missing).
  bool Queue(const std::string& path, bool is_directory);
  // The per-file pipeline; `force` checks for an older record of the path
  // even in fast-insert mode (the change monitor's writes). A compiled-help
  // file ("|CHM|" among the document types) becomes one record per page,
  // keyed "mk:@MSITStore:" + path + "::/" + page path. An archive (zip, tar
  // and the rest, chosen among the document types) becomes one record per
  // member whose type wants text, keyed path + "::" + member path
  // (archive_members.h), and a record of its own whose text names the
  // members; an Outlook store (PST, OST) likewise, one record per message
  // (pst_messages.h). A file whose text
  // request broke the crawl service twice in the current scan gets its
  // record without text and is not sent again in that scan. A file met
  // while no service can be reached gets its record without text here; the
  // index thread instead puts its entry back into the queue and waits, so
  // that the text is not missing for good.
  IndexOutcome IndexFile(const std::string& path, bool force);
  IndexOutcome IndexDirectory(const std::string& path);
  // Asks the user-idle probe when its poll is due and the speed mode is
  // kIdleHighSpeed; returns the user_idle flag. The threads call it before
  // each pause.
  bool PollUserIdle();

  // Control state, read and written from any thread (the desktop shell, the
  // status page); the threads read it between entries. Paused: no entry is
  // taken. The speed mode sets the pause between entries.
  bool paused() const { return paused_; }
  void set_paused(bool paused) { paused_ = paused; }
  SpeedMode speed_mode() const { return speed_mode_; }
  void set_speed_mode(SpeedMode mode) { speed_mode_ = mode; }
  // The user is away, as the last PollUserIdle found.
  bool user_idle() const { return user_idle_; }
  // The walking part of the first full scan is still running: the caller
  // sets it before StartScan when it begins on an empty document table
  // (with the writer in fast-insert mode); the scan clears it when its walk
  // ends.
  bool first_pass() const { return first_pass_; }
  void set_first_pass(bool first) { first_pass_ = first; }
  // The index thread started on an empty document table, or the default
  // roots are in use; the mail passes wait while it is set. Cleared when the
  // first full scan's queue has run dry, and when either thread stops.
  bool first_index() const { return first_index_; }

  bool scanning() const { return scanning_; }
  // The tables are being emptied by Reindex; nothing is indexed.
  bool clearing() const { return clearing_; }
  std::string scan_position() const;
  std::string index_position() const;
  CrawlStats stats() const;
  // Files indexed by name only or without their text, by reason.
  const SkipLedger& skipped() const { return skipped_; }

 private:
  // A queue entry taken by the index thread: deleted once done, unless the
  // queue was emptied meanwhile (another epoch).
  struct Entry {
    uint32_t record = 0;
    uint64_t epoch = 0;
  };
  enum class Take { kEntry, kBadEntry, kNone };
  struct Prepared;

  void StartScanThread(bool full_pass);
  void ScanThread(bool full_pass);
  void FullPass();
  void RunReconciliations();
  bool AnyTypeList() const;
  // A full walk is due: a type list is set and "完成全面扫描" is not TRUE.
  bool WalkDue() const;
  void IndexThread();
  // False when the walk must stop. `walked` holds the trees walked to their
  // end in this pass: a tree inside one of them is not walked twice.
  bool Walk(const std::string& directory, const std::vector<std::string>& walked);
  // Takes the next queued entry that is not being worked on.
  Take TakeEntry(Entry* entry, std::string* path, bool* is_directory);
  // The entry is done: its record is committed, or it needs none.
  void DropEntry(const Entry& entry);
  // The entry goes back to be taken again later.
  void ReleaseEntry(const Entry& entry);
  // Entries not being worked on.
  uint32_t WaitingEntries();
  // Whether `path`, of no admitted type, is admitted as text by its
  // content. A file found not to be text is not read again while its size
  // and time stay (the reconciliation meets it at every pass).
  bool AdmitsUnknown(const std::string& path);
  // Empties the queue table; false when it cannot be emptied.
  bool ClearQueue();
  // False (with one notice per episode) while the database's disk is
  // below the free-space limit.
  bool CheckDiskSpace();
  void Throttle(int low_ms, int idle_ms);
  // One line in the engine log when a reconciliation pass has finished:
  // what it compared, queued and removed, and how long it took.
  static void LogReconcilePass(const ReconcileStats& before, const ReconcileStats& after,
                               int64_t elapsed_ms);
  void SetScanPosition(const std::string& text);
  void SetIndexPosition(const std::string& text);
  // The text of `path` from the crawl service, asked again once when the
  // service fails; empty for a file that failed it twice in this scan.
  // `*unavailable` tells that no service could be reached.
  std::u16string ServiceTextOf(const std::string& path, bool* unavailable);
  // The record IndexFile / IndexDirectory write, text included; nullopt
  // when there is none to write (excluded, unreadable, unchanged, too
  // little disk space, or a compiled-help file, whose pages are written at
  // once). `*outcome` is what writing the record will come to, or why there
  // is none; kWrittenWithoutText and kNoDiskSpace tell that the file must
  // wait.
  std::optional<DocumentRecord> FileDocumentOf(const std::string& path, bool force,
                                               IndexOutcome* outcome);
  std::optional<DocumentRecord> DirectoryDocumentOf(const std::string& path);
  void IndexCompiledHelp(const std::string& path, double created, double modified, bool force);
  // Writes the member records of an archive; returns the members' names.
  std::u16string IndexArchive(const std::string& path, double created, double modified, bool force);
  bool WriteRecord(const DocumentRecord& record, bool force);
  // WriteRecord for the record of a file or directory on disk, which is
  // taken back when the path is gone once it is written.
  bool WriteRecordOfPath(const DocumentRecord& record, bool force);
  int64_t NowMs() const;

  CrawlerEnvironment env_;
  std::thread scan_thread_;
  std::thread index_thread_;
  std::atomic<bool> stop_scan_{false};
  std::atomic<bool> stop_index_{false};
  std::atomic<bool> scanning_{false};
  std::atomic<bool> clearing_{false};
  std::atomic<bool> paused_{false};
  std::atomic<SpeedMode> speed_mode_{SpeedMode::kHighSpeed};
  std::atomic<bool> user_idle_{false};
  std::atomic<bool> first_pass_{false};
  std::atomic<bool> first_index_{false};
  mutable std::mutex position_mutex_;
  std::string scan_position_;
  std::string index_position_;
  SkipLedger skipped_;
  std::mutex control_mutex_;      // StartScan / StopScan / RequestReconcile
  std::mutex queue_mutex_;        // the fields below
  uint32_t next_entry_ = 0;       // lowest queue record not yet taken
  uint64_t queue_epoch_ = 0;      // counts the emptyings of the queue
  std::set<uint32_t> in_flight_;  // entries taken and not yet done
  mutable std::mutex reconcile_mutex_;
  ReconcileRequest pending_reconcile_;
  std::unique_ptr<Reconciler> reconciler_;
  std::atomic<bool> reconciling_{false};
  std::atomic<bool> low_disk_{false};
  std::mutex not_text_mutex_;
  std::map<std::string, std::pair<int64_t, int64_t>> not_text_;  // path -> size, mtime
  int64_t walk_queue_ns_ = 0;  // scan thread only: time of the walk's queue appends
  // Paths whose text request broke the service, and how often, this scan.
  std::mutex failures_mutex_;
  std::map<std::string, int> service_failures_;
  std::atomic<int64_t> next_idle_poll_ms_{INT64_MIN};
  struct Counters {
    std::atomic<int64_t> walk_ns{0}, queue_ns{0}, extract_ns{0}, write_ns{0}, flush_ns{0};
    std::atomic<uint64_t> files{0}, text_units{0};
  } counters_;
};

}  // namespace lun

#endif  // LUN_CRAWLER_CRAWLER_H_
