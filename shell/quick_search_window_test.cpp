#include "shell/quick_search_window.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QSignalSpy>

#include "shell/shell_controller.h"
#include "shell/shell_test_util.h"

namespace lun {
namespace {

TEST(QuickSearchQueryTest, EmptyNameAndContentForms) {
  EXPECT_EQ(QuickSearchQuery("", true), "[文档]:");
  EXPECT_EQ(QuickSearchQuery("", false), "[文档]:");
  EXPECT_EQ(QuickSearchQuery("报告", false), "[文档]:文件名称=(报告) order by 相关度 desc");
  EXPECT_EQ(QuickSearchQuery("报告", true),
            "[文档]:文本内容=(报告)+文件名称=(报告) order by 相关度 desc");
}

TEST(CollapseBlankLinesTest, BlankLinesCollapseToSingleBreaks) {
  const struct {
    const char* in;
    const char* out;
  } kCases[] = {
      {"a\r\n\r\n\r\n\r\nb", "a\r\nb"},
      {"\r\n\r\n\r\n", ""},
      {"a\n\n\nb\n", "a\nb"},
      {"a\r\n", "a"},
      {"plain", "plain"},
  };
  for (const auto& c : kCases) EXPECT_EQ(CollapseBlankLines(c.in), c.out) << c.in;
}

TEST(QuickSearchStatusTest, ContentAndFileForms) {
  EXPECT_EQ(QuickSearchStatus(true, 3, 0.25), "在内容中搜索到3结果,耗时0.250秒");
  EXPECT_EQ(QuickSearchStatus(false, 0, 0), "在文件中搜索到0结果,耗时0.000秒");
}

TEST(DockingTest, EdgesWithinFivePixelsDock) {
  const QRect screen(0, 0, 1000, 800);
  EXPECT_EQ(DockEdgeOf(QRect(3, 100, 200, 300), screen), DockEdge::kLeft);
  EXPECT_EQ(DockEdgeOf(QRect(795, 100, 200, 300), screen), DockEdge::kRight);  // right = 994
  EXPECT_EQ(DockEdgeOf(QRect(300, -4, 200, 300), screen), DockEdge::kTop);
  EXPECT_EQ(DockEdgeOf(QRect(300, 100, 200, 300), screen), DockEdge::kNone);
  EXPECT_EQ(DockEdgeOf(QRect(794, 100, 200, 300), screen), DockEdge::kNone);  // 6 pixels in
  // Slid out, a 5-pixel strip stays on the screen.
  const QRect frame(795, 100, 200, 300);
  EXPECT_EQ(HiddenPosition(frame, screen, DockEdge::kRight), QPoint(995, 100));
  EXPECT_EQ(HiddenPosition(QRect(0, 100, 200, 300), screen, DockEdge::kLeft), QPoint(-195, 100));
  EXPECT_EQ(HiddenPosition(QRect(300, 0, 200, 300), screen, DockEdge::kTop), QPoint(300, -295));
}

class QuickSearchWindowTest : public testing::Test {
 protected:
  QuickSearchWindowTest() : window_(backend_) {}

  QStringList Paths() {
    QStringList paths;
    for (int i = 0; i < window_.list()->count(); ++i) {
      paths << window_.list()->item(i)->data(Qt::UserRole).toString();
    }
    return paths;
  }

