#include "app/update_checker.h"

#include <curl/curl.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <unzip.h>

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <set>
#include <vector>

#include "app/update_handover.h"
#include "config/ini_text.h"
#include "platform/error_log.h"
#include "platform/file_system.h"
#include "platform/paths.h"
#include "platform/process.h"

namespace lun {
namespace {

// The packages' "Update.ini" is written under this name until the whole
// update is staged (see the header).
constexpr char kHeldBackIniName[] = "Update.ini.part";
constexpr char kNoticePrefix[] = "已经升级到最新版本“";
constexpr char kNoticeSuffix[] = "”，重新启动后生效。";

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

// A value of the description's section, without surrounding blanks (as the
// INI readers of the servers' authors expect); `fallback` when missing.
std::string DescriptionValue(const IniDocument& description, const std::string& key,
                             std::string_view fallback = {}) {
  const std::string* value = description.Find(kUpdateSection, key);
  return std::string(value ? TrimBlanks(*value) : fallback);
}

std::string CutAtCharacter(std::string text, size_t max_bytes) {
  if (text.size() <= max_bytes) return text;
  size_t length = max_bytes;
  while (length > 0 && (static_cast<unsigned char>(text[length]) & 0xC0) == 0x80) --length;
  text.resize(length);
  return text;
}

// A file of the cache folder, deleted when the check is done with it.
class CachedFile {
 public:
  explicit CachedFile(std::string path) : path_(std::move(path)) {}
  ~CachedFile() { unlink(path_.c_str()); }
  CachedFile(const CachedFile&) = delete;
  CachedFile& operator=(const CachedFile&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

enum class Fetch { kOk, kFailed, kStopped };

struct DownloadTarget {
  int fd = -1;
  uint64_t written = 0;
  uint64_t limit = 0;
  bool too_large = false;
  bool write_failed = false;
};

size_t WriteToFile(char* data, size_t size, size_t count, void* user) {
  auto* target = static_cast<DownloadTarget*>(user);
  const size_t bytes = size * count;
  if (target->written + bytes > target->limit) {
    target->too_large = true;
    return 0;  // anything but `bytes` ends the transfer
  }
  if (!WriteAllToFd(target->fd, data, bytes)) {
    target->write_failed = true;
    return 0;
  }
  target->written += bytes;
  return bytes;
}

// libcurl calls this about once a second even while it waits for the
// server, so a stop request ends any transfer promptly.
int CheckStop(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  return static_cast<const std::atomic<bool>*>(user)->load() ? 1 : 0;
}

void InitCurlOnce() {
  static const CURLcode init = curl_global_init(CURL_GLOBAL_DEFAULT);
  (void)init;
}

struct DownloadLimits {
  uint64_t max_bytes;
  int timeout_ms;
};

// Downloads `url` into a new file at `path`.
Fetch Download(const std::string& url, const std::string& path, const DownloadLimits& limits,
               const UpdateCheckerOptions& options, const std::atomic<bool>& stop,
               std::string* error) {
  InitCurlOnce();
  DownloadTarget target;
  target.limit = limits.max_bytes;
  target.fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (target.fd < 0) {
    *error = "cannot create " + path + ": " + ErrorText(errno);
    return Fetch::kFailed;
  }
  CURL* curl = curl_easy_init();
  if (curl == nullptr) {
    close(target.fd);
    *error = "libcurl cannot start a transfer";
    return Fetch::kFailed;
  }
  char curl_error[CURL_ERROR_SIZE] = "";
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(curl, CURLOPT_MAXREDIRS, 5L);
  curl_easy_setopt(curl, CURLOPT_FAILONERROR, 1L);  // an HTTP error page is no description
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);     // other threads' signals stay theirs
  curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(options.connect_timeout_ms));
  curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, static_cast<long>(limits.timeout_ms));
  curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
  curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, static_cast<long>(options.stall_timeout_s));
  curl_easy_setopt(curl, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(limits.max_bytes));
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, WriteToFile);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &target);
  curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, CheckStop);
  curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &stop);
  curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, curl_error);
  const CURLcode code = curl_easy_perform(curl);
  curl_easy_cleanup(curl);
  const bool closed = close(target.fd) == 0;
  if (code == CURLE_OK && closed) return Fetch::kOk;
  if (stop.load()) return Fetch::kStopped;
  if (target.too_large || code == CURLE_FILESIZE_EXCEEDED) {
    *error = url + ": larger than " + std::to_string(limits.max_bytes) + " bytes";
  } else if (target.write_failed || !closed) {
    *error = "cannot write " + path;
  } else {
    *error = url + ": " + (*curl_error ? curl_error : curl_easy_strerror(code));
  }
  return Fetch::kFailed;
}

