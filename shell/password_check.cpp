#include "shell/password_check.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "config/password_hash.h"
#include "config/settings_keys.h"
#include "config/settings_store.h"

namespace lun {

namespace {

constexpr int kPasswordLength = 99;

// OK and Cancel, in Chinese whatever Qt's translations are.
QDialogButtonBox* OkCancel() {
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
  buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("确定"));
  buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("取消"));
  return buttons;
}
constexpr char kDefaultQuestion[] = "你叫什么名字？";

}  // namespace

bool PasswordCheck(const SettingsStore& settings, PasswordPrompter& prompter) {
  if (settings.GetValue(kSearchSection, key::kAutoLogin) != kForbid) return true;
  for (;;) {
    const PasswordReply reply = prompter.AskPassword(PasswordHint(settings));
    if (reply.kind == PasswordReply::kCancel) return false;
    if (reply.kind == PasswordReply::kOk) {
      const std::string stored = settings.GetValue(kSearchSection, key::kLoginPassword);
      // No password set: the empty text passes, as it always did.
      return stored.empty() ? reply.text.empty() : VerifyPassword(reply.text, stored);
    }
    const std::string question =
        settings.GetValue(kSearchSection, key::kPasswordQuestion, kDefaultQuestion);
    const PasswordReply answer = prompter.AskAnswer(question);
    if (answer.kind == PasswordReply::kOk) {
      return answer.text == settings.GetValue(kSearchSection, key::kPasswordAnswer);
    }
    // A cancelled question brings the password dialog back.
  }
}

std::string PasswordHint(const SettingsStore& settings) {
  const std::string reason = "本机用户自动登陆已被禁止，请输入密码。\n";
  if (settings.GetValue(kSearchSection, key::kLoginPassword).empty()) {
    return reason +
           "还没有设置密码：密码为空，不输入任何内容直接按“确定”即可。"
           "可在“系统设置”的“安全选项::口令”中设置密码。";
  }
  return reason + "密码是在“系统设置”的“安全选项::口令”中设置的密码。";
}

VerifyPasswordDialog::VerifyPasswordDialog(const QString& hint, QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("验证密码"));
  setWindowFlag(Qt::WindowStaysOnTopHint);
  auto* layout = new QVBoxLayout(this);
  auto* shown = new QLabel(hint);
  shown->setObjectName(QStringLiteral("hint"));
  shown->setWordWrap(true);
  layout->addWidget(shown);
  password_.setEchoMode(QLineEdit::Password);
  password_.setMaxLength(kPasswordLength);
  password_.setObjectName(QStringLiteral("password"));
  layout->addWidget(&password_);
  auto* buttons = OkCancel();
  QPushButton* forgot =
      buttons->addButton(QStringLiteral("忘记密码"), QDialogButtonBox::ActionRole);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(forgot, &QPushButton::clicked, this, [this] {
    forgot_ = true;
    hide();
    done(QDialog::Rejected);
  });
  layout->addWidget(buttons);
}

ForgotPasswordDialog::ForgotPasswordDialog(const QString& question, QWidget* parent)
    : QDialog(parent) {
  setWindowTitle(QStringLiteral("忘记密码"));
  setWindowFlag(Qt::WindowStaysOnTopHint);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(new QLabel(QStringLiteral("密码问题：")));
  auto* shown = new QLabel(question);
  shown->setObjectName(QStringLiteral("question"));
  layout->addWidget(shown);
  layout->addWidget(new QLabel(QStringLiteral("问题答案：")));
  answer_.setMaxLength(kPasswordLength);
  answer_.setObjectName(QStringLiteral("answer"));
  layout->addWidget(&answer_);
  auto* buttons = OkCancel();
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  layout->addWidget(buttons);
}

PasswordReply DialogPasswordPrompter::AskPassword(const std::string& hint) {
  VerifyPasswordDialog dialog(QString::fromStdString(hint));
  const int result = dialog.exec();
  if (dialog.forgot()) return {PasswordReply::kForgot, {}};
  if (result != QDialog::Accepted) return {PasswordReply::kCancel, {}};
  return {PasswordReply::kOk, dialog.password()->text().toStdString()};
}

PasswordReply DialogPasswordPrompter::AskAnswer(const std::string& question) {
  ForgotPasswordDialog dialog(QString::fromStdString(question));
  if (dialog.exec() != QDialog::Accepted) return {PasswordReply::kCancel, {}};
  return {PasswordReply::kOk, dialog.answer()->text().toStdString()};
}

}  // namespace lun
