// The client against a scripted service running on a thread of the test:
// each request path names how the service misbehaves. The process-level
// cases (a service that crashes, hangs or never starts) are in
// tests/crawl_service.
#include "app/crawl_service_client.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cstring>
#include <list>
#include <mutex>
#include <thread>

#include <gtest/gtest.h>

#include "crawler/extract/crawl_wire_format.h"
#include "crawler/extract/extract_test_util.h"
#include "platform/text.h"

namespace lun {
namespace {

void SendRaw(int fd, std::string_view data) {
  (void)!send(fd, data.data(), data.size(), MSG_NOSIGNAL);
}

std::string Length(int32_t n) {
  std::string out(4, '\0');
  std::memcpy(out.data(), &n, 4);
  return out;
}

// The token the tests hand the client and their services.
constexpr char kToken[] = "test-token";

// Serves every connection on a thread of its own, so that a "hung"
// connection does not stop the client from reconnecting. It answers the
// client's challenge with `token` and keeps every request it received.
class ScriptedService {
 public:
  explicit ScriptedService(std::string token = kToken) : token_(std::move(token)) {
    listen_fd_ = socket(AF_INET, SOCK_STREAM, 0);
    const int one = 1;
    setsockopt(listen_fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(listen_fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    socklen_t len = sizeof addr;
    getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&addr), &len);
    port_ = ntohs(addr.sin_port);
    listen(listen_fd_, 16);
    acceptor_ = std::thread([this] { AcceptLoop(); });
  }
  ~ScriptedService() {
    stopping_ = true;
    shutdown(listen_fd_, SHUT_RDWR);
    close(listen_fd_);
    acceptor_.join();
    for (int fd : connections_) shutdown(fd, SHUT_RDWR);
    for (std::thread& t : workers_) t.join();
    for (int fd : connections_) close(fd);
  }
  uint16_t port() const { return port_; }
  int connections() const { return accepted_; }
  std::vector<std::string> requests() const {
    std::lock_guard lock(requests_mutex_);
    return requests_;
  }

 private:
  void AcceptLoop() {
    for (;;) {
      const int fd = accept(listen_fd_, nullptr, nullptr);
      if (fd < 0) return;
      ++accepted_;
      connections_.push_back(fd);
      workers_.emplace_back([this, fd] { Serve(fd); });
    }
  }

  void Serve(int fd) {
    std::string buffer;
    char chunk[4096];
    for (;;) {
      std::string path;
      size_t used = 0;
      if (ScanRequest(buffer, &path, &used) != RequestScan::kPath) {
        const ssize_t n = recv(fd, chunk, sizeof chunk, 0);
        if (n <= 0) return;
        buffer.append(chunk, static_cast<size_t>(n));
        continue;
      }
      buffer.erase(0, used);
      if (!Answer(fd, path)) return;
    }
  }

  // False ends the connection (after the misbehaviour).
  bool Answer(int fd, const std::string& path) {
    {
      std::lock_guard lock(requests_mutex_);
      requests_.push_back(path);
    }
    if (path.starts_with(kCrawlHelloPrefix)) {
      const std::string challenge = path.substr(sizeof kCrawlHelloPrefix - 1);
      SendRaw(fd, EncodeReply(ToWide(HelloAnswer(token_, challenge))));
    } else if (path.rfind("text:", 0) == 0) {
      SendRaw(fd, EncodeReply(ToWide(path.substr(5))));
    } else if (path == "notext") {
      SendRaw(fd, Length(0));
    } else if (path == "negative") {
      SendRaw(fd, Length(-5));
    } else if (path == "halfclose") {
      SendRaw(fd, Length(100) + std::string(10, 'x'));
      shutdown(fd, SHUT_RDWR);
      return false;
    } else if (path == "huge") {
      SendRaw(fd, Length(0x7FFFFFF0) + std::string(64, 'x'));
    } else if (path == "odd") {
      SendRaw(fd, Length(3) + "abc");
    } else if (path == "trailing") {
      SendRaw(fd, EncodeReply(u"ok") + "junk");
    } else if (path == "close") {
      shutdown(fd, SHUT_RDWR);
      return false;
    } else if (path == "hang") {
      while (!stopping_) usleep(10000);
      return false;
    }
    return true;
  }

