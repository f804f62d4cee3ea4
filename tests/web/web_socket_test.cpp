// The web server over real sockets: path traversal against a canary file,
// malformed and oversized requests, request smuggling, byte ranges, slow and
// silent clients, disconnects, many connections at once, and shutdown.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <ifaddrs.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "platform/file_system.h"
#include "platform/scratch_dir.h"
#include "web/test_zip.h"
#include "web/web_server.h"

namespace lun {
namespace {

constexpr char kCanary[] = "CANARY-7f3a";

// A page runner that answers with the form and query it was given, so that
// tests can see what arrived.
class EchoRunner : public PageRunner {
 public:
  PageRunStatus Run(const PageRequest& request, PageResponder&, PageOutput* output) override {
    if (request.query.Find("throw") != nullptr) throw std::runtime_error("page object failed");
    for (const auto& [name, value] : request.form.entries()) {
      output->body += "form:" + name + "=" + value + "\n";
    }
    for (const auto& [name, value] : request.query.entries()) {
      output->body += "query:" + name + "=" + value + "\n";
    }
    return PageRunStatus::kRan;
  }
};

// Connects to `host` (an IPv4 address text; default loopback), so the
// server sees the connection coming from that address.
int Connect(uint16_t port, const std::string& host = "127.0.0.1") {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  timeval timeout{20, 0};  // a hung server fails the test instead of hanging it
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  inet_pton(AF_INET, host.c_str(), &address.sin_addr);
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

bool SendBytes(int fd, std::string_view data) {
  while (!data.empty()) {
    const ssize_t n = send(fd, data.data(), data.size(), MSG_NOSIGNAL);
    if (n <= 0) return false;
    data.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

// Reads until the server closes the connection.
std::string ReadAll(int fd) {
  std::string out;
  char buffer[65536];
  for (;;) {
    const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
    if (n <= 0) break;
    out.append(buffer, static_cast<size_t>(n));
  }
  return out;
}

struct Response {
  std::string raw;
  std::string status;  // "200 OK" etc.; empty when nothing came back
  std::string head;
  std::string body;
};

Response Parse(std::string raw) {
  Response r;
  r.raw = std::move(raw);
  const size_t end = r.raw.find("\r\n\r\n");
  r.head = r.raw.substr(0, end == std::string::npos ? r.raw.size() : end + 4);
  if (end != std::string::npos) r.body = r.raw.substr(end + 4);
  if (r.raw.starts_with("HTTP/1.0 ")) r.status = r.raw.substr(9, r.raw.find("\r\n") - 9);
  return r;
}

Response Exchange(uint16_t port, std::string_view request) {
  const int fd = Connect(port);
  if (fd < 0) return {};
  SendBytes(fd, request);
  Response r = Parse(ReadAll(fd));
  close(fd);
  return r;
}

// Waits for `condition` for at most 30 s; the bound is a hang guard, never a
// timing expectation.
template <typename Fn>
bool Eventually(Fn condition) {
  const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (!condition()) {
    if (std::chrono::steady_clock::now() > give_up) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

// An IPv4 address of this machine outside 127.0.0.0/8: connections to it
// come from a peer the server treats as remote. Empty when there is none.
std::string NonLoopbackAddress() {
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) return {};
  std::string found;
  for (ifaddrs* a = list; a != nullptr && found.empty(); a = a->ifa_next) {
    if (a->ifa_addr == nullptr || a->ifa_addr->sa_family != AF_INET) continue;
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(a->ifa_addr)->sin_addr, text, sizeof text);
    if (!IsLoopbackAddress(text)) found = text;
  }
  freeifaddrs(list);
  return found;
}

int ThreadCount() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.starts_with("Threads:")) return std::stoi(line.substr(8));
  }
  return -1;
}

size_t OpenDescriptorCount() {
  size_t count = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    ++count;
  }
  return count;
}

class WebSocketTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // Layout: <dir>/secret.txt and <dir>/res/secret.txt hold the canary; the
    // web root is <dir>/res/$A7.../ with LUN/ unpacked from LUN.WR.
    ASSERT_TRUE(MakeDirectories(dir_.File("res")));
    for (int i = 0; i < 1000; ++i) thousand_.push_back(static_cast<char>(i * 7));
    ASSERT_TRUE(WriteTestZip(dir_.File("res/LUN.WR"), {{"index.html", "<html>home</html>"},
                                                        {"r.bin", thousand_},
                                                        {"form.shl", "page"}}));
    ASSERT_EQ(ReplaceFileAtomically(DefaultFileSystem(), dir_.File("secret.txt"), kCanary), 0);
    ASSERT_EQ(ReplaceFileAtomically(DefaultFileSystem(), dir_.File("res/secret.txt"), kCanary), 0);
    ASSERT_EQ(ReplaceFileAtomically(DefaultFileSystem(), canary_dir_.File("secret.txt"), kCanary),
              0);
    StartServer(30000);
  }

  void StartServer(int idle_timeout_ms, const ConnectionLimits& limits = {},
                   std::function<bool()> remote_allowed = {}) {
    server_.reset();
    server_ = std::make_unique<WebServer>(&runner_, dir_.path());
    server_->set_limits(limits);
    server_->set_remote_admission(std::move(remote_allowed));
    ASSERT_TRUE(server_->Start(dir_.File("res"), "index.html", 0, idle_timeout_ms));
    port_ = server_->port();
    ASSERT_NE(port_, 0);
  }

  Response Get(const std::string& target, const std::string& headers = "") {
    return Exchange(port_, "GET " + target + " HTTP/1.0\r\n" + headers + "\r\n");
  }

  std::string ReadLog() {
    std::string log;
    (void)ReadWholeFile(DefaultFileSystem(), dir_.File(kServerLogName), &log);
    return log;
  }

  ScratchDir dir_;
  ScratchDir canary_dir_;
  std::string thousand_;
  EchoRunner runner_;
  std::unique_ptr<WebServer> server_;
  uint16_t port_ = 0;
};

