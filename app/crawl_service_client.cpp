#include "app/crawl_service_client.h"

#include <arpa/inet.h>
#include <errno.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <utility>

#include "crawler/extract/crawl_wire_format.h"
#include "platform/crypto.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "platform/socket_owner.h"
#include "platform/text.h"

namespace lun {
namespace {

void SleepMs(int ms) {
  if (ms <= 0) return;
  struct timespec ts{ms / 1000, (ms % 1000) * 1000000L};
  while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
  }
}

// Waits until `fd` is ready for `events` or the deadline passes.
bool WaitReady(int fd, short events, int64_t deadline) {
  for (;;) {
    const int64_t left = deadline - MonotonicMs();
    if (left <= 0) return false;
    struct pollfd pfd{fd, events, 0};
    const int rc = poll(&pfd, 1, static_cast<int>(left));
    if (rc > 0) return true;
    if (rc < 0 && errno != EINTR) return false;
  }
}

enum class Io { kOk, kFailed, kTimedOut };

Io SendAll(int fd, std::string_view data, int64_t deadline) {
  size_t sent = 0;
  while (sent < data.size()) {
    if (!WaitReady(fd, POLLOUT, deadline)) return Io::kTimedOut;
    const ssize_t n = send(fd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (n <= 0) return Io::kFailed;
    sent += static_cast<size_t>(n);
  }
  return Io::kOk;
}

Io ReceiveAll(int fd, char* buf, size_t size, int64_t deadline) {
  size_t got = 0;
  while (got < size) {
    if (!WaitReady(fd, POLLIN, deadline)) return Io::kTimedOut;
    const ssize_t n = recv(fd, buf + got, size - got, MSG_DONTWAIT);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (n <= 0) return Io::kFailed;  // closed before the expected bytes arrived
    got += static_cast<size_t>(n);
  }
  return Io::kOk;
}

}  // namespace

CrawlServiceClient::CrawlServiceClient(CrawlServiceClientOptions options)
    : options_(std::move(options)) {
  if (options_.executable.empty()) options_.executable = JoinPath(ProgramDirectory(), "luncrawl");
  if (options_.token.empty()) options_.token = HexText(RandomBytes(32));
}

CrawlServiceClient::~CrawlServiceClient() {
  std::lock_guard lock(mutex_);
  CloseSocket();
  ReapOwnService();
}

pid_t CrawlServiceClient::service_pid() const {
  std::lock_guard lock(mutex_);
  return service_pid_;
}

std::string CrawlServiceClient::trouble() const {
  std::lock_guard lock(trouble_mutex_);
  return trouble_;
}

bool CrawlServiceClient::Launch() {
  std::lock_guard lock(mutex_);
  if (closed_) return false;
  return LaunchLocked();
}

bool CrawlServiceClient::ConnectOnce() {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(options_.port);
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    close(fd);
    return false;
  }
  const int one = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  fd_ = fd;
  return true;
}

void CrawlServiceClient::CloseSocket() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
}

void CrawlServiceClient::ReapOwnService() {
  if (service_pid_ <= 0) return;
  int status;
  if (waitpid(service_pid_, &status, WNOHANG) == service_pid_) service_pid_ = -1;
}

void CrawlServiceClient::StopOwnService(bool force) {
  if (service_pid_ <= 0) return;
  if (force) {
    kill(-service_pid_, SIGKILL);
    kill(service_pid_, SIGKILL);
    while (waitpid(service_pid_, nullptr, 0) < 0 && errno == EINTR) {
    }
    service_pid_ = -1;
    return;
  }
  ReapOwnService();
}

bool CrawlServiceClient::StartService() {
  // Our previous service did not accept connections: it is hung or starting
  // forever. It goes before a new one is started, or the new one would find
  // the port taken.
  ReapOwnService();
  StopOwnService(/*force=*/true);
  std::vector<std::string> argv{options_.executable, kCrawlServiceParameter};
  argv.insert(argv.end(), options_.extra_arguments.begin(), options_.extra_arguments.end());
  SpawnOptions spawn;
  spawn.new_process_group = true;  // so that it and its workers can be killed together
  spawn.environment = {std::string(kCrawlTokenVariable) + "=" + options_.token};
  pid_t pid = -1;
  if (SpawnProcess(argv, spawn, &pid) != 0) return false;
  service_pid_ = pid;
  return true;
}

std::string CrawlServiceClient::CheckService() {
  const std::string port = std::to_string(options_.port);
  const std::vector<uid_t> owners = LoopbackListenerUids(options_.port);
  if (owners.empty()) {
    return "数据提取服务: 无法确定端口 " + port + " 上的程序属于哪个用户，不使用它";
  }
  for (uid_t owner : owners) {
    if (owner != getuid()) {
      return "数据提取服务: 端口 " + port + " 被其他用户 (uid " + std::to_string(owner) +
             ") 的程序占用，不使用它";
    }
  }
  const std::string challenge = HexText(RandomBytes(16));
  std::u16string answer;
  const CrawlOutcome outcome = Exchange(kCrawlHelloPrefix + challenge, &answer);
  if (outcome == CrawlOutcome::kText &&
      ConstantTimeEquals(ToNarrow(answer), HelloAnswer(options_.token, challenge))) {
    return {};
  }
  return "数据提取服务: 端口 " + port +
         " 上的程序不是本次启动的数据提取服务 (没有正确回答口令)，不使用它";
}