  const std::string token_;
  mutable std::mutex requests_mutex_;
  std::vector<std::string> requests_;
  int listen_fd_ = -1;
  uint16_t port_ = 0;
  std::atomic<bool> stopping_{false};
  std::atomic<int> accepted_{0};
  std::thread acceptor_;
  std::list<std::thread> workers_;
  std::list<int> connections_;
};

CrawlServiceClientOptions FastOptions(uint16_t port) {
  CrawlServiceClientOptions options;
  options.executable = "/nonexistent/luncrawl";
  options.port = port;
  options.launch_attempts = 2;
  options.connect_tries = 2;
  options.connect_retry_ms = 10;
  options.after_launch_ms = 10;
  options.request_deadline_ms = 2000;
  options.relaunch_backoff_ms = 60000;
  options.token = kToken;
  return options;
}

// A listener of another account on `port`: a child process that becomes
// user "nobody" before it makes its socket and reports every byte it
// receives through a pipe. Needs root (skipped otherwise).
class ForeignListener {
 public:
  ForeignListener() {
    int ready[2];
    if (pipe(ready) != 0 || pipe(received_) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      close(ready[0]);
      close(received_[0]);
      if (setgid(65534) != 0 || setuid(65534) != 0) _exit(1);
      const int fd = socket(AF_INET, SOCK_STREAM, 0);
      sockaddr_in addr{};
      addr.sin_family = AF_INET;
      addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(fd, 8) != 0) {
        _exit(1);
      }
      socklen_t len = sizeof addr;
      getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
      const uint16_t port = ntohs(addr.sin_port);
      (void)!write(ready[1], &port, sizeof port);
      for (;;) {
        const int conn = accept(fd, nullptr, nullptr);
        if (conn < 0) _exit(0);
        char buf[4096];
        ssize_t n;
        while ((n = recv(conn, buf, sizeof buf, 0)) > 0) {
          (void)!write(received_[1], buf, static_cast<size_t>(n));
          SendRaw(conn, EncodeReply(u"squatted"));
        }
        close(conn);
      }
    }
    close(ready[1]);
    close(received_[1]);
    if (read(ready[0], &port_, sizeof port_) != sizeof port_) port_ = 0;
    close(ready[0]);
  }
  ~ForeignListener() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    close(received_[0]);
  }
  uint16_t port() const { return port_; }
  // Everything the listener was sent (call once the client is done).
  std::string Received() {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
    std::string all;
    char buf[4096];
    ssize_t n;
    while ((n = read(received_[0], buf, sizeof buf)) > 0) all.append(buf, static_cast<size_t>(n));
    return all;
  }

 private:
  pid_t pid_ = -1;
  int received_[2] = {-1, -1};
  uint16_t port_ = 0;
};

TEST(CrawlServiceClientTest, EveryMisbehaviourCostsOneFileAndTheClientRecovers) {
  ScriptedService service;
  CrawlServiceClient client(FastOptions(service.port()));
  ASSERT_TRUE(client.Launch());
  // An answer proves the service has counted the connection it came on.
  std::u16string warm;
  ASSERT_EQ(client.Extract("text:warm", &warm), CrawlOutcome::kText);
  struct Case {
    const char* request;
    CrawlOutcome outcome;
    bool reconnects;  // the connection is replaced afterwards
  };
  const std::array<Case, 10> cases{{
      {"text:hello", CrawlOutcome::kText, false},
      {"notext", CrawlOutcome::kNoText, false},  // N = 0: no text, connection kept
      {"negative", CrawlOutcome::kNoText, false},
      {"halfclose", CrawlOutcome::kServiceFailed, true},
      // A claimed 2 GB reply is refused at once, nothing is allocated.
      {"huge", CrawlOutcome::kServiceFailed, true},
      {"odd", CrawlOutcome::kServiceFailed, true},
      {"close", CrawlOutcome::kServiceFailed, true},
      // The deadline notices a service that never answers.
      {"hang", CrawlOutcome::kServiceFailed, true},
      // Bytes after a complete reply: this answer is good, the stream is
      // not, so the next request goes over a new connection.
      {"trailing", CrawlOutcome::kText, true},
      {"Exit", CrawlOutcome::kNoText, false},  // never sent: it would end the service
  }};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.request);
    const int before = service.connections();
    std::u16string text;
    EXPECT_EQ(client.Extract(c.request, &text), c.outcome);
    if (c.outcome != CrawlOutcome::kText) EXPECT_TRUE(text.empty());
    std::u16string after;
    EXPECT_EQ(client.Extract("text:again", &after), CrawlOutcome::kText);
    EXPECT_EQ(after, u"again");
    EXPECT_EQ(service.connections() > before, c.reconnects);
  }
}

