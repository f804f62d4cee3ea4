#include "app/update_checker.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zip.h>

#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/update_handover.h"
#include "platform/file_system.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "platform/scratch_dir.h"

namespace lun {
namespace {

// A one-connection-at-a-time HTTP/1.0 server on a free loopback port that
// answers GET requests from a table of paths, for the checker's downloads.
class TinyHttpServer {
 public:
  struct Reply {
    int status = 200;
    std::string body;
    bool stall = false;  // sends half the body, then nothing until the server ends
  };

  TinyHttpServer() {
    listen_fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (bind(listen_fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(listen_fd_, 8) != 0 ||
        getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
      ADD_FAILURE() << "no loopback port";
    }
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { Serve(); });
  }
  ~TinyHttpServer() {
    stop_ = true;
    thread_.join();
    close(listen_fd_);
  }

  void Set(const std::string& path, Reply reply) {
    std::lock_guard lock(mutex_);
    replies_[path] = std::move(reply);
  }
  std::vector<std::string> requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
  }
  std::string Url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
  }

 private:
  void Serve() {
    while (!stop_) {
      pollfd p{listen_fd_, POLLIN, 0};
      if (poll(&p, 1, 50) <= 0) continue;
      const int connection = accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
      if (connection < 0) continue;
      Answer(connection);
      close(connection);
    }
  }

  void Answer(int connection) {
    std::string request;
    char buffer[4096];
    while (request.find("\r\n\r\n") == std::string::npos && request.size() < 65536) {
      pollfd p{connection, POLLIN, 0};
      if (poll(&p, 1, 5000) <= 0) return;
      const ssize_t n = read(connection, buffer, sizeof buffer);
      if (n <= 0) return;
      request.append(buffer, static_cast<size_t>(n));
    }
    const size_t start = request.find(' ') + 1;
    const std::string path = request.substr(start, request.find(' ', start) - start);
    Reply reply{404, "not found", false};
    {
      std::lock_guard lock(mutex_);
      requests_.push_back(path);
      if (const auto it = replies_.find(path); it != replies_.end()) reply = it->second;
    }
    const std::string length = std::to_string(reply.body.size() + (reply.stall ? 1000 : 0));
    const std::string head =
        "HTTP/1.0 " + std::to_string(reply.status) + " X\r\nContent-Length: " + length + "\r\n\r\n";
    const std::string body = reply.stall ? reply.body.substr(0, reply.body.size() / 2) : reply.body;
    (void)WriteAllToFd(connection, (head + body).data(), head.size() + body.size());
    while (reply.stall && !stop_) usleep(20000);
  }

  int listen_fd_ = -1;
  uint16_t port_ = 0;
  std::atomic<bool> stop_{false};
  mutable std::mutex mutex_;
  std::map<std::string, Reply> replies_;
  std::vector<std::string> requests_;
  std::thread thread_;
};

struct ZipEntry {
  std::string name;
  std::string data;
  bool symlink = false;  // stored as a Unix symbolic link whose target is `data`
};

std::string ZipBytes(const ScratchDir& dir, const std::vector<ZipEntry>& entries) {
  const std::string path = dir.File("$zip");
  zipFile zip = zipOpen64(path.c_str(), APPEND_STATUS_CREATE);
  EXPECT_NE(zip, nullptr);
  for (const ZipEntry& e : entries) {
    zip_fileinfo info{};
    if (e.symlink) info.external_fa = static_cast<uLong>(S_IFLNK | 0777) << 16;
    constexpr uLong kMadeOnUnix = 3 << 8 | 20;
    EXPECT_EQ(
        zipOpenNewFileInZip4_64(zip, e.name.c_str(), &info, nullptr, 0, nullptr, 0, nullptr,
                                Z_DEFLATED, Z_DEFAULT_COMPRESSION, 0, -MAX_WBITS, DEF_MEM_LEVEL,
                                Z_DEFAULT_STRATEGY, nullptr, 0, kMadeOnUnix, 0, 0),
        ZIP_OK);
    zipWriteInFileInZip(zip, e.data.data(), static_cast<unsigned>(e.data.size()));
    zipCloseFileInZip(zip);
  }
  zipClose(zip, nullptr);
  std::string bytes;
  EXPECT_EQ(ReadWholeFile(DefaultFileSystem(), path, &bytes), 0);
  unlink(path.c_str());
  return bytes;
}

