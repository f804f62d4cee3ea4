#include "shell/password_check.h"

#include <gtest/gtest.h>

#include <QLabel>

#include "shell/shell_test_util.h"

namespace lun {
namespace {

using Reply = PasswordReply;

TEST(PasswordCheckTest, PathsOfTheCheck) {
  const struct {
    const char* name;
    const char* auto_login;  // null: the key is missing
    std::deque<Reply> replies;
    bool passes;
    int asked;  // dialogs shown
  } kCases[] = {
      {"auto-login missing passes without asking", nullptr, {}, true, 0},
      {"auto-login allowed passes", "允许", {}, true, 0},
      {"any value but 禁止 passes", "FALSE", {}, true, 0},
      {"right password", "禁止", {{Reply::kOk, "secret"}}, true, 1},
      {"wrong password fails", "禁止", {{Reply::kOk, "guess"}}, false, 1},
      {"cancel fails", "禁止", {{Reply::kCancel, ""}}, false, 1},
      {"forgotten, right answer", "禁止", {{Reply::kForgot, ""}, {Reply::kOk, "Tam"}}, true, 2},
      {"forgotten, wrong answer", "禁止", {{Reply::kForgot, ""}, {Reply::kOk, "Sam"}}, false, 2},
      {"forgotten, cancelled: asked again",
       "禁止",
       {{Reply::kForgot, ""}, {Reply::kCancel, ""}, {Reply::kOk, "secret"}},
       true,
       3},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    ScratchDir home;
    SettingsStore settings;
    (void)settings.Load(home.File("Setting"));
    if (c.auto_login) settings.SetValue(kSearchSection, key::kAutoLogin, c.auto_login);
    settings.SetValue(kSearchSection, key::kLoginPassword, "secret");
    settings.SetValue(kSearchSection, key::kPasswordAnswer, "Tam");
    ScriptedPrompter prompter;
    prompter.replies = c.replies;
    EXPECT_EQ(PasswordCheck(settings, prompter), c.passes);
    EXPECT_EQ(prompter.asked, c.asked);
  }
}

TEST(PasswordCheckTest, ForgottenPasswordAsksTheStoredOrDefaultQuestion) {
  ScratchDir home;
  SettingsStore settings;
  (void)settings.Load(home.File("Setting"));
  settings.SetValue(kSearchSection, key::kAutoLogin, "禁止");
  ScriptedPrompter prompter;
  prompter.replies = {{Reply::kForgot, ""}, {Reply::kOk, ""}};
  // No password answer stored: the empty answer matches the empty default.
  EXPECT_TRUE(PasswordCheck(settings, prompter));
  EXPECT_EQ(prompter.questions, std::vector<std::string>{"你叫什么名字？"});
}

// The dialog states the rule that applies: with no password set the stored
// password is empty and an empty entry passes; it never names a default
// password that the check would refuse.
TEST(PasswordCheckTest, TheDialogStatesTheRuleThatTheCheckApplies) {
  for (const char* password : {"", "secret"}) {
    SCOPED_TRACE(password);
    ScratchDir home;
    SettingsStore settings;
    (void)settings.Load(home.File("Setting"));
    settings.SetValue(kSearchSection, key::kAutoLogin, "禁止");
    settings.SetValue(kSearchSection, key::kLoginPassword, password);
    ScriptedPrompter prompter;
    prompter.replies = {{Reply::kOk, ""}};
    const bool empty_passes = PasswordCheck(settings, prompter);
    ASSERT_EQ(prompter.hints.size(), 1u);
    const std::string& hint = prompter.hints[0];
    EXPECT_EQ(hint, PasswordHint(settings));
    EXPECT_EQ(hint.find("37vexo"), std::string::npos);
    EXPECT_EQ(hint.find("密码为空") != std::string::npos, empty_passes);
    EXPECT_EQ(empty_passes, *password == '\0');

    VerifyPasswordDialog dialog(QString::fromStdString(hint));
    const QLabel* shown = dialog.findChild<QLabel*>(QStringLiteral("hint"));
    ASSERT_NE(shown, nullptr);
    EXPECT_EQ(shown->text().toStdString(), hint);
  }
}

}  // namespace
}  // namespace lun