TEST_F(WebSocketTest, TraversalNeverReachesTheCanary) {
  // The symbolic link inside the root that points out of it.
  ASSERT_EQ(symlink(dir_.path().c_str(), (server_->web_root() + "LUN/out").c_str()), 0);
  ASSERT_EQ(symlink(dir_.File("secret.txt").c_str(), (server_->web_root() + "LUN/s.txt").c_str()),
            0);
  const std::string absolute = canary_dir_.File("secret.txt");
  const std::vector<std::string> targets = {
      "/../secret.txt", "/./../secret.txt", "//../secret.txt", "/LUN/../../secret.txt",
      "/%2e%2e/secret.txt", "/%2E%2E/secret.txt", "/.%2e/secret.txt", "/%2e./secret.txt",
      "/..%2fsecret.txt", "/LUN/..%2f..%2fsecret.txt",
      "/%252e%252e/secret.txt",  // decoded once: a literal name
      "/%%32%65%%32%65/secret.txt", "/..\\secret.txt", "/%5c..%5csecret.txt",
      "/..%5c..%5csecret.txt", "/LUN\\..\\..\\secret.txt", absolute, "/" + absolute,
      "/etc/passwd", "//etc/passwd", "/C:/Windows/win.ini", "/\\\\host\\share",
      "http://x/../../secret.txt", "../secret.txt", "/index.html%00.txt",
      "/%c0%ae%c0%ae/secret.txt", "/LUN/out/secret.txt", "/LUN/s.txt", "/LUN/out/res/secret.txt",
  };
  for (const std::string& target : targets) {
    SCOPED_TRACE(target);
    const Response r = Get(target);
    EXPECT_TRUE(r.status == "400 Bad Request" || r.status == "403 Forbidden" ||
                r.status == "404 Not Found")
        << r.raw;
    EXPECT_EQ(r.raw.find(kCanary), std::string::npos);
  }
  // And the root still serves what is inside it.
  EXPECT_EQ(Get("/LUN/../LUN/./index.html").body, "<html>home</html>");
}