std::string Description(const std::string& version, const std::vector<std::string>& files,
                        const std::string& info = "新版说明") {
  std::string text = "[Other]\r\nVERSION=9.9\r\n[Desktop Search]\r\nVERSION=" + version +
                     "\r\nINFO=" + info + "\r\n";
  for (size_t i = 0; i < files.size(); ++i) {
    text += "FILE" + std::to_string(i) + "=" + files[i] + "\r\n";
  }
  return text;
}

constexpr char kLocalVersion[] = "0.7020051220";
constexpr char kNewVersion[] = "0.7020060101";

class UpdateCheckerTest : public ::testing::Test {
 protected:
  UpdateCheckerTest() {
    options_.home = home_.path();
    options_.cache_directory = home_.File("cache");
    options_.server_url = server_.Url("/update/LUN/update.htm");
    options_.local_version = kLocalVersion;
    options_.notify = [this](std::string_view title, std::string_view text) {
      notices_.push_back(std::string(title) + "|" + std::string(text));
    };
  }

  std::string UpdateFile(const std::string& name) const {
    return JoinPath(home_.File(kUpdateDirectory), name);
  }
  bool Exists(const std::string& path) const { return access(path.c_str(), F_OK) == 0; }
  std::string Read(const std::string& path) const {
    std::string data;
    EXPECT_EQ(ReadWholeFile(DefaultFileSystem(), path, &data), 0) << path;
    return data;
  }
  // Downloads are removed whatever the outcome.
  void ExpectCacheEmpty() const { EXPECT_TRUE(ListDirectory(options_.cache_directory).empty()); }

  // A package holding a complete update: the updater, its INI and a file in
  // a sub-directory created by its own entry first.
  std::string UpdatePackage() {
    return ZipBytes(home_, {{"update", "#!/bin/sh\n"},
                            {"Update.ini", "[Update]\r\n"},
                            {"bin/", ""},
                            {"bin/x.so", "library"}});
  }

  ScratchDir home_;
  TinyHttpServer server_;
  UpdateCheckerOptions options_;
  std::vector<std::string> notices_;
};

TEST(UpdateUrlTest, ExtensionOfTheLastPathComponentIsRemoved) {
  const struct {
    const char* url;
    const char* expected;
  } cases[] = {
      {"http://example.org/update/LUN/update.htm", "http://example.org/update/LUN/update"},
      {"https://example.org/a.b/update", "https://example.org/a.b/update"},
      {"http://example.org/a/up.date.ini?x=1.2#f.g", "http://example.org/a/up.date?x=1.2#f.g"},
      // Without a path the host keeps its last label.
      {"http://example.org", "http://example.org"},
      {"http://example.org?v=1.2", "http://example.org?v=1.2"},
      {"http://example.org/", "http://example.org/"},
      {"  http://example.org/u.htm ", "http://example.org/u"},
      {"", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.url);
    EXPECT_EQ(UrlWithoutExtension(c.url), c.expected);
  }
}

TEST(UpdateVersionTest, VersionsCompareAsDecimalNumbers) {
  const struct {
    const char* candidate;
    bool newer;
  } cases[] = {
      {"0.7020051221", true},
      {"0.7020051220", false},
      {"0.702005122", false},
      {"0.70200512", false},
      {"1", true},
      {" 0.8", true},
      {"0.0", false},
      {"", false},
      {"newest", false},
      {"0.8beta", true},
      {"-1", false},
      {"nan", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.candidate);
    EXPECT_EQ(IsNewerVersion(c.candidate, kLocalVersion), c.newer);
  }
}

