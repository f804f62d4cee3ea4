#include "shell/settings_pages.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFormLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QVBoxLayout>
#include <algorithm>
#include <set>

#include "app/index_operations.h"
#include "config/bar_list.h"
#include "config/password_hash.h"
#include "config/settings_keys.h"
#include "config/settings_store.h"
#include "crawler/extract/plugin_registry.h"
#include "crawler/scan_scope.h"
#include "pages/file_types.h"
#include "platform/desktop/machine.h"
#include "platform/paths.h"
#include "platform/text.h"
#include "shell/shell_backend.h"

namespace lun {

namespace {

constexpr int kEditLimit = 99;
constexpr char kDefaultQuestion[] = "你叫什么名字？";
constexpr char kMyComputer[] = "我的电脑";
constexpr int kPathRole = Qt::UserRole;
constexpr int kFilledRole = Qt::UserRole + 1;

QString Q(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}
std::string S(const QString& text) { return text.toStdString(); }

// The tokens of a type list in their order ("|DOC|XLS|" -> DOC, XLS).
std::vector<std::string> TokensInOrder(std::string_view list) {
  std::vector<std::string> tokens;
  for (std::string& token : SplitBarList(list)) {
    if (std::find(tokens.begin(), tokens.end(), token) == tokens.end()) {
      tokens.push_back(std::move(token));
    }
  }
  return tokens;
}

std::set<std::string> Tokens(std::string_view list) {
  const std::vector<std::string> tokens = TokensInOrder(list);
  return {tokens.begin(), tokens.end()};
}

std::string ListOf(const std::set<std::string>& tokens, const std::vector<std::string>& order) {
  // Tokens keep the order of `order` (the rows' order), then the rest.
  std::vector<std::string> list;
  std::set<std::string> written;
  for (const std::string& token : order) {
    if (tokens.count(token) && written.insert(token).second) list.push_back(token);
  }
  for (const std::string& token : tokens) {
    if (written.insert(token).second) list.push_back(token);
  }
  return JoinBarList(list);
}

QCheckBox* Check(QWidget* page, const char* text, int id) {
  auto* box = new QCheckBox(QString::fromUtf8(text), page);
  box->setObjectName(QStringLiteral("check%1").arg(id));
  return box;
}

QLineEdit* Edit(QWidget* page, int id, bool password = false) {
  auto* edit = new QLineEdit(page);
  edit->setObjectName(QStringLiteral("edit%1").arg(id));
  edit->setMaxLength(kEditLimit);
  if (password) edit->setEchoMode(QLineEdit::Password);
  return edit;
}

// A list of rows with check boxes and a "详细信息" column.
QTreeWidget* CheckList(QWidget* page, const QString& first_column) {
  auto* list = new QTreeWidget(page);
  list->setObjectName(QStringLiteral("list1061"));
  list->setRootIsDecorated(false);
  list->setHeaderLabels({first_column, QStringLiteral("详细信息")});
  list->header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
  return list;
}

QTreeWidgetItem* CheckRow(QTreeWidget* list, const QString& name, const QString& details) {
  auto* item = new QTreeWidgetItem(list, {name, details});
  item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
  item->setCheckState(0, Qt::Unchecked);
  return item;
}

// 常规设置::搜索选项
class SearchOptionsPage : public SettingsPage {
 public:
  explicit SearchOptionsPage(SettingsPageContext context)
      : SettingsPage(QStringLiteral("常规设置::搜索选项"), std::move(context)) {
    default_search_ = new QComboBox(this);
    default_search_->setObjectName(QStringLiteral("combo211"));
    default_search_->addItems(
        {QStringLiteral("快速搜索"), QStringLiteral("桌面搜索"), QStringLiteral("高级搜索")});
    quick_scope_ = new QComboBox(this);
    quick_scope_->setObjectName(QStringLiteral("combo212"));
    quick_scope_->addItems({QStringLiteral("文件名"), QStringLiteral("文件名和内容")});
    monitor_ = Check(this, "实时监控文件修改", 1057);
    deletions_ = Check(this, "实时监控文件删除", 1058);
    detect_text_ = Check(this, "识别无扩展名文本", 1059);
    image_text_ = Check(this, "图片文字识别", 1060);
    auto* form = new QFormLayout(this);
    form->addRow(QStringLiteral("默认搜索："), default_search_);
    form->addRow(QStringLiteral("快速搜索："), quick_scope_);
    form->addRow(monitor_);
    form->addRow(deletions_);
    form->addRow(detect_text_);
    form->addRow(image_text_);
  }

