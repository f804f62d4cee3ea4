#include "web/file_logger.h"

#include <gtest/gtest.h>

#include <regex>

#include "platform/file_system.h"
#include "platform/scratch_dir.h"

namespace lun {
namespace {

TEST(FileLoggerTest, TwoLineFormsAndNothingForEmptyInput) {
  ScratchDir dir;
  FileLogger logger(dir.path());
  EXPECT_TRUE(logger.Log("UMServer.log", "bind(...) failure", "AcceptThread", 98));
  EXPECT_TRUE(logger.Log("UMServer.log", "Transfer complete", "", 0));
  EXPECT_FALSE(logger.Log("UMServer.log", "", "x", 1));
  EXPECT_FALSE(logger.Log("", "message", "x", 1));
  std::string text;
  ASSERT_EQ(ReadWholeFile(DefaultFileSystem(), dir.File("UMServer.log"), &text), 0);
  const std::string time = "[A-Z][a-z]{2}, \\d{2} [A-Z][a-z]{2} \\d{4} \\d{2}:\\d{2}:\\d{2}";
  EXPECT_TRUE(std::regex_match(
      text, std::regex(time + " - bind\\(\\.\\.\\.\\) failure\\.\t\\[AcceptThread\\]\t\\[98\\]\n" +
                       time + " - Transfer complete\\.\t\\[0\\]\n")))
      << text;
}

TEST(FileLoggerTest, UnwritableDirectoryReportsFalse) {
  FileLogger logger("/nonexistent/dir");
  EXPECT_FALSE(logger.Log("UMServer.log", "m", "", 0));
}

}  // namespace
}  // namespace lun
