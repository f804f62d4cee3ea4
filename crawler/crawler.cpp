#include "crawler/crawler.h"

#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <vector>

#include "automation/variant.h"
#include "config/settings_keys.h"
#include "config/settings_store.h"
#include "crawler/content_digest.h"
#include "crawler/extract/archive_members.h"
#include "crawler/extract/charset.h"
#include "crawler/extract/compiled_help.h"
#include "crawler/extract/pst_messages.h"
#include "crawler/extract/text_filters.h"
#include "crawler/foxmail.h"
#include "crawler/scan_scope.h"
#include "crawler/text_detector.h"
#include "engine/index/indexing_pace.h"
#include "engine/storage/data_table.h"
#include "engine/storage/search_project.h"
#include "platform/error_log.h"
#include "platform/file_system.h"
#include "platform/kill_point.h"
#include "platform/path_text.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "platform/text.h"

namespace lun {
namespace {

constexpr uint64_t kMinFreeMegabytes = 100;
constexpr char kLowDiskTitle[] = "警告";
constexpr char kLowDiskText[] = "剩余磁盘空间低于100M，索引已暂停，空间恢复后将自动继续。";
// How often indexing looks at the free space again while it waits.
constexpr int kLowDiskWaitMs = 2000;
constexpr char kScanDoneTitle[] = "扫描完成";
constexpr char kScanDoneText[] = "系统已经完成文件扫描，您现在可以搜索全部内容。";

// A file whose request broke the crawl service this often in one scan is
// not sent again in that scan: one failure may be another caller's file or
// a service killed from outside, two on the same file are the file.
constexpr int kMaxServiceFailures = 2;

// How long the index thread waits before the next entry after finding no
// crawl service (the client itself retries starting it at intervals).
constexpr int kServiceWaitMs = 1000;

void Sleep(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

int64_t SteadyNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// Adds the time of its scope to a counter.
class StageTimer {
 public:
  explicit StageTimer(std::atomic<int64_t>& counter) : counter_(counter), start_(SteadyNs()) {}
  ~StageTimer() { counter_ += SteadyNs() - start_; }
  StageTimer(const StageTimer&) = delete;
  StageTimer& operator=(const StageTimer&) = delete;

 private:
  std::atomic<int64_t>& counter_;
  const int64_t start_;
};

// The extension as written in the name, without the dot.
std::string Extension(const std::string& path) {
  const std::string name = BaseName(path);
  const size_t dot = name.rfind('.');
  return dot == std::string::npos ? std::string() : name.substr(dot + 1);
}

// Hands the records the index thread has prepared (attributes and text) to
// a writer thread, a few at a time. While the writer compresses and indexes
// one record, the index thread already waits for the next file's text from
// the crawl service, which runs in its own process: the two halves of the
// pipeline overlap on two cores instead of taking turns.
template <typename Record>
class RecordPipe {
 public:
  explicit RecordPipe(size_t capacity) : capacity_(capacity) {}

  // Waits while the pipe is full.
  void Push(Record record) {
    std::unique_lock lock(mutex_);
    room_.wait(lock, [this] { return records_.size() < capacity_; });
    records_.push_back(std::move(record));
    ready_.notify_one();
  }

  // Waits for a record; false once the pipe is closed and empty. The caller
  // calls Done() when the record is written.
  bool Pop(Record* record) {
    std::unique_lock lock(mutex_);
    ready_.wait(lock, [this] { return closed_ || !records_.empty(); });
    if (records_.empty()) return false;
    *record = std::move(records_.front());
    records_.pop_front();
    ++writing_;
    room_.notify_one();
    return true;
  }

  void Done() {
    std::lock_guard lock(mutex_);
    --writing_;
    room_.notify_all();
  }

  // Waits until every record pushed so far is written.
  void WaitWritten() {
    std::unique_lock lock(mutex_);
    room_.wait(lock, [this] { return records_.empty() && writing_ == 0; });
  }

  void Close() {
    std::lock_guard lock(mutex_);
    closed_ = true;
    ready_.notify_all();
  }

 private:
  const size_t capacity_;
  std::mutex mutex_;
  std::condition_variable ready_;  // a record arrived, or the pipe closed
  std::condition_variable room_;   // a record left or was written
  std::deque<Record> records_;
  int writing_ = 0;
  bool closed_ = false;
};

// Records prepared ahead of the writer: enough to keep it busy while one
// text request takes long, few enough that texts of up to several MB each
// stay a small amount of memory.
constexpr size_t kPreparedRecords = 4;

}  // namespace

// A record ready for the writer thread, with the queue entry it came from.
struct Crawler::Prepared {
  DocumentRecord record;
  Crawler::Entry entry;
};

Crawler::Crawler(CrawlerEnvironment env) : env_(std::move(env)) {}

Crawler::~Crawler() {
  StopScan();
  StopIndexing();
}

std::string Crawler::scan_position() const {
  std::lock_guard lock(position_mutex_);
  return scan_position_;
}

std::string Crawler::index_position() const {
  std::lock_guard lock(position_mutex_);
  return index_position_;
}

CrawlStats Crawler::stats() const {
  CrawlStats s;
  s.walk_ns = counters_.walk_ns;
  s.queue_ns = counters_.queue_ns;
  s.extract_ns = counters_.extract_ns;
  s.write_ns = counters_.write_ns;
  s.flush_ns = counters_.flush_ns;
  s.files = counters_.files;
  s.text_units = counters_.text_units;
  return s;
}

void Crawler::SetScanPosition(const std::string& text) {
  std::lock_guard lock(position_mutex_);
  scan_position_ = text.substr(0, 500);
}

void Crawler::SetIndexPosition(const std::string& text) {
  std::lock_guard lock(position_mutex_);
  index_position_ = text;
}

void Crawler::StartScan() {
  std::lock_guard control(control_mutex_);
  StartScanThread(/*full_pass=*/true);
}

void Crawler::StartScanThread(bool full_pass) {
  if (scan_thread_.joinable()) {
    if (scanning_) return;
    scan_thread_.join();
  }
  stop_scan_ = false;
  if (full_pass) {
    {
      std::lock_guard lock(failures_mutex_);
      service_failures_.clear();
    }
    // A walk starts from an empty queue. Emptying it here, before the
    // thread runs, keeps an index thread started next from taking the
    // entries of an interrupted walk that the new walk queues again: in
    // fast-insert mode those would be written twice.
    if (WalkDue()) ClearQueue();
  }
  scanning_ = true;
  scan_thread_ = std::thread(&Crawler::ScanThread, this, full_pass);
}

void Crawler::RequestReconcile(const ReconcileRequest& request) {
  std::lock_guard control(control_mutex_);
  {
    std::lock_guard lock(reconcile_mutex_);
    pending_reconcile_.Merge(request);
    if (scanning_) return;  // the running thread takes it before it ends
  }
  if (!env_.writer->fast_insert()) StartScanThread(/*full_pass=*/false);
}

ReconcileStats Crawler::reconcile_stats() const {
  std::lock_guard lock(reconcile_mutex_);
  return reconciler_ ? reconciler_->stats() : ReconcileStats{};
}

std::map<std::string, RootSummary> Crawler::reconciled_roots() const {
  std::lock_guard lock(reconcile_mutex_);
  return reconciler_ ? reconciler_->roots() : std::map<std::string, RootSummary>{};
}

bool Crawler::AnyTypeList() const {
  for (int k = 0; k < 4; ++k) {
    if (env_.scope->TypeList(static_cast<TypeListKind>(k)).size() > 2) return true;
  }
  return false;
}

bool Crawler::WalkDue() const {
  return AnyTypeList() &&
         env_.settings->GetValue(kSearchSection, key::kFullScanDone, kFalse) != kTrue;
}

void Crawler::StopScan() {
  std::lock_guard control(control_mutex_);
  stop_scan_ = true;
  if (scan_thread_.joinable()) scan_thread_.join();
}

void Crawler::StartIndexing() {
  if (index_thread_.joinable()) return;
  stop_index_ = false;
  index_thread_ = std::thread(&Crawler::IndexThread, this);
}

void Crawler::StopIndexing() {
  stop_index_ = true;
  if (index_thread_.joinable()) index_thread_.join();
}

bool Crawler::Reindex(bool keep_index) {
  const bool indexing = index_thread_.joinable();
  StopScan();
  StopIndexing();
  bool emptied = true;
  if (!keep_index) {
    clearing_ = true;
    env_.scope->SetClearing(true);
    emptied = env_.writer->ClearDocuments();
    emptied = ClearQueue() && emptied;
    env_.scope->SetClearing(false);
    clearing_ = false;
  }
  env_.settings->SetValue(kSearchSection, key::kFullScanDone, kFalse);
  (void)env_.settings->Save();
  // Appending without the duplicate check is safe only on a table that is
  // really empty.
  const bool fast = !keep_index && emptied;
  env_.writer->set_fast_insert(fast);
  first_pass_ = fast;
  StartScan();
  if (indexing) StartIndexing();
  return emptied;
}

int64_t Crawler::NowMs() const { return env_.clock_ms ? env_.clock_ms() : MonotonicMs(); }

bool Crawler::PollUserIdle() {
  if (env_.user_idle_probe && speed_mode_.load() == SpeedMode::kIdleHighSpeed) {
    const int64_t now = NowMs();
    int64_t due = next_idle_poll_ms_;
    // One thread polls; the other keeps the flag as it is.
    if (now >= due &&
        next_idle_poll_ms_.compare_exchange_strong(due, now + env_.user_idle_poll_ms)) {
      user_idle_ = env_.user_idle_probe();
    }
  }
  return user_idle_;
}

void Crawler::Throttle(int low_ms, int idle_ms) {
  const SpeedMode mode = speed_mode_.load();
  const bool idle = PollUserIdle();
  // The index flushes keep the pace of the walk and the queue: the engine's
  // own switch (indexing_pace.h) follows the speed menu and the idle state.
  SetIndexingSpeedMode(static_cast<int>(mode));
  SetUserIdle(idle);
  switch (mode) {
    case SpeedMode::kLowSpeed:
      Sleep(low_ms);
      break;
    case SpeedMode::kIdleHighSpeed:
      if (!idle) Sleep(idle_ms);
      break;
    case SpeedMode::kHighSpeed:
      break;
  }
}

bool Crawler::Queue(const std::string& path, bool is_directory) {
  DataTable* queue = EnsureQueueTable(*env_.project);
  if (!queue) return false;
  RecordWriter writer = queue->NewRecord();
  writer.SetValue(doc::kName, Variant::Bstr(ToWide(PathText(path))));
  writer.SetValue(doc::kType, Variant::I4(is_directory ? 1 : 0));
  return writer.Commit().ok();
}

Crawler::Take Crawler::TakeEntry(Entry* entry, std::string* path, bool* is_directory) {
  StageTimer timer(counters_.queue_ns);
  std::lock_guard lock(queue_mutex_);
  DataTable* queue = env_.project->FindTable(kQueueTable);
  if (!queue) return Take::kNone;
  const uint32_t end = queue->record_count();
  auto skip = [&](uint32_t from) {
    while (from < end && (queue->IsDeleted(from) || in_flight_.count(from))) ++from;
    return from;
  };
  if (next_entry_ > end) next_entry_ = 0;  // the table was emptied meanwhile
  next_entry_ = skip(next_entry_);
  if (next_entry_ >= end) {
    // Entries waiting, none after the position: the table was emptied and
    // filled past the position again between two looks, or an entry was
    // given back. Start over from its first record.
    if (queue->live_count() <= in_flight_.size()) return Take::kNone;
    next_entry_ = skip(0);
    if (next_entry_ >= end) return Take::kNone;
  }
  entry->record = next_entry_++;
  entry->epoch = queue_epoch_;
  in_flight_.insert(entry->record);
  LUN_KILL_POINT("crawler-entry-taken");
  const Variant name = queue->GetFieldValue(entry->record, 0);
  const Variant kind = queue->GetFieldValue(entry->record, 1);
  *path = PathOnDisk(ToNarrow(name.AsString()));
  *is_directory = kind.AsInteger() == 1;
  return !name.is_empty() && !kind.is_empty() ? Take::kEntry : Take::kBadEntry;
}

void Crawler::DropEntry(const Entry& entry) {
  StageTimer timer(counters_.queue_ns);
  std::lock_guard lock(queue_mutex_);
  if (entry.epoch != queue_epoch_) return;
  in_flight_.erase(entry.record);
  if (DataTable* queue = env_.project->FindTable(kQueueTable))
    (void)queue->DeleteRecord(entry.record);
}

void Crawler::ReleaseEntry(const Entry& entry) {
  std::lock_guard lock(queue_mutex_);
  if (entry.epoch != queue_epoch_) return;
  in_flight_.erase(entry.record);
  next_entry_ = std::min(next_entry_, entry.record);
}

uint32_t Crawler::WaitingEntries() {
  std::lock_guard lock(queue_mutex_);
  const DataTable* queue = env_.project->FindTable(kQueueTable);
  if (!queue) return 0;
  const uint32_t live = queue->live_count();
  return live > in_flight_.size() ? live - static_cast<uint32_t>(in_flight_.size()) : 0;
}

bool Crawler::ClearQueue() {
  std::lock_guard lock(queue_mutex_);
  ++queue_epoch_;
  in_flight_.clear();
  next_entry_ = 0;
  DataTable* queue = env_.project->FindTable(kQueueTable);
  return !queue || queue->ClearTable().ok();
}

bool Crawler::Walk(const std::string& directory, const std::vector<std::string>& walked) {
  if (env_.scope->IsDirectoryExcluded(directory)) return true;
  for (const std::string& done : walked) {
    if (IsPathUnder(directory, done)) return true;
  }
  SetScanPosition(directory);
  const bool queue_directories =
      ListContainsToken(env_.scope->TypeList(TypeListKind::kDocument), "|DIRECTORY|");
  auto queue = [this](const std::string& path, bool is_directory) {
    const int64_t start = SteadyNs();
    Queue(path, is_directory);
    walk_queue_ns_ += SteadyNs() - start;
  };
  for (const std::string& path : ListDirectory(directory)) {
    Throttle(500, 100);
    if (stop_scan_) return false;
    struct stat st;
    if (lstat(path.c_str(), &st) != 0 || S_ISLNK(st.st_mode)) continue;
    if (S_ISDIR(st.st_mode)) {
      if (queue_directories && !env_.scope->IsDirectoryExcluded(path)) queue(path, true);
      if (!Walk(path, walked)) return false;
    } else if (S_ISREG(st.st_mode) &&
               (env_.scope->IsTypeAdmitted(TypeTokenOf(path)) ||
                (!env_.scope->IsFileExcluded(path) && AdmitsUnknown(path)))) {
      queue(path, false);
      SetScanPosition(path);
    }
  }
  return true;
}

void Crawler::ScanThread(bool full_pass) {
  LUN_CRASH_POINT("scan");
  if (full_pass && AnyTypeList()) FullPass();
  for (;;) {
    RunReconciliations();
    std::lock_guard lock(reconcile_mutex_);
    // A request that came while the last pass ran is taken now; one that
    // waits for the fast-insert mode to end is started by the index thread.
    if (stop_scan_ || pending_reconcile_.empty() || env_.writer->fast_insert()) {
      scanning_ = false;
      return;
    }
  }
}

void Crawler::FullPass() {
  SettingsStore& settings = *env_.settings;
  if (!EnsureQueueTable(*env_.project)) return;
  if (WalkDue()) {
    const int64_t start = SteadyNs();
    walk_queue_ns_ = 0;
    std::vector<std::string> walked;
    const std::vector<std::string> roots = env_.scope->PermittedRoots();
    if (!env_.desktop.empty()) {
      for (const std::string& root : roots) {
        if (env_.desktop.find(root) != std::string::npos) {
          if (Walk(env_.desktop, walked)) walked.push_back(env_.desktop);
          break;
        }
      }
    }
    for (const std::string& root : roots) {
      if (!Walk(root, walked)) break;
      walked.push_back(root);
    }
    counters_.queue_ns += walk_queue_ns_;
    counters_.walk_ns += SteadyNs() - start - walk_queue_ns_;
  }
  if (env_.index_mail && !stop_scan_) {
    SetScanPosition("邮件");
    env_.index_mail();
  }
  SetScanPosition("已完成");
  first_pass_ = false;
  if (stop_scan_) first_index_ = false;
  settings.SetValue(kSearchSection, key::kFullScanDone, stop_scan_ ? kFalse : kTrue);
  (void)settings.Save();
}

void Crawler::RunReconciliations() {
  if (!AnyTypeList()) return;
  if (!reconciler_) {
    ReconcileHooks hooks;
    hooks.queue = [this](const std::string& path, bool is_directory) {
      return Queue(path, is_directory);
    };
    hooks.admit_unknown = [this](const std::string& path) { return AdmitsUnknown(path); };
    hooks.detects_text = [this] { return env_.detects_text && env_.detects_text(); };
    hooks.throttle = [this] { Throttle(500, 100); };
    hooks.position = [this](const std::string& text) { SetScanPosition(text); };
    hooks.realtime_delete = [this] {
      return FlagIsTrue(env_.settings->GetValue(kSearchSection, key::kRealtimeDelete, kFalse));
    };
    // Under the lock: the status displays read it from other threads.
    std::lock_guard lock(reconcile_mutex_);
    reconciler_ = std::make_unique<Reconciler>(*env_.scope, *env_.writer, std::move(hooks));
  }
  while (!stop_scan_ && !env_.writer->fast_insert()) {
    ReconcileRequest request;
    {
      std::lock_guard lock(reconcile_mutex_);
      std::swap(request, pending_reconcile_);
    }
    if (request.empty()) break;
    reconciling_ = true;
    const ReconcileStats before = reconciler_->stats();
    const int64_t started_ms = MonotonicMs();
    const bool finished = reconciler_->Run(request, stop_scan_);
    reconciling_ = false;
    if (finished) LogReconcilePass(before, reconciler_->stats(), MonotonicMs() - started_ms);
    if (!finished) {
      // Stopped: the request waits for the next start of the thread (and
      // the start-up pass covers everything anyway).
      std::lock_guard lock(reconcile_mutex_);
      pending_reconcile_.Merge(request);
      break;
    }
  }
}

void Crawler::LogReconcilePass(const ReconcileStats& before, const ReconcileStats& after,
                               int64_t elapsed_ms) {
  char seconds[32];
  std::snprintf(seconds, sizeof seconds, "%.2f", static_cast<double>(elapsed_ms) / 1000);
  AppendEngineErrorLog("核对完成: 比较 " + std::to_string(after.checked - before.checked) +
                       "，重新索引 " + std::to_string(after.queued - before.queued) + "，移除 " +
                       std::to_string(after.removed - before.removed) + "，用时 " + seconds +
                       " 秒");
}

void Crawler::IndexThread() {
  const DataTable* documents = env_.project->FindTable(kDocumentTable);
  if (!documents || documents->live_count() == 0 || env_.scope->used_default_roots()) {
    first_index_ = true;
  }
  RecordPipe<Prepared> pipe(kPreparedRecords);
  std::thread writer([this, &pipe] {
    Prepared prepared;
    while (pipe.Pop(&prepared)) {
      WriteRecordOfPath(prepared.record, false);
      // The record is committed: only now may its queue entry go.
      DropEntry(prepared.entry);
      pipe.Done();
    }
  });
  bool queue_had_records = false;
  while (!stop_index_) {
    if (paused_) {
      Sleep(100);
      continue;
    }
    if (WaitingEntries() == 0) {
      // The first full scan's queue has run dry: once its last records are
      // written, every write checks for an older record of its path, and
      // the user may search everything.
      // (A first scan that found nothing ends the mode too.)
      if (!first_pass_ && (queue_had_records || env_.writer->fast_insert())) {
        queue_had_records = false;
        pipe.WaitWritten();
        // The mail passes waited for the first indexing, not for the end
        // of the session.
        first_index_ = false;
        if (env_.writer->fast_insert()) {
          if (env_.notify) env_.notify(kScanDoneTitle, kScanDoneText);
          env_.writer->set_fast_insert(false);
          // Reconciliations asked for meanwhile waited for this.
          RequestReconcile({});
        }
      }
      Sleep(100);
      continue;
    }
    queue_had_records = true;
    Throttle(500, 200);
    Entry entry;
    std::string path;
    bool is_directory = false;
    const Take take = TakeEntry(&entry, &path, &is_directory);
    if (take == Take::kNone) {
      Sleep(10);  // an append under way; look again
      continue;
    }
    if (take == Take::kBadEntry) {
      DropEntry(entry);
      continue;
    }
    SetIndexPosition(path);
    IndexOutcome outcome = IndexOutcome::kNothingToWrite;
    std::optional<DocumentRecord> record =
        is_directory ? DirectoryDocumentOf(path) : FileDocumentOf(path, false, &outcome);
    if (outcome == IndexOutcome::kWrittenWithoutText || outcome == IndexOutcome::kNoDiskSpace) {
      // The service is down or the disk full, not the file: rather than a
      // record without text for good (an unchanged file is never read
      // again), the entry stays and the thread waits.
      ReleaseEntry(entry);
      Sleep(low_disk_ ? kLowDiskWaitMs : kServiceWaitMs);
    } else if (record) {
      pipe.Push(Prepared{std::move(*record), entry});
    } else {
      DropEntry(entry);
    }
    SetIndexPosition("");
  }
  // The entries taken are written before the thread ends.
  pipe.Close();
  writer.join();
  if (WaitingEntries() == 0) {
    DataTable* queue = env_.project->FindTable(kQueueTable);
    if (queue && queue->record_count() > 0 && queue->live_count() == 0) (void)ClearQueue();
  }
  if (DataTable* table = env_.project->FindTable(kDocumentTable)) {
    StageTimer timer(counters_.flush_ns);
    // The change monitor and the mail sources may be writing.
    table->WriteLock();
    (void)table->FlushIndexes();
    table->Unlock();
  }
  first_index_ = false;
}

IndexOutcome Crawler::IndexFile(const std::string& path, bool force) {
  IndexOutcome outcome = IndexOutcome::kNothingToWrite;
  std::optional<DocumentRecord> record = FileDocumentOf(path, force, &outcome);
  if (record && !WriteRecordOfPath(*record, force)) return IndexOutcome::kFailed;
  return outcome;
}

bool Crawler::AdmitsUnknown(const std::string& path) {
  if (!env_.detects_text || !env_.detects_text()) return false;
  struct stat st;
  if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  const std::pair<int64_t, int64_t> state{st.st_size, st.st_mtime};
  {
    std::lock_guard lock(not_text_mutex_);
    const auto it = not_text_.find(path);
    if (it != not_text_.end() && it->second == state) return false;
  }
  if (FileLooksLikeText(path)) return true;
  std::lock_guard lock(not_text_mutex_);
  not_text_[path] = state;
  return false;
}

bool Crawler::CheckDiskSpace() {
  const bool enough = HasDiskSpace(env_.data_path, kMinFreeMegabytes);
  if (enough) {
    if (low_disk_.exchange(false)) {
      // What changed while nothing was written is found again.
      RequestReconcile(ReconcileRequest{.everything = true, .trees = {}, .prune = false});
    }
    return true;
  }
  if (!low_disk_.exchange(true) && env_.notify) env_.notify(kLowDiskTitle, kLowDiskText);
  return false;
}

std::optional<DocumentRecord> Crawler::FileDocumentOf(const std::string& path, bool force,
                                                      IndexOutcome* outcome) {
  *outcome = IndexOutcome::kNothingToWrite;
  if (env_.scope->IsFileExcluded(path)) return std::nullopt;
  const std::string token = TypeTokenOf(path);
  const bool admitted = env_.scope->IsTypeAdmitted(token);
  if (!admitted && !AdmitsUnknown(path)) return std::nullopt;
  if (!CheckDiskSpace()) {
    *outcome = IndexOutcome::kNoDiskSpace;
    return std::nullopt;
  }
  struct stat st;
  if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
  // Linux keeps no creation time in stat; the inode change time is the
  // nearest there is.
  const double created = FileTimeToDate(st.st_ctime);
  const double modified = FileTimeToDate(st.st_mtime);
  const std::string documents = env_.scope->TypeList(TypeListKind::kDocument);
  if (token == "|CHM|" && ListContainsToken(documents, token)) {
    IndexCompiledHelp(path, created, modified, force);
    *outcome = IndexOutcome::kWritten;
    return std::nullopt;
  }
  DocumentRecord record;
  record.name = BaseName(path);
  record.type = Extension(path);
  record.path = path;
  record.size = static_cast<uint32_t>(st.st_size);
  record.created = created;
  record.modified = modified;
  record.file_id = FileIdOf(st.st_dev, st.st_ino);
  // An unchanged file is not read again (a queue entry taken a second time
  // after a restart, a reconciliation that met a file the monitor wrote).
  if ((force || !env_.writer->fast_insert()) && env_.writer->IsCurrent(record)) return std::nullopt;
  *outcome = IndexOutcome::kWritten;
  if (!env_.archive_reader.empty() && ListContainsToken(documents, token) &&
      HoldsMembers(UpperAscii(record.type))) {
    // The archive's (or mail store's) own record holds the names of its
    // members.
    record.text = IndexArchive(path, created, modified, force);
    return record;
  }
  // A file over the size limit is found by its name and attributes; its
  // text is never read.
  if (!IsSizeIndexable(static_cast<uint64_t>(st.st_size))) {
    skipped_.Add(kSkipOversize, path);
    return record;
  }
  if (!admitted) {
    // Admitted as text by its content: decoded here, whatever its charset.
    std::string bytes;
    if (ReadWholeFile(DefaultFileSystem(), path, &bytes) == 0) {
      record.text = DecodeText(bytes);
      ScrubControlCharacters(&record.text);
    }
    return record;
  }
  const bool wants_text =
      (ListContainsToken(documents, token) && env_.service_extracts &&
       env_.service_extracts(token)) ||
      ListContainsToken(env_.scope->TypeList(TypeListKind::kOtherText), token) ||
      ListContainsToken(env_.scope->TypeList(TypeListKind::kPlugin), token) ||
      ListContainsToken(env_.scope->TypeList(TypeListKind::kMsnPlugin), token);
  bool unavailable = false;
  if (wants_text && env_.extract_text) record.text = ServiceTextOf(path, &unavailable);
  // Read after the service has read the file, so its bytes come from the
  // page cache; not when the service is down (the entry waits in the queue
  // and its record is not written now).
  if (unavailable) {
    *outcome = IndexOutcome::kWrittenWithoutText;
  } else {
    record.md5 = Md5OfFile(path);
  }
  return record;
}

std::u16string Crawler::IndexArchive(const std::string& path, double created, double modified,
                                     bool force) {
  const TypeLists lists{env_.scope->TypeList(TypeListKind::kDocument),
                        env_.scope->TypeList(TypeListKind::kOtherText),
                        env_.scope->TypeList(TypeListKind::kPlugin),
                        env_.scope->TypeList(TypeListKind::kMsnPlugin)};
  // Pictures inside are read as the crawl service reads those outside.
  const bool recognize =
      env_.settings &&
      FlagIsTrue(env_.settings->GetValue(kSearchSection, key::kImageTextRecognition, kFalse));
  StageTimer timer(counters_.extract_ns);
  ArchiveSummary summary = ForEachArchiveMember(
      env_.archive_reader, path, lists, recognize, &stop_index_, [&](const ArchiveMember& member) {
        DocumentRecord record;
        record.name = member.name;
        record.type = member.type;
        record.path = member.key;
        record.size = static_cast<uint32_t>(member.size);
        record.created = created;
        record.modified = member.mtime > 0 ? FileTimeToDate(member.mtime) : modified;
        record.text = member.text;
        // Mail records carry the digest of their text, as every mail source's do.
        if (member.type == kMailStoreMessageType) record.md5 = Md5OfText(record.text);
        WriteRecord(record, force);
        return true;
      });
  if (!summary.error.empty()) {
    // What was read stands; the file is listed among those without their text.
    skipped_.Add(kSkipExtractFailed, path);
    AppendEngineErrorLog("无法完整读取: " + path + " (" + summary.error + ")");
  }
  return std::move(summary.names);
}

std::u16string Crawler::ServiceTextOf(const std::string& path, bool* unavailable) {
  StageTimer timer(counters_.extract_ns);
  auto failures = [this, &path] {
    std::lock_guard lock(failures_mutex_);
    const auto it = service_failures_.find(path);
    return it == service_failures_.end() ? 0 : it->second;
  };
  std::u16string text;
  // The client has restarted the service after a failed exchange, so the
  // second try meets a fresh one.
  while (failures() < kMaxServiceFailures) {
    const CrawlOutcome outcome = env_.extract_text(path, &text);
    if (outcome == CrawlOutcome::kText) return text;
    text.clear();
    *unavailable = outcome == CrawlOutcome::kServiceUnavailable || outcome == CrawlOutcome::kClosed;
    if (outcome != CrawlOutcome::kServiceFailed) break;
    std::lock_guard lock(failures_mutex_);
    ++service_failures_[path];
  }
  if (failures() >= kMaxServiceFailures) skipped_.Add(kSkipExtractFailed, path);
  return text;
}

void Crawler::IndexCompiledHelp(const std::string& path, double created, double modified,
                                bool force) {
  // Pages are written with the caller's `force`: a help file changed under
  // the change monitor replaces its pages' records instead of adding a
  // second set while fast-insert mode lasts.
  ForEachCompiledHelpPage(path, &stop_index_, [&](const CompiledHelpPage& page) {
    DocumentRecord record;
    record.name = page.name;
    record.type = "CHM";
    record.path = page.key;
    record.size = static_cast<uint32_t>(page.size);
    record.created = created;
    record.modified = modified;
    record.text = page.text;
    WriteRecord(record, force);
    return true;
  });
}

bool Crawler::WriteRecord(const DocumentRecord& record, bool force) {
  StageTimer timer(counters_.write_ns);
  ++counters_.files;
  counters_.text_units += record.text.size();
  return env_.writer->AddOrUpdateDocument(record, force);
}

bool Crawler::WriteRecordOfPath(const DocumentRecord& record, bool force) {
  const bool written = WriteRecord(record, force);
  // Deleted, renamed or moved (with a directory above it) while it was
  // read: the record just written names a path that is gone, and the change
  // that took the path away may have been handled before the record
  // existed (a deletion that found nothing to remove, a moved tree that did
  // not carry it along). The record goes, and a reconciliation finds the
  // file wherever it is now.
  struct stat st;
  if (lstat(record.path.c_str(), &st) == 0) return written;
  env_.writer->RemoveDocuments(record.path);
  RequestReconcile(ReconcileRequest{.everything = true, .trees = {}, .prune = false});
  return written;
}

IndexOutcome Crawler::IndexDirectory(const std::string& path) {
  const std::optional<DocumentRecord> record = DirectoryDocumentOf(path);
  if (!record) return IndexOutcome::kNothingToWrite;
  return WriteRecordOfPath(*record, false) ? IndexOutcome::kWritten : IndexOutcome::kFailed;
}

std::optional<DocumentRecord> Crawler::DirectoryDocumentOf(const std::string& path) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return std::nullopt;
  DocumentRecord record;
  record.name = BaseName(path);
  record.type = "DIR";
  record.path = path;
  record.created = FileTimeToDate(st.st_ctime);
  record.modified = FileTimeToDate(st.st_mtime);
  return record;
}

}  // namespace lun
