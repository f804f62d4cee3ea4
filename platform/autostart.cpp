#include "platform/autostart.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>

#include "platform/file_system.h"
#include "platform/paths.h"

namespace lun {
namespace {

// Exec= quoting of the desktop entry format: the argument is quoted, the
// characters `"`, `` ` ``, `$` and `\` are escaped, and "%" is doubled (a
// lone one starts a field code).
std::string QuoteExec(const std::string& argument) {
  std::string out = "\"";
  for (char c : argument) {
    if (c == '"' || c == '`' || c == '$' || c == '\\') out += '\\';
    if (c == '%') out += '%';
    out += c;
  }
  return out + "\"";
}

}  // namespace

std::string AutostartEntryPath() {
  const char* config = std::getenv("XDG_CONFIG_HOME");
  std::string base;
  if (config && *config) {
    base = config;
  } else {
    const char* home = std::getenv("HOME");
    base = JoinPath(home && *home ? home : "/tmp", ".config");
  }
  return JoinPath(JoinPath(base, "autostart"), "Tamrix.LUN.desktop");
}

bool SetAutostart(bool on, const std::string& executable, const std::string& home) {
  FileSystem& fs = DefaultFileSystem();
  const std::string path = AutostartEntryPath();
  if (!on) {
    const int rc = fs.Unlink(path);
    return rc == 0 || rc == ENOENT;
  }
  if (!MakeDirectories(DirName(path))) return false;
  const std::string entry =
      "[Desktop Entry]\n"
      "Type=Application\n"
      "Name=Tamrix.LUN\n"
      "Comment=桌面搜索\n"
      "Exec=" +
      QuoteExec(executable) + " --home " + QuoteExec(home) +
      "\n"
      "Terminal=false\n"
      "X-GNOME-Autostart-enabled=true\n";
  return ReplaceFileAtomically(fs, path, entry) == 0;
}

bool AutostartEnabled() {
  struct stat st;
  return ::stat(AutostartEntryPath().c_str(), &st) == 0;
}

}  // namespace lun
