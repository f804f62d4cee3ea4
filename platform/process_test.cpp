#include "platform/process.h"

#include <errno.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

namespace lun {
namespace {

TEST(ProcessTest, RunAndCaptureCollectsOutputAndEndsRunawayPrograms) {
  const std::string echo = FindProgram("echo");
  const std::string sleep = FindProgram("sleep");
  const std::string yes = FindProgram("yes");
  ASSERT_FALSE(echo.empty());
  ASSERT_FALSE(sleep.empty());
  ASSERT_FALSE(yes.empty());

  // An argument with shell syntax stays one argument: no shell runs.
  const CaptureResult said = RunAndCapture({echo, "a;b $(x) | c"}, 1000, 10000);
  EXPECT_EQ(said.error, 0);
  EXPECT_EQ(said.exit_code, 0);
  EXPECT_EQ(said.output, "a;b $(x) | c\n");

  const CaptureResult slept = RunAndCapture({sleep, "100"}, 1000, 200);
  EXPECT_TRUE(slept.timed_out);
  EXPECT_EQ(slept.exit_code, -1);

  const CaptureResult flood = RunAndCapture({yes}, 4096, 10000);
  EXPECT_TRUE(flood.truncated);
  EXPECT_EQ(flood.output.size(), 4096u);

  EXPECT_EQ(RunAndCapture({"/nonexistent/program"}, 10, 1000).error, ENOENT);
  EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1);  // nothing left to reap
  EXPECT_EQ(FindProgram("no-such-program-anywhere"), "");
}

TEST(ProcessTest, SpawnSetsTheChildsEnvironmentOnly) {
  const std::string sh = FindProgram("sh");
  ASSERT_FALSE(sh.empty());
  setenv("LUN_SPAWN_KEPT", "kept", 1);
  setenv("LUN_SPAWN_REPLACED", "old", 1);
  int pipe_fds[2];
  ASSERT_EQ(pipe(pipe_fds), 0);
  SpawnOptions options;
  options.stdout_fd = pipe_fds[1];
  options.environment = {"LUN_SPAWN_REPLACED=new", "LUN_SPAWN_SECRET=s3"};
  pid_t pid = -1;
  ASSERT_EQ(SpawnProcess({sh, "-c", "echo $LUN_SPAWN_KEPT $LUN_SPAWN_REPLACED $LUN_SPAWN_SECRET"},
                         options, &pid),
            0);
  close(pipe_fds[1]);
  char buf[64] = {};
  std::string out;
  ssize_t n;
  while ((n = read(pipe_fds[0], buf, sizeof buf)) > 0) out.append(buf, static_cast<size_t>(n));
  close(pipe_fds[0]);
  ASSERT_EQ(waitpid(pid, nullptr, 0), pid);
  EXPECT_EQ(out, "kept new s3\n");
  EXPECT_STREQ(getenv("LUN_SPAWN_REPLACED"), "old");
  EXPECT_EQ(getenv("LUN_SPAWN_SECRET"), nullptr);
  unsetenv("LUN_SPAWN_KEPT");
  unsetenv("LUN_SPAWN_REPLACED");
}

TEST(ProcessTest, CommandLinesSplitAtNul) {
  using Args = std::vector<std::string_view>;
  const struct {
    std::string_view cmdline;
    Args args;
  } kCases[] = {
      {{"a\0b c\0", 6}, {"a", "b c"}},
      {{"a\0b", 3}, {"a", "b"}},  // rewritten arguments may lack the last NUL
      {{"a\0\0b\0", 5}, {"a", "", "b"}},
      {"", {}},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(std::string(c.cmdline));
    EXPECT_EQ(SplitCommandLine(c.cmdline), c.args);
  }
}

TEST(ProcessTest, ProcessListShowsThisProcess) {
  const pid_t self = getpid();
  std::string name, program;
  EXPECT_TRUE(AnyProcessMatches([&](const ProcessEntry& p) {
    if (p.pid != self) return false;
    name = p.name;
    const auto args = SplitCommandLine(p.cmdline);
    if (!args.empty()) program = args[0];
    return true;
  }));
  EXPECT_FALSE(name.empty());
  EXPECT_NE(program.find("platform_test"), std::string::npos);
  EXPECT_FALSE(AnyProcessMatches([](const ProcessEntry&) { return false; }));
}

}  // namespace
}  // namespace lun
