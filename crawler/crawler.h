// The crawler's two background threads and the per-file pipeline.
//
// The scan thread walks the permitted roots (scan_scope.h) once and queues
// every admitted file and directory in the table "待扫描文件"; the index
// thread takes queued entries in record order, gathers each file's
// attributes and text and writes its document record (document_table.h).
// The queue is a table of the database, so it survives restarts; the setting
// "完成全面扫描" remembers that a full walk has finished, so a later start
// only resumes the queue.
//
// Symbolic links are not followed: a link to a directory could lead the walk
// in a circle or out of the permitted roots, and a linked file is indexed
// under its own path when its tree is walked.
//
// Thread safety: the control members (Start*/Stop*, flags) may be called
// from any thread; the flags are polled by the threads between entries.
#ifndef LUN_CRAWLER_CRAWLER_H_
#define LUN_CRAWLER_CRAWLER_H_

#include <atomic>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "crawler/document_table.h"

namespace lun {

class ScanScope;
class SettingsStore;

struct CrawlerEnvironment {
  SearchProject* project = nullptr;
  SearchService* search = nullptr;
  SettingsStore* settings = nullptr;
  ScanScope* scope = nullptr;
  DocumentWriter* writer = nullptr;
  // The text of a file from the crawl service; nullopt when it has none.
  std::function<std::optional<std::u16string>(const std::string& path)> extract_text;
  // True when the crawl service can extract text of this type token.
  std::function<bool(const std::string& token)> service_extracts;
  // A notice for the user (title, text).
  std::function<void(const std::string& title, const std::string& text)> notify;
  // Where the database lives, for the free-space check.
  std::string data_path;
  // The user's desktop folder, walked first when it lies under a root.
  std::string desktop;
};

enum class SpeedMode { kIdleHighSpeed = 0, kHighSpeed = 1, kLowSpeed = 2 };

class Crawler {
 public:
  explicit Crawler(CrawlerEnvironment env);
  ~Crawler();  // stops both threads
  Crawler(const Crawler&) = delete;
  Crawler& operator=(const Crawler&) = delete;

  // Starts the scan thread (nothing when it runs already) / asks it to stop
  // and waits for it.
  void StartScan();
  void StopScan();
  // Starts the index thread / asks it to stop and waits for it.
  void StartIndexing();
  void StopIndexing();

  // Appends one entry to the queue table (created when missing).
  bool Queue(const std::string& path, bool is_directory);
  // The per-file pipeline; `force` checks for an older record of the path
  // even in fast-insert mode (the change monitor's writes).
  void IndexFile(const std::string& path, bool force);
  void IndexDirectory(const std::string& path);
  // Indexes every admitted file below `directory` now (with the duplicate
  // check, so unchanged files cost one query): how trees that cannot be
  // watched are kept current. Stops early when `stop` is raised.
  void IndexTree(const std::string& directory, const std::atomic<bool>& stop);

  // Control state, read and written by the desktop shell.
  std::atomic<bool> paused{false};
  std::atomic<int> speed_mode{static_cast<int>(SpeedMode::kHighSpeed)};
  std::atomic<bool> user_idle{false};
  // The walking part of the first full scan is still running.
  std::atomic<bool> first_pass{false};

  bool scanning() const { return scanning_; }
  std::string scan_position() const;
  std::string index_position() const;

 private:
  void ScanThread();
  void IndexThread();
  // False when the walk must stop.
  bool Walk(const std::string& directory);
  // Takes the next queued entry; false when the queue is empty.
  bool TakeEntry(std::string* path, bool* is_directory);
  void Throttle(int low_ms, int idle_ms) const;
  void SetScanPosition(const std::string& text);
  void SetIndexPosition(const std::string& text);

  CrawlerEnvironment env_;
  std::thread scan_thread_;
  std::thread index_thread_;
  std::atomic<bool> stop_scan_{false};
  std::atomic<bool> stop_index_{false};
  std::atomic<bool> scanning_{false};
  mutable std::mutex position_mutex_;
  std::string scan_position_;
  std::string index_position_;
  uint32_t next_entry_ = 0;  // index thread only: lowest queue record not yet taken
};

}  // namespace lun

#endif  // LUN_CRAWLER_CRAWLER_H_
