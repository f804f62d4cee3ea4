// Sets environment variables for the length of a test and restores them
// afterwards. Test code only.
#ifndef LUN_PLATFORM_ENV_GUARD_H_
#define LUN_PLATFORM_ENV_GUARD_H_

#include <stdlib.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace lun {

class EnvGuard {
 public:
  void Set(const char* name, const char* value) {
    const char* old = getenv(name);
    saved_.push_back({name, old ? std::optional<std::string>(old) : std::nullopt});
    if (value) {
      setenv(name, value, 1);
    } else {
      unsetenv(name);
    }
  }
  ~EnvGuard() {
    for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
      if (it->second) {
        setenv(it->first.c_str(), it->second->c_str(), 1);
      } else {
        unsetenv(it->first.c_str());
      }
    }
  }

 private:
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

}  // namespace lun

#endif  // LUN_PLATFORM_ENV_GUARD_H_
