#include "shell/qt_user_interface.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <atomic>
#include <chrono>
#include <thread>

#include "shell/notification_popup.h"
#include "shell/shell_controller.h"
#include "shell/shell_test_util.h"

namespace lun {
namespace {

// Runs the event loop until `done` (at most 30 s).
void ProcessUntil(const std::atomic<bool>& done) {
  for (int i = 0; i < 3000 && !done; ++i) {
    QCoreApplication::processEvents();
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

TEST(QtUserInterfaceTest, ABoxFromAnotherThreadIsAskedOnTheUiThread) {
  PopupCenter popups(ApplicationIcon());
  ScriptedAsk ask;
  ask.answers = {kAnswerNo};
  QtUserInterface ui(popups, ask.Function());
  std::atomic<bool> done{false};
  int answer = -1;
  std::thread crawler([&] {
    answer = ui.Countdown("Tamrix桌面搜索", "问题", 3000, BoxButtons::kYesNo);
    done = true;
  });
  ProcessUntil(done);
  crawler.join();
  EXPECT_EQ(answer, kAnswerNo);
  ASSERT_EQ(ask.asked.size(), 1u);
  EXPECT_EQ(ask.asked[0].milliseconds, 3000);
}

TEST(QtUserInterfaceTest, ClosingLetsAWaitingThreadGo) {
  PopupCenter popups(ApplicationIcon());
  ScriptedAsk ask;
  QtUserInterface ui(popups, ask.Function());
  std::atomic<bool> done{false};
  int answer = -1;
  // The UI thread is busy elsewhere (the shutdown waits for this thread)
  // and never runs the box.
  std::thread crawler([&] {
    answer = ui.Countdown("c", "t", 0, BoxButtons::kOk);
    done = true;
  });
  ui.BeginClosing();
  crawler.join();
  EXPECT_EQ(answer, kTimedOut);
  // Later boxes from other threads are not shown at all.
  std::thread late([&] { answer = ui.Countdown("c", "t", 0, BoxButtons::kOk); });
  late.join();
  EXPECT_EQ(answer, kTimedOut);
  QCoreApplication::processEvents();
  EXPECT_TRUE(ask.asked.empty());
}

TEST(QtUserInterfaceTest, NoticesAndTipsFromOtherThreadsReachTheWindows) {
  FakeBackend backend;
  PopupCenter popups(ApplicationIcon());
  ScriptedAsk ask;
  ScriptedPrompter passwords;
  ShellController controller(backend, popups, passwords, ask.Function());
  QtUserInterface ui(popups, ask.Function());
  ui.Attach(&backend, &controller);
  std::thread([&] {
    ui.Notify("扫描完成", "系统已经完成文件扫描，您现在可以搜索全部内容。");
    ui.SetTip("待索引文件: 0，已索引文件: 0");
  }).join();
  QCoreApplication::processEvents();
  EXPECT_TRUE(popups.slot_table().taken(0));
  EXPECT_EQ(controller.tip(), "待索引文件: 0，已索引文件: 0");
}

}  // namespace
}  // namespace lun