// The names (as SafeEntryPath gives them) of the archive's entries that a
// Unix archiver stored as symbolic links.
std::set<std::string> SymbolicLinkEntries(const std::string& archive) {
  std::set<std::string> links;
  unzFile zip = unzOpen64(archive.c_str());
  if (zip == nullptr) return links;
  std::vector<char> name(65536 + 1);
  for (int status = unzGoToFirstFile(zip); status == UNZ_OK; status = unzGoToNextFile(zip)) {
    unz_file_info64 info;
    if (unzGetCurrentFileInfo64(zip, &info, name.data(), name.size() - 1, nullptr, 0, nullptr, 0) !=
        UNZ_OK) {
      break;
    }
    constexpr unsigned kMadeOnUnix = 3;
    const auto mode = static_cast<mode_t>(info.external_fa >> 16);
    if ((info.version >> 8) != kMadeOnUnix || !S_ISLNK(mode)) continue;
    const std::optional<std::string> relative = SafeEntryPath(
        std::string_view(name.data(), std::min<size_t>(info.size_filename, name.size() - 1)));
    if (relative) links.insert(*relative);
  }
  unzClose(zip);
  return links;
}

// Writes through a DirectorySink, leaving out symbolic-link entries and,
// when asked, writing "Update.ini" under its held-back name.
class UpdateSink : public UnpackSink {
 public:
  UpdateSink(const std::string& directory, std::set<std::string> links, bool hold_back_ini)
      : files_(directory), links_(std::move(links)), hold_back_ini_(hold_back_ini) {}

  bool MakeDirectory(const std::string& relative) override {
    return files_.MakeDirectory(relative);
  }
  bool BeginFile(const std::string& relative) override {
    skipping_ = links_.count(relative) > 0;
    if (skipping_) {
      skipped_.push_back(relative);
      return true;
    }
    return files_.BeginFile(hold_back_ini_ && relative == kUpdateIniName ? kHeldBackIniName
                                                                         : relative);
  }
  bool Write(std::string_view bytes) override { return skipping_ || files_.Write(bytes); }
  bool EndFile() override {
    if (!skipping_) return files_.EndFile();
    skipping_ = false;
    return true;
  }

  const std::vector<std::string>& skipped() const { return skipped_; }

 private:
  DirectorySink files_;
  const std::set<std::string> links_;
  const bool hold_back_ini_;
  bool skipping_ = false;
  std::vector<std::string> skipped_;
};

UnpackReport UnpackPackage(const std::string& archive, const std::string& directory,
                           bool hold_back_ini) {
  UpdateSink sink(directory, SymbolicLinkEntries(archive), hold_back_ini);
  UnpackReport report = UnpackArchiveFile(archive, sink);
  report.files -= static_cast<int>(sink.skipped().size());
  report.refused.insert(report.refused.end(), sink.skipped().begin(), sink.skipped().end());
  return report;
}

// The staged updater must be runnable by the next start; archives made on
// other systems carry no mode bits.
void MakeExecutable(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return;
  struct stat st;
  if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) (void)fchmod(fd, 0755);
  close(fd);
}

UpdateResult Result(UpdateOutcome outcome, std::string detail = {}) {
  return UpdateResult{outcome, std::move(detail)};
}

}  // namespace

std::string UpdateCacheDirectory() {
  const char* cache = std::getenv("XDG_CACHE_HOME");
  if (cache && *cache) return JoinPath(cache, "tamrix-lun");
  const char* home = std::getenv("HOME");
  return JoinPath(JoinPath(home && *home ? home : "/tmp", ".cache"), "tamrix-lun");
}

std::string UrlWithoutExtension(std::string_view url) {
  url = TrimBlanks(url);
  const size_t scheme = url.find("://");
  const size_t host = scheme == std::string_view::npos ? 0 : scheme + 3;
  const size_t path = url.find_first_of("/?#", host);
  if (path == std::string_view::npos || url[path] != '/') return std::string(url);
  const size_t path_end = std::min(url.find_first_of("?#", path), url.size());
  const std::string_view path_text = url.substr(path, path_end - path);
  const size_t dot = path_text.rfind('.');
  if (dot == std::string_view::npos || dot < path_text.rfind('/')) return std::string(url);
  return std::string(url.substr(0, path + dot)) + std::string(url.substr(path_end));
}

bool IsNewerVersion(std::string_view candidate, std::string_view local) {
  auto number = [](std::string_view text) {
    text = TrimBlanks(text);
    double value = 0;
    if (std::from_chars(text.data(), text.data() + text.size(), value).ec != std::errc()) {
      return 0.0;
    }
    return value;
  };
  return number(candidate) > number(local);
}

UnpackReport UnpackArchive(const std::string& archive, const std::string& directory) {
  return UnpackPackage(archive, directory, /*hold_back_ini=*/false);
}

UpdateChecker::UpdateChecker(UpdateCheckerOptions options) : options_(std::move(options)) {}

UpdateChecker::~UpdateChecker() { Stop(); }

