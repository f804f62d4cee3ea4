#include "app/application.h"

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>

#include "app/crash_handler.h"
#include "app/crawl_service_client.h"
#include "app/crawl_service_text.h"
#include "app/index_status.h"
#include "app/update_checker.h"
#include "automation/dictionary.h"
#include "config/bar_list.h"
#include "config/password_hash.h"
#include "config/settings_keys.h"
#include "config/settings_store.h"
#include "crawler/change_monitor.h"
#include "crawler/crawler.h"
#include "crawler/document_table.h"
#include "crawler/extract/crawl_wire_format.h"
#include "crawler/extract/plugin_registry.h"
#include "crawler/extract/text_filters.h"
#include "crawler/foxmail.h"
#include "crawler/local_mail.h"
#include "crawler/mail_sources.h"
#include "crawler/saved_searches.h"
#include "crawler/user_idle.h"
#include "engine/index/field_generations.h"
#include "engine/query/index_term_source.h"
#include "engine/query/search_service.h"
#include "engine/storage/field_index.h"
#include "engine/storage/search_project.h"
#include "pages/fts_environment.h"
#include "pages/fts_factory.h"
#include "pages/root_page.h"
#include "pages/script_page_runner.h"
#include "platform/autostart.h"
#include "platform/error_log.h"
#include "platform/paths.h"
#include "platform/text.h"
#include "platform/uuid.h"
#include "web/web_server.h"

