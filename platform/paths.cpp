#include "platform/paths.h"

#include <dirent.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <mutex>

#include "platform/uuid.h"

namespace lun {
namespace {

std::mutex application_home_mutex;
// Set once, never freed: read by every thread.
std::string* application_home = nullptr;

std::string EnvOr(const char* name, std::string_view fallback) {
  const char* v = std::getenv(name);
  return (v && *v) ? std::string(v) : std::string(fallback);
}

std::string StripTrailingSlashes(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

}  // namespace

std::string ResolveApplicationHome(std::string_view home_flag) {
  if (!home_flag.empty()) return StripTrailingSlashes(std::string(home_flag));
  std::string from_env = EnvOr("LUN_HOME", "");
  if (!from_env.empty()) return StripTrailingSlashes(from_env);
  std::string data = EnvOr("XDG_DATA_HOME", "");
  if (data.empty()) data = JoinPath(EnvOr("HOME", "/tmp"), ".local/share");
  return JoinPath(StripTrailingSlashes(data), "tamrix-lun");
}

bool SetApplicationHome(const std::string& path) {
  std::string clean = StripTrailingSlashes(path);
  if (!MakeDirectories(clean, 0700)) return false;
  std::lock_guard<std::mutex> lock(application_home_mutex);
  if (application_home) {
    *application_home = clean;
  } else {
    application_home = new std::string(clean);
  }
  return true;
}

std::string ApplicationHome() {
  {
    std::lock_guard<std::mutex> lock(application_home_mutex);
    if (application_home) return *application_home;
  }
  return ResolveApplicationHome("");
}

std::string UserHomeDirectory() {
  std::string home = EnvOr("HOME", "");
  if (!home.empty()) return StripTrailingSlashes(home);
  if (const passwd* entry = getpwuid(getuid()); entry && entry->pw_dir) return entry->pw_dir;
  return "/";
}

std::string DesktopDirectory() {
  std::string desktop = EnvOr("XDG_DESKTOP_DIR", "");
  const std::string home = UserHomeDirectory();
  if (desktop.empty()) {
    std::ifstream dirs(JoinPath(EnvOr("XDG_CONFIG_HOME", JoinPath(home, ".config")),
                                "user-dirs.dirs"));
    const std::string prefix = "XDG_DESKTOP_DIR=\"";
    for (std::string line; std::getline(dirs, line);) {
      if (line.compare(0, prefix.size(), prefix) != 0 || line.back() != '"') continue;
      desktop = line.substr(prefix.size(), line.size() - prefix.size() - 1);
      if (desktop.compare(0, 5, "$HOME") == 0) desktop = home + desktop.substr(5);
    }
  }
  if (desktop.empty() || desktop[0] != '/') desktop = JoinPath(home, "Desktop");
  return StripTrailingSlashes(desktop);
}

std::string ProgramDirectory() {
  char buf[4096];
  const ssize_t n = readlink("/proc/self/exe", buf, sizeof(buf) - 1);
  if (n <= 0) return ".";
  return DirName(std::string_view(buf, static_cast<size_t>(n)));
}

std::string TempDirectory() { return StripTrailingSlashes(EnvOr("TMPDIR", "/tmp")); }

std::string JoinPath(std::string_view dir, std::string_view name) {
  std::string out(dir);
  if (out.empty()) return std::string(name);
  if (out.back() != '/') out.push_back('/');
  while (!name.empty() && name.front() == '/') name.remove_prefix(1);
  out.append(name);
  return out;
}

std::string DirName(std::string_view path) {
  while (path.size() > 1 && path.back() == '/') path.remove_suffix(1);
  const size_t slash = path.rfind('/');
  if (slash == std::string_view::npos) return ".";
  if (slash == 0) return "/";
  return std::string(path.substr(0, slash));
}

std::string BaseName(std::string_view path) {
  while (path.size() > 1 && path.back() == '/') path.remove_suffix(1);
  const size_t slash = path.rfind('/');
  return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

std::string TemporaryName(std::string_view dir) {
  // Built with append: GCC 12 at -O3 warns falsely (-Wrestrict) about
  // "$" + std::string.
  std::string name = "$";
  name += NewUuidText();
  return JoinPath(dir, name);
}

std::vector<std::string> ListDirectory(const std::string& dir) {
  std::vector<std::string> paths;
  DIR* d = opendir(dir.c_str());
  if (!d) return paths;
  while (const dirent* e = readdir(d)) {
    const std::string_view name = e->d_name;
    if (name != "." && name != "..") paths.push_back(JoinPath(dir, name));
  }
  closedir(d);
  return paths;
}

bool IsRegularFile(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool IsDirectory(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool MakeDirectories(const std::string& path, unsigned mode) {
  struct stat st;
  if (stat(path.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
  const std::string parent = DirName(path);
  if (parent != path && parent != "." && parent != "/") MakeDirectories(parent, mode);
  if (mkdir(path.c_str(), mode) == 0) return true;
  return errno == EEXIST && stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace lun
