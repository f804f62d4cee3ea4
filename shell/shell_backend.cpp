#include "shell/shell_backend.h"

#include <sys/wait.h>

#include <thread>

#include "app/application.h"
#include "config/settings_keys.h"
#include "config/settings_store.h"
#include "crawler/extract/archive_member_file.h"
#include "crawler/extract/archive_members.h"
#include "platform/autostart.h"
#include "platform/error_log.h"
#include "platform/path_text.h"
#include "platform/paths.h"
#include "platform/process.h"

namespace lun {

bool OpenWithDesktop(const std::string& target) {
  // A hit inside an archive opens as a private copy of the member; a
  // desktop entry would run code, so it is not opened.
  if (IsArchiveMemberKey(target)) {
    const std::string reader = JoinPath(ProgramDirectory(), "luncrawl");
    std::string copy;
    if (target.ends_with(".desktop") ||
        CopyArchiveMemberOut(reader, PathOnDisk(target), &copy) != 0) {
      AppendEngineErrorLog("无法取出压缩包中的文件: " + target);
      return false;
    }
    return OpenWithDesktop(copy);
  }
  const std::string opener = FindProgram("xdg-open");
  if (opener.empty()) {
    AppendEngineErrorLog("xdg-open 未安装, 无法打开: " + target);
    return false;
  }
  // A found file is named by its text; the desktop needs its bytes.
  const std::string argument = target.starts_with('/') ? PathOnDisk(target) : target;
  pid_t pid = 0;
  if (SpawnProcess({opener, argument}, SpawnOptions{}, &pid) != 0) {
    AppendEngineErrorLog("无法启动 xdg-open: " + target);
    return false;
  }
  // xdg-open usually ends as soon as it has handed the target on, but a
  // browser it starts may keep it waiting: reap it off the UI thread.
  std::thread([pid] {
    int status = 0;
    (void)waitpid(pid, &status, 0);
  }).detach();
  return true;
}

ApplicationBackend::ApplicationBackend(Application& app, bool manage_autostart)
    : app_(app), manage_autostart_(manage_autostart) {}

SettingsStore& ShellBackend::settings() { return operations().settings(); }

IndexOperations& ApplicationBackend::operations() { return app_.operations(); }

std::string ApplicationBackend::PageBaseUrl() {
  // The port the server really listens on: when the configured port was
  // busy it runs on the fallback, and "发布端口" would point nowhere.
  const std::string port =
      app_.web_running() ? std::to_string(app_.web_port())
                         : app_.settings().GetValue(kSearchSection, key::kPublishPort, "8484");
  return "http://127.0.0.1:" + port + "/LUN/";
}

std::string ApplicationBackend::SessionCode() { return app_.session_code(); }

void ApplicationBackend::Open(const std::string& target) { (void)OpenWithDesktop(target); }

bool ApplicationBackend::SetAutostart(bool on) {
  if (!manage_autostart_) return true;
  return lun::SetAutostart(on, JoinPath(ProgramDirectory(), "lun"), app_.home());
}

void ApplicationBackend::Shutdown() { app_.Shutdown(); }

}  // namespace lun
