#include "app/crash_handler.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "platform/file_system.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "platform/scratch_dir.h"

namespace lun {
namespace {

// The closers below write here (a global: a closer takes no argument).
char closer_marker[4096];

void MarkingCloser() {
  const int fd = open(closer_marker, O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
  if (fd >= 0) close(fd);
}

void HangingCloser() {
  for (;;) pause();
}

// Recurses until the stack overflows (the flag hides that from the compiler).
volatile bool recurse_further = true;

[[gnu::noinline]] int Recurse(int depth) {
  volatile char frame[1024];
  frame[0] = static_cast<char>(depth);
  return (recurse_further ? Recurse(depth + 1) : 0) + frame[0];
}

struct ChildResult {
  int status = 0;
  std::string log;
};

class CrashHandlerTest : public ::testing::Test {
 protected:
  CrashHandlerTest() { options_.log_path = dir_.File("LUNError.Log"); }

  // Forks; the child installs the handler with options_, runs `prepare`,
  // then `crash`. stdout of the child goes to "stdout" in the scratch
  // directory (what a restarted program prints lands there).
  ChildResult RunChild(const std::function<void()>& prepare, const std::function<void()>& crash) {
    const pid_t pid = fork();
    if (pid == 0) {
      const int out = open(dir_.File("stdout").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      dup2(out, 1);
      if (!InstallCrashHandler(options_)) _exit(99);
      prepare();
      crash();
      _exit(98);
    }
    ChildResult result;
    waitpid(pid, &result.status, 0);
    (void)ReadWholeFile(DefaultFileSystem(), options_.log_path, &result.log);
    return result;
  }

  std::string ChildOutput() {
    std::string out;
    (void)ReadWholeFile(DefaultFileSystem(), dir_.File("stdout"), &out);
    return out;
  }

  // The restart runs `program` (found in PATH) with `args` after it.
  void RestartInto(const std::string& program, std::vector<std::string> args) {
    options_.restart_program = FindProgram(program);
    ASSERT_FALSE(options_.restart_program.empty()) << program;
    args.insert(args.begin(), program);
    options_.argv = args;
    options_.min_uptime_for_restart_s = 0;
  }

  ScratchDir dir_;
  CrashHandlerOptions options_;
};

// The time of a crash line, within a few minutes of now in local time.
void ExpectRecentLocalTime(const std::string& line) {
  struct tm tm {};
  ASSERT_NE(strptime(line.c_str(), "%Y-%m-%d %H:%M:%S", &tm), nullptr) << line;
  tm.tm_isdst = -1;
  EXPECT_LT(std::abs(std::difftime(mktime(&tm), time(nullptr))), 300.0) << line;
}

TEST_F(CrashHandlerTest, EachSignalWritesOneLineAndEndsTheProcessWhenExiting) {
  struct Case {
    int signal;
    std::function<void()> crash;
  };
  const Case cases[] = {
      {SIGSEGV,
       [] {  // a real fault: a store into a page without access
         void* page = mmap(nullptr, 4096, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
         *static_cast<volatile int*>(page) = 1;
       }},
      {SIGSEGV, [] { raise(SIGSEGV); }},
      {SIGBUS, [] { raise(SIGBUS); }},
      {SIGILL, [] { raise(SIGILL); }},
      {SIGFPE, [] { raise(SIGFPE); }},
      {SIGABRT, [] { abort(); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(sigabbrev_np(c.signal));
    unlink(options_.log_path.c_str());
    const ChildResult result = RunChild(
        [] {
          SetCrashStatusText("待索引文件: 3，已索引文件: 7");
          SetCrashExiting();
        },
        c.crash);
    ASSERT_TRUE(WIFSIGNALED(result.status)) << result.status;
    EXPECT_EQ(WTERMSIG(result.status), c.signal);
    char code[16];
    snprintf(code, sizeof code, "%x", c.signal);
    const std::regex format(std::string("\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d错误原因: ") +
                            sigdescr_np(c.signal) + "\t错误代码: 0x" + code +
                            "\t程序地址: 0x[0-9a-f]+\t数据状态: 待索引文件: 3，已索引文件: 7\r\n");
    EXPECT_TRUE(std::regex_match(result.log, format)) << result.log;
    ExpectRecentLocalTime(result.log);
  }
}

TEST_F(CrashHandlerTest, InstallingStartsWithTheClosedDatabaseAndNoExitOrCloser) {
  // What a previous run of the handler's owner left behind is forgotten.
  SetCrashStatusText("待索引文件: 0，已索引文件: 1");
  SetCrashExiting();
  snprintf(closer_marker, sizeof closer_marker, "%s", dir_.File("closed").c_str());
  SetCrashDatabaseCloser(MarkingCloser);
  RestartInto("touch", {dir_.File("restarted")});
  const ChildResult result = RunChild([] {}, [] { raise(SIGSEGV); });
  EXPECT_NE(result.log.find("\t数据状态: 数据连接已关闭\r\n"), std::string::npos) << result.log;
  EXPECT_EQ(access(dir_.File("restarted").c_str(), F_OK), 0);
  EXPECT_NE(access(dir_.File("closed").c_str(), F_OK), 0);
  SetCrashDatabaseCloser(nullptr);
}

TEST_F(CrashHandlerTest, LongStatusIsCutAtACharacter) {
  const ChildResult result = RunChild(
      [] {
        std::string status;
        for (int i = 0; i < 300; ++i) status += "索";  // 900 bytes
        SetCrashStatusText(status);
        SetCrashExiting();
      },
      [] { raise(SIGSEGV); });
  const size_t start = result.log.find("数据状态: ") + strlen("数据状态: ");
  const std::string status = result.log.substr(start, result.log.size() - start - 2);
  EXPECT_EQ(status.size(), 510u);  // 170 whole characters of 3 bytes
  EXPECT_EQ(status.substr(507), "索");
}

TEST_F(CrashHandlerTest, CrashRestartsTheProgramWithTheOriginalArguments) {
  RestartInto("touch", {dir_.File("restarted")});
  const ChildResult result = RunChild([] {}, [] { raise(SIGSEGV); });
  // The restart replaced the image of the same process: its exit is touch's.
  ASSERT_TRUE(WIFEXITED(result.status)) << result.status;
  EXPECT_EQ(WEXITSTATUS(result.status), 0);
  EXPECT_EQ(access(dir_.File("restarted").c_str(), F_OK), 0);
  EXPECT_NE(result.log.find("错误代码: 0xb"), std::string::npos);
}

TEST_F(CrashHandlerTest, DefaultRestartRunsThisVeryExecutable) {
  // This test program, asked only to list its tests, is the restarted image.
  options_.argv = {"app_test", "--gtest_list_tests", "--gtest_filter=CrashHandlerTest.Default*"};
  options_.min_uptime_for_restart_s = 0;
  const ChildResult result = RunChild([] {}, [] { raise(SIGILL); });
  ASSERT_TRUE(WIFEXITED(result.status)) << result.status;
  EXPECT_EQ(WEXITSTATUS(result.status), 0);
  EXPECT_NE(ChildOutput().find("DefaultRestartRunsThisVeryExecutable"), std::string::npos)
      << ChildOutput();
}

TEST_F(CrashHandlerTest, RestartedProgramHasNoBlockedSignalsAndNoInheritedDescriptors) {
  RestartInto("cat", {"/proc/self/status"});
  ASSERT_TRUE(WIFEXITED(RunChild([] {}, [] { abort(); }).status));
  EXPECT_NE(ChildOutput().find("SigBlk:\t0000000000000000\n"), std::string::npos) << ChildOutput();

  // A descriptor without close-on-exec (as an instance lock could be) is not
  // handed to the new image; only 0, 1, 2 and ls's own directory remain.
  RestartInto("ls", {"/proc/self/fd"});
  const ChildResult result =
      RunChild([this] { (void)!open(dir_.File("held").c_str(), O_WRONLY | O_CREAT, 0600); },
               [] { raise(SIGSEGV); });
  ASSERT_TRUE(WIFEXITED(result.status));
  EXPECT_EQ(ChildOutput(), "0\n1\n2\n3\n");
}

TEST_F(CrashHandlerTest, NoRestartWhileExitingOrSoonAfterStart) {
  struct Case {
    const char* name;
    bool exiting;
    int min_uptime_s;
  };
  for (const Case c : {Case{"exiting", true, 0}, Case{"crash loop guard", false, 3600}}) {
    SCOPED_TRACE(c.name);
    RestartInto("touch", {dir_.File("restarted")});
    options_.min_uptime_for_restart_s = c.min_uptime_s;
    unlink(options_.log_path.c_str());
    const ChildResult result = RunChild(
        [&c] {
          if (c.exiting) SetCrashExiting();
        },
        [] { raise(SIGSEGV); });
    ASSERT_TRUE(WIFSIGNALED(result.status));
    EXPECT_EQ(WTERMSIG(result.status), SIGSEGV);
    EXPECT_NE(access(dir_.File("restarted").c_str(), F_OK), 0);
    EXPECT_NE(result.log.find("错误代码: 0xb"), std::string::npos);
  }
}

TEST_F(CrashHandlerTest, DatabaseCloserRunsAndAHangingOneCannotStopTheRestart) {
  snprintf(closer_marker, sizeof closer_marker, "%s", dir_.File("closed").c_str());
  RestartInto("touch", {dir_.File("restarted")});
  ChildResult result = RunChild([] { SetCrashDatabaseCloser(MarkingCloser); }, [] { abort(); });
  EXPECT_TRUE(WIFEXITED(result.status));
  EXPECT_EQ(access(dir_.File("closed").c_str(), F_OK), 0);
  EXPECT_EQ(access(dir_.File("restarted").c_str(), F_OK), 0);

  unlink(dir_.File("restarted").c_str());
  options_.handler_deadline_s = 1;
  result = RunChild([] { SetCrashDatabaseCloser(HangingCloser); }, [] { abort(); });
  EXPECT_TRUE(WIFEXITED(result.status));
  EXPECT_EQ(access(dir_.File("restarted").c_str(), F_OK), 0);
}

TEST_F(CrashHandlerTest, StackOverflowIsLoggedFromTheAlternateStack) {
  const ChildResult result = RunChild([] { SetCrashExiting(); }, [] { (void)Recurse(0); });
  ASSERT_TRUE(WIFSIGNALED(result.status));
  EXPECT_EQ(WTERMSIG(result.status), SIGSEGV);
  EXPECT_NE(result.log.find("错误代码: 0xb"), std::string::npos) << result.log;
}

TEST_F(CrashHandlerTest, CrashInAnotherThreadWithItsOwnStack) {
  const ChildResult result = RunChild([] { SetCrashExiting(); },
                                      [] {
                                        std::thread([] {
                                          if (!PrepareCrashStackForThread()) _exit(97);
                                          (void)Recurse(0);
                                        }).join();
                                      });
  ASSERT_TRUE(WIFSIGNALED(result.status));
  EXPECT_NE(result.log.find("错误代码: 0xb"), std::string::npos) << result.log;
}

TEST_F(CrashHandlerTest, LinesOfManyCrashingProcessesStayWhole) {
  constexpr int kProcesses = 8;
  std::vector<pid_t> children;
  for (int i = 0; i < kProcesses; ++i) {
    const pid_t pid = fork();
    if (pid == 0) {
      if (!InstallCrashHandler(options_)) _exit(99);
      SetCrashStatusText(std::string(400, static_cast<char>('a' + i)));
      SetCrashExiting();
      raise(SIGSEGV);
      _exit(98);
    }
    children.push_back(pid);
  }
  for (const pid_t pid : children) waitpid(pid, nullptr, 0);
  std::string log;
  ASSERT_EQ(ReadWholeFile(DefaultFileSystem(), options_.log_path, &log), 0);
  // Every line whole: one time stamp, one status of a single letter.
  const std::regex whole("\\d{4}-[^\r\n]*数据状态: ([a-h])\\1{399}");
  int lines = 0;
  for (size_t start = 0; start < log.size(); ++lines) {
    const size_t end = log.find("\r\n", start);
    ASSERT_NE(end, std::string::npos);
    EXPECT_TRUE(std::regex_match(log.substr(start, end - start), whole))
        << log.substr(start, end - start);
    start = end + 2;
  }
  EXPECT_EQ(lines, kProcesses);
}

}  // namespace
}  // namespace lun
