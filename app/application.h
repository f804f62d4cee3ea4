// The application: brings every subsystem up in a fixed order and takes
// them down again in a fixed order.
//
// Start-up (Startup) runs once, on the thread that owns the user interface:
// instance lock, crash handler, plug-ins, text-filter registrations,
// settings, scan scope, the index database with the tables "日志" and "文档",
// autostart, the crawl service, the session code and session table, the web
// server, the category lists, the update checker, the change monitor, the
// mail sources, and the scan and index threads. Later steps rely on the
// effects of earlier ones, so the order is part of the contract.
// Shutdown stops them in the reverse order of their dependencies: mail
// sources, monitor, scan and index threads, web server, settings saved,
// database closed, crawl service told to exit.
//
// Index damage: the engine marks every index flush of a table with a marker
// file and rebuilds a marked table's indexes from its records when it opens
// it. Start-up consults that marker (and the flag "索引错误", which older
// installations or a user may have set): when either says the last run
// ended during an index write, the user is told that the index will be
// rebuilt, the index files of "文档" are removed (its records stay), and the
// engine rebuilds them from the records at open. One mechanism, the
// engine's; the flag is only read and cleared.
//
// Ownership and lifetime: the application owns every part it starts (the
// database, search service, document writer, crawl-service client, crawler,
// change monitor, mail sources, web server and their threads). Startup
// makes them, Shutdown (or the destructor) takes them down in the order
// above and frees them; nothing the application made outlives it. The user
// interface it is given is not owned and must outlive it. operations() is
// valid for the application's whole life: before Startup and after
// Shutdown its operations find no parts and do nothing.
//
// Thread safety: Startup and Shutdown on one thread; the accessors and the
// operations may be called from any thread once Startup has returned true.
#ifndef LUN_APP_APPLICATION_H_
#define LUN_APP_APPLICATION_H_

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "app/index_operations.h"
#include "app/user_interface.h"
#include "crawler/file_diagnosis.h"
#include "crawler/reconciler.h"
#include "crawler/scan_scope.h"
#include "platform/instance_lock.h"

namespace lun {

class ChangeMonitor;
class MailSources;
class PageRunner;
struct FtsEnvironment;
class UpdateChecker;
class CrawlServiceClient;
class Crawler;
class Dictionary;
class DocumentWriter;
class SavedSearches;
class SearchProject;
class SearchService;
class SettingsStore;
class WebServer;

// The version this build writes to "VERSION"; a stored version below it
// means the document table was made by an older build and is rebuilt.
inline constexpr char kLocalVersion[] = "0.7020051220";
inline constexpr char kApplicationCaption[] = "Tamrix桌面搜索";
// The fixed session code that pages accept from the loopback address.
inline constexpr char kFixedSessionCode[] = "20316842";
inline constexpr char kLocalUserName[] = "LUN_USER";

// The project file of the search index: setting "数据目录" (default
// "Data/local.db"), relative to the application home unless absolute.
std::string ApplicationDataFile(const SettingsStore& settings, const std::string& home);

struct ApplicationOptions {
  // The application home (created 0700 when missing). Required.
  std::string home;
  // Overrides "发布端口" for this run without writing it.
  std::optional<uint16_t> port;
  // The port tried when the configured one cannot be bound.
  uint16_t fallback_port = 8484;
  // Where luncrawl and res/ are; empty: the directory of the executable.
  std::string program_directory;
  // The crawl service's port (another than 8485 is passed on to the service
  // it starts), and further arguments for it.
  uint16_t crawl_service_port = 8485;
  std::vector<std::string> crawl_service_arguments;
  // False in tests: do not touch the user's autostart entry.
  bool manage_autostart = true;
  // False in tests: no crawl service, no scan or index threads, no monitor,
  // no mail sources.
  bool start_crawler = true;
  // The program's arguments for the crash handler's restart; empty (tests):
  // no crash handler is installed.
  std::vector<std::string> argv;
  // How often the status text of crash lines and the tray tip is refreshed.
  int status_refresh_ms = 2000;
  // One-shot indexing: walk and index these folders (instead of the
  // permitted roots, which the settings keep) into the index of the home,
  // without web server, monitor, mail sources or update check. The caller
  // waits for IndexingDone() and shuts down.
  std::vector<std::string> index_once_roots;
};

class Application {
 public:
  // `ui` must outlive the application.
  Application(ApplicationOptions options, UserInterface& ui);
  ~Application();  // Shutdown, when Startup succeeded and Shutdown was not called
  Application(const Application&) = delete;
  Application& operator=(const Application&) = delete;

  // The start-up sequence. False when the process must end: another
  // instance runs (silently), the database cannot be opened or the session
  // table cannot be made (each with a count-down box).
  bool Startup();
  // The shutdown sequence; nothing when Startup did not succeed. Idempotent.
  void Shutdown();

  // True when the scan has walked everything and the queue is empty: what a
  // one-shot indexing waits for.
  bool IndexingDone() const;
  // Files and directories indexed since start-up, and entries still queued.
  uint64_t files_indexed() const;
  uint32_t files_waiting() const;

