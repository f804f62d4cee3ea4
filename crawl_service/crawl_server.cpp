#include "crawl_service/crawl_server.h"

#include <arpa/inet.h>
#include <errno.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "config/settings_store.h"
#include "crawler/extract/crawl_wire_format.h"
#include "crawler/extract/plugin_registry.h"
#include "crawler/extract/text_filters.h"
#include "platform/paths.h"
#include "platform/socket_owner.h"
#include "platform/text.h"

namespace lun {
namespace {

// How often the service looks whether its parent is still there. The parent
// id is polled rather than PR_SET_PDEATHSIG used because that signal fires
// when the *thread* that started us ends: lun restarts the service from
// whichever thread's exchange failed, and that thread may end long before
// lun does.
constexpr int kParentCheckMs = 500;

class Server {
 public:
  explicit Server(const CrawlServerOptions& options) : options_(options), parent_(getppid()) {}
  ~Server() {
    if (listen_fd_ >= 0) close(listen_fd_);
  }

  int Run() {
    if (const int rc = Listen(); rc != 0) return rc;
    for (;;) {
      if (ParentGone()) return kServerParentGone;
      struct pollfd pfd{listen_fd_, POLLIN, 0};
      const int rc = poll(&pfd, 1, kParentCheckMs);
      if (rc <= 0) continue;
      const int fd = accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd < 0) continue;
      const std::optional<uid_t> peer = PeerUid(fd);
      if (!peer || *peer != getuid()) {
        // Another user's process: it could read our files through us.
        close(fd);
        continue;
      }
      const int end = Serve(fd);
      close(fd);
      if (end >= 0) return end;
    }
  }

 private:
  bool ParentGone() const { return options_.follow_parent && getppid() != parent_; }