  FakeBackend backend_;
  QuickSearchWindow window_;
};

TEST_F(QuickSearchWindowTest, ListsAtMost25HitsWithTheStatusLine) {
  for (int i = 0; i < 30; ++i) {
    backend_.AddDocument(backend_.files() + "/报告" + std::to_string(i) + ".txt",
                         "正文\r\n\r\n第二行");
  }
  window_.ShowAndSearch();  // the empty text: the bare document query
  EXPECT_EQ(window_.list()->count(), 25);
  EXPECT_TRUE(window_.status()->text().startsWith("在文件中搜索到30结果,耗时"));

  window_.edit()->setText("报告");
  EXPECT_EQ(window_.list()->count(), 25);
  EXPECT_TRUE(window_.status()->text().startsWith("在文件中搜索到30结果,耗时"));

  backend_.settings().SetValue(kSearchSection, key::kQuickSearchContent, "TRUE");
  window_.edit()->setText("第二行");
  EXPECT_EQ(window_.list()->count(), 25);
  EXPECT_TRUE(window_.status()->text().startsWith("在内容中搜索到30结果,耗时"));
  // The recorded text, blank lines collapsed, goes with the hit.
  EXPECT_EQ(window_.list()->item(0)->data(Qt::UserRole + 1).toString(), "正文\r\n第二行");

  window_.edit()->setText("没有");
  EXPECT_EQ(window_.list()->count(), 0);
  EXPECT_TRUE(window_.status()->text().startsWith("在内容中搜索到0结果"));
}

TEST_F(QuickSearchWindowTest, AFailedQueryLeavesAnEmptyListAndNoStatus) {
  backend_.AddDocument("/nowhere/a.txt", "a");
  window_.ShowAndSearch();
  ASSERT_EQ(window_.list()->count(), 1);
  window_.edit()->setText("(((");
  EXPECT_EQ(window_.list()->count(), 0);
  EXPECT_TRUE(window_.status()->text().isEmpty());
}

TEST_F(QuickSearchWindowTest, AGoneFileIsListedWithTheApplicationIcon) {
  backend_.AddDocument("/nowhere/gone.txt", "gone");
  window_.ShowAndSearch();
  ASSERT_EQ(Paths(), QStringList{"/nowhere/gone.txt"});
  EXPECT_EQ(window_.list()->item(0)->icon().cacheKey(), ApplicationIcon().cacheKey());
}

TEST_F(QuickSearchWindowTest, ButtonAndItemMenuOpenTheirPages) {
  backend_.AddDocument("/data/docs/a b.txt", "text");
  window_.ShowAndSearch();
  ASSERT_EQ(window_.list()->count(), 1);
  QStringList items;
  for (const QAction* a : window_.item_menu()->actions()) items << a->text();
  EXPECT_EQ(items, (QStringList{"打开", "所在目录", "内容快照", "相同文件", "历史版本"}));

  for (int command :
       {QuickSearchWindow::kOpen, QuickSearchWindow::kFolder, QuickSearchWindow::kSnapshot,
        QuickSearchWindow::kSame, QuickSearchWindow::kHistory}) {
    window_.RunItemCommand(command, 0);
  }
  window_.edit()->setText("  a&b #1  ");
  window_.OpenFullSearch();
  const std::vector<std::string> expected = {
      "/data/docs/a b.txt",
      "/data/docs",
      "http://127.0.0.1:8484/LUN/ShowFile.shl?RecordNO=0&SearchText=*&IDCODE=CODE",
      "http://127.0.0.1:8484/LUN/Same.shl?RecordNO=0&IDCODE=CODE",
      "http://127.0.0.1:8484/LUN/History.shl?RecordNO=0&IDCODE=CODE",
      // Trimmed, and encoded so that "&" and "#" stay part of the text.
      "http://127.0.0.1:8484/LUN/Search.shl?SearchText=a%26b%20%231&IDCODE=CODE",
  };
  EXPECT_EQ(backend_.opened, expected);
}

TEST_F(QuickSearchWindowTest, DoubleClickAsksForThePreviewOfTheHit) {
  backend_.AddDocument("/nowhere/a.txt", "记录的文本");
  window_.ShowAndSearch();
  QSignalSpy preview(&window_, &QuickSearchWindow::PreviewRequested);
  emit window_.list()->itemDoubleClicked(window_.list()->item(0));
  ASSERT_EQ(preview.count(), 1);
  EXPECT_EQ(preview[0][0].toString(), "/nowhere/a.txt");
  EXPECT_EQ(preview[0][1].toString(), "记录的文本");
}

TEST_F(QuickSearchWindowTest, DockedWindowSlidesOutAndBack) {
  window_.ShowAndSearch();
  ASSERT_EQ(window_.dock_edge(), DockEdge::kRight);
  const QPoint shown = window_.pos();
  // While the user types in it the window stays.
  QApplication::setActiveWindow(&window_);
  window_.WatchCursor(QPoint(-1000, -1000));
  EXPECT_FALSE(window_.slid_out());
  QWidget elsewhere;
  elsewhere.show();
  QApplication::setActiveWindow(&elsewhere);
  window_.WatchCursor(QPoint(-1000, -1000));
  EXPECT_TRUE(window_.slid_out());
  EXPECT_NE(window_.pos(), shown);
  window_.WatchCursor(window_.frameGeometry().center());
  EXPECT_FALSE(window_.slid_out());
  EXPECT_EQ(window_.pos(), shown);
}

}  // namespace
}  // namespace lun
