#include "shell/settings_window.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>

#include "app/first_run_defaults.h"
#include "config/password_hash.h"
#include "config/settings_keys.h"
#include "shell/notification_popup.h"
#include "shell/shell_controller.h"
#include "shell/shell_test_util.h"

namespace lun {
namespace {

// One case: settings before, what the user does on the page, keys after.
struct PageCase {
  const char* name;
  const char* page;
  std::vector<std::pair<const char*, const char*>> before;
  std::function<void(SettingsPage&)> act;
  std::vector<std::pair<const char*, const char*>> after;
};

template <typename T>
T* Control(SettingsPage& page, const char* name) {
  T* control = page.findChild<T*>(name);
  EXPECT_NE(control, nullptr) << name;
  return control;
}

void Combo(SettingsPage& p, const char* name, int index) {
  Control<QComboBox>(p, name)->setCurrentIndex(index);
}
void Checked(SettingsPage& p, const char* name, bool on) {
  Control<QCheckBox>(p, name)->setChecked(on);
}
void Text(SettingsPage& p, const char* name, const char* text) {
  if (auto* edit = p.findChild<QLineEdit*>(name)) {
    edit->setText(text);
  } else {
    Control<QPlainTextEdit>(p, name)->setPlainText(text);
  }
}
// The check state of the type row named `row`.
void CheckRowNamed(SettingsPage& p, const QString& row, bool on) {
  auto* list = Control<QTreeWidget>(p, "list1061");
  const auto found = list->findItems(row, Qt::MatchExactly, 0);
  ASSERT_EQ(found.size(), 1) << row.toStdString();
  found[0]->setCheckState(0, on ? Qt::Checked : Qt::Unchecked);
}

class SettingsPagesTest : public testing::Test {
 protected:
  SettingsPageContext Context() { return SettingsPageContext{&backend_, ask_.Function()}; }
  std::string Value(const char* key) {
    return backend_.settings().GetValue(kSearchSection, key, "(missing)");
  }

