#include "shell/countdown_box.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QTimer>

namespace lun {
namespace {

TEST(CountdownBoxTest, CaptionShowsTheSecondsLeft) {
  CountdownBox box("Tamrix桌面搜索", "text", 3000, BoxButtons::kYesNo, QMessageBox::Question);
  EXPECT_EQ(box.windowTitle(), "Tamrix桌面搜索, 剩余时间: 3秒");
  CountdownBox plain("Tamrix桌面搜索", "text", 0, BoxButtons::kOk, QMessageBox::Information);
  EXPECT_EQ(plain.windowTitle(), "Tamrix桌面搜索");
}

TEST(CountdownBoxTest, ClosesItselfAndReturnsZeroWhenTheTimeRunsOut) {
  EXPECT_EQ(ShowCountdown("c", "left alone", 1000, BoxButtons::kYesNo), kTimedOut);
}

TEST(CountdownBoxTest, ReturnsTheButtonTheUserPressed) {
  const struct {
    BoxButtons buttons;
    QMessageBox::StandardButton press;
    int answer;
  } kCases[] = {{BoxButtons::kYesNo, QMessageBox::Yes, kAnswerYes},
                {BoxButtons::kYesNo, QMessageBox::No, kAnswerNo},
                {BoxButtons::kYesNoCancel, QMessageBox::Cancel, kAnswerCancel},
                {BoxButtons::kOk, QMessageBox::Ok, kAnswerOk}};
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.answer);
    CountdownBox box("c", "t", 60000, c.buttons, QMessageBox::Question);
    QTimer::singleShot(0, &box, [&box, &c] { box.button(c.press)->click(); });
    EXPECT_EQ(box.Run(), c.answer);
  }
}

}  // namespace
}  // namespace lun
