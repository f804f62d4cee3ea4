#include "shell/shell_controller.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QSignalSpy>
#include <QTest>
#include <chrono>
#include <thread>

#include "crawler/saved_searches.h"
#include "shell/notification_popup.h"
#include "shell/qt_user_interface.h"
#include "shell/quick_search_window.h"
#include "shell/shell_test_util.h"

namespace lun {
namespace {

class ShellControllerTest : public testing::Test {
 protected:
  ShellControllerTest()
      : popups_(ApplicationIcon()), controller_(backend_, popups_, prompter_, ask_.Function()) {}

  // The menu's items as "text" (a separator "-", a submenu "title>").
  static QStringList Items(const QMenu& menu) {
    QStringList items;
    for (const QAction* item : menu.actions()) {
      if (item->isSeparator()) {
        items << "-";
      } else if (item->menu()) {
        items << item->text() + ">";
        for (const QAction* sub : item->menu()->actions()) items << "  " + sub->text();
      } else {
        items << item->text();
      }
    }
    return items;
  }

  FakeBackend backend_;
  PopupCenter popups_;
  ScriptedPrompter prompter_;
  ScriptedAsk ask_;
  ShellController controller_;
};

TEST_F(ShellControllerTest, MenuHoldsEveryItemInOrder) {
  const QStringList expected = {
      "桌面搜索",   "高级搜索",   "快速搜索",   "-",          "文件预览",   "-",
      "索引>",      "  索引状态", "  高速索引", "  空闲高速", "  低速索引", "  暂停索引",
      "  重新索引", "安全>",      "  密码设置", "  网络访问", "系统日志",   "-",
      "系统设置",   "-",          "使用帮助",   "版本信息",   "-",          "退出"};
  EXPECT_EQ(Items(*controller_.menu()), expected);
}

TEST_F(ShellControllerTest, PageCommandsOpenTheirPagesWithTheSessionCodeButHelp) {
  const struct {
    int command;
    const char* url;
  } kCases[] = {
      {kCmdDesktopSearch, "http://127.0.0.1:8484/LUN/home.shl?IDCODE=CODE"},
      {kCmdAdvancedSearch, "http://127.0.0.1:8484/LUN/Advanced.shl?IDCODE=CODE"},
      {kCmdSystemLog, "http://127.0.0.1:8484/LUN/log.shl?IDCODE=CODE"},
      {kCmdVersion, "http://127.0.0.1:8484/LUN/VerInfo.shl?IDCODE=CODE"},
      {kCmdHelp, "http://127.0.0.1:8484/LUN/jiqiao.shl"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.command);
    backend_.opened.clear();
    controller_.action(c.command)->trigger();
    EXPECT_EQ(backend_.opened, std::vector<std::string>{c.url});
  }
}

TEST_F(ShellControllerTest, SpeedItemsAndPauseLabelFollowTheCrawler) {
  Crawler& crawler = *backend_.crawler();
  const struct {
    int command;
    int mode;
  } kCases[] = {{kCmdHighSpeed, 1}, {kCmdIdleHighSpeed, 0}, {kCmdLowSpeed, 2}};
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.command);
    controller_.action(c.command)->trigger();
    EXPECT_EQ(static_cast<int>(crawler.speed_mode()), c.mode);
    for (int other : {kCmdHighSpeed, kCmdIdleHighSpeed, kCmdLowSpeed}) {
      EXPECT_EQ(controller_.action(other)->isChecked(), other == c.command) << other;
    }
  }
  // A mode changed elsewhere (the status window) shows when the menu opens.
  crawler.set_speed_mode(SpeedMode::kHighSpeed);
  emit controller_.menu()->aboutToShow();
  EXPECT_TRUE(controller_.action(kCmdHighSpeed)->isChecked());

  controller_.action(kCmdPause)->trigger();
  EXPECT_TRUE(crawler.paused());
  EXPECT_EQ(controller_.action(kCmdPause)->text(), "继续索引");
  controller_.action(kCmdPause)->trigger();
  EXPECT_FALSE(crawler.paused());
  EXPECT_EQ(controller_.action(kCmdPause)->text(), "暂停索引");
}