  void Load() override {
    default_search_->setCurrentIndex(
        default_search_->findText(Q(Get(key::kDefaultSearch, "快速搜索"))));
    quick_scope_->setCurrentIndex(Get(key::kQuickSearchContent, kFalse) == kTrue ? 1 : 0);
    // The monitor's switches, when it runs, say what is in force now.
    const IndexActivity activity = context_.backend->operations().Activity();
    monitor_->setChecked(activity.monitor_running
                             ? activity.monitoring
                             : FlagOnAtStartup(Get(key::kRealtimeMonitor, kTrue)));
    deletions_->setChecked(activity.monitor_running
                               ? activity.realtime_delete
                               : FlagOnAtStartup(Get(key::kRealtimeDelete, kFalse)));
    detect_text_->setChecked(FlagOnAtStartup(Get(key::kDetectText, kTrue)));
    image_text_->setChecked(FlagIsTrue(Get(key::kImageTextRecognition, kFalse)));
  }

  void Save() override {
    const int entry = default_search_->currentIndex();
    Put(key::kDefaultSearch, entry == 2 ? "高级搜索" : entry == 1 ? "桌面搜索" : "快速搜索");
    Put(key::kQuickSearchContent, quick_scope_->currentIndex() == 1 ? kTrue : kFalse);
    Put(key::kRealtimeMonitor, monitor_->isChecked() ? kTrue : kFalse);
    Put(key::kRealtimeDelete, deletions_->isChecked() ? kTrue : kFalse);
    Put(key::kDetectText, detect_text_->isChecked() ? kTrue : kFalse);
    Put(key::kImageTextRecognition, image_text_->isChecked() ? kTrue : kFalse);
  }

 private:
  QComboBox* default_search_;
  QComboBox* quick_scope_;
  QCheckBox* monitor_;
  QCheckBox* deletions_;
  QCheckBox* detect_text_;
  QCheckBox* image_text_;
};

// 常规设置::结果显示
class ResultDisplayPage : public SettingsPage {
 public:
  explicit ResultDisplayPage(SettingsPageContext context)
      : SettingsPage(QStringLiteral("常规设置::结果显示"), std::move(context)) {
    per_page_ = Edit(this, 201);
    length_ = Edit(this, 202);
    auto* form = new QFormLayout(this);
    form->addRow(QStringLiteral("每页显示："), per_page_);
    form->addRow(QStringLiteral("摘要长度："), length_);
  }
  void Load() override {
    per_page_->setText(Q(Get(key::kRecordsPerPage, "10")));
    length_->setText(Q(Get(key::kDisplayLength, "150")));
  }
  // Stored as typed: the pages that read them decide what a bad value means.
  void Save() override {
    Put(key::kRecordsPerPage, S(per_page_->text()));
    Put(key::kDisplayLength, S(length_->text()));
  }

 private:
  QLineEdit* per_page_;
  QLineEdit* length_;
};

// 常规设置::运行
class RunPage : public SettingsPage {
 public:
  explicit RunPage(SettingsPageContext context)
      : SettingsPage(QStringLiteral("常规设置::运行"), std::move(context)) {
    autostart_ = Check(this, "登录到Windows时自动运行", 1057);
    port_ = Edit(this, 201);
    auto* form = new QFormLayout(this);
    form->addRow(autostart_);
    form->addRow(QStringLiteral("发布端口："), port_);
  }
  void Load() override {
    autostart_->setChecked(Get(key::kAutoStart, kTrue) == kTrue);
    port_->setText(Q(Get(key::kPublishPort, "8484")));
  }
  void Save() override {
    const bool on = autostart_->isChecked();
    Put(key::kAutoStart, on ? kTrue : kFalse);
    (void)context_.backend->SetAutostart(on);
    Put(key::kPublishPort, S(port_->text()));
  }

