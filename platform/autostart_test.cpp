#include "platform/autostart.h"

#include <gtest/gtest.h>

#include "platform/env_guard.h"
#include "platform/file_system.h"
#include "platform/scratch_dir.h"

namespace lun {
namespace {

TEST(AutostartTest, WritesAndRemovesTheDesktopEntry) {
  ScratchDir dir;
  EnvGuard env;
  env.Set("XDG_CONFIG_HOME", dir.path().c_str());
  ASSERT_EQ(AutostartEntryPath(), dir.File("autostart/Tamrix.LUN.desktop"));
  EXPECT_FALSE(AutostartEnabled());

  ASSERT_TRUE(SetAutostart(true, "/opt/my \"lun\"/lun", "/data/100% $home"));
  EXPECT_TRUE(AutostartEnabled());
  std::string entry;
  ASSERT_EQ(ReadWholeFile(DefaultFileSystem(), AutostartEntryPath(), &entry), 0);
  EXPECT_NE(entry.find("[Desktop Entry]\n"), std::string::npos);
  EXPECT_NE(entry.find("Exec=\"/opt/my \\\"lun\\\"/lun\" --home \"/data/100%% \\$home\"\n"),
            std::string::npos)
      << entry;

  ASSERT_TRUE(SetAutostart(false, "", ""));
  EXPECT_FALSE(AutostartEnabled());
  EXPECT_TRUE(SetAutostart(false, "", "")) << "removing a missing entry is not an error";
}

}  // namespace
}  // namespace lun
