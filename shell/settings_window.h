// The settings window: the page tree "选择页" with the root "系统设置" and its
// ten pages, the selected page beside it, and the buttons "应用" (validate
// and save every opened page), "保存" (the same, then close) and "退出"
// (close without saving).
//
// After a save that changed a file-type page the window asks whether to
// rescan; unless the answer is No, a popup says so and the crawler's
// re-index keeps the records and walks every root again.
//
// The first-run wizard "系统初始化" shows a welcome page and then the pages
// of WizardPageNames() in that order; finishing saves them all.
//
// Thread safety: user-interface thread only.
#ifndef LUN_SHELL_SETTINGS_WINDOW_H_
#define LUN_SHELL_SETTINGS_WINDOW_H_

#include <QDialog>
#include <QLabel>
#include <QPushButton>
#include <QStackedWidget>
#include <QTreeWidget>
#include <QWizard>
#include <map>
#include <memory>

#include "shell/countdown_box.h"
#include "shell/settings_pages.h"

namespace lun {

class PopupCenter;
class ShellBackend;

class SettingsWindow : public QDialog {
  Q_OBJECT

 public:
  // `backend` and `popups` must outlive the window.
  SettingsWindow(ShellBackend& backend, PopupCenter& popups, AskFunction ask);
  ~SettingsWindow() override;

  // Shows page `name` (made and loaded on first showing); false for an
  // unknown name.
  bool SelectPage(const QString& name);
  // The page of `name` when it has been made, else null.
  SettingsPage* page(const QString& name) const;
  const QString& current_page() const { return current_; }

  // "应用": true when every opened page validated and was saved.
  bool Apply();

  QTreeWidget* tree() { return &tree_; }

 private:
  ShellBackend& backend_;
  PopupCenter& popups_;
  AskFunction ask_;
  QTreeWidget tree_;
  QLabel caption_;
  QStackedWidget stack_;
  std::map<QString, std::unique_ptr<SettingsPage>> pages_;
  QString current_;
};

// The file-type rescan question after a save; unless the answer is No a
// popup tells the user and the crawler re-indexes keeping the records.
void OfferRescan(ShellBackend& backend, PopupCenter& popups, const AskFunction& ask);

// Opens with the first-run defaults (app/first_run_defaults.h) filled into
// the empty settings, so that its type pages show them checked. Finishing
// with no file type at all asks first: such an index finds nothing.
class FirstRunWizard : public QWizard {
  Q_OBJECT

 public:
  FirstRunWizard(ShellBackend& backend, AskFunction ask);
  ~FirstRunWizard() override;

  // Validates and saves every page (what finishing does).
  void SaveAll();
  // Finishing: saves, and when no type list holds a type, warns; "否"
  // keeps the wizard open. False when it stays open.
  bool Finish();
  const std::vector<std::unique_ptr<SettingsPage>>& pages() const { return pages_; }

  void accept() override;

 private:
  ShellBackend& backend_;
  AskFunction ask_;
  std::vector<std::unique_ptr<SettingsPage>> pages_;
};

}  // namespace lun

#endif  // LUN_SHELL_SETTINGS_WINDOW_H_
