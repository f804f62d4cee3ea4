#include "crawler/crawler.h"

#include <sys/stat.h>

#include <chrono>
#include <vector>

#include "automation/variant.h"
#include "config/settings_store.h"
#include "crawler/scan_scope.h"
#include "engine/storage/data_table.h"
#include "engine/storage/search_project.h"
#include "platform/paths.h"
#include "platform/text.h"

namespace lun {
namespace {

constexpr uint64_t kMinFreeMegabytes = 100;
constexpr char kLowDiskTitle[] = "警告";
constexpr char kLowDiskText[] = "剩余磁盘空间低于100M，系统将不再索引文件。";
constexpr char kScanDoneTitle[] = "扫描完成";
constexpr char kScanDoneText[] = "系统已经完成文件扫描，您现在可以搜索全部内容。";

void Sleep(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

// The extension as written in the name, without the dot.
std::string Extension(const std::string& path) {
  const std::string name = BaseName(path);
  const size_t dot = name.rfind('.');
  return dot == std::string::npos ? std::string() : name.substr(dot + 1);
}

}  // namespace

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

void Crawler::SetScanPosition(const std::string& text) {
  std::lock_guard lock(position_mutex_);
  scan_position_ = text.substr(0, 500);
}

void Crawler::SetIndexPosition(const std::string& text) {
  std::lock_guard lock(position_mutex_);
  index_position_ = text;
}

void Crawler::StartScan() {
  if (scan_thread_.joinable()) {
    if (scanning_) return;
    scan_thread_.join();
  }
  stop_scan_ = false;
  scanning_ = true;
  scan_thread_ = std::thread(&Crawler::ScanThread, this);
}

void Crawler::StopScan() {
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

void Crawler::Throttle(int low_ms, int idle_ms) const {
  switch (static_cast<SpeedMode>(speed_mode.load())) {
    case SpeedMode::kLowSpeed: Sleep(low_ms); break;
    case SpeedMode::kIdleHighSpeed:
      if (!user_idle) Sleep(idle_ms);
      break;
    case SpeedMode::kHighSpeed: break;
  }
}

bool Crawler::Queue(const std::string& path, bool is_directory) {
  DataTable* queue = EnsureQueueTable(*env_.project);
  if (!queue || !queue->BeginRecord()) return false;
  queue->SetValue(doc::kName, Variant::Bstr(ToWide(path)));
  queue->SetValue(doc::kType, Variant::I4(is_directory ? 1 : 0));
  return queue->CommitRecord().ok();
}

bool Crawler::TakeEntry(std::string* path, bool* is_directory) {
  DataTable* queue = env_.project->FindTable(kQueueTable);
  if (!queue) return false;
  const uint32_t end = queue->record_count();
  if (next_entry_ > end) next_entry_ = 0;  // the table was emptied meanwhile
  while (next_entry_ < end && queue->IsDeleted(next_entry_)) ++next_entry_;
  if (next_entry_ >= end) return false;
  const uint32_t record = next_entry_++;
  const Variant name = queue->GetFieldValue(record, 0);
  const Variant kind = queue->GetFieldValue(record, 1);
  queue->DeleteRecord(record);
  *path = ToNarrow(name.AsString());
  *is_directory = kind.AsInteger() == 1;
  return !name.is_empty() && !kind.is_empty();
}

bool Crawler::Walk(const std::string& directory) {
  if (env_.scope->IsDirectoryExcluded(directory)) return true;
  SetScanPosition(directory);
  const bool queue_directories =
      ListContainsToken(env_.scope->TypeList(TypeListKind::kDocument), "|DIRECTORY|");
  for (const std::string& path : ListDirectory(directory)) {
    Throttle(500, 100);
    if (stop_scan_) return false;
    struct stat st;
    if (lstat(path.c_str(), &st) != 0 || S_ISLNK(st.st_mode)) continue;
    if (S_ISDIR(st.st_mode)) {
      if (queue_directories && !env_.scope->IsDirectoryExcluded(path)) Queue(path, true);
      if (!Walk(path)) return false;
    } else if (S_ISREG(st.st_mode) && env_.scope->IsTypeAdmitted(TypeTokenOf(path))) {
      Queue(path, false);
      SetScanPosition(path);
    }
  }
  return true;
}

void Crawler::IndexTree(const std::string& directory, const std::atomic<bool>& stop) {
  if (env_.scope->IsDirectoryExcluded(directory)) return;
  for (const std::string& path : ListDirectory(directory)) {
    if (stop) return;
    struct stat st;
    if (lstat(path.c_str(), &st) != 0 || S_ISLNK(st.st_mode)) continue;
    if (S_ISDIR(st.st_mode)) {
      IndexTree(path, stop);
    } else if (S_ISREG(st.st_mode)) {
      IndexFile(path, /*force=*/true);
    }
  }
}

void Crawler::ScanThread() {
  SettingsStore& settings = *env_.settings;
  bool any_list = false;
  for (int k = 0; k < 4; ++k) {
    any_list |= env_.scope->TypeList(static_cast<TypeListKind>(k)).size() > 2;
  }
  if (any_list) {
    env_.scope->ClearWalkedRoots();
    DataTable* queue = EnsureQueueTable(*env_.project);
    if (queue) {
      if (settings.GetValue(kSearchSection, key::kFullScanDone, kFalse) != kTrue) {
        (void)queue->ClearTable();
        const std::vector<std::string> roots = env_.scope->PermittedRoots();
        if (!env_.desktop.empty()) {
          for (const std::string& root : roots) {
            if (env_.desktop.find(root) != std::string::npos) {
              Walk(env_.desktop);
              env_.scope->AddWalkedRoot(env_.desktop);
              break;
            }
          }
        }
        for (const std::string& root : roots) {
          if (!Walk(root)) break;
          env_.scope->AddWalkedRoot(root);
        }
      }
      SetScanPosition("已完成");
      first_pass = false;
      settings.SetValue(kSearchSection, key::kFullScanDone, stop_scan_ ? kFalse : kTrue);
      (void)settings.Save();
    }
  }
  scanning_ = false;
}

void Crawler::IndexThread() {
  bool queue_had_records = false;
  while (!stop_index_) {
    if (paused) {
      Sleep(100);
      continue;
    }
    std::string path;
    bool is_directory = false;
    DataTable* queue = env_.project->FindTable(kQueueTable);
    if (!queue || queue->live_count() == 0) {
      // The first full scan's queue has run dry: from now on every write
      // checks for an older record of its path, and the user may search
      // everything.
      if (!first_pass && queue_had_records) {
        queue_had_records = false;
        if (env_.writer->fast_insert() && env_.notify) env_.notify(kScanDoneTitle, kScanDoneText);
        env_.writer->set_fast_insert(false);
      }
      Sleep(100);
      continue;
    }
    queue_had_records = true;
    Throttle(500, 200);
    if (!TakeEntry(&path, &is_directory)) continue;
    SetIndexPosition(path);
    if (is_directory) {
      IndexDirectory(path);
    } else {
      IndexFile(path, false);
    }
    SetIndexPosition("");
  }
  DataTable* queue = env_.project->FindTable(kQueueTable);
  if (queue && queue->record_count() > 0 && queue->live_count() == 0) (void)queue->ClearTable();
  if (DataTable* documents = env_.project->FindTable(kDocumentTable)) {
    (void)documents->FlushIndexes();
  }
}

void Crawler::IndexFile(const std::string& path, bool force) {
  if (env_.scope->IsFileExcluded(path)) return;
  const std::string token = TypeTokenOf(path);
  if (!env_.scope->IsTypeAdmitted(token)) return;
  if (!HasDiskSpace(env_.data_path, kMinFreeMegabytes)) {
    if (env_.notify) env_.notify(kLowDiskTitle, kLowDiskText);
    return;
  }
  struct stat st;
  if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) ||
      !IsSizeIndexable(static_cast<uint64_t>(st.st_size))) {
    return;
  }
  DocumentRecord record;
  record.name = BaseName(path);
  record.type = Extension(path);
  record.path = path;
  record.size = static_cast<uint32_t>(st.st_size);
  // Linux keeps no creation time in stat; the inode change time is the
  // nearest there is.
  record.created = FileTimeToDate(st.st_ctime);
  record.modified = FileTimeToDate(st.st_mtime);
  const bool wants_text =
      (ListContainsToken(env_.scope->TypeList(TypeListKind::kDocument), token) &&
       env_.service_extracts && env_.service_extracts(token)) ||
      ListContainsToken(env_.scope->TypeList(TypeListKind::kOtherText), token) ||
      ListContainsToken(env_.scope->TypeList(TypeListKind::kPlugin), token) ||
      ListContainsToken(env_.scope->TypeList(TypeListKind::kMsnPlugin), token);
  if (wants_text && env_.extract_text) {
    if (std::optional<std::u16string> text = env_.extract_text(path)) record.text = std::move(*text);
  }
  env_.writer->AddOrUpdateDocument(record, force);
}

void Crawler::IndexDirectory(const std::string& path) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return;
  DocumentRecord record;
  record.name = BaseName(path);
  record.type = "DIR";
  record.path = path;
  record.created = FileTimeToDate(st.st_ctime);
  record.modified = FileTimeToDate(st.st_mtime);
  env_.writer->AddOrUpdateDocument(record, false);
}

}  // namespace lun