  // The search page of the local user: "http://127.0.0.1:PORT/LUN/" with
  // the session code, or empty while the web server does not run.
  std::string HomeUrl() const { return SearchUrl({}); }
  // The same with the results for `query` when it is not empty.
  std::string SearchUrl(std::string_view query) const;
  const std::string& session_code() const { return session_code_; }
  uint16_t web_port() const { return web_port_; }
  bool web_running() const { return web_running_; }
  bool exiting() const { return exiting_; }

  // What the index knows of one file (DiagnosisText of
  // crawler/file_diagnosis.h), for the diagnosis page and `lun --explain`;
  // and indexing it at once, false when it is out of scope, nothing
  // indexes, or its record could not be written (too little disk space, a
  // failed write).
  std::string Diagnose(const std::string& path);
  bool IndexNow(const std::string& path);

  SettingsStore& settings();
  const ScanScope& scope() const { return scope_; }
  const std::string& home() const { return options_.home; }
  // What the user interfaces do with the running index (the shell's windows,
  // the pages' status and controls): the one way in from above.
  IndexOperations& operations() { return operations_; }
  // The text of a file for a preview: the in-process filters for the types
  // they handle (plain text, web pages, mail files), the crawl service for
  // every other type, so that a reader that crashes or hangs on a damaged
  // document never takes lun down. Empty when neither yields text.
  std::u16string DocumentText(const std::string& path);

  // The newer version the update checker found ("" when none) and its notes.
  std::string new_version() const;
  std::string new_version_notes() const;

  // The rescan after new types were chosen: stops the running scan, resets
  // the full-scan state and walks again, keeping the records. Runs on a
  // thread of its own; returns at once.
  void RequestRescan();

 private:
  // The tests look at the parts and the session table directly.
  friend class ApplicationTest;

  // The parts as they are now, for the operations.
  IndexParts parts();
  // The steps of Startup, in their order.
  void LoadPlugins();
  void LoadSettings();
  void CheckVersion();
  void LoadScope();
  void RecoverDamagedIndex();
  bool OpenDatabase();
  // The saved searches beside the database, fed by the document writer.
  void OpenSavedSearches();
  void EnsureTables();
  void ApplyAutostart();
  void InstallCrashHandler();
  void StartCrawlService();
  void CreateCrawler();
  bool CreateSessionTable();
  void StartWebServer();
  // What the pages' FTS object reaches of the running application.
  void PreparePageEnvironment();
  FileDiagnosis DiagnosisOf(const std::string& path);
  void StartUpdateChecker();
  void StartMonitor();
  void StartMailSources();
  void StartCrawlerThreads();
  void PrepareIndexOnce();
  void InstallSettingHooks();

  // Starts the monitor when monitoring or real-time deletion is on, stops
  // it when both are off.
  void ApplyMonitorFlags();
  void Reconcile(const ReconcileRequest& request);
  // The hook of "允许扫描" and "禁止扫描": the scope follows at once, what
  // came into it is reconciled, what left it is pruned.
  void ApplyScopePaths(const std::string& key, const std::string& value);
  // The tray tip: queue and index counts, reconciliation, low disk, the
  // directories that could not be watched.
  std::string StatusText() const;
  // Asks whether to rescan after the type lists gained a type, unless the
  // user interface's settings window asks itself.
  void OfferRescan();
  // Refreshes the crash line's status text and the tray tip until exit.
  void StatusLoop();
  std::string DataFilePath() const;
  std::string DocumentTableFolder() const;

  ApplicationOptions options_;
  UserInterface& ui_;
  InstanceLock instance_lock_;
  ScanScope scope_;
  std::unique_ptr<SearchProject> project_;
  std::unique_ptr<SearchService> search_;
  std::unique_ptr<DocumentWriter> writer_;
  std::unique_ptr<SavedSearches> saved_searches_;
  std::unique_ptr<CrawlServiceClient> crawl_service_;
  std::unique_ptr<Crawler> crawler_;
  std::unique_ptr<ChangeMonitor> monitor_;
  std::unique_ptr<MailSources> mail_sources_;
  std::unique_ptr<UpdateChecker> update_checker_;
  std::thread rescan_thread_;
  std::thread status_thread_;
  std::mutex status_mutex_;
  std::condition_variable status_wake_;
  std::unique_ptr<FtsEnvironment> fts_environment_;
  std::unique_ptr<PageRunner> page_runner_;
  std::unique_ptr<WebServer> web_;
  std::shared_ptr<Dictionary> session_table_;

  std::string session_code_;
  uint16_t web_port_ = 0;
  bool web_running_ = false;
  bool started_ = false;
  std::string full_scan_state_;  // "完成全面扫描" before a one-shot indexing
  bool table_outdated_ = false;
  bool document_table_was_empty_ = false;
  bool walk_begun_ = false;
  std::atomic<bool> exiting_{false};
  IndexOperations operations_{[this] { return parts(); }};
};

}  // namespace lun

#endif  // LUN_APP_APPLICATION_H_
