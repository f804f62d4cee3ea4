// The hidden main object of the desktop shell: it owns the tray icon and
// the command menu, turns each command into an action (open a page of the
// local web server, show one of the shell's windows, change an indexing
// control, exit) and keeps the tray tip.
//
// Commands, in menu order (a dash is a separator):
//   桌面搜索, 高级搜索, 快速搜索, -, 文件预览, -,
//   索引 > 索引状态, 高速索引, 空闲高速, 低速索引, 暂停索引/继续索引, 重新索引,
//   安全 > 密码设置, 网络访问, 系统日志, -, 系统设置, -, 使用帮助, 版本信息, -, 退出
// Every page the menu opens carries the session code as IDCODE, except
// "使用帮助". The speed items and the pause label are refreshed before the
// menu is shown.
//
// Thread safety: user-interface thread only.
#ifndef LUN_SHELL_SHELL_CONTROLLER_H_
#define LUN_SHELL_SHELL_CONTROLLER_H_

#include <QAction>
#include <QIcon>
#include <QMenu>
#include <QObject>
#include <QPointer>
#include <QSystemTrayIcon>
#include <QTimer>
#include <memory>
#include <string>

#include "shell/countdown_box.h"
#include "shell/index_status_dialog.h"
#include "shell/password_check.h"
#include "shell/settings_window.h"

namespace lun {

enum class SpeedMode;

class FilePreviewWindow;
class PopupCenter;
class QuickSearchWindow;
class ShellBackend;

// The command identifiers of the menu.
enum ShellCommand {
  kCmdDesktopSearch = 32771,
  kCmdAdvancedSearch = 32777,
  kCmdQuickSearch = 32795,
  kCmdFilePreview = 32802,
  kCmdIndexStatus = 32778,
  kCmdHighSpeed = 32788,
  kCmdIdleHighSpeed = 32790,
  kCmdLowSpeed = 32789,
  kCmdPause = 32791,
  kCmdReindex = 32801,
  kCmdPassword = 32770,
  kCmdNetworkAccess = 32786,
  kCmdSystemLog = 32784,
  kCmdSettings = 137,
  kCmdHelp = 32787,
  kCmdVersion = 32780,
  kCmdExit = 32779,
};

inline constexpr char kDefaultTip[] = "欢迎使用Tamrix桌面搜索";
inline constexpr int kTipLimit = 63;

// The tip for a status text of the crawler: empty restores the default
// tip; a text starting with "正在扫描" reads "已索引：N" and the text on a
// second line; any other text as it is. Cut to 63 characters.
QString TrayTipText(const QString& status, uint32_t indexed);

// The application icon (the tray's, the popups', the windows').
QIcon ApplicationIcon();

class ShellController : public QObject {
  Q_OBJECT

 public:
  // `backend`, `popups` and `passwords` must outlive the controller.
  ShellController(ShellBackend& backend, PopupCenter& popups, PasswordPrompter& passwords,
                  AskFunction ask);
  ~ShellController() override;

  QMenu* menu() { return &menu_; }
  // The menu action of `command`; null for an unknown one.
  QAction* action(int command) const;

  // Adds the tray icon (when the desktop has a tray host) and watches for
  // the tray host to come back after a restart.
  void AddTrayIcon();
  void RemoveTrayIcon();
  bool tray_visible() const;

  // Checks the speed item of the current mode and labels the pause item.
  void RefreshMenu();
  // Runs a menu command.
  void RunCommand(int command);
  // The tray's click: "默认搜索" "桌面搜索" or "高级搜索" opens that page,
  // anything else (nothing included) the quick search window.
  void DefaultSearchAction();

  void SetStatusTip(const QString& status);
  QString tip() const { return tip_; }
  // Follows the crawler's scan in the tip: "正在扫描..." with the indexed
  // count while the scan runs, the default tip when it has ended. Runs
  // every two seconds once the tray icon is added.
  void WatchCrawler();

  // The windows (made on first use).
  QuickSearchWindow* ShowQuickSearch();
  void ShowFilePreview(const QString& path = {}, const QString& text = {}, bool has_text = false);
  void ShowIndexStatus();
  void ShowSettings(const QString& page);

  QuickSearchWindow* quick_search() const { return quick_.get(); }
  FilePreviewWindow* file_preview() const { return preview_.get(); }
  IndexStatusDialog* index_status() const { return status_; }
  SettingsWindow* settings_window() const { return settings_; }

  // Opens page `name` (with "?IDCODE=" and the session code unless
  // `with_code` is false).
  void OpenPage(const std::string& name, bool with_code = true);
  // A popup was clicked: the notice of a saved search's new hits opens the
  // list of saved searches (SavedSearch.shl); other notices only close.
  void NoticeClicked(const QString& title);

  // The exit dialogue; Exit() ends without asking.
  void AskExit();
  void Exit();

 signals:
  // The shutdown sequence has run; the event loop should end.
  void QuitRequested();

 private:
  void BuildMenu();
  QAction* AddCommand(QMenu* menu, int command, const char* text);
  void Reindex();
  void SetSpeed(SpeedMode mode);
  void WatchTrayHost();
  bool Authorized();

  ShellBackend& backend_;
  PopupCenter& popups_;
  PasswordPrompter& passwords_;
  AskFunction ask_;
  QMenu menu_;
  QMenu index_menu_;
  QMenu security_menu_;
  std::unique_ptr<QSystemTrayIcon> tray_;
  QTimer tray_watch_;
  bool tray_host_seen_ = false;
  bool scan_shown_ = false;
  QString tip_;
  std::unique_ptr<QuickSearchWindow> quick_;
  std::unique_ptr<FilePreviewWindow> preview_;
  QPointer<IndexStatusDialog> status_;
  QPointer<SettingsWindow> settings_;
};

}  // namespace lun

#endif  // LUN_SHELL_SHELL_CONTROLLER_H_
