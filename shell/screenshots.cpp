// Takes screenshots of the shell's windows for a person to look at: run it
// under an X server (xvfb-run) with the folder to write into.
//
//   xvfb-run -a -s "-screen 0 1280x800x24" shell_screenshots OUT_DIR
//
// Writes tray_menu.png, quick_search.png, index_status.png, popup.png,
// settings*.png, file_preview.png, the password dialogs and exit_box.png,
// each a grab of the whole screen. The windows run over a scratch project with a few
// documents, as in the tests. Exit status 1 when an image cannot be written.
#include <QApplication>
#include <QCursor>
#include <QDir>
#include <QPixmap>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <cstdio>

#include "shell/file_preview_window.h"
#include "shell/index_status_dialog.h"
#include "shell/notification_popup.h"
#include "shell/quick_search_window.h"
#include "shell/settings_window.h"
#include "shell/shell_controller.h"
#include "shell/shell_test_util.h"

namespace lun {
namespace {

// Lets the windows paint, then grabs the screen into `dir/name`.
bool Grab(const QString& dir, const char* name, int settle_ms = 400) {
  QTest::qWait(settle_ms);
  const QPixmap shot = QGuiApplication::primaryScreen()->grabWindow(0);
  const QString path = dir + "/" + name;
  const bool saved = shot.save(path);
  std::printf("%s %s\n", saved ? "wrote" : "FAILED", path.toUtf8().constData());
  return saved;
}

int Run(const QString& dir) {
  FakeBackend backend;
  const char* kFiles[][2] = {
      {"年度报告.txt", "二〇二六年度报告\n\n\n桌面搜索项目的进展与计划。"},
      {"会议纪要.html", "<p>会议纪要：讨论快速搜索窗口的布局。</p>"},
      {"report.pdf", "Quarterly report of the desktop search project."},
      {"notes.md", "搜索引擎的索引每个汉字。"},
      {"budget.xlsx", "预算表"},
      {"photo.png", ""},
  };
  for (const auto& file : kFiles) {
    const std::string path = JoinPath(backend.files(), file[0]);
    WriteTestFile(path, file[1]);
    backend.AddDocument(path, file[1]);
  }
  backend.AddDocument("/已删除/旧文件.doc", "这个文件已经不在了");
  backend.crawler()->set_speed_mode(SpeedMode::kIdleHighSpeed);
  ScriptedPrompter passwords;
  ScriptedAsk ask;
  PopupCenter popups(ApplicationIcon());
  ShellController controller(backend, popups, passwords, ask.Function());
  bool ok = true;

  QMenu* menu = controller.menu();
  menu->popup(QPoint(700, 200));
  QTest::qWait(200);
  auto* index_menu = qobject_cast<QMenu*>(controller.action(kCmdIndexStatus)->parent());
  if (index_menu) index_menu->popup(menu->geometry().topRight() + QPoint(0, 100));
  ok = Grab(dir, "tray_menu.png") && ok;
  if (index_menu) index_menu->hide();
  menu->hide();

  QuickSearchWindow* quick = controller.ShowQuickSearch();
  QCursor::setPos(quick->frameGeometry().center());
  quick->edit()->setText("报告");
  ok = Grab(dir, "quick_search.png") && ok;
  quick->edit()->clear();
  ok = Grab(dir, "quick_search_all.png") && ok;
  quick->hide();

  controller.ShowIndexStatus();
  ok = Grab(dir, "index_status.png") && ok;
  controller.index_status()->close();

  popups.Show("启动成功", "欢迎使用Tamrix桌面搜索0.7020051220版本。");
  popups.Show(
      "扫描信息",
      "在使用之前，您需要预先扫描一次磁盘。完成扫描之后您修改或是创建的文档，系统会自动将其索引。");
  ok = Grab(dir, "popup.png", 1500) && ok;
  popups.CloseAll();

  controller.ShowSettings("常规设置::搜索选项");
  ok = Grab(dir, "settings.png") && ok;
  controller.settings_window()->SelectPage("文挡类型::基本类型");
  ok = Grab(dir, "settings_types.png") && ok;
  controller.settings_window()->SelectPage("扫描路径::允许");
  ok = Grab(dir, "settings_paths.png") && ok;
  controller.settings_window()->close();

  controller.ShowFilePreview(QString::fromStdString(JoinPath(backend.files(), "年度报告.txt")));
  ok = Grab(dir, "file_preview.png") && ok;
  controller.file_preview()->hide();

  VerifyPasswordDialog verify(QString::fromStdString(PasswordHint(backend.settings())));
  QTimer::singleShot(600, [&] {
    ok = Grab(dir, "verify_password.png", 0) && ok;
    verify.reject();
  });
  verify.exec();
  ForgotPasswordDialog forgot("你叫什么名字？");
  QTimer::singleShot(600, [&] {
    ok = Grab(dir, "forgot_password.png", 0) && ok;
    forgot.reject();
  });
  forgot.exec();

  QTimer::singleShot(600, [&] { ok = Grab(dir, "exit_box.png", 0) && ok; });
  (void)ShowCountdown("Tamrix桌面搜索",
                      "系统退出之后将无法对您的文档或邮件的改变进行实时监控!\n您确定要退出吗?",
                      2000, BoxButtons::kYesNo, QMessageBox::Question);
  return ok ? 0 : 1;
}

}  // namespace
}  // namespace lun

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  if (argc < 2) {
    std::fprintf(stderr, "usage: shell_screenshots OUT_DIR\n");
    return 2;
  }
  const QString dir = QString::fromLocal8Bit(argv[1]);
  QDir().mkpath(dir);
  return lun::Run(dir);
}