 private:
  QCheckBox* autostart_;
  QLineEdit* port_;
};

// 扫描路径::允许
class PermittedPathsPage : public SettingsPage {
 public:
  explicit PermittedPathsPage(SettingsPageContext context)
      : SettingsPage(QStringLiteral("扫描路径::允许"), std::move(context)) {
    tree_ = new FolderTree;
    tree_->setParent(this);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(tree_);
  }
  void Load() override { tree_->SetCheckedPaths(SplitBarList(Get(key::kPermittedPaths))); }
  void Save() override { Put(key::kPermittedPaths, JoinBarList(tree_->CheckedPaths())); }

 private:
  FolderTree* tree_;
};

// 扫描路径::禁止
class ForbiddenPathsPage : public SettingsPage {
 public:
  explicit ForbiddenPathsPage(SettingsPageContext context)
      : SettingsPage(QStringLiteral("扫描路径::禁止"), std::move(context)) {
    edit_ = new QPlainTextEdit(this);
    edit_->setObjectName(QStringLiteral("edit201"));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(
        new QLabel(QStringLiteral("每行一个目录。名称以“$”开头的目录从不扫描。"), this));
    layout->addWidget(edit_);
  }
  void Load() override {
    QStringList lines;
    for (const std::string& path : SplitBarList(Get(key::kForbiddenPaths))) lines << Q(path);
    edit_->setPlainText(lines.join('\n'));
  }
  void Save() override {
    std::vector<std::string> paths;
    for (const QString& line : edit_->toPlainText().split('\n')) {
      const QString path = line.trimmed();
      if (!path.isEmpty()) paths.push_back(S(path));
    }
    Put(key::kForbiddenPaths, JoinBarList(paths));
  }

 private:
  QPlainTextEdit* edit_;
};

// A page of check-box rows, each standing for a group of type tokens; the
// stored list's tokens that belong to no row are kept as they are.
class TypeRowsPage : public SettingsPage {
 public:
  TypeRowsPage(QString name, SettingsPageContext context, const char* key)
      : SettingsPage(std::move(name), std::move(context)), key_(key) {}

  QString caption() const override {
    QString shown = name();
    return shown.replace(QStringLiteral("文挡"), QStringLiteral("文档"));
  }

  void Load() override {
    const std::set<std::string> stored = Tokens(NormalizeTypeList(Get(key_)));
    for (size_t row = 0; row < rows_.size(); ++row) {
      const bool all = !rows_[row].empty() &&
                       std::all_of(rows_[row].begin(), rows_[row].end(),
                                   [&](const std::string& t) { return stored.count(t) > 0; });
      list_->topLevelItem(static_cast<int>(row))
          ->setCheckState(0, all ? Qt::Checked : Qt::Unchecked);
    }
  }

  void Save() override {
    const std::string old_value = Get(key_);
    std::set<std::string> tokens = Tokens(NormalizeTypeList(old_value));
    std::vector<std::string> order;
    for (const std::vector<std::string>& row : rows_) {
      for (const std::string& token : row) {
        tokens.erase(token);
        order.push_back(token);
      }
    }
    for (size_t row = 0; row < rows_.size(); ++row) {
      if (list_->topLevelItem(static_cast<int>(row))->checkState(0) == Qt::Checked) {
        tokens.insert(rows_[row].begin(), rows_[row].end());
      }
    }
    const std::string value = ListOf(tokens, order);
    types_changed_ = Tokens(NormalizeTypeList(old_value)) != Tokens(value);
    Put(key_, value);
  }

 protected:
  void AddRow(const QString& name, const QString& details, std::string_view types) {
    CheckRow(list_, name, details);
    rows_.push_back(TokensInOrder(NormalizeTypeList(types)));
  }

  QTreeWidget* list_ = nullptr;

