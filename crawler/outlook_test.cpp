#include "crawler/outlook.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace lun {
namespace {

using namespace std::chrono_literals;

TEST(OutlookTest, PassesFindNoStoreAndWaitWhileTheIndexIsHeld) {
  EXPECT_EQ(OutlookPass(false), MailPassResult::kNoStore);
  EXPECT_EQ(OutlookExpressPass(false), MailPassResult::kNoStore);
  EXPECT_EQ(OutlookPass(true), MailPassResult::kHeld);
  EXPECT_EQ(OutlookExpressPass(true), MailPassResult::kHeld);
}

// Counts the passes of a polling thread and lets the test wait for them.
class PassCounter {
 public:
  void Pass() {
    std::lock_guard lock(mutex_);
    ++passes_;
    changed_.notify_all();
  }
  // Waits (up to 10 s) until at least `n` passes have run.
  bool WaitFor(int n) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, 10s, [&] { return passes_ >= n; });
  }
  int passes() {
    std::lock_guard lock(mutex_);
    return passes_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  int passes_ = 0;
};

TEST(OutlookTest, PollThreadPassesAtStartAndOnRequestAndStopsAtOnce) {
  PassCounter counter;
  // An interval no test waits out: every pass after the first is requested.
  MailPollThread thread([&] { counter.Pass(); }, std::chrono::hours(1));
  EXPECT_FALSE(thread.running());
  thread.Stop();  // not running: nothing

  thread.Start();
  thread.Start();  // running already: nothing
  EXPECT_TRUE(thread.running());
  ASSERT_TRUE(counter.WaitFor(1));
  thread.RequestPass();
  ASSERT_TRUE(counter.WaitFor(2));

  thread.Stop();  // returns although an hour of waiting was left
  EXPECT_FALSE(thread.running());
  const int passes = counter.passes();
  EXPECT_EQ(passes, 2);

  // Started again, it begins with a pass as at the first start.
  thread.Start();
  EXPECT_TRUE(counter.WaitFor(passes + 1));
  thread.Stop();
}

TEST(OutlookTest, PollThreadRepeatsAfterItsInterval) {
  PassCounter counter;
  MailPollThread thread([&] { counter.Pass(); }, 1ms);
  thread.Start();
  EXPECT_TRUE(counter.WaitFor(5));
  thread.Stop();
}

}  // namespace
}  // namespace lun
