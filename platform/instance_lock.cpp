#include "platform/instance_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include "platform/paths.h"

namespace lun {

InstanceLock::~InstanceLock() {
  if (fd_ >= 0) ::close(fd_);  // closing the descriptor drops the flock
}

bool InstanceLock::Acquire(const std::string& home) {
  if (fd_ >= 0) return true;
  // O_CLOEXEC: programs lun starts (the crawl service, xdg-open) must not
  // inherit the lock, or a second lun would wait for them to end.
  const int fd = ::open(JoinPath(home, kInstanceLockName).c_str(),
                        O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    ::close(fd);
    return false;
  }
  fd_ = fd;
  return true;
}

}  // namespace lun
