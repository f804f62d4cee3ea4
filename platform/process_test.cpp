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