namespace lun {

namespace {

constexpr int kFatalBoxMs = 3000;
constexpr int kWebIdleTimeoutMs = 30000;
constexpr char kDefaultDocument[] = "index.shl";
constexpr char kResourceFolder[] = "res";

bool Exists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

// Parses a decimal version text as the number it reads as ("0.0" -> 0);
// text that is no number reads as 0, so a damaged value rebuilds once.
double VersionNumber(const std::string& text) {
  char* end = nullptr;
  const double value = std::strtod(text.c_str(), &end);
  return end == text.c_str() ? 0 : value;
}

// A decimal port number 1-65535, or nullopt.
std::optional<uint16_t> ParsePort(const std::string& text) {
  char* end = nullptr;
  const long value = std::strtol(text.c_str(), &end, 10);
  if (end == text.c_str() || value < 1 || value > 65535) return std::nullopt;
  return static_cast<uint16_t>(value);
}

}  // namespace

Application::Application(ApplicationOptions options, UserInterface& ui)
    : options_(std::move(options)), ui_(ui) {
  if (options_.program_directory.empty()) options_.program_directory = ProgramDirectory();
}

Application::~Application() { Shutdown(); }

SettingsStore& Application::settings() { return Settings(); }

IndexParts Application::parts() {
  IndexParts parts;
  parts.settings = &settings();
  parts.project = project_.get();
  parts.search = search_.get();
  parts.writer = writer_.get();
  parts.crawler = crawler_.get();
  parts.monitor = monitor_.get();
  parts.document_text = [this](const std::string& path) { return DocumentText(path); };
  return parts;
}

bool Application::Startup() {
  if (started_) return true;
  // A second instance ends silently: it must not touch settings or data.
  if (!SetApplicationHome(options_.home) || !instance_lock_.Acquire(options_.home)) return false;
  InstallCrashHandler();
  LoadPlugins();
  LoadSettings();
  CheckVersion();
  LoadScope();
  RecoverDamagedIndex();
  if (!OpenDatabase()) return false;
  EnsureTables();
  const bool index_once = !options_.index_once_roots.empty();
  if (!index_once) ApplyAutostart();
  StartCrawlService();
  session_code_ = NewUuidText();
  settings().SetValue(kSearchSection, key::kLocalUserId, session_code_);
  if (!CreateSessionTable()) return false;
  if (!index_once) StartWebServer();
  writer_->BuildCategoryLists();
  ui_.Notify("启动成功", std::string("欢迎使用Tamrix桌面搜索") + kLocalVersion + "版本。");
  if (index_once) {
    PrepareIndexOnce();
  } else {
    StartUpdateChecker();
    saved_searches_->Start(
        [this](const std::string& title, const std::string& text) { ui_.Notify(title, text); });
    InstallSettingHooks();
    StartMonitor();
    StartMailSources();
  }
  StartCrawlerThreads();
  status_thread_ = std::thread([this] { StatusLoop(); });
  started_ = true;
  return true;
}

void Application::InstallCrashHandler() {
  if (options_.argv.empty()) return;
  CrashHandlerOptions crash_options;
  crash_options.argv = options_.argv;
#if defined(LUN_TEST_HOOKS)
  // Tests that crash on purpose shortly after start want to see the restart.
  if (const char* guard = std::getenv("LUN_RESTART_GUARD_S")) {
    crash_options.min_uptime_for_restart_s = std::atoi(guard);
  }
#endif
  (void)lun::InstallCrashHandler(crash_options);
}

void Application::LoadPlugins() {
  Plugins().LoadPlugins(JoinPath(options_.home, "Plug"));
  // The MIME filter reads mail files in process (previews, mail sources).
  for (const char* extension : {".eml", ".mht", ".mhtml"}) {
    RegisterPersistentHandler(extension, kMimeFilterClsid);
  }
}

void Application::LoadSettings() {
  SettingsStore& s = settings();
  (void)s.Load(JoinPath(options_.home, kSettingsFileName));
  s.SetValue(kSearchSection, key::kModulePath, options_.home + "/");
  // A login password stored as text by an earlier version becomes its hash.
  if (!UpgradeStoredPassword(s)) {
    AppendEngineErrorLog("登陆口令: 设置文件不能保存，口令下次启动时再转换");
  }
}

void Application::CheckVersion() {
  SettingsStore& s = settings();
  const std::string stored = s.GetValue(kSearchSection, key::kVersion, "0.0");
  table_outdated_ = VersionNumber(kLocalVersion) > VersionNumber(stored);
  s.SetValue(kSearchSection, key::kVersion, kLocalVersion);
}

void Application::LoadScope() {
  scope_.Load(settings(), UserHomeDirectory(), SystemForbiddenPaths());
  RegisterStartupHandlers(scope_.TypeList(TypeListKind::kOtherText));
}

std::string ApplicationDataFile(const SettingsStore& settings, const std::string& home) {
  std::string stored = settings.GetValue(kSearchSection, key::kDataDirectory, "Data/local.db", 261);
  if (!stored.empty() && stored[0] == '/') return stored;
  return JoinPath(home, stored.empty() ? "Data/local.db" : stored);
}

std::string Application::DataFilePath() const {
  return ApplicationDataFile(Settings(), options_.home);
}

std::string Application::DocumentTableFolder() const {
  return JoinPath(DirName(DataFilePath()), kDocumentTable);
}

void Application::RecoverDamagedIndex() {
  SettingsStore& s = settings();
  const std::string folder = DocumentTableFolder();
  const bool flagged = s.IndexDamaged();
  const bool marked = Exists(JoinPath(folder, kIndexWriteMarkerName));
  if (!flagged && !marked) return;
  ui_.Notify("紧急通告",
             "由于您上次建立索引的时候强行退出，导致索引数据已经损坏，现在将重建索引。");
  // The table's records live in files named after it ("文档.R0", "文档.stu"
  // ...); everything else in its folder is index data, rebuilt from the
  // records when the table opens.
  std::error_code ignored;
  for (const std::string& entry : ListDirectory(folder)) {
    if (std::filesystem::is_directory(entry, ignored)) {
      std::filesystem::remove_all(entry, ignored);
    } else if (BaseName(entry).find(kDocumentTable) == std::string::npos) {
      std::filesystem::remove(entry, ignored);
    }
  }
  if (flagged) s.ClearIndexDamaged();
}

bool Application::OpenDatabase() {
  SettingsStore& s = settings();
  const std::string path = DataFilePath();
  (void)MakeDirectories(DirName(path), 0700);
  s.SetValue(kSearchSection, key::kDataSource, path);
  SearchProjectOptions project_options;
  project_options.settings = &s;
  project_options.index_factory = MakeFieldIndexFactory();
  project_ = std::make_unique<SearchProject>(std::move(project_options));
  const EngineStatus status =
      Exists(path) ? project_->OpenProject() : project_->CreateProject(path);
  if (!status) {
    project_.reset();
    ui_.Countdown(kApplicationCaption, "数据文件无法打开，系统启动失败!", kFatalBoxMs,
                  BoxButtons::kOk);
    return false;
  }
  search_ = std::make_unique<SearchService>(*project_, MakeIndexTermSource);
  search_->Configure(ChannelSettings::From(s));
  // "启用缓冲池" and its keys act on the application's searches as on
  // lundb's; a change in the settings applies at once (see the hooks).
  search_->ConfigurePool(BufferPoolSettings::From(s));
  writer_ = std::make_unique<DocumentWriter>(*project_, *search_);
  OpenSavedSearches();
  return true;
}

void Application::OpenSavedSearches() {
  saved_searches_ = std::make_unique<SavedSearches>(
      JoinPath(DirName(DataFilePath()), kSavedSearchesFile), *search_, *project_, *writer_);
  const size_t damaged = saved_searches_->Load();
  if (damaged > 0) {
    AppendEngineErrorLog("已保存的搜索: " + std::to_string(damaged) +
                         " 行已损坏，已跳过；原文件另存为 " + std::string(kSavedSearchesFile) +
                         ".damaged");
  }
  writer_->set_on_append([searches = saved_searches_.get()] { searches->NoteAppended(); });
}

void Application::EnsureTables() {
  (void)EnsureLogTable(*project_);
  if (DataTable* documents = project_->FindTable(kDocumentTable)) {
    const bool lacks_directory_field =
        documents->record_count() > 0 && documents->FindField(doc::kDirectory) == nullptr;
    if (table_outdated_ || lacks_directory_field) {
      ui_.Notify("数据升级问题",
                 "您目前的的索引数据不能满足当前版本的要求，系统即将清空数据重新扫描磁盘。");
      (void)project_->DeleteTable(kDocumentTable);
      (void)project_->DeleteTable(kQueueTable);
    }
  }
  if (project_->FindTable(kDocumentTable) == nullptr) {
    ui_.RunFirstRunWizard(settings());
    settings().SetValue(kSearchSection, key::kFullScanDone, kFalse);
    (void)EnsureDocumentTable(*project_);
    // The wizard may have chosen new roots and types.
    LoadScope();
  }
  const DataTable* documents = project_->FindTable(kDocumentTable);
  document_table_was_empty_ = documents == nullptr || documents->record_count() == 0;
  // The queue table is made when a walk begins: with it, an unfinished
  // full scan was interrupted, not never started.
  walk_begun_ = project_->FindTable(kQueueTable) != nullptr;
}

void Application::ApplyAutostart() {
  if (!options_.manage_autostart) return;
  const std::string value = settings().GetValue(kSearchSection, key::kAutoStart, kTrue);
  const bool off = UpperAscii(value) == "FALSE";
  (void)SetAutostart(!off, JoinPath(options_.program_directory, "lun"), options_.home);
}

void Application::StartCrawlService() {
  if (!options_.start_crawler) return;
  CrawlServiceClientOptions client_options;
  client_options.executable = JoinPath(options_.program_directory, "luncrawl");
  client_options.port = options_.crawl_service_port;
  client_options.extra_arguments = options_.crawl_service_arguments;
  // The service reads the plug-ins of this home ("Plug"), as lun does.
  client_options.extra_arguments.insert(client_options.extra_arguments.begin(),
                                        {"--home", options_.home});
  if (options_.crawl_service_port != kCrawlServicePort) {
    client_options.extra_arguments.insert(client_options.extra_arguments.begin(),
                                          {"--port", std::to_string(options_.crawl_service_port)});
  }
  client_options.notifier = [this](std::string_view caption, std::string_view text, int ms) {
    ui_.Countdown(caption, text, ms, BoxButtons::kOk);
  };
  client_options.on_untrusted = [](std::string_view message) {
    AppendEngineErrorLog(std::string(message));
  };
  crawl_service_ = std::make_unique<CrawlServiceClient>(std::move(client_options));
  (void)crawl_service_->Launch();
  CreateCrawler();
}

void Application::CreateCrawler() {
  CrawlerEnvironment env;
  env.project = project_.get();
  env.search = search_.get();
  env.settings = &settings();
  env.scope = &scope_;
  env.writer = writer_.get();
  env.extract_text = CrawlServiceTextSource(*crawl_service_);
  env.service_extracts = [this](const std::string& token) { return scope_.ServiceExtracts(token); };
  env.archive_reader = JoinPath(options_.program_directory, "luncrawl");
  env.user_idle_probe = [probes = SystemUserIdleProbes()] { return IsUserIdle(probes); };
  env.notify = [this](const std::string& title, const std::string& text) {
    ui_.Notify(title, text);
  };
  env.index_mail = [this] {
    if (mail_sources_) mail_sources_->IndexAll();
  };
  env.detects_text = [this] {
    return FlagOnAtStartup(settings().GetValue(kSearchSection, key::kDetectText, kTrue));
  };
  env.data_path = DataFilePath();
  env.desktop = DesktopDirectory();
  crawler_ = std::make_unique<Crawler>(std::move(env));
  // A table that starts empty is filled without the per-file duplicate
  // check until the first scan's queue runs dry.
  if (document_table_was_empty_) {
    writer_->set_fast_insert(true);
    crawler_->set_first_pass(true);
  }
}

bool Application::CreateSessionTable() {
  session_table_ = std::make_shared<Dictionary>();
  ExcepInfo excep;
  const bool made = session_table_->SetCompareMode(1, &excep) == S_OK &&
                    session_table_->Add(Variant::Bstr(ToWide(session_code_)),
                                        Variant::Bstr(ToWide(kLocalUserName)), &excep) == S_OK &&
                    session_table_->Add(Variant::Bstr(ToWide(kFixedSessionCode)),
                                        Variant::Bstr(ToWide(kLocalUserName)), &excep) == S_OK;
  if (made) return true;
  session_table_.reset();
  ui_.Countdown(kApplicationCaption, "创建Scripting.Dictionary对象失败!", kFatalBoxMs,
                BoxButtons::kOk);
  return false;
}

void Application::StartWebServer() {
  SettingsStore& s = settings();
  const std::string port_text = s.GetValue(kSearchSection, key::kPublishPort, "8484");
  const uint16_t port = options_.port.value_or(ParsePort(port_text).value_or(0));
  PreparePageEnvironment();
  // A page still running at shutdown stops at once instead of holding the
  // web server's shutdown up to its time limit.
  ScriptLimits page_limits = DefaultPageLimits();
  page_limits.stop = &exiting_;
  page_runner_ = std::make_unique<ScriptPageRunner>(MakeFtsFactory(*fts_environment_), page_limits);
  web_ = std::make_unique<WebServer>(page_runner_.get(), options_.home);
  web_->set_root_answer(
      [context =
           RootPageContext{session_code_, fts_environment_->peer_uid, fts_environment_->own_uid}](
          const ConnectionInfo& connection, const HttpRequest& request, PageOutput* output) {
        AnswerRoot(context, connection, request, output);
      });
  // While remote login is off, other computers get nothing from the pages:
  // their connections are closed before they cost a thread.
  web_->set_remote_admission(
      [&s] { return s.GetValue(kSearchSection, key::kRemoteLogin, "") == kAllow; });
  const std::string archives = JoinPath(options_.program_directory, kResourceFolder);
  web_running_ = port != 0 && web_->Start(archives, kDefaultDocument, port, kWebIdleTimeoutMs);
  if (!web_running_) {
    web_running_ =
        web_->Start(archives, kDefaultDocument, options_.fallback_port, kWebIdleTimeoutMs);
  }
  web_port_ = web_running_ ? web_->port() : 0;
  // The text that was read goes back, not the port in use: a busy port this
  // time is no reason to forget the user's choice.
  s.SetValue(kSearchSection, key::kPublishPort, port_text);
  (void)s.Save();
}

FileDiagnosis Application::DiagnosisOf(const std::string& path) {
  const bool detects_text =
      FlagOnAtStartup(settings().GetValue(kSearchSection, key::kDetectText, kTrue));
  return DiagnoseFile(scope_, *writer_, path, detects_text,
                      crawler_ ? &crawler_->skipped() : nullptr);
}

std::string Application::Diagnose(const std::string& path) {
  if (!writer_) return {};
  return DiagnosisText(DiagnosisOf(path));
}

bool Application::IndexNow(const std::string& path) {
  if (!writer_ || !crawler_ || exiting_) return false;
  const FileDiagnosis diagnosis = DiagnosisOf(path);
  if (!CanIndexNow(diagnosis)) return false;
  // Read again whatever the record says: the user asked for it.
  const IndexOutcome outcome = crawler_->IndexFile(diagnosis.scope.path, /*force=*/true);
  return outcome != IndexOutcome::kFailed && outcome != IndexOutcome::kNoDiskSpace;
}

void Application::PreparePageEnvironment() {
  auto env = std::make_unique<FtsEnvironment>();
  env->project = project_.get();
  env->search = search_.get();
  env->settings = &settings();
  env->scope = &scope_;
  env->default_scan_root = UserHomeDirectory();
  env->documents = writer_.get();
  env->plugins = &Plugins();
  env->session_table = session_table_;
  env->stop_requested = [this] { return exiting_.load(); };
  env->maintaining = [this] { return crawler_ && crawler_->clearing(); };
  env->monitor_running = [this] { return monitor_ && monitor_->running(); };
  env->set_monitor = [this](bool on) {
    if (!monitor_ || exiting_) return false;
    if (on) {
      (void)monitor_->Start();
    } else {
      monitor_->Stop();
    }
    return monitor_->running() == on;
  };
  env->index_status = [this](const std::string& name) {
    IndexStatusSources sources;
    sources.crawler = crawler_.get();
    sources.monitor = monitor_.get();
    sources.scope = &scope_;
    sources.index_folder = DirName(DataFilePath());
    sources.queue_length = files_waiting();
    return IndexStatusValue(sources, name);
  };
  env->index_control = [this](const std::string& action) {
    if (!crawler_ || exiting_) return false;
    if (action == "pause" || action == "resume") {
      operations_.SetPaused(action == "pause");
      return true;
    }
    if (action != "reindex") return false;
    RequestRescan();
    return true;
  };
  env->diagnose = [this](const std::string& path) { return Diagnose(path); };
  env->index_now = [this](const std::string& path) { return IndexNow(path); };
  env->saved_searches = saved_searches_.get();
  env->version = kLocalVersion;
  env->new_version = [this] { return new_version(); };
  env->new_version_info = [this] { return new_version_notes(); };
  // No update server is built in ("升级服务器" names it), so there is no
  // base URL for the download location either.
  env->executable = JoinPath(options_.program_directory, "lun");
  fts_environment_ = std::move(env);
}

void Application::StartUpdateChecker() {
  UpdateCheckerOptions update_options;
  update_options.home = options_.home;
  update_options.server_url = settings().GetValue(kSearchSection, key::kUpdateServer);
  update_options.local_version = kLocalVersion;
  update_options.notify = [this](std::string_view title, std::string_view text) {
    ui_.Notify(title, text);
  };
  update_checker_ = std::make_unique<UpdateChecker>(std::move(update_options));
  update_checker_->Start();
}

std::u16string Application::DocumentText(const std::string& path) {
  ExtractResult filtered = FilterText(path);
  if (filtered.has_text()) return std::move(filtered.text);
  std::u16string text;
  if (crawl_service_ && crawl_service_->Extract(path, &text) == CrawlOutcome::kText) return text;
  return {};
}

std::string Application::new_version() const {
  return update_checker_ ? update_checker_->new_version() : std::string();
}

std::string Application::new_version_notes() const {
  return update_checker_ ? update_checker_->notes() : std::string();
}

void Application::InstallSettingHooks() {
  SettingsStore& s = settings();
  // New types: the stat-only walk queues just the files they admit (the
  // rescan question stays for those who want everything read again);
  // types taken away: their records go.
  InstallTypeListHooks(
      s, scope_,
      [this] {
        Reconcile({.everything = true, .trees = {}, .prune = false});
        OfferRescan();
      },
      [this](const std::string& types) {
        if (mail_sources_ && !exiting_) (void)mail_sources_->Apply(types);
      },
      [this] { Reconcile({.everything = false, .trees = {}, .prune = true}); });
  for (const char* key : {key::kPermittedPaths, key::kForbiddenPaths}) {
    s.SetApplyHook(key, [this, key](const std::string& value) { ApplyScopePaths(key, value); });
  }
  for (const char* key :
       {key::kCachePoolEnabled, key::kCachePoolSize, key::kCacheValidity, key::kCachePath}) {
    s.SetApplyHook(key, [this, key](const std::string& value) {
      // The hook runs before the store takes the value.
      settings().SetValue(kSearchSection, key, value);
      if (search_) search_->ConfigurePool(BufferPoolSettings::From(settings()));
    });
  }
  s.SetApplyHook(key::kRealtimeMonitor, [this](const std::string& value) {
    if (monitor_) monitor_->monitoring = FlagIsTrue(value);
    ApplyMonitorFlags();
  });
  s.SetApplyHook(key::kRealtimeDelete, [this](const std::string& value) {
    if (monitor_) monitor_->realtime_delete = FlagIsTrue(value);
    ApplyMonitorFlags();
  });
  s.SetApplyHook(key::kImageTextRecognition, [this](const std::string& value) {
    if (!FlagIsTrue(value) ||
        FlagIsTrue(settings().GetValue(kSearchSection, key::kImageTextRecognition, kFalse))) {
      return;
    }
    // Turned on: the pictures indexed meanwhile are read again. The crawl
    // service follows the settings file, so it is saved before any picture
    // is queued (the hook runs before the store saves it).
    settings().SetValue(kSearchSection, key::kImageTextRecognition, value);
    (void)settings().Save();
    Reconcile({.everything = true, .trees = {}, .prune = false, .reread_pictures = true});
  });
}

void Application::Reconcile(const ReconcileRequest& request) {
  if (crawler_ && !exiting_) crawler_->RequestReconcile(request);
}

void Application::ApplyScopePaths(const std::string& key, const std::string& value) {
  const std::vector<std::string> roots_before = scope_.PermittedRoots();
  const std::vector<std::string> forbidden_before =
      SplitBarList(settings().GetValue(kSearchSection, key::kForbiddenPaths));
  // The value is stored by the caller after this hook; the scope needs it now.
  settings().SetValue(kSearchSection, key, value);
  LoadScope();
  // Only what came into scope is walked: new roots, and paths no longer
  // forbidden that lie under a root. What left it is pruned.
  ReconcileRequest request;
  request.prune = true;
  auto lacks = [](const std::vector<std::string>& list, const std::string& path) {
    for (const std::string& p : list) {
      if (IsPathUnder(path, p)) return false;
    }
    return true;
  };
  for (const std::string& root : scope_.PermittedRoots()) {
    if (lacks(roots_before, root)) request.trees.push_back(root);
  }
  const std::vector<std::string> forbidden_now =
      SplitBarList(settings().GetValue(kSearchSection, key::kForbiddenPaths));
  for (const std::string& path : forbidden_before) {
    if (lacks(forbidden_now, path) && scope_.IsInPermittedRoot(path)) request.trees.push_back(path);
  }
  Reconcile(request);
  // New roots are watched from now on.
  if (monitor_) (void)monitor_->WatchNewRoots();
}

void Application::StartMonitor() {
  if (!options_.start_crawler) return;
  ChangeMonitorOptions monitor_options;
  monitor_options.notify = [this](const std::string& title, const std::string& text) {
    ui_.Notify(title, text);
  };
  monitor_options.on_rescan = [this](const std::string& reason) {
    AppendEngineErrorLog("核对索引: " + reason);
    Reconcile({.everything = true, .trees = {}, .prune = false});
  };
  monitor_ = std::make_unique<ChangeMonitor>(*crawler_, *writer_, scope_, monitor_options);
  SettingsStore& s = settings();
  monitor_->monitoring = FlagOnAtStartup(s.GetValue(kSearchSection, key::kRealtimeMonitor, kTrue));
  monitor_->realtime_delete =
      FlagOnAtStartup(s.GetValue(kSearchSection, key::kRealtimeDelete, kFalse));
  ApplyMonitorFlags();
}

void Application::ApplyMonitorFlags() {
  if (!monitor_ || exiting_) return;
  if (monitor_->monitoring || monitor_->realtime_delete) {
    (void)monitor_->Start();
  } else {
    monitor_->Stop();
  }
}

void Application::StartMailSources() {
  if (!options_.start_crawler) return;
  SettingsStore& s = settings();
  MailSourcesEnvironment env;
  env.writer = writer_.get();
  env.search = search_.get();
  env.scope = &scope_;
  env.foxmail_directory = s.GetValue(kSearchSection, kFoxmailDirectoryKey);
  env.home = UserHomeDirectory();
  env.maildirs = SplitBarList(s.GetValue(kSearchSection, kMaildirSettingKey));
  env.passes_held = [this] {
    return crawler_ && (crawler_->first_index() || crawler_->clearing());
  };
  env.countdown = [this](std::string_view caption, std::string_view text, int ms) {
    ui_.Countdown(caption, text, ms, BoxButtons::kOk);
  };
  mail_sources_ = std::make_unique<MailSources>(std::move(env));
  const std::string unwatched =
      mail_sources_->Apply(s.GetValue(kSearchSection, key::kDocumentTypes));
  if (!unwatched.empty()) AppendEngineErrorLog("邮件监控: " + unwatched);
}

void Application::OfferRescan() {
  if (ui_.OffersRescanItself()) return;
  const int answer = ui_.Countdown(kApplicationCaption,
                                   "您修改了文件类型的设置，需要重新扫描磁盘请选择“是”。\r\n"
                                   "不需要重新扫描磁盘请选择“否”。",
                                   0, BoxButtons::kYesNo);
  if (answer == kAnswerNo) return;
  ui_.Notify("重新扫描", "您修改了文件类型的设置，现在系统将自动重新扫描磁盘。");
  RequestRescan();
}

void Application::RequestRescan() {
  if (!crawler_ || exiting_) return;
  std::lock_guard lock(status_mutex_);
  if (rescan_thread_.joinable()) rescan_thread_.join();
  rescan_thread_ = std::thread([this] { (void)crawler_->Reindex(true); });
}

void Application::StatusLoop() {
  std::unique_lock lock(status_mutex_);
  while (!exiting_) {
    const std::string status = StatusText();
    SetCrashStatusText(status);
    const bool untrusted = crawl_service_ && !crawl_service_->trouble().empty();
    ui_.SetTip(untrusted ? std::string(kUntrustedServiceTip) : status);
    status_wake_.wait_for(lock, std::chrono::milliseconds(options_.status_refresh_ms),
                          [this] { return exiting_.load(); });
  }
}

std::string Application::StatusText() const {
  std::string status = writer_->StatusText();
  if (crawler_ && crawler_->low_disk()) status += "，磁盘空间不足，索引已暂停";
  if (crawler_ && crawler_->reconciling()) {
    status += "，正在核对索引: " + std::to_string(crawler_->reconcile_stats().checked);
  }
  if (monitor_ && !monitor_->unwatched().empty()) status += "，" + monitor_->StatusText();
  return status;
}

void Application::StartCrawlerThreads() {
  if (!crawler_) return;
  SettingsStore& s = settings();
  // The stored scan state decides the notice: "完成全面扫描" says whether a
  // walk is due, the queue table whether one was begun before (continue)
  // or never (first use). With the walk done the scan thread only runs the
  // mail passes.
  if (s.GetValue(kSearchSection, key::kFullScanDone, kFalse) != kTrue) {
    ui_.Notify("扫描信息", walk_begun_ ? "您上次终止了扫描过程，现在将继续扫描磁盘。"
                                       : "在使用之前，您需要预先扫描一次磁盘。完成扫描之后您"
                                         "修改或是创建的文档，系统会自动将其索引。");
  }
  crawler_->StartScan();
  // After the first full scan, what changed while lun was not running (or
  // in the seconds before it was killed) is found by comparing the disk
  // with the records.
  if (s.GetValue(kSearchSection, key::kFullScanDone, kFalse) == kTrue &&
      options_.index_once_roots.empty()) {
    Reconcile({.everything = true, .trees = {}, .prune = false});
  }
  crawler_->StartIndexing();
}

void Application::PrepareIndexOnce() {
  scope_.SetPermittedRoots(options_.index_once_roots);
  // The walk of these folders is not the full scan of the permitted roots:
  // the stored state comes back at shutdown.
  full_scan_state_ = settings().GetValue(kSearchSection, key::kFullScanDone, kFalse);
  settings().SetValue(kSearchSection, key::kFullScanDone, kFalse);
}

bool Application::IndexingDone() const {
  return crawler_ && !crawler_->scanning() && files_waiting() == 0;
}

uint64_t Application::files_indexed() const { return crawler_ ? crawler_->stats().files : 0; }

uint32_t Application::files_waiting() const {
  const DataTable* queue = project_ ? project_->FindTable(kQueueTable) : nullptr;
  return queue ? queue->live_count() : 0;
}

std::string Application::SearchUrl(std::string_view query) const {
  if (!web_running_) return {};
  return "http://127.0.0.1:" + std::to_string(web_port_) + SearchPagePath(session_code_, query);
}

void Application::Shutdown() {
  if (!started_) return;
  started_ = false;
  SetCrashExiting();
  {
    std::lock_guard lock(status_mutex_);
    exiting_ = true;
  }
  status_wake_.notify_all();
  if (status_thread_.joinable()) status_thread_.join();
  if (rescan_thread_.joinable()) rescan_thread_.join();
  if (mail_sources_) mail_sources_->Stop();
  if (monitor_) monitor_->Stop();
  if (crawler_) {
    crawler_->StopScan();
    crawler_->StopIndexing();
  }
  if (web_running_) (void)web_->Shutdown();
  web_running_ = false;
  web_.reset();
  page_runner_.reset();
  if (saved_searches_) saved_searches_->Stop();
  if (update_checker_) update_checker_->Stop();
  if (!options_.index_once_roots.empty()) {
    settings().SetValue(kSearchSection, key::kFullScanDone, full_scan_state_);
  }
  (void)settings().Save();
  mail_sources_.reset();
  monitor_.reset();
  crawler_.reset();
  if (writer_) writer_->set_on_append(nullptr);
  saved_searches_.reset();
  writer_.reset();
  search_.reset();
  if (project_) project_->CloseProject();
  project_.reset();
  session_table_.reset();
  if (crawl_service_) crawl_service_->SendExit();
  crawl_service_.reset();
}

}  // namespace lun
