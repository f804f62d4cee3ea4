#include "crawler/user_idle.h"

#include <gtest/gtest.h>

#include <array>

#include "crawler/crawler.h"

namespace lun {
namespace {

TEST(UserIdleTest, DecisionFollowsTheSignalsInOrder) {
  struct Case {
    const char* what;
    bool graphical;
    std::optional<bool> hint;
    std::optional<int64_t> input_ms;
    bool idle;
    bool asks_input;  // whether the input idle time is asked at all
  };
  constexpr int64_t kTwoMinutes = kUserIdleAfterMs;
  const std::array<Case, 7> cases{{
      {"headless", false, false, 0, true, false},
      {"logind idle", true, true, 0, true, false},
      // A bare window manager never sets the hint: "no" decides nothing.
      {"hint no, input quiet for two minutes", true, false, kTwoMinutes, true, true},
      {"hint no, recent input", true, false, kTwoMinutes - 1, false, true},
      {"no logind, input quiet", true, std::nullopt, kTwoMinutes + 5000, true, true},
      {"no logind, recent input", true, std::nullopt, 10, false, true},
      {"nothing answers: present", true, std::nullopt, std::nullopt, false, true},
  }};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    bool input_asked = false;
    UserIdleProbes probes;
    probes.graphical_session = [&] { return c.graphical; };
    probes.session_idle_hint = [&] { return c.hint; };
    probes.input_idle_ms = [&] {
      input_asked = true;
      return c.input_ms;
    };
    EXPECT_EQ(IsUserIdle(probes), c.idle);
    EXPECT_EQ(input_asked, c.asks_input);
  }
}

TEST(UserIdleTest, ProgramAnswersAreParsedStrictly) {
  EXPECT_EQ(ParseIdleHint("yes\n"), true);
  EXPECT_EQ(ParseIdleHint("no"), false);
  EXPECT_EQ(ParseIdleHint(""), std::nullopt);
  EXPECT_EQ(ParseIdleHint("IdleHint=yes"), std::nullopt);
  EXPECT_EQ(ParseIdleMilliseconds("120000\n"), 120000);
  EXPECT_EQ(ParseIdleMilliseconds("0"), 0);
  EXPECT_EQ(ParseIdleMilliseconds("-5"), std::nullopt);
  EXPECT_EQ(ParseIdleMilliseconds("12 ms"), std::nullopt);
  EXPECT_EQ(ParseIdleMilliseconds("9999999999999999999999"), std::nullopt);
  EXPECT_EQ(ParseIdleMilliseconds(""), std::nullopt);
}

TEST(UserIdleTest, CrawlerPollsOnlyInIdleModeAndAtMostOncePerInterval) {
  int64_t now = 1000;
  int polls = 0;
  bool away = true;
  CrawlerEnvironment env;
  env.clock_ms = [&] { return now; };
  env.user_idle_poll_ms = 5000;
  env.user_idle_probe = [&] {
    ++polls;
    return away;
  };
  Crawler crawler(env);

  crawler.set_speed_mode(SpeedMode::kHighSpeed);
  EXPECT_FALSE(crawler.PollUserIdle());
  EXPECT_EQ(polls, 0) << "the flag matters only in idle mode";

  crawler.set_speed_mode(SpeedMode::kIdleHighSpeed);
  EXPECT_TRUE(crawler.PollUserIdle());
  EXPECT_EQ(polls, 1);
  away = false;
  now += 4999;
  EXPECT_TRUE(crawler.PollUserIdle()) << "not due yet: the last answer stands";
  EXPECT_EQ(polls, 1);
  now += 1;
  EXPECT_FALSE(crawler.PollUserIdle());
  EXPECT_EQ(polls, 2);
}

}  // namespace
}  // namespace lun
