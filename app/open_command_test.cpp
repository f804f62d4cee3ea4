#include "app/open_command.h"

#include <gtest/gtest.h>

#include "platform/env_guard.h"

namespace lun {
namespace {

TEST(OpenCommandTest, RequestLinesRoundTripAndOthersAreNotOpenRequests) {
  const struct {
    const char* query;
    const char* line;
    const char* parsed;
  } cases[] = {
      {"", "OPEN", ""},
      {"桌面 搜索", "OPEN 桌面 搜索", "桌面 搜索"},
      {"a\nb\rc", "OPEN a b c", "a b c"},  // one line whatever the query holds
  };
  for (const auto& c : cases) {
    EXPECT_EQ(OpenRequestLine(c.query), c.line);
    std::string query = "stale";
    ASSERT_TRUE(ParseOpenRequest(c.line, &query));
    EXPECT_EQ(query, c.parsed);
  }
  std::string query;
  for (const char* other : {"OPENX", "OPEN", "SEARCH 10 x", "open x", ""}) {
    if (std::string_view(other) == "OPEN") continue;
    EXPECT_FALSE(ParseOpenRequest(other, &query)) << other;
  }
}

TEST(OpenCommandTest, TheInstanceStartsTheBrowserOrSaysWhyNot) {
  EnvGuard env;
  std::vector<std::string> started;
  auto launch = [&](const std::vector<std::string>& argv) {
    started = argv;
    return argv.front() != "/missing/browser";
  };
  env.Set("LUN_BROWSER", nullptr);
  EXPECT_EQ(AnswerOpenRequest("http://127.0.0.1:8484/LUN/home.shl?IDCODE=C", launch),
            "OK http://127.0.0.1:8484/LUN/home.shl?IDCODE=C");
  EXPECT_EQ(started,
            (std::vector<std::string>{"xdg-open", "http://127.0.0.1:8484/LUN/home.shl?IDCODE=C"}));
  env.Set("LUN_BROWSER", "/missing/browser");
  EXPECT_EQ(AnswerOpenRequest("http://x/", launch).rfind("ERROR ", 0), 0u);
  EXPECT_EQ(started, (std::vector<std::string>{"/missing/browser", "http://x/"}));
  started.clear();
  EXPECT_EQ(AnswerOpenRequest("", launch).rfind("ERROR ", 0), 0u) << "pages not served";
  EXPECT_TRUE(started.empty());
}

}  // namespace
}  // namespace lun