  int Listen() {
    listen_fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listen_fd_ < 0) return kServerFailed;
    const int one = 1;
    // Lets a restarted service bind while old connections sit in TIME_WAIT;
    // a port that another socket listens on still fails, as it must.
    setsockopt(listen_fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(options_.port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(listen_fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
      return errno == EADDRINUSE ? kServerPortTaken : kServerFailed;
    }
    if (listen(listen_fd_, 8) != 0) return kServerFailed;
    return 0;
  }

  // Serves one connection until it closes (-1) or asks to exit (exit code).
  int Serve(int fd) {
    std::string buffer;
    char chunk[65536];
    for (;;) {
      std::string path;
      size_t consumed = 0;
      const RequestScan scan = ScanRequest(buffer, &path, &consumed);
      if (scan == RequestScan::kExit) return kServerExitRequested;
      if (scan == RequestScan::kTooLong) return -1;  // not our client: drop it
      if (scan == RequestScan::kPath) {
        buffer.erase(0, consumed);
        if (!Answer(fd, path)) return -1;
        continue;
      }
      if (ParentGone()) return kServerParentGone;
      struct pollfd pfd{fd, POLLIN, 0};
      const int rc = poll(&pfd, 1, kParentCheckMs);
      if (rc < 0 && errno != EINTR) return -1;
      if (rc <= 0) continue;
      const ssize_t n = recv(fd, chunk, sizeof chunk, 0);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return -1;
      buffer.append(chunk, static_cast<size_t>(n));
    }
  }

  // Follows "图片文字识别" in the home's settings file, which lun saves
  // when the user changes it: read again only when the file changed. A
  // missing file (never created here) leaves recognition off.
  void RefreshOcrSetting() {
    if (options_.settings_path.empty()) return;
    struct stat st;
    if (stat(options_.settings_path.c_str(), &st) != 0) {
      options_.ocr.enabled = false;
      seen_settings_ = {};
    } else {
      const SettingsStamp stamp{st.st_mtim.tv_sec, st.st_mtim.tv_nsec, st.st_size};
      if (stamp == seen_settings_) return;
      seen_settings_ = stamp;
      SettingsStore settings;
      options_.ocr.enabled =
          settings.Load(options_.settings_path) &&
          FlagIsTrue(settings.GetValue(kSearchSection, key::kImageTextRecognition, kFalse));
    }
    SetOcrSettings(options_.ocr);
  }

  bool Answer(int fd, const std::string& path) {
    std::string reply;
    RefreshOcrSetting();
    if (path.starts_with(kCrawlHelloPrefix)) {
      const std::string challenge = path.substr(sizeof kCrawlHelloPrefix - 1);
      reply = EncodeReply(options_.token.empty() ? std::u16string()
                                                 : ToWide(HelloAnswer(options_.token, challenge)));
    } else if (!HasReader(path, &Plugins())) {
      reply = EncodeReply(std::u16string_view());
    } else if (ReadsAsPlainText(path, &Plugins())) {
      // Plain text (most files of a desktop: notes, logs, source code) is
      // decoded here: a fork per file would cost more than the reading, and
      // this reader only scans bytes linearly, so it can neither hang nor
      // blow up. Should it crash after all, the client restarts the service.
      const ExtractResult result = ExtractFileText(path, options_.worker.text_limit, &Plugins());
      reply = EncodeReply(result.status == ExtractStatus::kOk ? std::u16string_view(result.text)
                                                              : std::u16string_view());
    } else {
      std::vector<int> close_in_child{listen_fd_, fd};
      const WorkerResult result =
          ExtractInWorker(path, options_.worker, &Plugins(), close_in_child);
      reply = EncodeReply(result.outcome == WorkerOutcome::kText ? std::u16string_view(result.text)
                                                                 : std::u16string_view());
    }
    size_t sent = 0;
    while (sent < reply.size()) {
      const ssize_t n = send(fd, reply.data() + sent, reply.size() - sent, MSG_NOSIGNAL);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      sent += static_cast<size_t>(n);
    }
    return true;
  }

  struct SettingsStamp {
    time_t seconds = 0;
    long nanoseconds = 0;
    off_t size = -1;
    bool operator==(const SettingsStamp&) const = default;
  };

  CrawlServerOptions options_;
  SettingsStamp seen_settings_;
  pid_t parent_;
  int listen_fd_ = -1;
};

bool ParseNumber(const char* text, long min, long max, long* value) {
  char* end = nullptr;
  errno = 0;
  const long v = std::strtol(text, &end, 10);
  if (errno != 0 || !end || *end != '\0' || end == text || v < min || v > max) return false;
  *value = v;
  return true;
}

}  // namespace

int RunCrawlServer(const CrawlServerOptions& options) {
  signal(SIGPIPE, SIG_IGN);
  if (options.service_memory_bytes > 0 && !MemoryLimitsUnsupported()) {
    struct rlimit as{options.service_memory_bytes, options.service_memory_bytes};
    setrlimit(RLIMIT_AS, &as);
  }
  if (!options.plugin_directory.empty()) Plugins().LoadPlugins(options.plugin_directory);
  SetOcrSettings(options.ocr);
  Server server(options);
  return server.Run();
}

bool ParseServerArguments(int argc, char** argv, CrawlServerOptions* options, std::string* error) {
  bool plugins_given = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool has_value = i + 1 < argc;
    long v = 0;
    if (arg == "--port") {
      if (!has_value || !ParseNumber(argv[++i], 1, 65535, &v)) {
        *error = "--port needs a port number";
        return false;
      }
      options->port = static_cast<uint16_t>(v);
    } else if (arg == "--deadline-ms") {
      if (!has_value || !ParseNumber(argv[++i], 1, 3600000, &v)) {
        *error = "--deadline-ms needs milliseconds";
        return false;
      }
      options->worker.deadline_ms = static_cast<int>(v);
    } else if (arg == "--memory-mb") {
      if (!has_value || !ParseNumber(argv[++i], 0, 1 << 20, &v)) {
        *error = "--memory-mb needs megabytes";
        return false;
      }
      options->worker.memory_bytes = static_cast<uint64_t>(v) << 20;
    } else if (arg == "--ocr-deadline-ms") {
      if (!has_value || !ParseNumber(argv[++i], 1, 3600000, &v)) {
        *error = "--ocr-deadline-ms needs milliseconds";
        return false;
      }
      options->ocr.image_deadline_ms = static_cast<int>(v);
    } else if (arg == "--plugins") {
      if (!has_value) {
        *error = "--plugins needs a directory";
        return false;
      }
      options->plugin_directory = argv[++i];
      plugins_given = true;
    } else if (arg == "--home") {
      if (!has_value || !SetApplicationHome(argv[++i])) {
        *error = "--home needs a usable directory";
        return false;
      }
      options->settings_path = JoinPath(ApplicationHome(), kSettingsFileName);
    } else if (arg == "--no-follow-parent") {
      options->follow_parent = false;
    } else if (arg.rfind("--", 0) == 0) {
      *error = "unknown option " + arg;
      return false;
    }
    // Anything else is the launch parameter, which the service does not check.
  }
  // Recognition must end within the worker's deadline, with time to spare
  // for the document's other readers.
  options->ocr.file_budget_ms = options->worker.deadline_ms * 3 / 4;
  options->ocr.image_deadline_ms =
      std::min(options->ocr.image_deadline_ms, options->ocr.file_budget_ms);
  if (!plugins_given) options->plugin_directory = JoinPath(ApplicationHome(), kPluginDirectoryName);
  return true;
}

}  // namespace lun
