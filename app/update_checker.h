// The update checker: once per run, on a thread of its own, asks the update
// server whether a newer version exists and stages it for the next start.
//
// The check:
//   1. creates "Update/" in the application home;
//   2. downloads the update description from the URL of setting "升级服务器"
//      with the extension of its last path component removed
//      (".../update/LUN/update.htm" asks for ".../update/LUN/update");
//   3. reads it as INI text, section "Desktop Search": "VERSION" (default
//      "0.0"), "INFO" (the notes, at most 10240 bytes), "FILE0", "FILE1", ...
//      (package URLs, the list ends at the first empty or missing one);
//   4. when VERSION is not numerically greater than the local version, ends;
//   5. otherwise remembers version and notes (new_version(), notes()),
//      downloads each package and unpacks it into "Update/" (a package that
//      is not a ZIP archive is skipped), and tells the user through the
//      notifier: "系统升级", "已经升级到最新版本“<version>”，重新启动后生效。".
// Downloads go to the cache folder ($XDG_CACHE_HOME/tamrix-lun) and are
// deleted when done with, whatever the outcome.
//
// The staged update is pending when "Update/update" and "Update/Update.ini"
// both exist (update_handover.h). The marker "Update.ini" of the packages is
// held back under another name until every package is unpacked whole, so a
// failed download or a damaged archive never leaves a half-staged update
// that the next start would hand over to. "Update/update" is made executable.
//
// Safety: only http and https URLs are followed (also in redirects); every
// download has a connect time-out, a stall time-out and an overall time-out,
// and a size limit; archive entries that would land outside "Update/"
// (absolute names, "..", drive names) or are symbolic links are refused.
// Nothing is trusted in the description or the archives: damage ends the
// check, never the program.
//
// Thread safety: Start and Stop are for one owner thread; new_version() and
// notes() may be called from any thread.
#ifndef LUN_APP_UPDATE_CHECKER_H_
#define LUN_APP_UPDATE_CHECKER_H_

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

#include "web/page_archive.h"

namespace lun {

class IniDocument;

inline constexpr char kUpdateSection[] = "Desktop Search";
inline constexpr char kUpdateNoticeTitle[] = "系统升级";
inline constexpr size_t kUpdateInfoMaxBytes = 10240;

using UpdateNotifier = std::function<void(std::string_view title, std::string_view text)>;

struct UpdateCheckerOptions {
  std::string home;             // the application home: "Update/" is made there
  std::string cache_directory;  // empty: UpdateCacheDirectory()
  // The stored value of setting "升级服务器". The program knows no update
  // server of its own: empty means no check.
  std::string server_url;
  std::string local_version;  // "0.7020051220"
  UpdateNotifier notify;      // may be empty
  int connect_timeout_ms = 15000;
  int stall_timeout_s = 30;  // under 1 byte/s for this long ends a download
  int description_timeout_ms = 60000;
  int package_timeout_ms = 30 * 60 * 1000;
  uint64_t max_description_bytes = uint64_t{1} << 20;
  uint64_t max_package_bytes = uint64_t{512} << 20;
};

enum class UpdateOutcome {
  kNoServer,       // no URL to ask
  kUnreachable,    // the description could not be downloaded
  kUpToDate,       // no newer version
  kStaged,         // newer version staged (or it has no packages); user told
  kPackageFailed,  // a package could not be downloaded or unpacked whole
  kCannotWrite,    // "Update/" or the cache folder cannot be made
  kStopped,        // Stop was called
};

struct UpdateResult {
  UpdateOutcome outcome = UpdateOutcome::kNoServer;
  std::string detail;  // what failed, or (kStaged) the entries refused, for the log
};

class UpdateChecker {
 public:
  explicit UpdateChecker(UpdateCheckerOptions options);
  // Stops and joins the thread.
  ~UpdateChecker();
  UpdateChecker(const UpdateChecker&) = delete;
  UpdateChecker& operator=(const UpdateChecker&) = delete;

  // Starts the thread that runs Check once; a second call does nothing.
  // Failures other than kUpToDate, kNoServer and kStopped, and refused
  // archive entries, are written to the crash log (platform/error_log.h); the
  // user hears of nothing but success.
  void Start();

  // Raises the stop flag (a running download ends within about a second)
  // and waits for the thread. Safe to call more than once, and without Start.
  void Stop();

  // The whole check on the calling thread (what the thread runs).
  UpdateResult Check();

  // The newer version found and its notes; empty until one is found.
  std::string new_version() const;
  std::string notes() const;

 private:
  UpdateResult StagePackages(const IniDocument& description, const std::string& update_dir,
                             const std::string& cache);

  const UpdateCheckerOptions options_;
  std::atomic<bool> stop_{false};
  bool started_ = false;
  std::thread thread_;
  mutable std::mutex mutex_;
  std::string new_version_;
  std::string notes_;
};

// $XDG_CACHE_HOME/tamrix-lun, else ~/.cache/tamrix-lun.
std::string UpdateCacheDirectory();

// `url` with the extension of its last path component removed; a URL whose
// path is empty ("http://host.com") is left whole, so a host name never
// loses its last label. Query and fragment are kept.
std::string UrlWithoutExtension(std::string_view url);

// Whether `candidate` is numerically greater than `local`, both read as
// decimal numbers from their start (leading blanks skipped; text that is no
// number reads as 0).
bool IsNewerVersion(std::string_view candidate, std::string_view local);

// Unpacks every entry of the ZIP archive at `archive` into `directory`, with
// the name checks of web/page_archive.h; symbolic-link entries are refused
// (and listed in `refused`) too.
UnpackReport UnpackArchive(const std::string& archive, const std::string& directory);

}  // namespace lun

#endif  // LUN_APP_UPDATE_CHECKER_H_
