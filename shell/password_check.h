// The password check that guards the desktop windows (index status, file
// preview, settings).
//
// When "自动登陆" is anything but "禁止" (a missing key included) the check
// passes at once. Otherwise the dialog "验证密码" asks for the password and
// says what it is (PasswordHint): OK passes when the text is the password
// "登陆口令" (stored as its hash, config/password_hash.h; none set: the empty
// text) and fails otherwise; Cancel fails; "忘记密码" opens the dialog
// "忘记密码", which asks the question "密码问题" and passes when the answer
// equals "密码答案". A
// cancelled "忘记密码" shows "验证密码" again.
//
// Thread safety: user-interface thread only.
#ifndef LUN_SHELL_PASSWORD_CHECK_H_
#define LUN_SHELL_PASSWORD_CHECK_H_

#include <QDialog>
#include <QLineEdit>
#include <QString>
#include <string>

namespace lun {

class SettingsStore;

// What a password dialog returned.
struct PasswordReply {
  enum Kind { kOk, kCancel, kForgot } kind = kCancel;
  std::string text;  // the entered password or answer (kOk)
};

// The two dialogs, behind a seam so that the check can be tested.
class PasswordPrompter {
 public:
  virtual ~PasswordPrompter() = default;
  // "验证密码" showing `hint`: kOk with the text, kCancel, or kForgot.
  virtual PasswordReply AskPassword(const std::string& hint) = 0;
  // "忘记密码" with `question`: kOk with the answer, or kCancel.
  virtual PasswordReply AskAnswer(const std::string& question) = 0;
};

// Runs the check; true when it passes.
bool PasswordCheck(const SettingsStore& settings, PasswordPrompter& prompter);

// The text of "验证密码": why it asks, and the rule that applies now (the
// password set under "安全选项::口令", or, with none set, an empty entry).
std::string PasswordHint(const SettingsStore& settings);

// The password dialog "验证密码".
class VerifyPasswordDialog : public QDialog {
  Q_OBJECT

 public:
  explicit VerifyPasswordDialog(const QString& hint, QWidget* parent = nullptr);
  QLineEdit* password() { return &password_; }
  // True when the user chose "忘记密码".
  bool forgot() const { return forgot_; }

 private:
  QLineEdit password_;
  bool forgot_ = false;
};

// The dialog "忘记密码": shows the question, asks for the answer.
class ForgotPasswordDialog : public QDialog {
  Q_OBJECT

 public:
  explicit ForgotPasswordDialog(const QString& question, QWidget* parent = nullptr);
  QLineEdit* answer() { return &answer_; }

 private:
  QLineEdit answer_;
};

// The prompter of a real run: the two modal dialogs.
class DialogPasswordPrompter : public PasswordPrompter {
 public:
  PasswordReply AskPassword(const std::string& hint) override;
  PasswordReply AskAnswer(const std::string& question) override;
};

}  // namespace lun

#endif  // LUN_SHELL_PASSWORD_CHECK_H_
