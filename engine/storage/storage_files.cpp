#include "engine/storage/storage_files.h"

#include <cerrno>
#include <filesystem>
#include <system_error>

#include "platform/file_system.h"
#include "platform/paths.h"

namespace lun {

bool PathExists(const std::string& path) {
  std::error_code ec;
  return std::filesystem::exists(std::filesystem::symlink_status(path, ec)) && !ec;
}

int MakeFolders(FileSystem& fs, const std::string& path) {
  if (path.empty()) return ENOENT;
  std::error_code ec;
  if (std::filesystem::is_directory(path, ec)) return 0;
  const std::string parent = DirName(path);
  if (parent != path && parent != "." && parent != "/") {
    if (const int rc = MakeFolders(fs, parent)) return rc;
  }
  const int rc = fs.MakeDirectory(path, 0755);
  return rc == EEXIST && std::filesystem::is_directory(path, ec) ? 0 : rc;
}

int RemoveTree(FileSystem& fs, const std::string& path) {
  std::error_code ec;
  const auto status = std::filesystem::symlink_status(path, ec);
  if (ec || !std::filesystem::exists(status)) return 0;
  if (!std::filesystem::is_directory(status)) return fs.Unlink(path);
  int first = 0;
  std::vector<std::string> children;
  for (const auto& entry : std::filesystem::directory_iterator(path, ec)) {
    children.push_back(entry.path().string());
  }
  if (ec) first = ec.value();
  for (const std::string& child : children) {
    const int rc = RemoveTree(fs, child);
    if (first == 0) first = rc;
  }
  std::filesystem::remove(path, ec);
  if (ec && first == 0) first = ec.value();
  return first;
}

std::vector<std::string> ListFiles(const std::string& folder) {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
    std::error_code type_ec;
    if (entry.is_regular_file(type_ec)) names.push_back(entry.path().filename().string());
  }
  return names;
}

}  // namespace lun