TEST_F(ShellControllerTest, DefaultSearchActionFollowsTheSetting) {
  const struct {
    const char* value;  // null: the key is missing
    const char* url;    // null: the quick search window
  } kCases[] = {
      {nullptr, nullptr},
      {"桌面搜索", "http://127.0.0.1:8484/LUN/home.shl?IDCODE=CODE"},
      {"高级搜索", "http://127.0.0.1:8484/LUN/Advanced.shl?IDCODE=CODE"},
      {"", nullptr},
      {"快速搜索", nullptr},
      {"something else", nullptr},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.value ? c.value : "(missing)");
    if (c.value) backend_.settings().SetValue(kSearchSection, key::kDefaultSearch, c.value);
    backend_.opened.clear();
    if (controller_.quick_search()) controller_.quick_search()->hide();
    controller_.DefaultSearchAction();
    if (c.url) {
      EXPECT_EQ(backend_.opened, std::vector<std::string>{c.url});
    } else {
      EXPECT_TRUE(backend_.opened.empty());
      ASSERT_NE(controller_.quick_search(), nullptr);
      EXPECT_TRUE(controller_.quick_search()->isVisible());
    }
  }
}

TEST_F(ShellControllerTest, ReindexCancelAndYesKeepTheRecordsNoEmptiesThem) {
  backend_.AddDocument("/tmp/kept.txt", "kept");
  auto documents = [&] { return backend_.project()->FindTable(kDocumentTable)->live_count(); };
  ASSERT_EQ(documents(), 1u);

  ask_.answers = {kAnswerCancel};
  controller_.action(kCmdReindex)->trigger();
  ASSERT_EQ(ask_.asked.size(), 1u);
  EXPECT_EQ(ask_.asked[0].caption, "Tamrix桌面搜索");
  EXPECT_EQ(ask_.asked[0].buttons, BoxButtons::kYesNoCancel);
  EXPECT_FALSE(backend_.crawler()->scanning());
  EXPECT_EQ(backend_.settings().GetValue(kSearchSection, key::kFullScanDone, "unset"), "unset");

  ask_.answers = {kAnswerYes};
  controller_.action(kCmdReindex)->trigger();
  WaitForScanEnd(*backend_.crawler());
  EXPECT_EQ(documents(), 1u);
  EXPECT_EQ(popups_.slot_table().taken(0), false);

  ask_.answers = {kAnswerNo};
  controller_.action(kCmdReindex)->trigger();
  WaitForScanEnd(*backend_.crawler());
  EXPECT_EQ(documents(), 0u);
  // The "重新扫描" popup is up.
  EXPECT_TRUE(popups_.slot_table().taken(0));
}

TEST_F(ShellControllerTest, ExitAsksWithACountdownAndNoKeepsRunning) {
  QSignalSpy quit(&controller_, &ShellController::QuitRequested);
  ask_.answers = {kAnswerNo};
  controller_.action(kCmdExit)->trigger();
  ASSERT_EQ(ask_.asked.size(), 1u);
  EXPECT_EQ(ask_.asked[0].milliseconds, 3000);
  EXPECT_EQ(ask_.asked[0].buttons, BoxButtons::kYesNo);
  EXPECT_EQ(backend_.shutdowns, 0);
  EXPECT_EQ(quit.count(), 0);

  // Yes, and a box left alone until its time ran out, both end the program.
  for (int answer : {static_cast<int>(kAnswerYes), static_cast<int>(kTimedOut)}) {
    ask_.answers = {answer};
    controller_.action(kCmdExit)->trigger();
  }
  EXPECT_EQ(backend_.shutdowns, 2);
  EXPECT_EQ(quit.count(), 2);
}

TEST_F(ShellControllerTest, WindowsAskForThePasswordWhenAutoLoginIsForbidden) {
  backend_.settings().SetValue(kSearchSection, key::kAutoLogin, "禁止");
  controller_.RunCommand(kCmdSettings);
  controller_.RunCommand(kCmdIndexStatus);
  controller_.RunCommand(kCmdFilePreview);
  EXPECT_EQ(prompter_.asked, 3);
  EXPECT_EQ(controller_.settings_window(), nullptr);
  EXPECT_EQ(controller_.index_status(), nullptr);
  EXPECT_EQ(controller_.file_preview(), nullptr);

  prompter_.replies = {{PasswordReply::kOk, ""}};
  controller_.RunCommand(kCmdPassword);
  ASSERT_NE(controller_.settings_window(), nullptr);
  EXPECT_EQ(controller_.settings_window()->current_page(), "安全选项::口令");
}

