#include "shell/settings_window.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QVBoxLayout>
#include <QWizardPage>

#include "app/application.h"
#include "app/first_run_defaults.h"
#include "app/index_operations.h"
#include "config/settings_keys.h"
#include "config/settings_store.h"
#include "shell/notification_popup.h"
#include "shell/shell_backend.h"
#include "shell/shell_controller.h"

namespace lun {

namespace {

// A wizard page that holds one settings page; Next validates it.
class WizardPageHost : public QWizardPage {
 public:
  explicit WizardPageHost(SettingsPage* page) : page_(page) {
    setTitle(page->caption());
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(page);
  }
  bool validatePage() override { return page_->Validate(); }

 private:
  SettingsPage* page_;
};

QWizardPage* WelcomePage() {
  auto* page = new QWizardPage;
  page->setTitle(QStringLiteral("欢迎使用Tamrix桌面搜索"));
  auto* text =
      new QLabel(QStringLiteral("在开始使用之前，请设置以下内容：\n\n"
                                "扫描路径：需要扫描哪些目录，哪些目录不扫描；\n"
                                "文档类型：需要索引哪些类型的文件；\n"
                                "使用密码：打开桌面窗口时是否需要密码；\n"
                                "发布端口：搜索网页使用的端口。\n\n"
                                "这些设置以后都可以在“系统设置”中修改。"));
  text->setWordWrap(true);
  auto* layout = new QVBoxLayout(page);
  layout->addWidget(text);
  return page;
}

}  // namespace

void OfferRescan(ShellBackend& backend, PopupCenter& popups, const AskFunction& ask) {
  const int answer = ask(QString::fromUtf8(kApplicationCaption),
                         QStringLiteral("您修改了文件类型的设置，需要重新扫描磁盘请选择“是”。\n"
                                        "不需要重新扫描磁盘请选择“否”。"),
                         0, BoxButtons::kYesNo, QMessageBox::Question);
  if (answer == kAnswerNo) return;
  popups.Show(QStringLiteral("重新扫描"),
              QStringLiteral("您修改了文件类型的设置，现在系统将自动重新扫描磁盘。"));
  (void)backend.operations().Reindex(true);
}

SettingsWindow::SettingsWindow(ShellBackend& backend, PopupCenter& popups, AskFunction ask)
    : backend_(backend), popups_(popups), ask_(std::move(ask)) {
  setWindowTitle(QStringLiteral("系统设置"));
  setWindowIcon(ApplicationIcon());
  setModal(true);
  tree_.setHeaderLabel(QStringLiteral("选择页"));
  auto* root = new QTreeWidgetItem(&tree_, {QStringLiteral("系统设置")});
  for (const QString& name : SettingsPageNames()) new QTreeWidgetItem(root, {name});
  root->setExpanded(true);
  tree_.setMinimumWidth(190);
  connect(&tree_, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* item) {
    if (item && item->parent()) SelectPage(item->text(0));
  });
  QFont caption_font = caption_.font();
  caption_font.setBold(true);
  caption_.setFont(caption_font);

  auto* apply = new QPushButton(QStringLiteral("应用"));
  auto* save = new QPushButton(QStringLiteral("保存"));
  auto* quit = new QPushButton(QStringLiteral("退出"));
  connect(apply, &QPushButton::clicked, this, [this] { (void)Apply(); });
  connect(save, &QPushButton::clicked, this, [this] {
    if (Apply()) accept();
  });
  connect(quit, &QPushButton::clicked, this, &QDialog::reject);

  auto* right = new QVBoxLayout;
  right->addWidget(&caption_);
  right->addWidget(&stack_, 1);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(apply);
  buttons->addWidget(save);
  buttons->addWidget(quit);
  right->addLayout(buttons);
  auto* layout = new QHBoxLayout(this);
  layout->addWidget(&tree_);
  layout->addLayout(right, 1);
  resize(760, 460);
}