TEST_F(WebSocketTest, ByteRangesOverTheWire) {
  struct Case {
    const char* range;
    const char* status;
    size_t first, count;  // expected body: thousand_[first, first + count)
  };
  const std::vector<Case> cases = {
      {"bytes=0-99", "206 Partial Content", 0, 100},
      {"bytes=100-199", "206 Partial Content", 100, 100},
      {"bytes=999-", "206 Partial Content", 999, 1},
      {"bytes=0-", "200 OK", 0, 1000},
      {"bytes=-2000", "200 OK", 0, 1000},
      {"bytes=500-100", "200 OK", 0, 1000},
      {"items=0-5", "200 OK", 0, 1000},
      {"bytes=1000-", "416 Requested Range Not Satisfiable", 0, 0},
      {"bytes=-0", "416 Requested Range Not Satisfiable", 0, 0},
      {"bytes=0-1000", "404 Not Found", 0, 0},
      {"bytes=5000-6000", "404 Not Found", 0, 0},
      {"bytes=99999999999999999999-", "416 Requested Range Not Satisfiable", 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.range);
    const Response r = Get("/LUN/r.bin", std::string("Range: ") + c.range + "\r\n");
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.body, thousand_.substr(c.first, c.count));
  }
  std::string many = "Range: bytes=0-";
  for (int i = 0; i < 99; ++i) many += ",0-";
  const Response r = Get("/LUN/r.bin", many + "\r\n");
  EXPECT_EQ(r.status, "200 OK");
  EXPECT_EQ(r.body.size(), 1000u);  // never more than the file
  EXPECT_NE(Get("/LUN/r.bin", "Range: bytes=1000-\r\n").head.find("Content-Range: bytes */1000\r\n"),
            std::string::npos);
  const Response head = Exchange(port_, "HEAD /LUN/r.bin HTTP/1.0\r\n\r\n");
  EXPECT_EQ(head.status, "200 OK");
  EXPECT_TRUE(head.body.empty());
}

TEST_F(WebSocketTest, MalformedOversizedAndSmuggledRequests) {
  struct Case {
    const char* name;
    std::string request;
    const char* status;
  };
  const std::vector<Case> cases = {
      {"length and transfer-encoding",
       "POST /LUN/form.shl HTTP/1.0\r\nContent-Length: 5\r\nTransfer-Encoding: chunked\r\n\r\n"
       "0\r\n\r\n",
       "400 Bad Request"},
      {"two different lengths",
       "POST /LUN/form.shl HTTP/1.0\r\nContent-Length: 3\r\nContent-Length: 4\r\n\r\nabcd",
       "400 Bad Request"},
      {"post without length", "POST /LUN/form.shl HTTP/1.0\r\n\r\na=1", "400 Bad Request"},
      {"length not a number", "POST /LUN/form.shl HTTP/1.0\r\nContent-Length: 1x\r\n\r\n",
       "400 Bad Request"},
      // Refused from the head alone: the body is never sent.
      {"length over the limit", "POST /LUN/form.shl HTTP/1.0\r\nContent-Length: 2000000\r\n\r\n",
       "400 Bad Request"},
      {"request line of 8 KiB + 1", "GET /" + std::string(8193, 'a') + " HTTP/1.0\r\n\r\n",
       "414 Request-URI Too Long"},
      {"oversized header", "GET / HTTP/1.0\r\nX: " + std::string(9000, 'h') + "\r\n\r\n",
       "400 Bad Request"},
      {"oversized head", "GET / HTTP/1.0\r\n" + std::string(50000, 'h'), "400 Bad Request"},
      {"bare LF", "GET /LUN/index.html HTTP/1.0\nHost: x\n\n", "400 Bad Request"},
      {"folding", "GET /LUN/index.html HTTP/1.0\r\nA: b\r\n c\r\n\r\n", "400 Bad Request"},
      {"blank before colon", "GET /LUN/index.html HTTP/1.0\r\nHost : x\r\n\r\n",
       "400 Bad Request"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Exchange(port_, c.request).status, c.status);
  }
  // A body far over the limit, actually sent: refused, connection closed, and
  // the server carries on.
  const int fd = Connect(port_);
  ASSERT_GE(fd, 0);
  std::string big = "POST /LUN/form.shl HTTP/1.0\r\nContent-Length: 2097152\r\n\r\n" +
                    std::string(2 << 20, 'x');
  SendBytes(fd, big);  // may fail part-way once the server has answered
  EXPECT_EQ(Parse(ReadAll(fd)).status, "400 Bad Request");
  close(fd);
  EXPECT_EQ(Get("/LUN/index.html").status, "200 OK");
}

TEST_F(WebSocketTest, UnknownMethodsAndFailingPagesGetNoResponse) {
  for (const char* method : {"OPTIONS", "PUT", "DELETE", "TRACE"}) {
    SCOPED_TRACE(method);
    const Response r = Exchange(port_, std::string(method) + " /LUN/index.html HTTP/1.0\r\n\r\n");
    EXPECT_TRUE(r.raw.empty());
  }
  // A page that throws loses its answer, not the server.
  EXPECT_TRUE(Get("/LUN/form.shl?throw=1").raw.empty());
  EXPECT_NE(ReadLog().find("HandleRequest(...) failure: page object failed.\t[ClientThread]"),
            std::string::npos);
  // Keep-Alive still gets one response and a closed connection.
  EXPECT_EQ(Get("/LUN/index.html", "Connection: Keep-Alive\r\n").body, "<html>home</html>");
}

