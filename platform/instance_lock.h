// One running instance per application home.
//
// The lock is an exclusive flock(2) on the file "lun.lock" in the
// application home, taken without waiting and held until the process ends
// (the kernel drops it when the process dies, however it dies, so a crash
// never leaves a stale lock behind). A second and every later start find
// the lock held and end.
#ifndef LUN_PLATFORM_INSTANCE_LOCK_H_
#define LUN_PLATFORM_INSTANCE_LOCK_H_

#include <string>

namespace lun {

inline constexpr char kInstanceLockName[] = "lun.lock";

class InstanceLock {
 public:
  InstanceLock() = default;
  ~InstanceLock();  // releases the lock
  InstanceLock(const InstanceLock&) = delete;
  InstanceLock& operator=(const InstanceLock&) = delete;

  // Takes the lock of `home` (the directory must exist). False when another
  // process holds it or the lock file cannot be opened.
  bool Acquire(const std::string& home);
  bool held() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

}  // namespace lun

#endif  // LUN_PLATFORM_INSTANCE_LOCK_H_
