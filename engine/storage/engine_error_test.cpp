// The result-code table and the allocation rule.
#include <array>
#include <atomic>
#include <chrono>
#include <string>

#include <gtest/gtest.h>

#include "engine/storage/allocation.h"
#include "engine/storage/engine_error.h"
#include "platform/error_log.h"
#include "platform/file_system.h"
#include "platform/paths.h"
#include "platform/scratch_dir.h"

namespace lun {
namespace {

TEST(EngineErrorTest, CodesHaveTheirTexts) {
  struct Case {
    int code;
    const char* text;
  };
  const std::array<Case, 8> cases = {{
      {0, "成功"},
      {2, "不存在的数据表"},
      {7, "查询表达式语法错误"},
      {9, "内存分配失败(M)"},
      {15, "数据库被锁定"},
      {17, "目标连接不存在"},
      {18, "未知错误"},
      {-1, "未知错误"},
  }};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.code);
    EXPECT_STREQ(EngineErrorText(c.code), c.text);
  }
}

class AllocationTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(SetApplicationHome(home_.path())); }
  void TearDown() override { SetAllocationFailureNotifier(nullptr); }
  std::string Log() {
    std::string text;
    (void)ReadWholeFile(DefaultFileSystem(), home_.File(kEngineErrorLogName), &text);
    return text;
  }
  ScratchDir home_;
};

TEST_F(AllocationTest, RetrySucceedsWithoutMessage) {
  int attempts = 0;
  std::atomic<int> notified{0};
  SetAllocationFailureNotifier([&](std::string_view, std::string_view) { ++notified; });
  const AllocationPolicy fast{600, std::chrono::milliseconds(0)};
  EXPECT_TRUE(AllocateWithRetry(
      [&] {
        if (++attempts < 3) throw std::bad_alloc();
        return true;
      },
      fast));
  EXPECT_EQ(attempts, 3);
  EXPECT_EQ(notified.load(), 0);
  EXPECT_EQ(Log(), "");
}

TEST_F(AllocationTest, ExhaustedRetriesNotifyAndLog) {
  int attempts = 0;
  std::string text, caption;
  SetAllocationFailureNotifier([&](std::string_view t, std::string_view c) {
    text = t;
    caption = c;
  });
  EXPECT_FALSE(AllocateWithRetry(
      [&] {
        ++attempts;
        return false;
      },
      AllocationPolicy{4, std::chrono::milliseconds(0)}));
  EXPECT_EQ(attempts, 5);  // the first attempt and four retries
  EXPECT_EQ(text, "内存分配失败");
  EXPECT_EQ(caption, "系统错误");
  EXPECT_NE(Log().find("\t内存分配失败\r\n"), std::string::npos);
}

}  // namespace
}  // namespace lun
