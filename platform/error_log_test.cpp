#include "platform/error_log.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <regex>
#include <sstream>

#include "platform/file_system.h"
#include "platform/paths.h"
#include "platform/scratch_dir.h"

namespace lun {
namespace {

std::string ReadLog(const char* name) {
  std::string data;
  (void)ReadWholeFile(DefaultFileSystem(), JoinPath(ApplicationHome(), name), &data);
  return data;
}

TEST(ErrorLogTest, ErrorTextNamesKnownCodesAndFallsBack) {
  EXPECT_EQ(ErrorText(ENOENT), "No such file or directory");
  EXPECT_EQ(ErrorText(987654), "未知错误");
}

TEST(ErrorLogTest, EngineLineIsTimeTabTextCrLf) {
  ScratchDir dir;
  ASSERT_TRUE(SetApplicationHome(dir.path()));
  AppendEngineErrorLog("表名称不能为空");
  AppendEngineErrorLog("second");
  const std::string log = ReadLog(kEngineErrorLogName);
  const std::regex line(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\t表名称不能为空\r\n)"
                        R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\tsecond\r\n)");
  EXPECT_TRUE(std::regex_match(log, line)) << log;
}

TEST(ErrorLogTest, CrashLinesFromTwoProcessesStayWhole) {
  ScratchDir dir;
  ASSERT_TRUE(SetApplicationHome(dir.path()));
  constexpr int kLines = 200;
  const std::string long_text(3000, 'x');  // longer than a pipe-atomic write
  auto writer = [&](char tag) {
    for (int i = 0; i < kLines; ++i) AppendCrashLog(std::string(1, tag) + long_text);
  };
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    writer('B');
    _exit(0);
  }
  writer('A');
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));

  std::istringstream in(ReadLog(kCrashLogName));
  const std::regex whole(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d[AB]x{3000}\r)");
  int count = 0;
  for (std::string line; std::getline(in, line); ++count) {
    ASSERT_TRUE(std::regex_match(line, whole)) << "line " << count;
  }
  EXPECT_EQ(count, 2 * kLines);
}

}  // namespace
}  // namespace lun