// Browsers send a form's head and body in separate segments; the whole body
// must reach the page, however long its last line.
TEST_F(WebSocketTest, PostSplitAcrossSegmentsIsJoined) {
  const std::string value(20000, 'v');
  const std::string body = "a=1&long=" + value;
  const std::string head = "POST /LUN/form.shl?q=%E4%B8%AD HTTP/1.0\r\nContent-Length: " +
                           std::to_string(body.size()) + "\r\n\r\n";
  const int fd = Connect(port_);
  ASSERT_GE(fd, 0);
  ASSERT_TRUE(SendBytes(fd, head.substr(0, 10)));
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  ASSERT_TRUE(SendBytes(fd, head.substr(10)));
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  for (size_t i = 0; i < body.size(); i += 7000) {
    ASSERT_TRUE(SendBytes(fd, body.substr(i, 7000)));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  const Response r = Parse(ReadAll(fd));
  close(fd);
  EXPECT_EQ(r.status, "200 OK");
  EXPECT_EQ(r.body, "form:a=1\nform:long=" + value + "\nquery:q=\xE4\xB8\xAD\n");
}

TEST_F(WebSocketTest, SilentClientIsDroppedWithoutALogLineAndSlowClientIsServed) {
  server_.reset();
  std::filesystem::remove(dir_.File(kServerLogName));
  StartServer(1000);
  const int silent = Connect(port_);
  ASSERT_GE(silent, 0);
  EXPECT_EQ(ReadAll(silent), "");  // closed by the server after the idle time-out
  close(silent);
  EXPECT_EQ(ReadLog(), "");

  const int slow = Connect(port_);
  ASSERT_GE(slow, 0);
  for (char c : std::string("GET /LUN/index.html HTTP/1.0\r\n\r\n")) {
    ASSERT_TRUE(SendBytes(slow, std::string_view(&c, 1)));
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  EXPECT_EQ(Parse(ReadAll(slow)).body, "<html>home</html>");
  close(slow);
}

TEST_F(WebSocketTest, ClientThatLeavesMidResponseDoesNotHurtTheServer) {
  const std::string big_path = server_->web_root() + "LUN/big.bin";
  {
    std::ofstream big(big_path, std::ios::binary);
    big << std::string(32 << 20, 'z');
  }
  for (int i = 0; i < 5; ++i) {
    const int fd = Connect(port_);
    ASSERT_GE(fd, 0);
    ASSERT_TRUE(SendBytes(fd, "GET /LUN/big.bin HTTP/1.0\r\n\r\n"));
    char buffer[1000];
    ASSERT_GT(recv(fd, buffer, sizeof buffer, 0), 0);
    close(fd);  // with unread data: the server's sends now fail
  }
  EXPECT_TRUE(Eventually([&] { return server_->client_count() == 0; }));
  EXPECT_EQ(Get("/LUN/index.html").status, "200 OK");
  EXPECT_NE(ReadLog().find("WSASend(...) failure.\t[ClientThread, Primary Send]\t["),
            std::string::npos);
}

TEST_F(WebSocketTest, ThousandConnectionsAtOnceAreServedAndReaped) {
  const int threads_before = ThreadCount();
  const size_t descriptors_before = OpenDescriptorCount();
  constexpr int kConnections = 1000;
  std::vector<int> fds;
  for (int i = 0; i < kConnections; ++i) {
    const int fd = Connect(port_);
    ASSERT_GE(fd, 0) << i;
    fds.push_back(fd);
  }
  for (int fd : fds) ASSERT_TRUE(SendBytes(fd, "GET /LUN/index.html HTTP/1.0\r\n\r\n"));
  int served = 0;
  for (int fd : fds) {
    served += Parse(ReadAll(fd)).body == "<html>home</html>";
    close(fd);
  }
  EXPECT_EQ(served, kConnections);
  EXPECT_TRUE(Eventually([&] { return server_->client_count() == 0; }));
  EXPECT_TRUE(Eventually([&] { return ThreadCount() == threads_before; }));
  EXPECT_EQ(OpenDescriptorCount(), descriptors_before);
  EXPECT_GE(server_->clients_started(), static_cast<uint64_t>(kConnections));
}

TEST_F(WebSocketTest, PortInUseFailsRunAtOnce) {
  WebServer second(nullptr, dir_.path());
  EXPECT_FALSE(second.Run(port_, 1000));
  EXPECT_NE(ReadLog().find("bind(...) failure.\t[AcceptThread]\t[98]\n"), std::string::npos);
  EXPECT_FALSE(server_->Run(port_, 1000));  // already running
}

TEST_F(WebSocketTest, ShutdownWaitsForConnectedClients) {
  server_.reset();
  StartServer(0);  // no idle limit: only shutdown ends these clients
  std::vector<int> fds;
  for (int i = 0; i < 20; ++i) fds.push_back(Connect(port_));
  ASSERT_TRUE(Eventually([&] { return server_->client_count() == 20; }));
  EXPECT_TRUE(server_->Shutdown());
  EXPECT_EQ(server_->client_count(), 0u);
  for (int fd : fds) {
    EXPECT_EQ(ReadAll(fd), "");
    close(fd);
  }
  EXPECT_FALSE(server_->Shutdown());
  const std::string root = server_->web_root();
  server_.reset();
  EXPECT_FALSE(std::filesystem::exists(root));
}

}  // namespace
}  // namespace lun

