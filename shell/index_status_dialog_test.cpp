#include "shell/index_status_dialog.h"

#include <gtest/gtest.h>

#include "crawler/scan_scope.h"
#include "shell/shell_test_util.h"

namespace lun {
namespace {

TEST(SpeedRowTest, RowsMapToModes) {
  EXPECT_EQ(SpeedRowOfMode(1), 0);  // 高速
  EXPECT_EQ(SpeedRowOfMode(0), 1);  // 正常
  EXPECT_EQ(SpeedRowOfMode(2), 2);  // 低速
  EXPECT_EQ(SpeedRowOfMode(7), -1);
  for (int row = 0; row < 3; ++row) EXPECT_EQ(SpeedRowOfMode(SpeedModeOfRow(row)), row);
}

TEST(IndexStatusDialogTest, ShowsCountsAndPausedPathsAndDrivesTheControls) {
  FakeBackend backend;
  backend.AddDocument("/nowhere/a.txt", "a");
  backend.AddDocument("/nowhere/b.txt", "b");
  backend.AddDocument("/nowhere/huge.log", "", kMaxIndexedFileSize + 1);
  Crawler& crawler = *backend.crawler();
  crawler.set_speed_mode(SpeedMode::kLowSpeed);
  std::vector<std::string> opened;
  IndexStatusDialog dialog(backend, [&](const std::string& page) { opened.push_back(page); });
  EXPECT_EQ(dialog.windowTitle(), "索引状态");
  EXPECT_EQ(dialog.counts()->text(), "扫描：0，索引：3");
  EXPECT_EQ(dialog.oversize()->text(), "超过 20 MB、只按名称和属性索引的文件：1");
  EXPECT_EQ(dialog.speed()->currentText(), "低速");
  EXPECT_TRUE(dialog.run_button()->isChecked());
  EXPECT_EQ(dialog.run_button()->text(), "索  引");
  EXPECT_EQ(dialog.index_label()->text(), "正在索引：(自动去重)");

  dialog.run_button()->click();
  EXPECT_TRUE(crawler.paused());
  dialog.Refresh();
  EXPECT_EQ(dialog.index_path()->text(), "已暂停");
  EXPECT_EQ(dialog.scan_path()->text(), "已暂停");

  // Paused elsewhere (the menu): the button follows on the next tick.
  crawler.set_paused(false);
  dialog.Refresh();
  EXPECT_TRUE(dialog.run_button()->isChecked());

  emit dialog.speed()->activated(0);
  EXPECT_EQ(crawler.speed_mode(), SpeedMode::kHighSpeed);
  emit dialog.speed()->activated(1);
  EXPECT_EQ(crawler.speed_mode(), SpeedMode::kIdleHighSpeed);

  backend.writer()->set_fast_insert(true);
  dialog.Refresh();
  EXPECT_EQ(dialog.index_label()->text(), "正在索引：");

  // The web pages that say more.
  dialog.status_page_button()->click();
  dialog.diagnosis_button()->click();
  EXPECT_EQ(opened, (std::vector<std::string>{"Status.shl", "Diagnose.shl"}));
}

}  // namespace
}  // namespace lun