 private:
  const char* key_;
  std::vector<std::vector<std::string>> rows_;
};

// 文挡类型::基本类型
class BasicTypesPage : public TypeRowsPage {
 public:
  explicit BasicTypesPage(SettingsPageContext context)
      : TypeRowsPage(QStringLiteral("文挡类型::基本类型"), std::move(context),
                     key::kDocumentTypes) {
    list_ = CheckList(this, QStringLiteral("类型"));
    for (const FileTypeRow& row : BuiltInFileTypes()) {
      AddRow(Q(row.name), Q(row.description), row.types);
    }
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(list_);
  }
};

// 文挡类型::扩展类型: the loaded plug-ins. This platform has one plug-in
// list, stored in "LUNPlugType"; "MSNPlugType" is left as it is.
class PluginTypesPage : public TypeRowsPage {
 public:
  explicit PluginTypesPage(SettingsPageContext context)
      : TypeRowsPage(QStringLiteral("文挡类型::扩展类型"), std::move(context), key::kPlugTypes) {
    list_ = CheckList(this, QStringLiteral("插件"));
    const PluginRegistry& plugins = Plugins();
    for (int i = 0; i < plugins.PluginCount(); ++i) {
      PluginInfoBlock block;
      if (!plugins.GetPluginInfo(i, &block)) continue;
      const std::string types = ToNarrow(block.types);
      AddRow(Q(ToNarrow(block.display)), Q(types), types);
    }
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(list_);
  }
};

// 文挡类型::文本类型
class TextTypesPage : public SettingsPage {
 public:
  explicit TextTypesPage(SettingsPageContext context)
      : SettingsPage(QStringLiteral("文挡类型::文本类型"), std::move(context)) {
    edit_ = new QPlainTextEdit(this);
    edit_->setObjectName(QStringLiteral("edit201"));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(
        new QLabel(QStringLiteral("按纯文本读取的文件类型，例如：*.INI；*.PAS；"), this));
    layout->addWidget(edit_);
  }
  QString caption() const override { return QStringLiteral("文档类型::文本类型"); }
  void Load() override { edit_->setPlainText(Q(Get(key::kOtherTextTypes))); }
  void Save() override {
    const std::string old_value = Get(key::kOtherTextTypes);
    const std::string value = NormalizePatternText(S(edit_->toPlainText()));
    types_changed_ = Tokens(TypeListFromPatterns(old_value)) != Tokens(TypeListFromPatterns(value));
    Put(key::kOtherTextTypes, value);
  }

 private:
  QPlainTextEdit* edit_;
};

// 安全选项::口令
class PasswordPage : public SettingsPage {
 public:
  explicit PasswordPage(SettingsPageContext context)
      : SettingsPage(QStringLiteral("安全选项::口令"), std::move(context)) {
    password_ = Edit(this, 201, true);
    repeat_ = Edit(this, 202, true);
    auto_login_ = Check(this, "本机用户自动登陆", 1057);
    question_ = Edit(this, 203);
    answer_ = Edit(this, 204);
    auto* form = new QFormLayout(this);
    form->addRow(QStringLiteral("输入密码："), password_);
    form->addRow(QStringLiteral("重复密码："), repeat_);
    form->addRow(auto_login_);
    form->addRow(QStringLiteral("密码问题："), question_);
    form->addRow(QStringLiteral("问题答案："), answer_);
  }
  void Load() override {
    const QString password = Q(Get(key::kLoginPassword));
    password_->setText(password);
    repeat_->setText(password);
    auto_login_->setChecked(Get(key::kAutoLogin) != kForbid);
    question_->setText(Q(Get(key::kPasswordQuestion, kDefaultQuestion)));
    answer_->setText(Q(Get(key::kPasswordAnswer)));
  }
  bool Validate() override {
    if (password_->text() == repeat_->text()) return true;
    context_.ask(QStringLiteral("验证失败"), QStringLiteral("两次输入的密码不相同，请重新输入。"),
                 0, BoxButtons::kOk, QMessageBox::Information);
    password_->setFocus();
    return false;
  }
  void Save() override {
    // Stored as its hash; the field shows the stored form, which is kept
    // when it comes back unchanged.
    Put(key::kLoginPassword, StoredPasswordForm(S(password_->text())));
    Put(key::kAutoLogin, auto_login_->isChecked() ? kAllow : kForbid);
    Put(key::kPasswordQuestion, S(question_->text()));
    Put(key::kPasswordAnswer, S(answer_->text()));
  }

