#include "platform/kill_point.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <random>
#include <string>

namespace lun {
namespace {

struct KillConfig {
  unsigned long odds = 0;  // 0: kill points are off
  const char* log = nullptr;
  const char* only = nullptr;  // the one point allowed to fire, if set
  std::mutex mutex;
  std::mt19937_64 rng;
};

KillConfig& Config() {
  static KillConfig* config = [] {
    auto* c = new KillConfig;
    if (const char* odds = std::getenv("LUN_KILL_ODDS")) c->odds = std::strtoul(odds, nullptr, 10);
    c->log = std::getenv("LUN_KILL_LOG");
    c->only = std::getenv("LUN_KILL_ONLY");
    c->rng.seed(std::random_device{}());
    return c;
  }();
  return *config;
}

}  // namespace

void MaybeKill(const char* point) {
  KillConfig& c = Config();
  if (c.odds == 0) return;
  if (c.only && std::strcmp(c.only, point) != 0) return;
  std::lock_guard<std::mutex> lock(c.mutex);
  if (c.rng() % c.odds != 0) return;
  if (c.log) {
    const int fd = ::open(c.log, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd >= 0) {
      std::string line = std::string(point) + "\n";
      (void)!::write(fd, line.data(), line.size());
      ::close(fd);
    }
  }
  ::_exit(137);
}

void MaybeCrash(const char* point) {
  const char* wanted = std::getenv("LUN_CRASH_POINT");
  if (!wanted || std::strcmp(wanted, point) != 0) return;
  if (const char* once = std::getenv("LUN_CRASH_ONCE")) {
    const int fd = ::open(once, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) return;
    ::close(fd);
  }
  ::raise(SIGSEGV);
}

}  // namespace lun
