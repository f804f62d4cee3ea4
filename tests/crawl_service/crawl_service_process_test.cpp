// The crawl service and its client as processes: the real luncrawl with
// plug-ins that crash, hang and spin inside its workers; a fake service that
// itself crashes, hangs, sends garbage or dies at start; a service already
// running; a second service on a taken port; a service whose parent dies.
// Waits poll for a state with a generous bound; nothing asserts a duration.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <functional>

#include "app/crawl_service_client.h"
#include "crawler/extract/crawl_wire_format.h"
#include "crawler/extract/extract_test_util.h"
#include "platform/file_system.h"
#include "platform/process.h"
#include "platform/scratch_dir.h"

namespace lun {
namespace {

bool Accepts(uint16_t port) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(port);
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const bool ok = connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
  close(fd);
  return ok;
}

// Polls `condition` every 50 ms for up to 20 s.
bool Eventually(const std::function<bool()>& condition) {
  for (int i = 0; i < 400; ++i) {
    if (condition()) return true;
    usleep(50 * 1000);
  }
  return condition();
}

bool Alive(pid_t pid) { return pid > 0 && kill(pid, 0) == 0; }

CrawlServiceClientOptions Options(const std::string& program, uint16_t port,
                                  std::vector<std::string> extra) {
  CrawlServiceClientOptions options;
  options.executable = program;
  options.port = port;
  options.extra_arguments = std::move(extra);
  options.extra_arguments.insert(options.extra_arguments.begin(), {"--port", std::to_string(port)});
  options.launch_attempts = 3;
  // Generous, so that a slow start on a loaded machine is not taken for a
  // failed one; nothing here measures time.
  options.connect_tries = 100;
  options.connect_retry_ms = 50;
  options.after_launch_ms = 50;
  options.request_deadline_ms = 20000;
  return options;
}

std::string Write(const ScratchDir& dir, const std::string& name, const std::string& data) {
  const std::string path = dir.File(name);
  EXPECT_EQ(ReplaceFileAtomically(DefaultFileSystem(), path, data), 0);
  return path;
}

TEST(CrawlServiceProcessTest, RealServiceSurvivesPoisonFilesInItsWorkers) {
  ScratchDir dir;
  const std::string plug = dir.File("Plug");
  std::filesystem::create_directory(plug);
  std::filesystem::copy_file(TEST_PLUGIN_PAX, plug + "/test.so");
  const uint16_t port = FreeLoopbackPort();
  CrawlServiceClient client(Options(
      LUNCRAWL_PATH, port, {"--deadline-ms", "4000", "--memory-mb", "512", "--plugins", plug}));
  ASSERT_TRUE(client.Launch());
  const pid_t service = client.service_pid();
  ASSERT_GT(service, 0);

  struct Case {
    const char* name;
    std::string data;
    CrawlOutcome outcome;
    std::u16string text;
  };
  const std::vector<Case> cases = {
      {"plain.txt", "plain words", CrawlOutcome::kText, u"plain words"},
      {"doc (1).docx", MakeDocx({"office words"}), CrawlOutcome::kText, u"office words"},
      {"crash.pax", "crash", CrawlOutcome::kNoText, u""},  // the worker dies
      {"hang.pax", "hang", CrawlOutcome::kNoText, u""},    // killed at the deadline
      {"spin.pax", "spin", CrawlOutcome::kNoText, u""},
      {"bomb.docx", MakeZipBomb("word/document.xml", 130u << 20), CrawlOutcome::kNoText, u""},
      {"fine.pax", "fine", CrawlOutcome::kText, u"plugin:fine"},
      {"binary.txt", std::string("\0\1\2\3\x80\x81 binary \xFE\xFF\0\0\0\x10 data", 24),
       CrawlOutcome::kNoText, u""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::u16string text;
    EXPECT_EQ(client.Extract(Write(dir, c.name, c.data), &text), c.outcome);
    EXPECT_EQ(text, c.text);
    EXPECT_EQ(client.service_pid(), service);  // never restarted
  }
  std::u16string text;
  EXPECT_EQ(client.Extract(dir.File("missing.txt"), &text), CrawlOutcome::kNoText);

  client.SendExit();
  EXPECT_FALSE(Alive(service));
  EXPECT_FALSE(Accepts(port));
}

// "图片文字识别" in the home's settings file decides, file by file, whether
// pictures are read; a picture whose engine never ends costs its own text
// only. The engine is a stand-in script first in PATH.
TEST(CrawlServiceProcessTest, PictureRecognitionFollowsTheSettingAndItsLimit) {
  ScratchDir dir;
  const std::string bin = dir.File("bin");
  std::filesystem::create_directory(bin);
  const std::string engine = Write(dir, "bin/tesseract",
                                   "#!/bin/sh\ncat >/dev/null\n"
                                   "[ -f \"$0.slow\" ] && exec sleep 600\necho picture words\n");
  chmod(engine.c_str(), 0755);
  const std::string path = std::string(getenv("PATH") ? getenv("PATH") : "");
  setenv("PATH", (bin + ":" + path).c_str(), 1);
  const std::string home = dir.File("home");
  std::filesystem::create_directory(home);
  auto recognition = [&](const char* value) {
    Write(dir, "home/Setting", std::string("[检索设置]\n图片文字识别=") + value + "\n");
  };
  const uint16_t port = FreeLoopbackPort();
  CrawlServiceClient client(
      Options(LUNCRAWL_PATH, port, {"--home", home, "--ocr-deadline-ms", "1000"}));
  ASSERT_TRUE(client.Launch());
  const pid_t service = client.service_pid();
  const std::string picture = Write(dir, "scan.png", "\x89PNG\r\n\x1a\n");
  const std::string notes = Write(dir, "notes.txt", "next file");
  struct Step {
    const char* setting;
    bool slow;
    std::u16string text;
  };
  for (const Step& step : {Step{"FALSE", false, u""}, Step{"TRUE", false, u"picture words"},
                           Step{"TRUE", true, u""}, Step{"FALSE", false, u""}}) {
    SCOPED_TRACE(std::string(step.setting) + (step.slow ? " slow" : ""));
    recognition(step.setting);
    if (step.slow) Write(dir, "bin/tesseract.slow", "");
    std::u16string text;
    client.Extract(picture, &text);
    EXPECT_EQ(text, step.text);
    EXPECT_EQ(client.Extract(notes, &text), CrawlOutcome::kText);
    EXPECT_EQ(text, u"next file");
    EXPECT_EQ(client.service_pid(), service);
    std::filesystem::remove(dir.File("bin/tesseract.slow"));
  }
  setenv("PATH", path.c_str(), 1);
  client.SendExit();
}

TEST(CrawlServiceProcessTest, FakeServiceFailuresCostOneFileEach) {
  const uint16_t port = FreeLoopbackPort();
  CrawlServiceClientOptions options = Options(FAKE_EXTRACTD_PATH, port, {});
  options.request_deadline_ms = 2000;
  CrawlServiceClient client(options);
  ASSERT_TRUE(client.Launch());
  // Every failure replaces the service this client started: killed if it
  // still runs, reaped either way.
  for (const char* request : {"/d/crash.txt", "/d/hang.txt", "/d/spin.txt", "/d/garbage.txt",
                              "/d/huge.txt", "/d/halfclose.txt"}) {
    SCOPED_TRACE(request);
    const pid_t before = client.service_pid();
    std::u16string text;
    EXPECT_EQ(client.Extract(request, &text), CrawlOutcome::kServiceFailed);
    EXPECT_TRUE(text.empty());
    EXPECT_FALSE(Alive(before));  // no zombie either
    EXPECT_NE(client.service_pid(), before);
    EXPECT_EQ(client.Extract("/d/good.txt", &text), CrawlOutcome::kText);
    EXPECT_EQ(text, u"/d/good.txt");
  }
  std::u16string text;
  EXPECT_EQ(client.Extract("/d/slow.txt", &text), CrawlOutcome::kText);
  client.SendExit();
}

TEST(CrawlServiceProcessTest, ServiceThatDiesAtStartGivesOneNoticeAndNoZombies) {
  ScratchDir dir;
  const std::string log = dir.File("launches");
  CrawlServiceClientOptions options =
      Options(FAKE_EXTRACTD_PATH, FreeLoopbackPort(), {"--exit-at-start", "--launch-log", log});
  options.connect_tries = 2;
  int notices = 0;
  options.notifier = [&](std::string_view, std::string_view, int) { ++notices; };
  CrawlServiceClient client(options);
  EXPECT_FALSE(client.Launch());
  EXPECT_EQ(notices, 1);
  // At most one start per launch attempt (the last may be killed before it
  // gets to write its line: the client ends what it cannot reach).
  std::string starts;
  ASSERT_EQ(ReadWholeFile(DefaultFileSystem(), log, &starts), 0);
  EXPECT_GE(starts.size(), 6u);
  EXPECT_LE(starts.size(), 18u);
  std::u16string text;
  EXPECT_EQ(client.Extract("/a.txt", &text), CrawlOutcome::kServiceUnavailable);
  EXPECT_EQ(notices, 1);  // the back-off holds further launches
  std::string later;
  ASSERT_EQ(ReadWholeFile(DefaultFileSystem(), log, &later), 0);
  EXPECT_EQ(later, starts);
  EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1);  // every child reaped
  EXPECT_EQ(errno, ECHILD);
}

TEST(CrawlServiceProcessTest, ARunningServiceIsUsedAndNoSecondOneStarted) {
  ScratchDir dir;
  const std::string log = dir.File("launches");
  const uint16_t port = FreeLoopbackPort();
  pid_t running = -1;
  // A service started for this client before: it knows the client's token.
  SpawnOptions spawn;
  spawn.environment = {std::string(kCrawlTokenVariable) + "=earlier-start"};
  ASSERT_EQ(SpawnProcess({FAKE_EXTRACTD_PATH, "--port", std::to_string(port), "--launch-log", log},
                         spawn, &running),
            0);
  ASSERT_TRUE(Eventually([&] { return Accepts(port); }));
  {
    CrawlServiceClientOptions options = Options(FAKE_EXTRACTD_PATH, port, {"--launch-log", log});
    options.token = "earlier-start";
    CrawlServiceClient client(options);
    ASSERT_TRUE(client.Launch());
    EXPECT_EQ(client.service_pid(), -1);
    std::u16string text;
    EXPECT_EQ(client.Extract("/x.txt", &text), CrawlOutcome::kText);
    std::string starts;
    ASSERT_EQ(ReadWholeFile(DefaultFileSystem(), log, &starts), 0);
    EXPECT_EQ(starts, "start\n");
    client.SendExit();  // "Exit" ends the running service too
  }
  int status = 0;
  EXPECT_EQ(waitpid(running, &status, 0), running);
  EXPECT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST(CrawlServiceProcessTest, AServiceThatCannotAnswerTheTokenGetsNoPath) {
  // A real service on the port, started by someone else with another token
  // (or none): the client indexes by name only and leaves it alone.
  ScratchDir dir;
  const std::string file = Write(dir, "secret.txt", "secret words");
  const uint16_t port = FreeLoopbackPort();
  for (const char* token : {"someone-else", ""}) {
    SCOPED_TRACE(token);
    SpawnOptions spawn;
    if (*token) spawn.environment = {std::string(kCrawlTokenVariable) + "=" + token};
    pid_t squatter = -1;
    ASSERT_EQ(SpawnProcess({LUNCRAWL_PATH, "--port", std::to_string(port)}, spawn, &squatter), 0);
    ASSERT_TRUE(Eventually([&] { return Accepts(port); }));
    CrawlServiceClientOptions options = Options(LUNCRAWL_PATH, port, {});
    int reports = 0;
    options.on_untrusted = [&](std::string_view) { ++reports; };
    CrawlServiceClient client(options);
    EXPECT_FALSE(client.Launch());
    std::u16string text;
    EXPECT_EQ(client.Extract(file, &text), CrawlOutcome::kServiceUntrusted);
    EXPECT_TRUE(text.empty());
    EXPECT_EQ(reports, 1);
    EXPECT_FALSE(client.trouble().empty());
    EXPECT_EQ(client.service_pid(), -1) << "no second service was started";
    EXPECT_TRUE(Alive(squatter));
    kill(squatter, SIGKILL);
    waitpid(squatter, nullptr, 0);
    ASSERT_TRUE(Eventually([&] { return !Accepts(port); }));
  }
}

TEST(CrawlServiceProcessTest, SecondServiceFindsThePortTakenAndEnds) {
  const uint16_t port = FreeLoopbackPort();
  pid_t first = -1, second = -1;
  ASSERT_EQ(SpawnProcess({LUNCRAWL_PATH, "--port", std::to_string(port)}, {}, &first), 0);
  ASSERT_TRUE(Eventually([&] { return Accepts(port); }));
  ASSERT_EQ(SpawnProcess({LUNCRAWL_PATH, "--port", std::to_string(port)}, {}, &second), 0);
  int status = 0;
  ASSERT_EQ(waitpid(second, &status, 0), second);
  EXPECT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 2);
  EXPECT_TRUE(Alive(first));
  kill(first, SIGKILL);
  waitpid(first, nullptr, 0);
}

TEST(CrawlServiceProcessTest, ServiceEndsWhenItsParentDies) {
  const uint16_t port = FreeLoopbackPort();
  const pid_t parent = fork();
  ASSERT_GE(parent, 0);
  if (parent == 0) {
    pid_t service = -1;
    if (SpawnProcess({LUNCRAWL_PATH, "--port", std::to_string(port)}, {}, &service) != 0) _exit(1);
    for (;;) pause();
  }
  ASSERT_TRUE(Eventually([&] { return Accepts(port); }));
  kill(parent, SIGKILL);
  waitpid(parent, nullptr, 0);
  EXPECT_TRUE(Eventually([&] { return !Accepts(port); }));
}

}  // namespace
}  // namespace lun
