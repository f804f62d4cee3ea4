// Folder helpers of the storage layer. Changes go through the FileSystem seam
// (mkdir, unlink); listing and removing empty folders use the C++ library,
// since the seam has no directory reads (they change nothing).
#ifndef LUN_ENGINE_STORAGE_STORAGE_FILES_H_
#define LUN_ENGINE_STORAGE_STORAGE_FILES_H_

#include <string>
#include <vector>

namespace lun {

class FileSystem;

// True when `path` names an existing file or folder.
bool PathExists(const std::string& path);
// Creates `path` and its missing parents. 0 or an errno value.
int MakeFolders(FileSystem& fs, const std::string& path);
// Deletes `path` with everything below it; a missing path is success.
// 0 or the first errno value met (the rest is still attempted).
int RemoveTree(FileSystem& fs, const std::string& path);
// Names of the regular files directly inside `folder` (empty when it cannot
// be read).
std::vector<std::string> ListFiles(const std::string& folder);

}  // namespace lun

#endif  // LUN_ENGINE_STORAGE_STORAGE_FILES_H_
