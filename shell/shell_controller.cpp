#include "shell/shell_controller.h"

#include <QApplication>

#include "app/application.h"
#include "app/index_operations.h"
#include "config/settings_keys.h"
#include "config/settings_store.h"
#include "crawler/saved_searches.h"
#include "shell/file_preview_window.h"
#include "shell/index_status_dialog.h"
#include "shell/notification_popup.h"
#include "shell/quick_search_window.h"
#include "shell/settings_window.h"
#include "shell/shell_backend.h"

// The icon lives in the resources of this static library, which Qt
// registers only when asked (Q_INIT_RESOURCE works outside namespaces).
static void InitShellResources() { Q_INIT_RESOURCE(shell); }

namespace lun {

namespace {

constexpr char kScanningPrefix[] = "正在扫描";
constexpr int kTrayWatchMs = 2000;

// Cuts `text` to `limit` UTF-16 units without splitting a surrogate pair.
QString CutUnits(const QString& text, int limit) {
  if (text.size() <= limit) return text;
  int end = limit;
  if (text.at(end - 1).isHighSurrogate()) --end;
  return text.left(end);
}

}  // namespace

QString TrayTipText(const QString& status, uint32_t indexed) {
  QString tip;
  if (status.isEmpty()) {
    tip = QString::fromUtf8(kDefaultTip);
  } else if (status.startsWith(QString::fromUtf8(kScanningPrefix))) {
    tip = QStringLiteral("已索引：%1\n%2").arg(indexed).arg(status);
  } else {
    tip = status;
  }
  return CutUnits(tip, kTipLimit);
}

QIcon ApplicationIcon() {
  static const QIcon icon = [] {
    InitShellResources();
    return QIcon(QStringLiteral(":/lun/lun.png"));
  }();
  return icon;
}

ShellController::ShellController(ShellBackend& backend, PopupCenter& popups,
                                 PasswordPrompter& passwords, AskFunction ask)
    : backend_(backend),
      popups_(popups),
      passwords_(passwords),
      ask_(std::move(ask)),
      tip_(QString::fromUtf8(kDefaultTip)) {
  BuildMenu();
  connect(&menu_, &QMenu::aboutToShow, this, &ShellController::RefreshMenu);
  tray_watch_.setInterval(kTrayWatchMs);
  connect(&tray_watch_, &QTimer::timeout, this, &ShellController::WatchTrayHost);
  connect(&tray_watch_, &QTimer::timeout, this, &ShellController::WatchCrawler);
  connect(&popups_, &PopupCenter::Clicked, this, &ShellController::NoticeClicked);
}

ShellController::~ShellController() {
  RemoveTrayIcon();
  if (status_) delete status_.data();
  if (settings_) delete settings_.data();
}

QAction* ShellController::AddCommand(QMenu* menu, int command, const char* text) {
  QAction* item = menu->addAction(QString::fromUtf8(text));
  item->setData(command);
  connect(item, &QAction::triggered, this, [this, command] { RunCommand(command); });
  return item;
}

void ShellController::BuildMenu() {
  AddCommand(&menu_, kCmdDesktopSearch, "桌面搜索");
  AddCommand(&menu_, kCmdAdvancedSearch, "高级搜索");
  AddCommand(&menu_, kCmdQuickSearch, "快速搜索");
  menu_.addSeparator();
  AddCommand(&menu_, kCmdFilePreview, "文件预览");
  menu_.addSeparator();
  index_menu_.setTitle(QStringLiteral("索引"));
  AddCommand(&index_menu_, kCmdIndexStatus, "索引状态");
  AddCommand(&index_menu_, kCmdHighSpeed, "高速索引")->setCheckable(true);
  AddCommand(&index_menu_, kCmdIdleHighSpeed, "空闲高速")->setCheckable(true);
  AddCommand(&index_menu_, kCmdLowSpeed, "低速索引")->setCheckable(true);
  AddCommand(&index_menu_, kCmdPause, "暂停索引");
  AddCommand(&index_menu_, kCmdReindex, "重新索引");
  menu_.addMenu(&index_menu_);
  security_menu_.setTitle(QStringLiteral("安全"));
  AddCommand(&security_menu_, kCmdPassword, "密码设置");
  AddCommand(&security_menu_, kCmdNetworkAccess, "网络访问");
  menu_.addMenu(&security_menu_);
  AddCommand(&menu_, kCmdSystemLog, "系统日志");
  menu_.addSeparator();
  AddCommand(&menu_, kCmdSettings, "系统设置");
  menu_.addSeparator();
  AddCommand(&menu_, kCmdHelp, "使用帮助");
  AddCommand(&menu_, kCmdVersion, "版本信息");
  menu_.addSeparator();
  AddCommand(&menu_, kCmdExit, "退出");
}

QAction* ShellController::action(int command) const {
  for (const QMenu* menu : {&menu_, &index_menu_, &security_menu_}) {
    for (QAction* item : menu->actions()) {
      if (item->data().isValid() && item->data().toInt() == command) return item;
    }
  }
  return nullptr;
}

void ShellController::RefreshMenu() {
  const IndexActivity activity = backend_.operations().Activity();
  const bool can_index = activity.can_index;
  action(kCmdIdleHighSpeed)->setChecked(can_index && activity.speed == SpeedMode::kIdleHighSpeed);
  action(kCmdHighSpeed)->setChecked(can_index && activity.speed == SpeedMode::kHighSpeed);
  action(kCmdLowSpeed)->setChecked(can_index && activity.speed == SpeedMode::kLowSpeed);
  action(kCmdPause)->setText(activity.paused ? QStringLiteral("继续索引")
                                             : QStringLiteral("暂停索引"));
  // A run without the crawler has no indexing to control.
  for (int command : {kCmdHighSpeed, kCmdIdleHighSpeed, kCmdLowSpeed, kCmdPause, kCmdReindex}) {
    action(command)->setEnabled(can_index);
  }
}

void ShellController::RunCommand(int command) {
  switch (command) {
    case kCmdDesktopSearch:
      OpenPage("home.shl");
      break;
    case kCmdAdvancedSearch:
      OpenPage("Advanced.shl");
      break;
    case kCmdQuickSearch:
      ShowQuickSearch();
      break;
    case kCmdFilePreview:
      ShowFilePreview();
      break;
    case kCmdIndexStatus:
      ShowIndexStatus();
      break;
    case kCmdHighSpeed:
      SetSpeed(SpeedMode::kHighSpeed);
      break;
    case kCmdIdleHighSpeed:
      SetSpeed(SpeedMode::kIdleHighSpeed);
      break;
    case kCmdLowSpeed:
      SetSpeed(SpeedMode::kLowSpeed);
      break;
    case kCmdPause:
      backend_.operations().TogglePaused();
      break;
    case kCmdReindex:
      Reindex();
      break;
    case kCmdPassword:
      ShowSettings(QStringLiteral("安全选项::口令"));
      break;
    case kCmdNetworkAccess:
      ShowSettings(QStringLiteral("安全选项::网络访问"));
      break;
    case kCmdSystemLog:
      OpenPage("log.shl");
      break;
    case kCmdSettings:
      ShowSettings(QStringLiteral("常规设置::搜索选项"));
      break;
    case kCmdHelp:
      OpenPage("jiqiao.shl", false);
      break;
    case kCmdVersion:
      OpenPage("VerInfo.shl");
      break;
    case kCmdExit:
      AskExit();
      break;
    default:
      break;
  }
  RefreshMenu();
}

void ShellController::OpenPage(const std::string& name, bool with_code) {
  std::string url = backend_.PageBaseUrl() + name;
  if (with_code) url += "?IDCODE=" + backend_.SessionCode();
  backend_.Open(url);
}

void ShellController::NoticeClicked(const QString& title) {
  if (title == QString::fromUtf8(kSavedSearchNoticeTitle)) OpenPage("SavedSearch.shl");
}

void ShellController::DefaultSearchAction() {
  const std::string choice = backend_.settings().GetValue(kSearchSection, key::kDefaultSearch);
  if (choice == "桌面搜索") {
    RunCommand(kCmdDesktopSearch);
  } else if (choice == "高级搜索") {
    RunCommand(kCmdAdvancedSearch);
  } else {
    RunCommand(kCmdQuickSearch);
  }
}

void ShellController::SetSpeed(SpeedMode mode) { backend_.operations().SetSpeedMode(mode); }

void ShellController::Reindex() {
  IndexOperations& operations = backend_.operations();
  if (!operations.Activity().can_index) return;
  const int answer = ask_(QString::fromUtf8(kApplicationCaption),
                          QStringLiteral("您需要保留现有索引请选择“是”。\n"
                                         "不需要保留现有索引请选择“否”。"),
                          0, BoxButtons::kYesNoCancel, QMessageBox::Question);
  if (answer == kAnswerYes) {
    (void)operations.Reindex(true);
  } else if (answer == kAnswerNo) {
    (void)operations.Reindex(false);
    popups_.Show(QStringLiteral("重新扫描"),
                 QStringLiteral("您已经清空了数据，现在系统将重新扫描磁盘。"));
  }
}

void ShellController::AskExit() {
  const int answer = ask_(QString::fromUtf8(kApplicationCaption),
                          QStringLiteral("系统退出之后将无法对您的文档或邮件的改变进行实时监控!\n"
                                         "您确定要退出吗?"),
                          3000, BoxButtons::kYesNo, QMessageBox::Question);
  if (answer != kAnswerNo) Exit();
}

void ShellController::Exit() {
  RemoveTrayIcon();
  // Dialogs waiting in a nested loop (a password, a question) give way.
  QApplication::closeAllWindows();
  if (quick_) quick_->hide();
  if (preview_) preview_->hide();
  if (status_) status_->close();
  if (settings_) settings_->close();
  popups_.CloseAll();
  backend_.Shutdown();
  emit QuitRequested();
}

bool ShellController::Authorized() { return PasswordCheck(backend_.settings(), passwords_); }

QuickSearchWindow* ShellController::ShowQuickSearch() {
  if (!quick_) {
    quick_ = std::make_unique<QuickSearchWindow>(backend_);
    connect(
        quick_.get(), &QuickSearchWindow::PreviewRequested, this,
        [this](const QString& path, const QString& text) { ShowFilePreview(path, text, true); });
    // Without a tray host the command menu is reached from this window.
    if (!tray_visible()) quick_->SetCommandMenu(&menu_);
  }
  quick_->ShowAndSearch();
  return quick_.get();
}

void ShellController::ShowFilePreview(const QString& path, const QString& text, bool has_text) {
  if (!Authorized()) return;
  if (!preview_) {
    preview_ = std::make_unique<FilePreviewWindow>(
        [this](const std::string& file) { return backend_.operations().DocumentText(file); });
  }
  preview_->ShowCentered();
  if (has_text) {
    preview_->ShowText(path, text);
  } else if (!path.isEmpty()) {
    preview_->PreviewPath(path);
  }
}

void ShellController::ShowIndexStatus() {
  if (status_) return;
  if (!Authorized()) return;
  status_ = new IndexStatusDialog(backend_, [this](const std::string& page) { OpenPage(page); });
  status_->setAttribute(Qt::WA_DeleteOnClose);
  status_->open();
}

void ShellController::ShowSettings(const QString& page) {
  if (settings_) {
    settings_->SelectPage(page);
    settings_->raise();
    settings_->activateWindow();
    return;
  }
  if (!Authorized()) return;
  settings_ = new SettingsWindow(backend_, popups_, ask_);
  settings_->setAttribute(Qt::WA_DeleteOnClose);
  settings_->SelectPage(page);
  settings_->open();
}

void ShellController::SetStatusTip(const QString& status) {
  tip_ = TrayTipText(status, backend_.operations().Activity().indexed);
  if (tray_) tray_->setToolTip(tip_);
}

void ShellController::WatchCrawler() {
  // The crawler reports its scan through its state, not through the tip:
  // the tip follows that state, and leaves alone any other text it was
  // given meanwhile.
  const bool scanning = backend_.operations().Activity().scanning;
  if (scanning) {
    SetStatusTip(QStringLiteral("正在扫描..."));
  } else if (scan_shown_) {
    SetStatusTip({});
  }
  scan_shown_ = scanning;
}

void ShellController::AddTrayIcon() {
  if (!tray_) {
    tray_ = std::make_unique<QSystemTrayIcon>(ApplicationIcon());
    tray_->setContextMenu(&menu_);
    connect(tray_.get(), &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
              if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick) {
                DefaultSearchAction();
              }
            });
  }
  tray_->setToolTip(tip_);
  RefreshMenu();
  // A failed add is not reported: the program runs on without an icon.
  tray_->show();
  tray_host_seen_ = QSystemTrayIcon::isSystemTrayAvailable();
  tray_watch_.start();
}

void ShellController::RemoveTrayIcon() {
  tray_watch_.stop();
  if (tray_) tray_->hide();
}

bool ShellController::tray_visible() const {
  return tray_ && tray_->isVisible() && QSystemTrayIcon::isSystemTrayAvailable();
}

void ShellController::WatchTrayHost() {
  // A tray host that restarts (a panel crash, a desktop restart) forgets
  // every icon: add ours again, with the same tip, when it comes back.
  const bool available = QSystemTrayIcon::isSystemTrayAvailable();
  if (available && !tray_host_seen_ && tray_) {
    tray_->hide();
    tray_->setToolTip(tip_);
    tray_->show();
  }
  tray_host_seen_ = available;
}

}  // namespace lun