 private:
  QLineEdit* password_;
  QLineEdit* repeat_;
  QCheckBox* auto_login_;
  QLineEdit* question_;
  QLineEdit* answer_;
};

// 安全选项::网络访问
class NetworkPage : public SettingsPage {
 public:
  explicit NetworkPage(SettingsPageContext context)
      : SettingsPage(QStringLiteral("安全选项::网络访问"), std::move(context)) {
    login_ = Check(this, "允许远程登陆", 1057);
    download_ = Check(this, "允许远程下载", 1058);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(login_);
    layout->addWidget(download_);
    layout->addStretch(1);
  }
  void Load() override {
    login_->setChecked(Get(key::kRemoteLogin) == kAllow);
    download_->setChecked(Get(key::kRemoteDownload) == kAllow);
  }
  void Save() override {
    Put(key::kRemoteLogin, login_->isChecked() ? kAllow : kForbid);
    Put(key::kRemoteDownload, download_->isChecked() ? kAllow : kForbid);
  }

 private:
  QCheckBox* login_;
  QCheckBox* download_;
};

}  // namespace

SettingsPage::SettingsPage(QString name, SettingsPageContext context)
    : context_(std::move(context)), name_(std::move(name)) {}

SettingsStore& SettingsPage::settings() { return context_.backend->settings(); }

std::string SettingsPage::Get(std::string_view key, std::string_view default_value) const {
  return context_.backend->settings().GetValue(kSearchSection, key, default_value);
}

void SettingsPage::Put(std::string_view key, std::string_view value) {
  (void)context_.backend->operations().ApplySetting(key, value);
}

QStringList SettingsPageNames() {
  return {QStringLiteral("常规设置::搜索选项"), QStringLiteral("常规设置::结果显示"),
          QStringLiteral("常规设置::运行"),     QStringLiteral("扫描路径::允许"),
          QStringLiteral("扫描路径::禁止"),     QStringLiteral("文挡类型::基本类型"),
          QStringLiteral("文挡类型::扩展类型"), QStringLiteral("文挡类型::文本类型"),
          QStringLiteral("安全选项::口令"),     QStringLiteral("安全选项::网络访问")};
}

QStringList WizardPageNames() {
  return {QStringLiteral("扫描路径::允许"),     QStringLiteral("扫描路径::禁止"),
          QStringLiteral("文挡类型::基本类型"), QStringLiteral("文挡类型::扩展类型"),
          QStringLiteral("文挡类型::文本类型"), QStringLiteral("安全选项::口令"),
          QStringLiteral("常规设置::运行")};
}

std::unique_ptr<SettingsPage> MakeSettingsPage(const QString& name, SettingsPageContext context) {
  std::unique_ptr<SettingsPage> page;
  const int index = SettingsPageNames().indexOf(name);
  switch (index) {
    case 0:
      page = std::make_unique<SearchOptionsPage>(std::move(context));
      break;
    case 1:
      page = std::make_unique<ResultDisplayPage>(std::move(context));
      break;
    case 2:
      page = std::make_unique<RunPage>(std::move(context));
      break;
    case 3:
      page = std::make_unique<PermittedPathsPage>(std::move(context));
      break;
    case 4:
      page = std::make_unique<ForbiddenPathsPage>(std::move(context));
      break;
    case 5:
      page = std::make_unique<BasicTypesPage>(std::move(context));
      break;
    case 6:
      page = std::make_unique<PluginTypesPage>(std::move(context));
      break;
    case 7:
      page = std::make_unique<TextTypesPage>(std::move(context));
      break;
    case 8:
      page = std::make_unique<PasswordPage>(std::move(context));
      break;
    case 9:
      page = std::make_unique<NetworkPage>(std::move(context));
      break;
    default:
      return nullptr;
  }
  page->Load();
  return page;
}

std::string NormalizePatternText(std::string text) {
  static const std::string kWideSemicolon = "；";
  size_t at;
  while ((at = text.find(kWideSemicolon)) != std::string::npos) {
    text.replace(at, kWideSemicolon.size(), ";");
  }
  size_t last = text.find_last_not_of(" \t\r\n");
  text.resize(last == std::string::npos ? 0 : last + 1);
  if (!text.empty() && text.back() != ';') text += ';';
  return text;
}

FolderTree::FolderTree() {
  setObjectName(QStringLiteral("tree1060"));
  setHeaderHidden(true);
  root_ = new QTreeWidgetItem(this, {QString::fromUtf8(kMyComputer)});
  root_->setIcon(0, style()->standardIcon(QStyle::SP_ComputerIcon));
  const std::string home = UserHomeDirectory();
  AddFolder(root_, QStringLiteral("主文件夹 (%1)").arg(Q(home)), Q(home));
  // The root file system always, whatever it is made of (a container's
  // overlay too), then the other local disks.
  AddFolder(root_, QStringLiteral("/"), QStringLiteral("/"));
  std::vector<std::string> points = LocalMountPoints();
  std::sort(points.begin(), points.end());
  for (const std::string& point : points) {
    if (point != "/") AddFolder(root_, Q(point), Q(point));
  }
  root_->setExpanded(true);
  connect(this, &QTreeWidget::itemExpanded, this, [this](QTreeWidgetItem* item) { Fill(item); });
}

QTreeWidgetItem* FolderTree::AddFolder(QTreeWidgetItem* parent, const QString& label,
                                       const QString& path) {
  auto* item = new QTreeWidgetItem(parent, {label});
  item->setData(0, kPathRole, path);
  item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
  item->setCheckState(0, Qt::Unchecked);
  item->setIcon(0, style()->standardIcon(QStyle::SP_DirIcon));
  // Folders are listed when first opened; until then the arrow shows.
  item->setChildIndicatorPolicy(QTreeWidgetItem::ShowIndicator);
  return item;
}

void FolderTree::Fill(QTreeWidgetItem* item) {
  if (item == root_ || item->data(0, kFilledRole).toBool()) return;
  item->setData(0, kFilledRole, true);
  const QString path = item->data(0, kPathRole).toString();
  const QStringList names =
      QDir(path).entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::NoSymLinks, QDir::Name);
  for (const QString& name : names) {
    AddFolder(item, name, path == "/" ? "/" + name : path + "/" + name);
  }
  item->setChildIndicatorPolicy(QTreeWidgetItem::DontShowIndicatorWhenChildless);
}

