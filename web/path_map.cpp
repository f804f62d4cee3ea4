#include "web/path_map.h"

#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <memory>
#include <vector>

namespace lun {
namespace {

// realpath(3) as a string; empty when the path cannot be resolved.
std::string RealPath(const std::string& path) {
  std::unique_ptr<char, decltype(&free)> resolved(realpath(path.c_str(), nullptr), &free);
  return resolved ? std::string(resolved.get()) : std::string();
}

}  // namespace

bool SplitTargetPath(std::string_view path, std::vector<std::string>* components) {
  components->clear();
  if (path.find('\0') != std::string_view::npos) return false;
  std::string text(path);
  for (char& c : text) {
    if (c == '\\') c = '/';
  }
  // A target that does not start with "/" would be taken relative to the
  // process's working directory; there is no such base for a web request.
  if (text.empty() || text.front() != '/') return false;
  std::string_view rest = text;
  while (!rest.empty()) {
    const size_t slash = rest.find('/');
    const std::string_view component = rest.substr(0, slash);
    rest = slash == std::string_view::npos ? std::string_view{} : rest.substr(slash + 1);
    if (component.empty() || component == ".") continue;  // "//" and "/./" name the same place
    if (component == "..") {
      if (!components->empty()) components->pop_back();
      continue;
    }
    components->emplace_back(component);
  }
  return true;
}

MappedPath MapPath(std::string_view web_root, std::string_view path, std::string* query_string) {
  MappedPath mapped;
  std::vector<std::string> kept;
  if (!SplitTargetPath(path, &kept)) return mapped;

  std::string built(web_root);
  while (!built.empty() && built.back() == '/') built.pop_back();
  bool file_reached = false;
  for (const std::string& component : kept) {
    if (file_reached) {
      if (!query_string->empty()) query_string->push_back('&');
      query_string->append(component);
      continue;
    }
    built.push_back('/');
    built.append(component);
    struct stat st;
    if (stat(built.c_str(), &st) == 0 && !S_ISDIR(st.st_mode)) file_reached = true;
  }
  if (built.empty()) built = "/";
  struct stat st;
  if (stat(built.c_str(), &st) != 0) return mapped;
  mapped.found = true;
  mapped.is_directory = S_ISDIR(st.st_mode);
  if (mapped.is_directory && built.back() != '/') built.push_back('/');
  mapped.path = std::move(built);
  return mapped;
}

bool IsUnderRoot(std::string_view web_root, std::string_view path) {
  const std::string root = RealPath(std::string(web_root));
  const std::string resolved = RealPath(std::string(path));
  if (root.empty() || resolved.empty()) return false;
  if (resolved.compare(0, root.size(), root) != 0) return false;
  return resolved.size() == root.size() || resolved[root.size()] == '/' || root == "/";
}

}  // namespace lun
