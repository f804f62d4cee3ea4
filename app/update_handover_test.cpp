#include "app/update_handover.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "platform/error_log.h"
#include "platform/file_system.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "platform/scratch_dir.h"

namespace lun {
namespace {

// An updater that leaves a file "started" beside itself.
constexpr char kUpdaterScript[] = "#!/bin/sh\necho started > \"$(dirname \"$0\")/started\"\n";

class UpdateHandOverTest : public ::testing::Test {
 protected:
  UpdateHandOverTest() : update_(home_.File(kUpdateDirectory)) { MakeDirectories(update_); }

  void Put(const char* name, const std::string& data, unsigned mode) {
    const std::string path = JoinPath(update_, name);
    ASSERT_EQ(ReplaceFileAtomically(DefaultFileSystem(), path, data, mode), 0);
    ASSERT_EQ(chmod(path.c_str(), mode), 0);
  }

  bool UpdaterStarted() {
    const std::string mark = JoinPath(update_, "started");
    // Waits for the detached updater; the deadline only bounds a failure.
    for (const int64_t end = MonotonicMs() + 30000; MonotonicMs() < end; usleep(10000)) {
      if (access(mark.c_str(), F_OK) == 0) return true;
    }
    return false;
  }

  ScratchDir home_;
  std::string update_;
};

TEST_F(UpdateHandOverTest, BothMarkersStartTheUpdater) {
  Put(kUpdaterName, kUpdaterScript, 0755);
  Put(kUpdateIniName, "[Update]\r\n", 0644);
  EXPECT_TRUE(HandOverPendingUpdate(home_.path()));
  EXPECT_TRUE(UpdaterStarted());
}

TEST_F(UpdateHandOverTest, OneMarkerAloneIsANormalStart) {
  for (const char* present : {kUpdaterName, kUpdateIniName}) {
    SCOPED_TRACE(present);
    unlink(JoinPath(update_, kUpdaterName).c_str());
    unlink(JoinPath(update_, kUpdateIniName).c_str());
    Put(present, present == kUpdaterName ? kUpdaterScript : "[Update]\r\n", 0755);
    EXPECT_FALSE(HandOverPendingUpdate(home_.path()));
  }
  EXPECT_FALSE(HandOverPendingUpdate(home_.File("no such home")));
}

TEST_F(UpdateHandOverTest, UpdaterThatCannotRunIsLoggedAndTheProgramStarts) {
  ASSERT_TRUE(SetApplicationHome(home_.path()));
  Put(kUpdaterName, kUpdaterScript, 0644);
  Put(kUpdateIniName, "[Update]\r\n", 0644);
  EXPECT_FALSE(HandOverPendingUpdate(home_.path()));
  std::string log;
  ASSERT_EQ(ReadWholeFile(DefaultFileSystem(), home_.File(kCrashLogName), &log), 0);
  EXPECT_NE(log.find("升级程序无法启动: " + JoinPath(update_, kUpdaterName)), std::string::npos)
      << log;
}

}  // namespace
}  // namespace lun
