#include <gtest/gtest.h>

#include "app/first_run_defaults.h"
#include "app/user_interface.h"
#include "config/settings_keys.h"
#include "config/settings_store.h"

namespace lun {
namespace {

TEST(HeadlessInterfaceTest, WizardFillsOnlyEmptyChoicesAndBoxesTakeTheirDefault) {
  SettingsStore settings;
  settings.SetValue(kSearchSection, key::kOtherTextTypes, "*.tex;");
  HeadlessInterface ui;
  ui.RunFirstRunWizard(settings);
  EXPECT_EQ(settings.GetValue(kSearchSection, key::kDocumentTypes), kFirstRunDocumentTypes);
  EXPECT_EQ(settings.GetValue(kSearchSection, key::kOtherTextTypes), "*.tex;");
  EXPECT_EQ(ui.Countdown("Tamrix桌面搜索", "退出?", 3000, BoxButtons::kYesNo), kTimedOut);
  ui.SetTip("正在索引");
  EXPECT_EQ(ui.tip(), "正在索引");
}

}  // namespace
}  // namespace lun