namespace lun {
namespace {

// Idle connections from one remote address take only their few places; the
// rest are closed at once, and the local user's request is served while
// they hold.
TEST_F(WebSocketTest, IdleRemoteFloodDoesNotKeepTheLocalUserOut) {
  const std::string remote = NonLoopbackAddress();
  if (remote.empty()) GTEST_SKIP() << "this machine has no address outside 127.0.0.0/8";
  ConnectionLimits limits;
  limits.max_connections = 64;
  limits.loopback_reserve = 32;
  limits.max_per_remote_address = 4;
  limits.remote_idle_timeout_ms = 120000;  // the flood holds its places for the whole test
  StartServer(120000, limits);
  constexpr int kFlood = 300;
  std::vector<int> flood;
  for (int i = 0; i < kFlood; ++i) {
    const int fd = Connect(port_, remote);
    ASSERT_GE(fd, 0) << i;
    flood.push_back(fd);
  }
  ASSERT_TRUE(Eventually([&] {
    return server_->connections_refused() == kFlood - 4 && server_->client_count() == 4;
  }));
  EXPECT_EQ(Get("/LUN/index.html").body, "<html>home</html>");
  // The local request's thread ends; the admitted flood still holds its
  // places.
  EXPECT_TRUE(Eventually([&] { return server_->client_count() == 4; }));
  EXPECT_EQ(server_->connections_refused(), static_cast<uint64_t>(kFlood - 4));
  // A refused connection was closed by the server, not left hanging.
  char byte;
  EXPECT_LE(recv(flood.back(), &byte, 1, 0), 0);
  EXPECT_NE(ReadLog().find("Connection refused, too many connections: " + remote),
            std::string::npos);
  for (int fd : flood) close(fd);
}

TEST_F(WebSocketTest, RemotePeersAreClosedWhileRemoteLoginIsOffAndIdleBriefly) {
  const std::string remote = NonLoopbackAddress();
  if (remote.empty()) GTEST_SKIP() << "this machine has no address outside 127.0.0.0/8";
  std::atomic<bool> remote_login{false};
  ConnectionLimits limits;
  limits.remote_idle_timeout_ms = 200;
  StartServer(120000, limits, [&remote_login] { return remote_login.load(); });

  const int refused = Connect(port_, remote);
  ASSERT_GE(refused, 0);
  char byte;
  EXPECT_LE(recv(refused, &byte, 1, 0), 0) << "closed at once";
  close(refused);
  EXPECT_EQ(server_->clients_started(), 0u);
  EXPECT_EQ(server_->connections_refused(), 1u);
  EXPECT_EQ(Get("/LUN/index.html").body, "<html>home</html>");

  // With remote login on a remote peer is served, and one that stays silent
  // is dropped after the short remote time-out (the receive guard of the
  // client is 20 s; the server's own idle time-out is two minutes).
  remote_login = true;
  const int remote_fd = Connect(port_, remote);
  ASSERT_GE(remote_fd, 0);
  ASSERT_TRUE(SendBytes(remote_fd, "GET /LUN/index.html HTTP/1.0\r\n\r\n"));
  EXPECT_EQ(Parse(ReadAll(remote_fd)).body, "<html>home</html>");
  close(remote_fd);
  const int silent = Connect(port_, remote);
  ASSERT_GE(silent, 0);
  errno = 0;
  EXPECT_EQ(recv(silent, &byte, 1, 0), 0) << "errno " << errno;
  close(silent);
}

}  // namespace
}  // namespace lun
