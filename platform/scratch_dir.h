// A fresh directory for one test, removed with everything in it when the
// test ends. Test code only.
#ifndef LUN_PLATFORM_SCRATCH_DIR_H_
#define LUN_PLATFORM_SCRATCH_DIR_H_

#include <filesystem>
#include <string>

#include "platform/paths.h"
#include "platform/uuid.h"

namespace lun {

class ScratchDir {
 public:
  // Named without the "$" of temporary names: the crawler never enters
  // "$" folders, and tests walk scratch trees.
  ScratchDir() : path_(JoinPath(TempDirectory(), "lun-test-" + NewUuidText())) {
    MakeDirectories(path_, 0700);
  }
  ~ScratchDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  const std::string& path() const { return path_; }
  std::string File(const std::string& name) const { return JoinPath(path_, name); }

 private:
  std::string path_;
};

}  // namespace lun

#endif  // LUN_PLATFORM_SCRATCH_DIR_H_