SettingsWindow::~SettingsWindow() {
  // The stack does not own the pages; take them out before they go.
  for (auto& [name, page] : pages_) stack_.removeWidget(page.get());
}

bool SettingsWindow::SelectPage(const QString& name) {
  if (!SettingsPageNames().contains(name)) return false;
  auto found = pages_.find(name);
  if (found == pages_.end()) {
    found =
        pages_.emplace(name, MakeSettingsPage(name, SettingsPageContext{&backend_, ask_})).first;
    stack_.addWidget(found->second.get());
  }
  stack_.setCurrentWidget(found->second.get());
  caption_.setText(found->second->caption());
  current_ = name;
  QTreeWidgetItem* root = tree_.topLevelItem(0);
  for (int i = 0; i < root->childCount(); ++i) {
    if (root->child(i)->text(0) == name && tree_.currentItem() != root->child(i)) {
      tree_.setCurrentItem(root->child(i));
    }
  }
  return true;
}

SettingsPage* SettingsWindow::page(const QString& name) const {
  const auto found = pages_.find(name);
  return found == pages_.end() ? nullptr : found->second.get();
}

bool SettingsWindow::Apply() {
  for (auto& [name, page] : pages_) {
    if (!page->Validate()) {
      SelectPage(name);
      return false;
    }
  }
  bool types_changed = false;
  for (auto& [name, page] : pages_) {
    page->Save();
    types_changed = types_changed || page->types_changed();
  }
  if (types_changed) OfferRescan(backend_, popups_, ask_);
  return true;
}

FirstRunWizard::FirstRunWizard(ShellBackend& backend, AskFunction ask)
    : backend_(backend), ask_(std::move(ask)) {
  ApplyFirstRunDefaults(backend.settings());
  setWindowTitle(QStringLiteral("系统初始化"));
  setWindowIcon(ApplicationIcon());
  setWizardStyle(QWizard::ClassicStyle);
  setButtonText(QWizard::BackButton, QStringLiteral("< 上一步"));
  setButtonText(QWizard::NextButton, QStringLiteral("下一步 >"));
  setButtonText(QWizard::FinishButton, QStringLiteral("完成"));
  setButtonText(QWizard::CancelButton, QStringLiteral("取消"));
  addPage(WelcomePage());
  for (const QString& name : WizardPageNames()) {
    pages_.push_back(MakeSettingsPage(name, SettingsPageContext{&backend, ask_}));
    addPage(new WizardPageHost(pages_.back().get()));
  }
  resize(640, 480);
}

FirstRunWizard::~FirstRunWizard() {
  // The hosts (owned by the wizard) hold the pages as children; release
  // them from the hosts so each is deleted once, by pages_.
  for (const std::unique_ptr<SettingsPage>& page : pages_) page->setParent(nullptr);
}

void FirstRunWizard::SaveAll() {
  for (const std::unique_ptr<SettingsPage>& page : pages_) {
    if (page->Validate()) page->Save();
  }
}

bool FirstRunWizard::Finish() {
  SaveAll();
  const SettingsStore& s = backend_.settings();
  bool any_type = false;
  for (const char* key :
       {key::kDocumentTypes, key::kOtherTextTypes, key::kPlugTypes, key::kMsnPlugTypes}) {
    const std::string value = s.GetValue(kSearchSection, key);
    any_type = any_type || value.find_first_not_of("|; ") != std::string::npos;
  }
  if (any_type) return true;
  const int answer = ask_(QStringLiteral("系统初始化"),
                          QStringLiteral("您没有选择任何文件类型，系统将不会索引任何文件。\r\n"
                                         "仍然完成请选择“是”，返回修改请选择“否”。"),
                          0, BoxButtons::kYesNo, QMessageBox::Warning);
  return answer != kAnswerNo;
}

void FirstRunWizard::accept() {
  if (Finish()) QWizard::accept();
}

}  // namespace lun
