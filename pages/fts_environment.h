// What the page object FTS (fts_object.h) reaches in the running
// application, in two parts:
//   - FtsEnvironment: the application's subsystems, the same for every page.
//     The application core fills it once at start-up; it must outlive every
//     page run. Each member may be null or empty where said; the members
//     that use it then answer 0, false or an empty string.
//   - FtsPage: what belongs to one page run (its Response state, its Server,
//     its request), filled by whoever creates the FTS object for a request.
#ifndef LUN_PAGES_FTS_ENVIRONMENT_H_
#define LUN_PAGES_FTS_ENVIRONMENT_H_

#include <unistd.h>

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "pages/access_control.h"
#include "pages/login_gate.h"

namespace lun {

class Dispatch;
class DocumentWriter;
class PageResponder;
class PluginRegistry;
class SavedSearches;
class ScanScope;
class SearchProject;
class SearchService;
class SettingsStore;

struct FtsEnvironment {
  // The index database: the tables "文档", "日志" and "待扫描文件".
  SearchProject* project = nullptr;
  // Runs FTS.Execute and LookAt, and Execute within a recordset.
  SearchService* search = nullptr;
  // The settings store (Setting, the scope paths, AutoStart, FileMon, ID).
  SettingsStore* settings = nullptr;
  // The crawler's scope, reloaded from the settings after PermitPath or
  // ForbidPath changed them, with `default_scan_root` as the root used when
  // no path is permitted (as at start-up).
  ScanScope* scope = nullptr;
  std::string default_scan_root;
  // The writer of document records: its category lists feed
  // recordset.Statistic.
  const DocumentWriter* documents = nullptr;
  // The extraction plug-ins (LUNPlug*) and the second plug-in list (MSNPlug*).
  const PluginRegistry* plugins = nullptr;
  const PluginRegistry* msn_plugins = nullptr;
  // The session table ("Scripting.Dictionary" of session codes); FTS.Dictionary
  // hands out a reference to it.
  std::shared_ptr<Dispatch> session_table;

  // The application's flags: a stop was requested (TryStop); the index is
  // under maintenance (Manage).
  std::function<bool()> stop_requested;
  std::function<bool()> maintaining;
  // The file-system monitor: whether it runs; start (true) or stop it,
  // returning whether that worked.
  std::function<bool()> monitor_running;
  std::function<bool(bool on)> set_monitor;
  // The index status for the status page: one value by name (the names are
  // listed with IndexStatus in fts_object.h), "" for an unknown one; and
  // the page's controls ("pause", "resume", "reindex"), false when refused.
  std::function<std::string(const std::string& name)> index_status;
  std::function<bool(const std::string& action)> index_control;
  // The diagnosis page: what the index knows of one file (the text of
  // DiagnosisText, crawler/file_diagnosis.h), and indexing it now; false
  // when the file is out of scope or nothing indexes.
  std::function<std::string(const std::string& path)> diagnose;
  std::function<bool(const std::string& path)> index_now;
  // The saved searches that watch the index; null: none can be saved.
  SavedSearches* saved_searches = nullptr;

  // The local version string (Ver), and what the update checker found: the
  // new version (empty when none) and its "INFO" text.
  std::string version;
  std::function<std::string()> new_version;
  std::function<std::string()> new_version_info;
  // The update server's base URL without a trailing "/": NewVerDownURL is
  // this + "/update/LUN/" unless "升级服务器" names another location.
  std::string update_base_url;

  // The program the autostart entry starts (AutoStart = True).
  std::string executable;
  // Starts a desktop program (xdg-open, an application of a file's "open
  // with" list) without a shell and without waiting for it; false when it
  // could not be started. Empty: LaunchDetached (platform/desktop/desktop_apps.h).
  std::function<bool(const std::vector<std::string>& argv)> launch;
  // The program that copies an archive member out for opening it
  // (crawler/extract/archive_member_file.h); empty: luncrawl beside this
  // program.
  std::string archive_reader;
  // Where desktop files, MIME data and icon themes are looked for; empty:
  // XdgDataDirs() (platform/desktop/icon_theme.h).
  std::vector<std::string> data_dirs;

  // The remote logins of this start, with their per-start secret.
  std::shared_ptr<LoginGate> logins = std::make_shared<LoginGate>();
  // Who owns the peer of a page request's connection; empty: the kernel's
  // socket tables. Compared with `own_uid`, the user lun runs as.
  PeerUidLookup peer_uid;
  uid_t own_uid = getuid();
};

struct FtsPage {
  // True while the page is active: its Response writing flag is set (set at
  // the start, cleared by Response.End, set again by Response.Clear). Empty:
  // always active.
  std::function<bool()> active;
  // Server.MapPath of this page (FileTypeIcon). Empty: FileTypeIcon always
  // answers "File.gif".
  std::function<std::string(std::string_view path)> map_path;
  // Answers the request with a file (DownLoad) or bytes (FileIcon,
  // FileMenuIcon) instead of the page's output. Null: those members fail.
  PageResponder* responder = nullptr;
  // The request is the local user's (access_control.h). Only the local
  // user may open files or run commands on the desktop (OpenFile,
  // FileCommand); others may download only when logged in and "远程下载"
  // is "允许".
  bool local_user = false;
  // The rest of what is known of the sender (access_control.h), its
  // address and the value of its login cookie "LUNAUTH" ("" when none).
  RequestAccess access;
  std::string peer_address;
  std::string login_cookie;
};

}  // namespace lun

#endif  // LUN_PAGES_FTS_ENVIRONMENT_H_
