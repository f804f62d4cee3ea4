#include "platform/paths.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <fstream>

#include "platform/env_guard.h"
#include "platform/scratch_dir.h"
#include "platform/uuid.h"

namespace lun {
namespace {

TEST(PathsTest, ApplicationHomeFollowsFlagThenEnvironmentThenXdg) {
  EnvGuard env;
  env.Set("LUN_HOME", "/srv/lun/");
  env.Set("XDG_DATA_HOME", "/xdg");
  env.Set("HOME", "/home/u");
  EXPECT_EQ(ResolveApplicationHome("/flag/home"), "/flag/home");
  EXPECT_EQ(ResolveApplicationHome(""), "/srv/lun");
  env.Set("LUN_HOME", nullptr);
  EXPECT_EQ(ResolveApplicationHome(""), "/xdg/tamrix-lun");
  env.Set("XDG_DATA_HOME", "");
  EXPECT_EQ(ResolveApplicationHome(""), "/home/u/.local/share/tamrix-lun");
}

TEST(PathsTest, DesktopFollowsEnvironmentThenUserDirsThenDefault) {
  ScratchDir config;
  EnvGuard env;
  env.Set("HOME", "/home/u");
  env.Set("XDG_CONFIG_HOME", config.path().c_str());
  env.Set("XDG_DESKTOP_DIR", "/srv/desk/");
  EXPECT_EQ(DesktopDirectory(), "/srv/desk");
  env.Set("XDG_DESKTOP_DIR", nullptr);
  EXPECT_EQ(DesktopDirectory(), "/home/u/Desktop");
  {
    std::ofstream dirs(config.File("user-dirs.dirs"));
    dirs << "# written by xdg-user-dirs-update\nXDG_DESKTOP_DIR=\"$HOME/桌面\"\n";
  }
  EXPECT_EQ(DesktopDirectory(), "/home/u/桌面");
}

TEST(PathsTest, SetApplicationHomeCreatesAPrivateDirectory) {
  ScratchDir dir;
  const std::string home = dir.File("a/b/home");
  ASSERT_TRUE(SetApplicationHome(home + "/"));
  EXPECT_EQ(ApplicationHome(), home);
  struct stat st;
  ASSERT_EQ(stat(home.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
}

TEST(PathsTest, PathPieces) {
  EXPECT_EQ(JoinPath("/a/", "/b"), "/a/b");
  EXPECT_EQ(JoinPath("", "b"), "b");
  EXPECT_EQ(DirName("/a/b/c"), "/a/b");
  EXPECT_EQ(DirName("/a"), "/");
  EXPECT_EQ(DirName("c"), ".");
  EXPECT_EQ(BaseName("/a/b/c/"), "c");
  EXPECT_NE(ProgramDirectory().find('/'), std::string::npos);
}

TEST(PathsTest, TemporaryNamesAreDistinctDollarUuids) {
  const std::string a = TemporaryName("/tmp"), b = TemporaryName("/tmp");
  EXPECT_NE(a, b);
  EXPECT_EQ(a.rfind("/tmp/$", 0), 0u);
  EXPECT_EQ(a.size(), std::string("/tmp/$").size() + 36);
  const std::string id = NewUuidText();
  EXPECT_EQ(id[8], '-');
  EXPECT_EQ(id[14], '4');  // random UUIDs carry version 4
}

}  // namespace
}  // namespace lun
