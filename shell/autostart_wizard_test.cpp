// The first-run wizard's autostart entry, written through the application's
// backend as on a real first start: the entry starts lun with the home of
// the run that wrote it, so a run with its own --home comes back with it.
#include <gtest/gtest.h>

#include <QCheckBox>

#include "app/application.h"
#include "app/user_interface.h"
#include "platform/autostart.h"
#include "platform/env_guard.h"
#include "platform/file_system.h"
#include "platform/paths.h"
#include "platform/scratch_dir.h"
#include "shell/settings_window.h"
#include "shell/shell_backend.h"
#include "shell/shell_test_util.h"

namespace lun {
namespace {

TEST(AutostartWizardTest, TheEntryStartsLunWithTheHomeOfTheRunThatWroteIt) {
  ScratchDir config;
  ScratchDir home;
  EnvGuard env;
  env.Set("XDG_CONFIG_HOME", config.path().c_str());
  HeadlessInterface ui;
  ApplicationOptions options;
  options.home = home.File("my home");
  Application app(options, ui);
  ApplicationBackend backend(app, /*manage_autostart=*/true);
  ScriptedAsk ask;
  FirstRunWizard wizard(backend, ask.Function());
  bool saved = false;
  for (const auto& page : wizard.pages()) {
    if (page->name() != "常规设置::运行") continue;
    QCheckBox* autostart = page->findChild<QCheckBox*>();
    ASSERT_NE(autostart, nullptr);
    autostart->setChecked(true);
    page->Save();
    saved = true;
  }
  ASSERT_TRUE(saved) << "the wizard has the page 常规设置::运行";
  std::string entry;
  ASSERT_EQ(ReadWholeFile(DefaultFileSystem(), AutostartEntryPath(), &entry), 0);
  const std::string exec =
      "Exec=\"" + JoinPath(ProgramDirectory(), "lun") + "\" --home \"" + options.home + "\"\n";
  EXPECT_NE(entry.find(exec), std::string::npos) << entry;
}

}  // namespace
}  // namespace lun