void UpdateChecker::Start() {
  if (started_) return;
  started_ = true;
  thread_ = std::thread([this] {
    const UpdateResult result = Check();
    switch (result.outcome) {
      case UpdateOutcome::kUnreachable:
      case UpdateOutcome::kPackageFailed:
      case UpdateOutcome::kCannotWrite:
        AppendCrashLog("升级检查失败: " + result.detail);
        break;
      case UpdateOutcome::kStaged:
        if (!result.detail.empty()) AppendCrashLog("升级包: " + result.detail);
        break;
      default:
        break;
    }
  });
}

void UpdateChecker::Stop() {
  stop_.store(true);
  if (thread_.joinable()) thread_.join();
}

std::string UpdateChecker::new_version() const {
  std::lock_guard lock(mutex_);
  return new_version_;
}

std::string UpdateChecker::notes() const {
  std::lock_guard lock(mutex_);
  return notes_;
}

UpdateResult UpdateChecker::Check() {
  const std::string url = UrlWithoutExtension(options_.server_url);
  if (url.empty()) return Result(UpdateOutcome::kNoServer);
  const std::string update_dir = JoinPath(options_.home, kUpdateDirectory);
  const std::string cache =
      options_.cache_directory.empty() ? UpdateCacheDirectory() : options_.cache_directory;
  for (const std::string& dir : {update_dir, cache}) {
    if (!MakeDirectories(dir, 0700)) {
      return Result(UpdateOutcome::kCannotWrite, "cannot create " + dir);
    }
  }
  CachedFile description_file(TemporaryName(cache));
  std::string error;
  switch (Download(url, description_file.path(),
                   {options_.max_description_bytes, options_.description_timeout_ms}, options_,
                   stop_, &error)) {
    case Fetch::kOk:
      break;
    case Fetch::kStopped:
      return Result(UpdateOutcome::kStopped);
    case Fetch::kFailed:
      return Result(UpdateOutcome::kUnreachable, error);
  }
  std::string text;
  if (ReadWholeFile(DefaultFileSystem(), description_file.path(), &text,
                    options_.max_description_bytes) != 0) {
    return Result(UpdateOutcome::kUnreachable, "cannot read " + description_file.path());
  }
  const IniDocument description = IniDocument::Parse(text);
  const std::string version = DescriptionValue(description, "VERSION", "0.0");
  if (!IsNewerVersion(version, options_.local_version)) return Result(UpdateOutcome::kUpToDate);
  {
    std::lock_guard lock(mutex_);
    new_version_ = version;
    notes_ = CutAtCharacter(DescriptionValue(description, "INFO"), kUpdateInfoMaxBytes);
  }
  UpdateResult result = StagePackages(description, update_dir, cache);
  if (result.outcome == UpdateOutcome::kStaged && options_.notify) {
    options_.notify(kUpdateNoticeTitle, kNoticePrefix + version + kNoticeSuffix);
  }
  return result;
}

UpdateResult UpdateChecker::StagePackages(const IniDocument& description,
                                          const std::string& update_dir, const std::string& cache) {
  const std::string marker = JoinPath(update_dir, kUpdateIniName);
  const std::string held_back = JoinPath(update_dir, kHeldBackIniName);
  // A marker present while the program runs is stale (a pending update
  // would have been handed over at this start); without it no half-written
  // staging can be mistaken for a pending update.
  unlink(marker.c_str());
  unlink(held_back.c_str());
  auto fail = [&held_back](UpdateOutcome outcome, std::string detail) {
    unlink(held_back.c_str());
    return Result(outcome, std::move(detail));
  };
  std::string refused;  // unsafe entries left out, for the log
  for (int i = 0;; ++i) {
    const std::string package_url = DescriptionValue(description, "FILE" + std::to_string(i));
    if (package_url.empty()) break;
    if (stop_.load()) return fail(UpdateOutcome::kStopped, {});
    CachedFile archive(TemporaryName(cache));
    std::string error;
    switch (Download(package_url, archive.path(),
                     {options_.max_package_bytes, options_.package_timeout_ms}, options_, stop_,
                     &error)) {
      case Fetch::kOk:
        break;
      case Fetch::kStopped:
        return fail(UpdateOutcome::kStopped, {});
      case Fetch::kFailed:
        return fail(UpdateOutcome::kPackageFailed, error);
    }
    const UnpackReport report = UnpackPackage(archive.path(), update_dir, /*hold_back_ini=*/true);
    if (!report.opened) continue;  // not a ZIP archive: skipped
    if (!report.completed) {
      return fail(UpdateOutcome::kPackageFailed, package_url + ": " + report.error);
    }
    for (const std::string& name : report.refused)
      refused += package_url + ": refused " + name + "; ";
  }
  if (access(held_back.c_str(), F_OK) == 0 && rename(held_back.c_str(), marker.c_str()) != 0) {
    return fail(UpdateOutcome::kCannotWrite,
                "cannot rename " + held_back + ": " + ErrorText(errno));
  }
  MakeExecutable(JoinPath(update_dir, kUpdaterName));
  return Result(UpdateOutcome::kStaged, refused);
}

}  // namespace lun