TEST(CrawlServiceClientTest, ExtractTextReturnsBytesOrMinusOne) {
  ScriptedService service;
  CrawlServiceClient client(FastOptions(service.port()));
  std::u16string text;
  // The first request connects by itself.
  EXPECT_EQ(client.ExtractText(u"text:\u4E2D\u6587", &text), 4);
  EXPECT_EQ(text, u"\u4E2D\u6587");
  EXPECT_EQ(client.ExtractText(u"notext", &text), -1);
  EXPECT_TRUE(text.empty());
}

TEST(CrawlServiceClientTest, ConcurrentCallersEachGetTheirOwnAnswer) {
  ScriptedService service;
  CrawlServiceClient client(FastOptions(service.port()));
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 50; ++i) {
        const std::string word = "t" + std::to_string(t) + "i" + std::to_string(i);
        std::u16string text;
        const bool failing = i % 10 == 5;
        const CrawlOutcome outcome = client.Extract(failing ? "halfclose" : "text:" + word, &text);
        if (failing) {
          if (outcome != CrawlOutcome::kServiceFailed) ++wrong;
        } else if (outcome != CrawlOutcome::kText ||
                   text != std::u16string(word.begin(), word.end())) {
          ++wrong;
        }
      }
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(wrong, 0);
}

TEST(CrawlServiceClientTest, NoServiceGivesOneNoticeThenFailsFast) {
  // A port nobody listens on and a program that does not exist.
  CrawlServiceClientOptions options = FastOptions(FreeLoopbackPort());
  int notices = 0;
  options.notifier = [&](std::string_view caption, std::string_view text, int ms) {
    ++notices;
    EXPECT_EQ(caption, kServiceStartErrorCaption);
    EXPECT_EQ(text, kServiceStartErrorText);
    EXPECT_EQ(ms, kServiceStartErrorMs);
  };
  CrawlServiceClient client(options);
  EXPECT_FALSE(client.Launch());
  EXPECT_EQ(notices, 1);
  std::u16string text;
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(client.Extract("/a.txt", &text), CrawlOutcome::kServiceUnavailable);
  }
  EXPECT_EQ(notices, 1);  // within the back-off no new launch, no new notice
}

TEST(CrawlServiceClientTest, AListenerThatDoesNotKnowTheTokenGetsNoPath) {
  ScriptedService squatter("another-token");
  CrawlServiceClientOptions options = FastOptions(squatter.port());
  std::vector<std::string> reports;
  options.on_untrusted = [&](std::string_view message) { reports.emplace_back(message); };
  CrawlServiceClient client(options);
  EXPECT_FALSE(client.Launch());
  std::u16string text;
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(client.Extract("/home/user/secret.txt", &text), CrawlOutcome::kServiceUntrusted);
    EXPECT_TRUE(text.empty());
  }
  ASSERT_EQ(reports.size(), 1u) << "reported once";
  EXPECT_NE(reports[0].find("口令"), std::string::npos) << reports[0];
  EXPECT_EQ(client.trouble(), reports[0]);
  for (const std::string& request : squatter.requests()) {
    EXPECT_TRUE(request.starts_with(kCrawlHelloPrefix)) << request;
    EXPECT_EQ(request.find(kToken), std::string::npos) << "the token never travels";
  }
}

TEST(CrawlServiceClientTest, AListenerOfAnotherUserIsNeverSpokenTo) {
  if (geteuid() != 0) GTEST_SKIP() << "making a listener of another user needs root";
  ForeignListener squatter;
  ASSERT_NE(squatter.port(), 0);
  CrawlServiceClientOptions options = FastOptions(squatter.port());
  std::string report;
  options.on_untrusted = [&](std::string_view message) { report = message; };
  CrawlServiceClient client(options);
  EXPECT_FALSE(client.Launch());
  std::u16string text;
  EXPECT_EQ(client.Extract("/home/user/secret.txt", &text), CrawlOutcome::kServiceUntrusted);
  EXPECT_NE(report.find("uid 65534"), std::string::npos) << report;
  EXPECT_EQ(squatter.Received(), "") << "not even the challenge";
}

TEST(CrawlServiceClientTest, NothingAfterSendExit) {
  ScriptedService service;
  CrawlServiceClient client(FastOptions(service.port()));
  ASSERT_TRUE(client.Launch());
  client.SendExit();
  std::u16string text;
  EXPECT_EQ(client.Extract("text:x", &text), CrawlOutcome::kClosed);
  EXPECT_EQ(client.ExtractText(u"text:x", &text), -1);
  EXPECT_FALSE(client.Launch());
}

}  // namespace
}  // namespace lun
