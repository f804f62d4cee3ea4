#include "platform/desktop/desktop_apps.h"

#include <sys/wait.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <set>
#include <thread>

#include "platform/paths.h"
#include "platform/process.h"

namespace lun {
namespace {

// The keys of the [Desktop Entry] group of a desktop file.
std::map<std::string, std::string> ReadDesktopEntry(const std::string& path) {
  std::map<std::string, std::string> keys;
  std::ifstream in(path);
  bool in_entry = false;
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#') continue;
    if (line[0] == '[') {
      in_entry = line == "[Desktop Entry]";
      continue;
    }
    const size_t eq = line.find('=');
    if (!in_entry || eq == std::string::npos) continue;
    std::string key = line.substr(0, eq);
    while (!key.empty() && key.back() == ' ') key.pop_back();
    size_t start = eq + 1;
    while (start < line.size() && line[start] == ' ') ++start;
    keys.emplace(std::move(key), line.substr(start));
  }
  return keys;
}

// The string escapes of desktop file values: \s \n \t \r \\.
std::string Unescape(std::string_view value) {
  std::string out;
  for (size_t i = 0; i < value.size(); ++i) {
    if (value[i] != '\\' || i + 1 == value.size()) {
      out += value[i];
      continue;
    }
    const char c = value[++i];
    out += c == 's' ? ' ' : c == 'n' ? '\n' : c == 't' ? '\t' : c == 'r' ? '\r' : c;
  }
  return out;
}

bool ListsValue(std::string_view list, std::string_view value) {
  size_t pos = 0;
  while (pos < list.size()) {
    size_t end = list.find(';', pos);
    if (end == std::string_view::npos) end = list.size();
    if (list.substr(pos, end - pos) == value) return true;
    pos = end + 1;
  }
  return false;
}

// Splits an Exec= line into words, keeping field codes as written.
bool SplitExec(std::string_view exec, std::vector<std::string>* words) {
  std::string word;
  bool in_word = false, quoted = false;
  for (size_t i = 0; i < exec.size(); ++i) {
    const char c = exec[i];
    if (quoted) {
      if (c == '"') {
        quoted = false;
      } else if (c == '\\' && i + 1 < exec.size() &&
                 std::string_view("\"`$\\").find(exec[i + 1]) != std::string_view::npos) {
        word += exec[++i];
      } else {
        word += c;
      }
    } else if (c == '"') {
      quoted = in_word = true;
    } else if (c == ' ' || c == '\t') {
      if (in_word) words->push_back(std::move(word));
      word.clear();
      in_word = false;
    } else {
      word += c;
      in_word = true;
    }
  }
  if (quoted) return false;
  if (in_word) words->push_back(std::move(word));
  return !words->empty();
}

// The ids that "mimeinfo.cache" of `applications` lists for `mime_type`
// ("text/plain=a.desktop;kde4-b.desktop;").
std::vector<std::string> CachedIds(const std::string& applications, std::string_view mime_type) {
  std::ifstream in(JoinPath(applications, "mimeinfo.cache"));
  const std::string prefix = std::string(mime_type) + "=";
  std::vector<std::string> ids;
  for (std::string line; std::getline(in, line);) {
    if (!line.starts_with(prefix)) continue;
    std::string_view list = std::string_view(line).substr(prefix.size());
    size_t pos = 0;
    while (pos < list.size()) {
      size_t end = list.find(';', pos);
      if (end == std::string_view::npos) end = list.size();
      if (end > pos) ids.emplace_back(list.substr(pos, end - pos));
      pos = end + 1;
    }
  }
  return ids;
}

// The file of desktop id `id` below `applications`: the id names a file in a
// sub-folder with its "/" written as "-" ("kde4-okular.desktop" is
// "kde4/okular.desktop"). Empty when none exists.
std::string FileOfId(const std::string& applications, const std::string& id) {
  std::string relative = id;
  for (size_t dash = 0;; ++dash) {
    const std::string path = JoinPath(applications, relative);
    if (std::ifstream(path)) return path;
    dash = relative.find('-', dash);
    if (dash == std::string::npos) return {};
    relative[dash] = '/';
  }
}

// The desktop files (id -> path) of one "applications/" folder that may
// offer `mime_type`: every file at its top level, and those in sub-folders
// that its mimeinfo.cache names for the type.
std::map<std::string, std::string> DesktopFiles(const std::string& applications,
                                                std::string_view mime_type) {
  std::map<std::string, std::string> files;
  for (const std::string& path : ListDirectory(applications)) {
    if (path.ends_with(".desktop")) files.emplace(BaseName(path), path);
  }
  for (const std::string& id : CachedIds(applications, mime_type)) {
    if (files.count(id) || id.find("..") != std::string::npos) continue;
    std::string path = FileOfId(applications, id);
    if (!path.empty()) files.emplace(id, std::move(path));
  }
  return files;
}

}  // namespace

