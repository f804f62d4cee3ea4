// The pages of the settings window and of the first-run wizard. Each page
// edits a few keys of section "检索设置": Load fills its controls from the
// settings store, Validate checks them (only the password page can refuse),
// Save writes them through ApplySetting, so that each key's side effects
// (the change monitor, the type lists) run and the file is saved.
//
// Page names, in tree order:
//   常规设置::搜索选项   默认搜索, 在内容中快速搜索, 实时监控, 实时文件删除
//   常规设置::结果显示   每页记录数, 显示长度
//   常规设置::运行       AutoStart (and the autostart entry), 发布端口
//   扫描路径::允许       允许扫描 (a folder tree with check boxes)
//   扫描路径::禁止       禁止扫描 (one path a line)
//   文挡类型::基本类型   文档类型 (the built-in file-type rows)
//   文挡类型::扩展类型   LUNPlugType (the loaded plug-ins)
//   文挡类型::文本类型   其他文本类型
//   安全选项::口令       登陆口令, 自动登陆, 密码问题, 密码答案
//   安全选项::网络访问   远程登陆, 远程下载
// Controls carry the object names "<kind><id>" of their identifiers
// ("combo211", "check1057", "edit201", "tree1060", "list1061").
//
// Thread safety: user-interface thread only.
#ifndef LUN_SHELL_SETTINGS_PAGES_H_
#define LUN_SHELL_SETTINGS_PAGES_H_

#include <QString>
#include <QStringList>
#include <QTreeWidget>
#include <QWidget>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "shell/countdown_box.h"

namespace lun {

class SettingsStore;
class ShellBackend;

// What a page needs besides its controls.
struct SettingsPageContext {
  ShellBackend* backend = nullptr;
  // Message boxes (the password page's "验证失败").
  AskFunction ask;
};

class SettingsPage : public QWidget {
  Q_OBJECT

 public:
  SettingsPage(QString name, SettingsPageContext context);

  const QString& name() const { return name_; }
  // The caption shown above the page ("文档类型::..." for the type pages).
  virtual QString caption() const { return name_; }

  virtual void Load() = 0;
  // False (after telling the user) when the page must not be saved.
  virtual bool Validate() { return true; }
  virtual void Save() = 0;
  // True when the last Save changed a file-type setting.
  bool types_changed() const { return types_changed_; }

 protected:
  SettingsStore& settings();
  std::string Get(std::string_view key, std::string_view default_value = {}) const;
  // ApplySetting: side effects, store, save.
  void Put(std::string_view key, std::string_view value);

  SettingsPageContext context_;
  bool types_changed_ = false;

 private:
  QString name_;
};

// The ten page names in tree order.
QStringList SettingsPageNames();
// The pages of the first-run wizard, in its order.
QStringList WizardPageNames();
// A new page of `name`, loaded; null for an unknown name.
std::unique_ptr<SettingsPage> MakeSettingsPage(const QString& name, SettingsPageContext context);

// The "其他文本类型" pattern text as the user typed it, made storable:
// full-width "；" becomes ";", and a last item gets its closing ";" (the
// reader ignores an item after the last ";").
std::string NormalizePatternText(std::string text);

// The folder tree of the permitted-paths page: "我的电脑" with the user's
// home folder, the root file system and the other local disks, folders
// below them listed when expanded, each with a check box.
class FolderTree : public QTreeWidget {
  Q_OBJECT

 public:
  FolderTree();
  // Checks exactly `paths` (revealing their folders); paths that are not
  // folders here are kept and given back by CheckedPaths.
  void SetCheckedPaths(const std::vector<std::string>& paths);
  // The checked folders, in tree order, then the kept ones.
  std::vector<std::string> CheckedPaths() const;
  // The item of `path`, listing folders on the way; null when it is no
  // folder below a root of the tree.
  QTreeWidgetItem* Reveal(const std::string& path);

 private:
  void Fill(QTreeWidgetItem* item);
  QTreeWidgetItem* AddFolder(QTreeWidgetItem* parent, const QString& label, const QString& path);

  QTreeWidgetItem* root_;
  std::vector<std::string> kept_;
};

}  // namespace lun

#endif  // LUN_SHELL_SETTINGS_PAGES_H_