TEST_F(ShellControllerTest, SettingsCommandsOpenTheirPages) {
  const struct {
    int command;
    const char* page;
  } kCases[] = {{kCmdSettings, "常规设置::搜索选项"},
                {kCmdPassword, "安全选项::口令"},
                {kCmdNetworkAccess, "安全选项::网络访问"}};
  for (const auto& c : kCases) {
    controller_.RunCommand(c.command);
    ASSERT_NE(controller_.settings_window(), nullptr);
    EXPECT_EQ(controller_.settings_window()->current_page(), c.page);
  }
}

TEST_F(ShellControllerTest, TipWatchLeavesOtherTextsAlone) {
  controller_.WatchCrawler();
  EXPECT_EQ(controller_.tip(), "欢迎使用Tamrix桌面搜索");
  controller_.SetStatusTip("别的状态");
  controller_.WatchCrawler();
  EXPECT_EQ(controller_.tip(), "别的状态");
  controller_.SetStatusTip("");
  EXPECT_EQ(controller_.tip(), "欢迎使用Tamrix桌面搜索");
}

TEST(TrayTipTextTest, DefaultScanningAndCutTo63Units) {
  EXPECT_EQ(TrayTipText("", 5), "欢迎使用Tamrix桌面搜索");
  EXPECT_EQ(TrayTipText("正在扫描...", 42), "已索引：42\n正在扫描...");
  EXPECT_EQ(TrayTipText("待索引文件: 1，已索引文件: 2", 0), "待索引文件: 1，已索引文件: 2");
  const QString long_text(100, QChar('x'));
  EXPECT_EQ(TrayTipText(long_text, 0).size(), 63);
  // A character outside the BMP is never cut in half.
  const QString wide = QString(62, QChar('x')) + QString::fromUcs4(U"\U0001F600");
  EXPECT_EQ(TrayTipText(wide, 0), QString(62, QChar('x')));
}

// The first popup on the screen; null when none appears within a minute
// (the checker waits for writing to settle before it looks).
NotificationPopup* WaitForPopup() {
  for (int i = 0; i < 6000; ++i) {
    QCoreApplication::processEvents();
    for (QWidget* widget : QApplication::topLevelWidgets()) {
      if (auto* popup = qobject_cast<NotificationPopup*>(widget)) return popup;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return nullptr;
}

// The whole way of a saved search's new hit: the checker's thread notices
// it, the user interface shows a popup with the search and the file, and a
// click on the popup asks the desktop to open the list of saved searches.
TEST_F(ShellControllerTest, ASavedSearchsNewHitRaisesAPopupThatOpensTheSavedSearchPage) {
  QtUserInterface ui(popups_, ask_.Function());
  ui.Attach(&backend_, &controller_);
  const ScratchDir dir;
  SavedSearches saved(dir.File("SavedSearches"), *backend_.search(), *backend_.project(),
                      *backend_.writer());
  ASSERT_EQ(saved.Load(), 0u);
  std::string error;
  ASSERT_NE(saved.Add("周报", "[文档]:文本内容=周报", "SearchText=周报", &error), 0u) << error;
  saved.Start([&ui](const std::string& title, const std::string& text) { ui.Notify(title, text); });
  backend_.writer()->set_on_append([&saved] { saved.NoteAppended(); });
  backend_.AddDocument(backend_.files() + "/w.txt", "本周周报");
  NotificationPopup* popup = WaitForPopup();
  saved.Stop();
  backend_.writer()->set_on_append(nullptr);

  ASSERT_NE(popup, nullptr);
  EXPECT_EQ(popup->title(), "已保存的搜索有新结果");
  EXPECT_EQ(popup->message(), "“周报”：1 个新文件，如 w.txt");
  EXPECT_TRUE(backend_.opened.empty());
  QTest::mouseClick(popup, Qt::LeftButton);
  EXPECT_EQ(backend_.opened,
            std::vector<std::string>{"http://127.0.0.1:8484/LUN/SavedSearch.shl?IDCODE=CODE"});

  // Another notice's popup only closes.
  QTest::mouseClick(popups_.Show("重新扫描", "消息"), Qt::LeftButton);
  EXPECT_EQ(backend_.opened.size(), 1u);
}

}  // namespace
}  // namespace lun
