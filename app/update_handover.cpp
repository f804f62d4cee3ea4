#include "app/update_handover.h"

#include "platform/error_log.h"
#include "platform/paths.h"
#include "platform/process.h"

namespace lun {
bool HandOverPendingUpdate(const std::string& home) {
  const std::string update_dir = JoinPath(home, kUpdateDirectory);
  const std::string updater = JoinPath(update_dir, kUpdaterName);
  if (!IsRegularFile(updater) || !IsRegularFile(JoinPath(update_dir, kUpdateIniName))) {
    return false;
  }
  SpawnOptions options;
  // Its own group: a terminal's signals to this program do not reach it.
  options.new_process_group = true;
  pid_t pid = -1;
  const int error = SpawnProcess({updater}, options, &pid);
  if (error != 0) {
    AppendCrashLog("升级程序无法启动: " + updater + ": " + ErrorText(error));
    return false;
  }
  return true;
}

}  // namespace lun
