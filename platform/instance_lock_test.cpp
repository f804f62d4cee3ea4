#include "platform/instance_lock.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/scratch_dir.h"

namespace lun {
namespace {

// Whether a fresh process could take the lock of `home` (flock is per open
// file description, so only another process shows what a second start sees).
bool OtherProcessAcquires(const std::string& home) {
  const pid_t pid = fork();
  if (pid == 0) {
    InstanceLock lock;
    _exit(lock.Acquire(home) ? 0 : 1);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

TEST(InstanceLockTest, SecondAndThirdStartsFailUntilTheFirstEnds) {
  ScratchDir home;
  {
    InstanceLock first;
    ASSERT_TRUE(first.Acquire(home.path()));
    EXPECT_FALSE(OtherProcessAcquires(home.path()));
    EXPECT_FALSE(OtherProcessAcquires(home.path()));
  }
  EXPECT_TRUE(OtherProcessAcquires(home.path()));
}

TEST(InstanceLockTest, MissingHomeFails) {
  InstanceLock lock;
  EXPECT_FALSE(lock.Acquire("/nonexistent/lun-home"));
  EXPECT_FALSE(lock.held());
}

}  // namespace
}  // namespace lun