TEST_F(UpdateCheckerTest, NewerVersionStagesEveryPackageAndTellsTheUser) {
  server_.Set("/update/LUN/update",
              {200, Description(kNewVersion, {server_.Url("/p0.zip"), server_.Url("/p1.zip")})});
  server_.Set("/p0.zip", {200, UpdatePackage()});
  server_.Set("/p1.zip", {200, ZipBytes(home_, {{"readme.txt", "说明"}})});

  const UpdateResult result = UpdateChecker(options_).Check();
  EXPECT_EQ(result.outcome, UpdateOutcome::kStaged) << result.detail;
  EXPECT_EQ(Read(UpdateFile("bin/x.so")), "library");
  EXPECT_EQ(Read(UpdateFile("readme.txt")), "说明");
  EXPECT_EQ(Read(UpdateFile("Update.ini")), "[Update]\r\n");
  EXPECT_FALSE(Exists(UpdateFile("Update.ini.part")));
  EXPECT_EQ(access(UpdateFile("update").c_str(), X_OK), 0);
  EXPECT_EQ(notices_, std::vector<std::string>{
                          "系统升级|已经升级到最新版本“0.7020060101”，重新启动后生效。"});
  ExpectCacheEmpty();
}

TEST_F(UpdateCheckerTest, NewVersionAndNotesAreKeptForThePages) {
  const std::string long_info = std::string(10239, 'a') + "文";  // cut before the character
  server_.Set("/update/LUN/update", {200, Description(kNewVersion, {}, long_info)});
  UpdateChecker checker(options_);
  EXPECT_EQ(checker.new_version(), "");
  // No package at all: nothing to download, but the user hears of the version.
  EXPECT_EQ(checker.Check().outcome, UpdateOutcome::kStaged);
  EXPECT_EQ(checker.new_version(), kNewVersion);
  EXPECT_EQ(checker.notes(), std::string(10239, 'a'));
  EXPECT_EQ(notices_.size(), 1u);
  EXPECT_EQ(server_.requests(), std::vector<std::string>{"/update/LUN/update"});
}

TEST_F(UpdateCheckerTest, SameOrOlderVersionFetchesOnlyTheDescription) {
  for (const char* version : {kLocalVersion, "0.5", "garbage"}) {
    SCOPED_TRACE(version);
    server_.Set("/update/LUN/update", {200, Description(version, {server_.Url("/p0.zip")})});
    UpdateChecker checker(options_);
    EXPECT_EQ(checker.Check().outcome, UpdateOutcome::kUpToDate);
    EXPECT_EQ(checker.new_version(), "");
  }
  for (const std::string& path : server_.requests()) EXPECT_EQ(path, "/update/LUN/update");
  EXPECT_TRUE(notices_.empty());
  EXPECT_TRUE(ListDirectory(home_.File(kUpdateDirectory)).empty());
  ExpectCacheEmpty();
}

TEST_F(UpdateCheckerTest, UnusableDescriptionEndsSilently) {
  const std::string closed_port_url = [] {
    TinyHttpServer gone;
    return gone.Url("/update.htm");
  }();
  server_.Set("/error", {500, "oops"});
  server_.Set("/binary", {200, std::string("\0\xff[\n=", 5)});
  server_.Set("/huge", {200, std::string(70000, 'x')});
  options_.max_description_bytes = 65536;
  const struct {
    const char* name;
    std::string url;
    UpdateOutcome outcome;
  } cases[] = {
      {"no server configured", "", UpdateOutcome::kNoServer},
      {"missing", server_.Url("/missing.htm"), UpdateOutcome::kUnreachable},
      {"server error", server_.Url("/error.htm"), UpdateOutcome::kUnreachable},
      {"nobody listening", closed_port_url, UpdateOutcome::kUnreachable},
      {"not INI", server_.Url("/binary.htm"), UpdateOutcome::kUpToDate},
      {"too large", server_.Url("/huge.htm"), UpdateOutcome::kUnreachable},
      {"not http", "file:///etc/hostname.txt", UpdateOutcome::kUnreachable},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    options_.server_url = c.url;
    EXPECT_EQ(UpdateChecker(options_).Check().outcome, c.outcome);
  }
  EXPECT_TRUE(notices_.empty());
  ExpectCacheEmpty();
}

