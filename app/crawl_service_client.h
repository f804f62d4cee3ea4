// The client of the crawl service (`luncrawl`): asks it for the text of a
// file over 127.0.0.1 (wire format: crawler/extract/crawl_wire_format.h),
// starting it when needed and restarting it whenever an exchange fails.
//
// Thread safety: every member may be called from any thread. One lock makes
// each request/response exchange whole; a failed exchange reconnects (and
// restarts the service when needed) while it still holds the lock, so
// callers that waited meanwhile use the new connection.
//
// Faults the client survives: a service that crashes, closes in the middle of
// a reply, sends malformed frames or claims a reply over kMaxReplyBytes, and
// one that hangs or answers too slowly (the per-request deadline ends the
// exchange). Each costs -1 for that file; a service this client started is
// then killed with its process group and started anew, one it found
// running is reconnected.
//
// Whom it talks to: only a service that runs as our own user (the owner of
// the socket listening on the port, platform/socket_owner.h) and that
// answers a fresh challenge with the per-start token this client hands to
// the service it starts (crawl_wire_format.h). A listener that fails either
// test (another account's program that took the port first would otherwise
// read every path we index and feed us its own text) is never sent a path:
// the client reports it once through `on_untrusted`, keeps it in trouble(),
// answers kServiceUntrusted (the files are indexed by name only) and looks
// again after the back-off.
#ifndef LUN_APP_CRAWL_SERVICE_CLIENT_H_
#define LUN_APP_CRAWL_SERVICE_CLIENT_H_

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "crawler/extract/crawl_outcome.h"

namespace lun {

// How the client reports to the user; the application routes it to its
// count-down message box (headless: a log line).
using CountdownNotifier =
    std::function<void(std::string_view caption, std::string_view text, int milliseconds)>;

inline constexpr char kServiceStartErrorCaption[] = "运行错误";
inline constexpr char kServiceStartErrorText[] = "无法启动数据提取服务!";
inline constexpr int kServiceStartErrorMs = 3000;

struct CrawlServiceClientOptions {
  // The service program; empty: "luncrawl" in the program directory.
  std::string executable;
  // Arguments after the launch parameter (tests pass "--port N").
  std::vector<std::string> extra_arguments;
  uint16_t port = 8485;
  int launch_attempts = 10;
  int connect_tries = 5;
  int connect_retry_ms = 500;
  int after_launch_ms = 1000;
  // One whole exchange (send, length, text) must end within this. Longer
  // than the service's own per-file deadline (60 s), so that a slow document
  // is answered "no text" by the service before the client gives up on it.
  int request_deadline_ms = 75000;
  // After a Launch that found no service, requests fail at once for this
  // long instead of trying to start it again for every file.
  int relaunch_backoff_ms = 30000;
  int32_t max_reply_bytes = 8 * 1024 * 1024;
  CountdownNotifier notifier;
  // The token handed to the service this client starts; empty: a random one
  // made by the constructor (one per start of the application).
  std::string token;
  // Told once each time a listener on the port is refused, with the reason.
  std::function<void(std::string_view message)> on_untrusted;
};

// The tip shown while the port is held by a service that is not ours.
inline constexpr char kUntrustedServiceTip[] = "数据提取服务端口被其他程序占用：文件只按名称索引";

class CrawlServiceClient {
 public:
  explicit CrawlServiceClient(CrawlServiceClientOptions options);
  // Closes the connection. A service still running is left alone (SendExit
  // ends it); a service that has ended is reaped.
  ~CrawlServiceClient();
  CrawlServiceClient(const CrawlServiceClient&) = delete;
  CrawlServiceClient& operator=(const CrawlServiceClient&) = delete;

  // Connects, starting the service when no connection can be made: up to
  // `launch_attempts` rounds of `connect_tries` connects, a start of the
  // service after each round that fails. When all fail the notifier shows
  // "无法启动数据提取服务!" and false is returned; the client stays usable.
  bool Launch();

  // The text of the file at `path` (UTF-16, converted to the system code
  // page for the request). Returns the number of text bytes and fills
  // `*text`, or -1 (no text, or the exchange failed) and clears it.
  int ExtractText(std::u16string_view path, std::u16string* text);

  // The same with the reason for a failure; `path` in UTF-8.
  CrawlOutcome Extract(std::string_view path, std::u16string* text);

  // Sends "Exit" and closes; later requests fail with kClosed. A service this
  // client started is waited for briefly and killed if it lingers.
  void SendExit();

  // The process id of the service this client started, or -1.
  pid_t service_pid() const;

  // Why the listener on the port was last refused; "" while the service is
  // ours (or none was reached).
  std::string trouble() const;

 private:
  bool LaunchLocked();
  bool ConnectOnce();
  bool StartService();
  void StopOwnService(bool force);
  void ReapOwnService();
  void CloseSocket();
  bool ConnectionIsStale() const;
  // "" when the connected listener is our service, else why not.
  std::string CheckService();
  CrawlOutcome Exchange(std::string_view path, std::u16string* text);

  CrawlServiceClientOptions options_;
  mutable std::mutex mutex_;
  int fd_ = -1;
  pid_t service_pid_ = -1;
  bool closed_ = false;
  int64_t launch_blocked_until_ms_ = 0;
  // Its own lock: the status display asks for it while an exchange may
  // hold `mutex_` for a long time.
  mutable std::mutex trouble_mutex_;
  std::string trouble_;
};

}  // namespace lun

#endif  // LUN_APP_CRAWL_SERVICE_CLIENT_H_
