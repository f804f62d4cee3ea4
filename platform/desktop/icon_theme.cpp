#include "platform/desktop/icon_theme.h"

#include <fnmatch.h>

#include <array>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "platform/file_system.h"
#include "platform/paths.h"

namespace lun {
namespace {

constexpr std::array<const char*, 2> kThemes = {"Adwaita", "hicolor"};
constexpr std::array<const char*, 9> kSizes = {"32x32", "48x48", "24x24",   "16x16",  "64x64",
                                               "22x22", "96x96", "128x128", "256x256"};

// The lines of the first "mime/<name>" found in the data directories.
std::vector<std::string> MimeFileLines(std::string_view name,
                                       const std::vector<std::string>& data_dirs) {
  for (const std::string& dir : data_dirs) {
    std::ifstream in(JoinPath(JoinPath(dir, "mime"), name));
    if (!in) continue;
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
      if (!line.empty() && line[0] != '#') lines.push_back(line);
    }
    return lines;
  }
  return {};
}

// The value of "key:value" lines of a MIME file for `key`; empty if none.
std::string LookUpColonFile(std::string_view file, std::string_view key,
                            const std::vector<std::string>& data_dirs) {
  for (const std::string& line : MimeFileLines(file, data_dirs)) {
    const size_t colon = line.find(':');
    if (colon != std::string::npos && std::string_view(line).substr(0, colon) == key) {
      return line.substr(colon + 1);
    }
  }
  return {};
}

void AddName(std::vector<std::string>* names, std::string name) {
  if (name.empty()) return;
  for (const std::string& n : *names) {
    if (n == name) return;
  }
  names->push_back(std::move(name));
}

}  // namespace

std::vector<std::string> XdgDataDirs() {
  std::vector<std::string> dirs;
  const char* home_data = std::getenv("XDG_DATA_HOME");
  const char* home = std::getenv("HOME");
  if (home_data && *home_data) {
    dirs.push_back(home_data);
  } else if (home && *home) {
    dirs.push_back(JoinPath(home, ".local/share"));
  }
  const char* data_dirs = std::getenv("XDG_DATA_DIRS");
  std::string list = data_dirs && *data_dirs ? data_dirs : "/usr/local/share:/usr/share";
  std::stringstream pieces(list);
  for (std::string dir; std::getline(pieces, dir, ':');) {
    if (!dir.empty()) dirs.push_back(dir);
  }
  return dirs;
}

std::string MimeTypeOf(const std::string& path, const std::vector<std::string>& data_dirs) {
  if (IsDirectory(path)) return kDirectoryMimeType;
  const std::string name = BaseName(path);
  std::string best;
  long best_weight = -1;
  size_t best_length = 0;
  // "weight:type:glob[:flags]"
  for (const std::string& line : MimeFileLines("globs2", data_dirs)) {
    const size_t first = line.find(':');
    const size_t second = first == std::string::npos ? first : line.find(':', first + 1);
    if (second == std::string::npos) continue;
    const size_t third = line.find(':', second + 1);
    const std::string glob = line.substr(
        second + 1, third == std::string::npos ? std::string::npos : third - second - 1);
    const bool case_sensitive =
        third != std::string::npos && line.find("cs", third) != std::string::npos;
    if (fnmatch(glob.c_str(), name.c_str(), case_sensitive ? 0 : FNM_CASEFOLD) != 0) continue;
    const long weight = std::strtol(line.c_str(), nullptr, 10);
    if (weight > best_weight || (weight == best_weight && glob.size() > best_length)) {
      best = line.substr(first + 1, second - first - 1);
      best_weight = weight;
      best_length = glob.size();
    }
  }
  return best.empty() ? kUnknownMimeType : best;
}

std::vector<std::string> MimeIconNames(std::string_view mime_type,
                                       const std::vector<std::string>& data_dirs) {
  std::vector<std::string> names;
  AddName(&names, LookUpColonFile("icons", mime_type, data_dirs));
  std::string dashed(mime_type);
  for (char& c : dashed) {
    if (c == '/') c = '-';
  }
  AddName(&names, dashed);
  AddName(&names, LookUpColonFile("generic-icons", mime_type, data_dirs));
  const size_t slash = mime_type.find('/');
  if (slash != std::string_view::npos) {
    AddName(&names, std::string(mime_type.substr(0, slash)) + "-x-generic");
  }
  return names;
}

std::string FindThemeIcon(const std::vector<std::string>& names, std::string_view context,
                          const std::vector<std::string>& data_dirs) {
  for (const std::string& name : names) {
    if (name.empty() || name.find("..") != std::string::npos) continue;
    if (name.front() == '/') {
      if (name.ends_with(".png") && IsRegularFile(name)) return name;
      continue;
    }
    const std::string file = name + ".png";
    for (const char* theme : kThemes) {
      for (const char* size : kSizes) {
        for (const std::string& dir : data_dirs) {
          std::string path = JoinPath(
              JoinPath(JoinPath(JoinPath(JoinPath(dir, "icons"), theme), size), context), file);
          if (IsRegularFile(path)) return path;
        }
      }
    }
    for (const std::string& dir : data_dirs) {
      std::string path = JoinPath(JoinPath(dir, "pixmaps"), file);
      if (IsRegularFile(path)) return path;
    }
  }
  return {};
}

std::string_view FallbackIconPng() {
  static constexpr char kPng[] =
      "\x89\x50\x4E\x47\x0D\x0A\x1A\x0A\x00\x00\x00\x0D\x49\x48\x44\x52\x00\x00\x00\x10\x00\x00"
      "\x00\x10\x08\x06\x00\x00\x00\x1F\xF3\xFF\x61\x00\x00\x00\x32\x49\x44\x41\x54\x78\xDA\x63"
      "\x60\xA0\x26\x48\x48\x48\xF8\x8F\x0B\x13\x6D\x00\x36\x40\xB4\x21\xF8\x0C\x80\xD1\x14\xB9"
      "\x80\xA0\x4B\x70\x19\x80\x6E\xD8\xA8\x01\xA3\x06\x10\x34\x80\x18\x4C\xD5\x1C\x0C\x00\xE8"
      "\xAD\xC0\x42\xCC\xCB\x6C\x2D\x00\x00\x00\x00\x49\x45\x4E\x44\xAE\x42\x60\x82";
  return std::string_view(kPng, sizeof(kPng) - 1);
}

std::string IconPngOrFallback(const std::string& icon_path) {
  std::string bytes;
  if (icon_path.empty() || ReadWholeFile(DefaultFileSystem(), icon_path, &bytes) != 0 ||
      bytes.empty()) {
    return std::string(FallbackIconPng());
  }
  return bytes;
}

}  // namespace lun