TEST_F(UpdateCheckerTest, FailedPackageLeavesNoPendingUpdate) {
  // Incompressible data, so that the flipped bytes lie inside the entry's data.
  std::string noise(20000, '\0');
  uint32_t state = 1;
  for (char& c : noise) c = static_cast<char>((state = state * 1103515245 + 12345) >> 24);
  std::string damaged = ZipBytes(home_, {{"big.bin", noise}});
  for (size_t i = 100; i < 130; ++i) damaged[i] = static_cast<char>(damaged[i] ^ 0x5a);
  const struct {
    const char* name;
    TinyHttpServer::Reply second;
  } cases[] = {
      {"download fails", {404, ""}},
      {"damaged archive", {200, damaged}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    server_.Set("/update/LUN/update",
                {200, Description(kNewVersion, {server_.Url("/p0.zip"), server_.Url("/p1.zip")})});
    server_.Set("/p0.zip", {200, UpdatePackage()});
    server_.Set("/p1.zip", c.second);
    const UpdateResult result = UpdateChecker(options_).Check();
    EXPECT_EQ(result.outcome, UpdateOutcome::kPackageFailed);
    EXPECT_TRUE(Exists(UpdateFile("update")));
    EXPECT_FALSE(Exists(UpdateFile("Update.ini")));
    EXPECT_FALSE(Exists(UpdateFile("Update.ini.part")));
    EXPECT_FALSE(HandOverPendingUpdate(home_.path()));
  }
  EXPECT_TRUE(notices_.empty());
  ExpectCacheEmpty();
}

TEST_F(UpdateCheckerTest, PackageThatIsNoArchiveIsSkipped) {
  server_.Set("/update/LUN/update",
              {200, Description(kNewVersion, {server_.Url("/page.zip"), server_.Url("/p1.zip")})});
  server_.Set("/page.zip", {200, "<html>moved</html>"});
  server_.Set("/p1.zip", {200, UpdatePackage()});
  EXPECT_EQ(UpdateChecker(options_).Check().outcome, UpdateOutcome::kStaged);
  EXPECT_TRUE(Exists(UpdateFile("Update.ini")));
  EXPECT_EQ(notices_.size(), 1u);
}

TEST_F(UpdateCheckerTest, EntriesThatWouldLeaveTheDirectoryAreRefused) {
  const std::string archive = home_.File("hostile.zip");
  ASSERT_EQ(ReplaceFileAtomically(DefaultFileSystem(), archive,
                                  ZipBytes(home_, {{"../escaped", "x"},
                                                   {"/tmp/absolute", "x"},
                                                   {"a/../../escaped2", "x"},
                                                   {"link", "/etc", true},
                                                   {"link/passwd", "x"},
                                                   {"ok/file", "kept"}})),
            0);
  const std::string target = home_.File("target");
  const UnpackReport report = UnpackArchive(archive, target);
  EXPECT_TRUE(report.completed) << report.error;
  EXPECT_EQ(report.files, 2);  // ok/file, and link/passwd as a plain directory's file
  EXPECT_EQ(report.refused.size(), 4u);
  EXPECT_EQ(Read(JoinPath(target, "ok/file")), "kept");
  struct stat st;
  EXPECT_EQ(lstat(JoinPath(target, "link").c_str(), &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));  // never a link to /etc
  EXPECT_FALSE(Exists(home_.File("escaped")));
  EXPECT_FALSE(Exists(home_.File("escaped2")));
}

TEST_F(UpdateCheckerTest, StalledDownloadEndsByStopOrByTimeOut) {
  server_.Set("/update/LUN/update", {200, Description(kNewVersion, {}), true});
  {
    UpdateChecker checker(options_);
    UpdateResult result;
    std::thread check([&] { result = checker.Check(); });
    while (server_.requests().empty()) usleep(10000);
    checker.Stop();
    check.join();
    EXPECT_EQ(result.outcome, UpdateOutcome::kStopped);
  }
  options_.stall_timeout_s = 1;
  EXPECT_EQ(UpdateChecker(options_).Check().outcome, UpdateOutcome::kUnreachable);
  EXPECT_TRUE(notices_.empty());
  ExpectCacheEmpty();
}

TEST_F(UpdateCheckerTest, ThreadRunsTheCheckOnce) {
  server_.Set("/update/LUN/update", {200, Description(kNewVersion, {})});
  UpdateChecker checker(options_);
  checker.Start();
  checker.Start();
  while (checker.new_version().empty()) usleep(10000);
  checker.Stop();
  EXPECT_EQ(server_.requests().size(), 1u);
  EXPECT_EQ(notices_.size(), 1u);
}

}  // namespace
}  // namespace lun