bool CrawlServiceClient::LaunchLocked() {
  CloseSocket();
  // A connection stands: it is used only if its listener is our service.
  auto trusted = [this] {
    std::string reason = CheckService();
    std::string before;
    {
      std::lock_guard lock(trouble_mutex_);
      before = std::exchange(trouble_, reason);
    }
    if (reason.empty()) return true;
    CloseSocket();
    launch_blocked_until_ms_ = MonotonicMs() + options_.relaunch_backoff_ms;
    if (reason != before && options_.on_untrusted) options_.on_untrusted(reason);
    return false;
  };
  for (int attempt = 0; attempt < options_.launch_attempts; ++attempt) {
    for (int i = 0; i < options_.connect_tries; ++i) {
      if (ConnectOnce()) return trusted();
      SleepMs(options_.connect_retry_ms);
    }
    StartService();
    SleepMs(options_.after_launch_ms);
  }
  // The last start gets its chance too.
  if (ConnectOnce()) return trusted();
  // Whatever we started and cannot reach goes: a service that died at start
  // leaves no zombie, one stuck in its start no orphan.
  StopOwnService(/*force=*/true);
  launch_blocked_until_ms_ = MonotonicMs() + options_.relaunch_backoff_ms;
  if (options_.notifier) {
    options_.notifier(kServiceStartErrorCaption, kServiceStartErrorText, kServiceStartErrorMs);
  }
  return false;
}

bool CrawlServiceClient::ConnectionIsStale() const {
  // Between exchanges nothing may arrive: readable means the service closed
  // (it died while idle) or sent bytes nobody asked for.
  struct pollfd pfd{fd_, POLLIN, 0};
  return poll(&pfd, 1, 0) != 0;
}

int CrawlServiceClient::ExtractText(std::u16string_view path, std::u16string* text) {
  const CrawlOutcome outcome = Extract(ToNarrow(path), text);
  return outcome == CrawlOutcome::kText ? static_cast<int>(text->size() * 2) : -1;
}

CrawlOutcome CrawlServiceClient::Extract(std::string_view path, std::u16string* text) {
  text->clear();
  std::lock_guard lock(mutex_);
  if (closed_) return CrawlOutcome::kClosed;
  if (fd_ >= 0 && ConnectionIsStale()) CloseSocket();
  if (fd_ < 0) {
    if (MonotonicMs() < launch_blocked_until_ms_ || !LaunchLocked()) {
      return trouble().empty() ? CrawlOutcome::kServiceUnavailable
                               : CrawlOutcome::kServiceUntrusted;
    }
  }
  const CrawlOutcome outcome = Exchange(path, text);
  if (outcome != CrawlOutcome::kServiceFailed) return outcome;
  text->clear();
  CloseSocket();
  // A service of ours that failed an exchange is replaced, whatever it
  // seems to be doing: hung, spinning, speaking out of turn, or still
  // dying of a crash (its listening socket would accept the reconnect and
  // the new service could not bind). One we did not start is reconnected.
  StopOwnService(/*force=*/true);
  LaunchLocked();
  return CrawlOutcome::kServiceFailed;
}

CrawlOutcome CrawlServiceClient::Exchange(std::string_view path, std::u16string* text) {
  // A path with a 0 byte cannot be framed, and one that reads "Exit" would
  // end the service: neither is sent (no file path looks like either).
  if (path.empty() || path.size() > kMaxRequestPathBytes ||
      path.find('\0') != std::string_view::npos || path == kCrawlExitRequest) {
    return CrawlOutcome::kNoText;
  }
  const int64_t deadline = MonotonicMs() + options_.request_deadline_ms;
  // Every failure (a timed-out wait included) is the same to the caller.
  auto failed = [](Io) { return CrawlOutcome::kServiceFailed; };
  if (Io io = SendAll(fd_, EncodeRequest(path), deadline); io != Io::kOk) return failed(io);
  unsigned char header[kReplyHeaderBytes];
  if (Io io = ReceiveAll(fd_, reinterpret_cast<char*>(header), sizeof header, deadline);
      io != Io::kOk) {
    return failed(io);
  }
  const int32_t n = DecodeReplyLength(header);
  switch (CheckReplyLength(n, options_.max_reply_bytes)) {
    case ReplyCheck::kNoText: return CrawlOutcome::kNoText;
    case ReplyCheck::kMalformed: return failed(Io::kFailed);
    case ReplyCheck::kText: break;
  }
  std::string bytes(static_cast<size_t>(n), '\0');
  if (Io io = ReceiveAll(fd_, bytes.data(), bytes.size(), deadline); io != Io::kOk) {
    return failed(io);
  }
  *text = DecodeUtf16Le(bytes);
  return CrawlOutcome::kText;
}

void CrawlServiceClient::SendExit() {
  std::lock_guard lock(mutex_);
  if (closed_) return;
  closed_ = true;
  if (fd_ >= 0) {
    (void)SendAll(fd_, EncodeRequest(kCrawlExitRequest), MonotonicMs() + 1000);
    CloseSocket();
  }
  // Give our service a moment to end by itself, then make sure.
  for (int i = 0; i < 100 && service_pid_ > 0; ++i) {
    ReapOwnService();
    if (service_pid_ > 0) SleepMs(20);
  }
  StopOwnService(/*force=*/true);
}

}  // namespace lun