QTreeWidgetItem* FolderTree::Reveal(const std::string& wanted) {
  const QString path = QDir::cleanPath(Q(wanted));
  // Start from the deepest root that holds the path.
  QTreeWidgetItem* best = nullptr;
  int best_length = -1;
  for (int i = 0; i < root_->childCount(); ++i) {
    QTreeWidgetItem* top = root_->child(i);
    const QString root = top->data(0, kPathRole).toString();
    const bool holds = path == root || root == "/" || path.startsWith(root + "/");
    if (holds && root.size() > best_length) {
      best = top;
      best_length = static_cast<int>(root.size());
    }
  }
  QTreeWidgetItem* item = best;
  while (item && item->data(0, kPathRole).toString() != path) {
    Fill(item);
    QTreeWidgetItem* next = nullptr;
    for (int i = 0; i < item->childCount() && !next; ++i) {
      const QString child = item->child(i)->data(0, kPathRole).toString();
      if (path == child || path.startsWith(child + "/")) next = item->child(i);
    }
    item = next;
  }
  return item;
}

void FolderTree::SetCheckedPaths(const std::vector<std::string>& paths) {
  kept_.clear();
  QTreeWidgetItem* first = nullptr;
  for (QTreeWidgetItemIterator it(this); *it; ++it) {
    if (*it != root_) (*it)->setCheckState(0, Qt::Unchecked);
  }
  for (const std::string& path : paths) {
    QTreeWidgetItem* item = Reveal(path);
    if (!item) {
      kept_.push_back(path);
      continue;
    }
    item->setCheckState(0, Qt::Checked);
    for (QTreeWidgetItem* up = item->parent(); up; up = up->parent()) up->setExpanded(true);
    if (!first) first = item;
  }
  if (first) scrollToItem(first);
}

std::vector<std::string> FolderTree::CheckedPaths() const {
  std::vector<std::string> paths;
  auto add = [&paths](const std::string& path) {
    if (std::find(paths.begin(), paths.end(), path) == paths.end()) paths.push_back(path);
  };
  for (QTreeWidgetItemIterator it(const_cast<FolderTree*>(this)); *it; ++it) {
    if (*it != root_ && (*it)->checkState(0) == Qt::Checked) {
      add(S((*it)->data(0, kPathRole).toString()));
    }
  }
  for (const std::string& path : kept_) add(path);
  return paths;
}

}  // namespace lun