std::vector<DesktopApp> AppsForMimeType(std::string_view mime_type,
                                        const std::vector<std::string>& data_dirs) {
  std::map<std::string, DesktopApp> by_id;
  std::set<std::string> seen;
  for (const std::string& dir : data_dirs) {
    const std::string applications = JoinPath(dir, "applications");
    for (const auto& [id, path] : DesktopFiles(applications, mime_type)) {
      if (!seen.insert(id).second) continue;
      auto keys = ReadDesktopEntry(path);
      if (keys["Type"] != "Application" || keys["NoDisplay"] == "true" ||
          keys["Hidden"] == "true" || keys["Exec"].empty() ||
          !ListsValue(keys["MimeType"], mime_type)) {
        continue;
      }
      const std::string& local_name = keys["Name[zh_CN]"];
      by_id[id] = DesktopApp{id, Unescape(local_name.empty() ? keys["Name"] : local_name),
                             Unescape(keys["Exec"]), Unescape(keys["Icon"])};
    }
  }
  std::vector<DesktopApp> apps;
  for (auto& [id, app] : by_id) apps.push_back(std::move(app));
  return apps;
}

std::vector<std::string> ExecArguments(std::string_view exec, std::string_view name,
                                       const std::string& path) {
  std::vector<std::string> words;
  if (!SplitExec(exec, &words)) return {};
  std::vector<std::string> argv;
  bool file_given = false;
  for (const std::string& word : words) {
    // A word that is a file code alone becomes the path itself, whatever
    // blanks the path holds.
    if (word == "%f" || word == "%F" || word == "%u" || word == "%U") {
      argv.push_back(path);
      file_given = true;
      continue;
    }
    std::string out;
    bool dropped = false;
    for (size_t i = 0; i < word.size(); ++i) {
      if (word[i] != '%' || i + 1 == word.size()) {
        out += word[i];
        continue;
      }
      const char code = word[++i];
      if (code == '%') {
        out += '%';
      } else if (code == 'c') {
        out += name;
      } else if (std::string_view("fFuU").find(code) != std::string_view::npos) {
        out += path;
        file_given = true;
      } else {
        dropped = true;
      }
    }
    if (!out.empty() || !dropped) argv.push_back(std::move(out));
  }
  if (argv.empty()) return {};
  if (!file_given) argv.push_back(path);
  return argv;
}

bool LaunchDetached(const std::vector<std::string>& argv) {
  if (argv.empty() || argv[0].empty()) return false;
  std::vector<std::string> resolved = argv;
  if (resolved[0].find('/') == std::string::npos) {
    resolved[0] = FindProgram(resolved[0]);
    if (resolved[0].empty()) return false;
  }
  SpawnOptions options;
  options.new_process_group = true;
  pid_t pid = 0;
  if (SpawnProcess(resolved, options, &pid) != 0) return false;
  std::thread([pid] { waitpid(pid, nullptr, 0); }).detach();
  return true;
}

}  // namespace lun