  FakeBackend backend_;
  ScriptedAsk ask_;
};

TEST_F(SettingsPagesTest, PagesLoadAndSaveTheirKeys) {
  const auto noop = [](SettingsPage&) {};
  const PageCase kCases[] = {
      {"search options: defaults round-trip",
       "常规设置::搜索选项",
       {},
       noop,
       {{"默认搜索", "快速搜索"},
        {"在内容中快速搜索", "FALSE"},
        {"实时监控", "TRUE"},
        {"实时文件删除", "FALSE"},
        {"图片文字识别", "FALSE"}}},
      {"search options: stored values show and change",
       "常规设置::搜索选项",
       {{"默认搜索", "桌面搜索"}, {"在内容中快速搜索", "TRUE"}, {"实时监控", "FALSE"}},
       [](SettingsPage& p) {
         EXPECT_EQ(Control<QComboBox>(p, "combo211")->currentIndex(), 1);
         EXPECT_EQ(Control<QComboBox>(p, "combo212")->currentIndex(), 1);
         EXPECT_FALSE(Control<QCheckBox>(p, "check1057")->isChecked());
         Combo(p, "combo211", 2);
         Combo(p, "combo212", 0);
         Checked(p, "check1058", true);
         EXPECT_FALSE(Control<QCheckBox>(p, "check1060")->isChecked());
         Checked(p, "check1060", true);
       },
       {{"默认搜索", "高级搜索"},
        {"在内容中快速搜索", "FALSE"},
        {"实时监控", "FALSE"},
        {"实时文件删除", "TRUE"},
        {"图片文字识别", "TRUE"}}},
      {"search options: an unknown default selects nothing and saves 快速搜索",
       "常规设置::搜索选项",
       {{"默认搜索", "别的"}},
       [](SettingsPage& p) { EXPECT_EQ(Control<QComboBox>(p, "combo211")->currentIndex(), -1); },
       {{"默认搜索", "快速搜索"}}},
      {"result display: defaults, and text stored as typed",
       "常规设置::结果显示",
       {},
       [](SettingsPage& p) {
         EXPECT_EQ(Control<QLineEdit>(p, "edit201")->text(), "10");
         EXPECT_EQ(Control<QLineEdit>(p, "edit202")->text(), "150");
         Text(p, "edit201", "abc");
       },
       {{"每页记录数", "abc"}, {"显示长度", "150"}}},
      {"run: autostart off and a port",
       "常规设置::运行",
       {{"AutoStart", "TRUE"}},
       [](SettingsPage& p) {
         EXPECT_TRUE(Control<QCheckBox>(p, "check1057")->isChecked());
         EXPECT_EQ(Control<QLineEdit>(p, "edit201")->text(), "8484");
         Checked(p, "check1057", false);
         Text(p, "edit201", "9000");
       },
       {{"AutoStart", "FALSE"}, {"发布端口", "9000"}}},
      {"run: only TRUE checks autostart",
       "常规设置::运行",
       {{"AutoStart", "true"}},
       [](SettingsPage& p) { EXPECT_FALSE(Control<QCheckBox>(p, "check1057")->isChecked()); },
       {{"AutoStart", "FALSE"}}},
      {"forbidden paths: one a line, stored as a list",
       "扫描路径::禁止",
       {{"禁止扫描", "|/a|/b c|"}},
       [](SettingsPage& p) {
         EXPECT_EQ(Control<QPlainTextEdit>(p, "edit201")->toPlainText(), "/a\n/b c");
         Text(p, "edit201", "/x\n\n  /y  \n");
       },
       {{"禁止扫描", "|/x|/y|"}}},
      {"basic types: a row checked, tokens of no row kept",
       "文挡类型::基本类型",
       {{"文档类型", "|ZZZ|"}},
       [](SettingsPage& p) { CheckRowNamed(p, "Html文件", true); },
       {{"文档类型", "|HTM|HTX|HTT|HTML|HTA|ZZZ|"}}},
      {"text types: full-width separators and the last item's ;",
       "文挡类型::文本类型",
       {},
       [](SettingsPage& p) { Text(p, "edit201", "*.INI；*.PAS"); },
       {{"其他文本类型", "*.INI;*.PAS;"}}},
      {"password: defaults",
       "安全选项::口令",
       {},
       noop,
       {{"登陆口令", ""}, {"自动登陆", "允许"}, {"密码问题", "你叫什么名字？"}, {"密码答案", ""}}},
      {"password: only 禁止 unchecks auto-login",
       "安全选项::口令",
       {{"自动登陆", "禁止"}, {"登陆口令", "old"}},
       [](SettingsPage& p) {
         EXPECT_FALSE(Control<QCheckBox>(p, "check1057")->isChecked());
         EXPECT_EQ(Control<QLineEdit>(p, "edit202")->text(), "old");
         Text(p, "edit201", "new");
         Text(p, "edit202", "new");
         Text(p, "edit204", "Tam");
       },
       {{"登陆口令", "new"}, {"自动登陆", "禁止"}, {"密码答案", "Tam"}}},
      {"network: 允许 checks, unchecked saves 禁止",
       "安全选项::网络访问",
       {{"远程登陆", "允许"}},
       [](SettingsPage& p) {
         EXPECT_TRUE(Control<QCheckBox>(p, "check1057")->isChecked());
         EXPECT_FALSE(Control<QCheckBox>(p, "check1058")->isChecked());
         Checked(p, "check1057", false);
         Checked(p, "check1058", true);
       },
       {{"远程登陆", "禁止"}, {"远程下载", "允许"}}},
  };
  for (const PageCase& c : kCases) {
    SCOPED_TRACE(c.name);
    FakeBackend backend;
    for (const auto& [key, value] : c.before)
      backend.settings().SetValue(kSearchSection, key, value);
    std::unique_ptr<SettingsPage> page =
        MakeSettingsPage(c.page, SettingsPageContext{&backend, ask_.Function()});
    ASSERT_NE(page, nullptr);
    c.act(*page);
    ASSERT_TRUE(page->Validate());
    page->Save();
    for (const auto& [key, value] : c.after) {
      const std::string stored = backend.settings().GetValue(kSearchSection, key, "(missing)");
      if (key == std::string(key::kLoginPassword) && *value != '\0') {
        EXPECT_TRUE(IsPasswordHash(stored) && VerifyPassword(value, stored)) << stored;
      } else {
        EXPECT_EQ(stored, value) << key;
      }
    }
  }
}

TEST_F(SettingsPagesTest, RunPageSetsTheAutostartEntry) {
  auto page = MakeSettingsPage("常规设置::运行", Context());
  Checked(*page, "check1057", false);
  page->Save();
  Checked(*page, "check1057", true);
  page->Save();
  EXPECT_EQ(backend_.autostart, (std::vector<bool>{false, true}));
}

TEST_F(SettingsPagesTest, DifferentPasswordsAreRefusedAndNothingIsSaved) {
  PopupCenter popups(ApplicationIcon());
  SettingsWindow window(backend_, popups, ask_.Function());
  ASSERT_TRUE(window.SelectPage("安全选项::口令"));
  SettingsPage& page = *window.page("安全选项::口令");
  Text(page, "edit201", "one");
  Text(page, "edit202", "two");
  EXPECT_FALSE(window.Apply());
  ASSERT_EQ(ask_.asked.size(), 1u);
  EXPECT_EQ(ask_.asked[0].caption, "验证失败");
  EXPECT_EQ(ask_.asked[0].text, "两次输入的密码不相同，请重新输入。");
  EXPECT_EQ(Value("登陆口令"), "(missing)");
}

TEST_F(SettingsPagesTest, TypeChangeOffersARescanAndNoStartsNone) {
  PopupCenter popups(ApplicationIcon());
  SettingsWindow window(backend_, popups, ask_.Function());
  ASSERT_TRUE(window.SelectPage("文挡类型::基本类型"));
  CheckRowNamed(*window.page("文挡类型::基本类型"), "Html文件", true);
  ask_.answers = {kAnswerNo};
  EXPECT_TRUE(window.Apply());
  ASSERT_EQ(ask_.asked.size(), 1u);
  EXPECT_EQ(ask_.asked[0].caption, "Tamrix桌面搜索");
  EXPECT_NE(Value("文档类型"), "(missing)");
  EXPECT_FALSE(backend_.crawler()->scanning());
  EXPECT_EQ(Value("完成全面扫描"), "(missing)");
  EXPECT_FALSE(popups.slot_table().taken(0));

  // Saving again without a change asks nothing.
  EXPECT_TRUE(window.Apply());
  EXPECT_EQ(ask_.asked.size(), 1u);

  CheckRowNamed(*window.page("文挡类型::基本类型"), "Html文件", false);
  ask_.answers = {kAnswerYes};
  EXPECT_TRUE(window.Apply());
  WaitForScanEnd(*backend_.crawler());
  EXPECT_EQ(ask_.asked.size(), 2u);
  EXPECT_TRUE(popups.slot_table().taken(0));
  // The re-index marks the full scan as not done and walks again.
  EXPECT_EQ(Value("完成全面扫描"), "FALSE");
}

TEST_F(SettingsPagesTest, TreeListsEveryPageUnderSystemSettings) {
  PopupCenter popups(ApplicationIcon());
  SettingsWindow window(backend_, popups, ask_.Function());
  QTreeWidgetItem* root = window.tree()->topLevelItem(0);
  EXPECT_EQ(root->text(0), "系统设置");
  QStringList names;
  for (int i = 0; i < root->childCount(); ++i) names << root->child(i)->text(0);
  EXPECT_EQ(names, SettingsPageNames());
  EXPECT_EQ(names.size(), 10);
  ASSERT_TRUE(window.SelectPage("文挡类型::扩展类型"));
  EXPECT_EQ(window.page("文挡类型::扩展类型")->caption(), "文档类型::扩展类型");
  EXPECT_FALSE(window.SelectPage("没有这页"));
}

TEST_F(SettingsPagesTest, FolderTreeChecksPermittedPathsAndKeepsOthers) {
  ScratchDir root;
  MakeDirectories(root.File("a/b"));
  MakeDirectories(root.File("c"));
  backend_.settings().SetValue(kSearchSection, key::kPermittedPaths,
                               "|" + root.File("a/b") + "|/no/such/folder|");
  auto page = MakeSettingsPage("扫描路径::允许", Context());
  auto* tree = Control<FolderTree>(*page, "tree1060");
  EXPECT_EQ(tree->topLevelItem(0)->text(0), "我的电脑");
  EXPECT_EQ(tree->CheckedPaths(), (std::vector<std::string>{root.File("a/b"), "/no/such/folder"}));
  QTreeWidgetItem* c = tree->Reveal(root.File("c"));
  ASSERT_NE(c, nullptr);
  c->setCheckState(0, Qt::Checked);
  tree->Reveal(root.File("a/b"))->setCheckState(0, Qt::Unchecked);
  page->Save();
  EXPECT_EQ(Value("允许扫描"), "|" + root.File("c") + "|/no/such/folder|");
}

TEST_F(SettingsPagesTest, WizardShowsItsPagesInOrderAndSavesThem) {
  FirstRunWizard wizard(backend_, ask_.Function());
  QStringList names;
  for (const auto& page : wizard.pages()) names << page->name();
  EXPECT_EQ(names, WizardPageNames());
  EXPECT_EQ(wizard.windowTitle(), "系统初始化");
  wizard.SaveAll();
  EXPECT_EQ(Value("发布端口"), "8484");
  EXPECT_EQ(Value("自动登陆"), "允许");
  // It opened with the first-run defaults checked, and finishing keeps them.
  for (const char* type : {"|DOC|", "|PDF|", "|TXT|", "|DOCX|"}) {
    EXPECT_NE(Value("文档类型").find(type), std::string::npos) << type;
  }
  EXPECT_EQ(Value("其他文本类型"), kFirstRunOtherTextTypes);
  EXPECT_TRUE(wizard.Finish());
  EXPECT_TRUE(ask_.asked.empty()) << "no warning with types chosen";
}

TEST_F(SettingsPagesTest, FinishingTheWizardWithNoTypeWarns) {
  FirstRunWizard wizard(backend_, ask_.Function());
  // The user unchecks everything: every type list ends empty.
  for (const char* key : {"文档类型", "其他文本类型", "LUNPlugType", "MSNPlugType"}) {
    backend_.settings().SetValue(kSearchSection, key, "");
  }
  for (const auto& page : wizard.pages()) page->Load();
  ask_.answers = {kAnswerNo, kAnswerYes};
  EXPECT_FALSE(wizard.Finish()) << "No: back to the wizard";
  ASSERT_EQ(ask_.asked.size(), 1u);
  EXPECT_TRUE(ask_.asked[0].text.contains("没有选择任何文件类型"));
  EXPECT_TRUE(wizard.Finish()) << "Yes: finished all the same";
}

TEST(PatternTextTest, IsMadeStorable) {
  EXPECT_EQ(NormalizePatternText("*.log;*.ini"), "*.log;*.ini;");
  EXPECT_EQ(NormalizePatternText("  "), "");
}

}  // namespace
}  // namespace lun
