#include "platform/process.h"

#include <errno.h>
#include <sys/wait.h>

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

}  // namespace
}  // namespace lun
