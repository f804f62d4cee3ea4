#include "pages/indexed_file.h"

#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <memory>

#include "crawler/document_table.h"
#include "crawler/scan_scope.h"
#include "engine/query/query_escape.h"
#include "engine/query/recordset.h"
#include "engine/query/search_service.h"
#include "engine/storage/engine_error.h"
#include "platform/path_text.h"
#include "platform/text.h"

namespace lun {
namespace {

// A record's modification time is a date value (days); the file's, seconds.
// Half a second either way absorbs the rounding of the conversion.
constexpr double kSameTimeDays = 0.5 / 86400.0;

bool IsUnder(std::string_view path, std::string_view dir) {
  if (dir.empty() || path.substr(0, dir.size()) != dir) return false;
  return path.size() == dir.size() || dir.back() == '/' || path[dir.size()] == '/';
}

// The path the descriptor really has, with every link resolved.
std::string RealPathOf(int fd) {
  char link[PATH_MAX];
  const std::string proc = "/proc/self/fd/" + std::to_string(fd);
  const ssize_t n = readlink(proc.c_str(), link, sizeof link);
  return n > 0 && static_cast<size_t>(n) < sizeof link ? std::string(link, static_cast<size_t>(n))
                                                       : std::string();
}

std::string RealPath(const std::string& path) {
  std::unique_ptr<char, decltype(&free)> real(realpath(path.c_str(), nullptr), &free);
  return real ? std::string(real.get()) : std::string();
}

// Where `path` stands towards the permitted roots, given the path `real` that
// its descriptor has.
FileCheck PlaceOf(const std::string& path, const std::string& real, const ScanScope* scope) {
  if (scope == nullptr || scope->IsFileExcluded(path) || scope->IsFileExcluded(real)) {
    return FileCheck::kOutsideRoots;
  }
  bool under_a_root = false;
  for (std::string root : scope->PermittedRoots()) {
    while (root.size() > 1 && root.back() == '/') root.pop_back();
    if (!IsUnder(path, root)) continue;
    under_a_root = true;
    // Below the root every component must be the one named: a link there
    // (or a "..") makes the real path differ.
    const std::string real_root = RealPath(root);
    if (real_root.empty()) continue;
    const std::string rest = path.substr(root.size());
    const bool root_is_slash = real_root == "/" && rest.starts_with('/');
    if (real == (root_is_slash ? rest : real_root + rest)) return FileCheck::kOk;
  }
  return under_a_root ? FileCheck::kSymbolicLink : FileCheck::kOutsideRoots;
}

// Whether the live record of `path` describes the file of `st`.
FileCheck MatchRecord(const std::string& path, const struct stat& st, SearchService* search) {
  if (search == nullptr) return FileCheck::kNotIndexed;
  std::unique_ptr<Recordset> rs;
  const std::string query =
      std::string("[") + kDocumentTable + "]:" + doc::kPath + "=" + EscapeQueryText(path);
  if (search->Search(query, &rs) != kEngineOk || !rs) return FileCheck::kNotIndexed;
  const int path_column = rs->FindColumn(doc::kPath);
  const int size_column = rs->FindColumn(doc::kSize);
  const int modified_column = rs->FindColumn(doc::kModified);
  if (path_column < 0 || size_column < 0 || modified_column < 0) return FileCheck::kNotIndexed;
  const std::u16string wide_path = ToWide(path);
  const double modified = FileTimeToDate(st.st_mtime);
  FileCheck found = FileCheck::kNotIndexed;
  for (rs->MoveFirst(); !rs->IsEOF(); rs->MoveNext()) {
    // The path index compares normalised text; "A.txt" and "a.txt" are two
    // files here.
    if (rs->Value(path_column).AsString() != wide_path) continue;
    found = FileCheck::kChanged;
    const bool same_size = static_cast<uint32_t>(rs->Value(size_column).AsInteger()) ==
                           static_cast<uint32_t>(st.st_size);
    const bool same_time =
        std::fabs(rs->Value(modified_column).AsDouble() - modified) < kSameTimeDays;
    if (same_size && same_time) return FileCheck::kOk;
  }
  return found;
}

}  // namespace

std::string_view FileCheckMessage(FileCheck check) {
  switch (check) {
    case FileCheck::kOk:
      return "";
    case FileCheck::kMissing:
      return "文件已不存在。";
    case FileCheck::kSymbolicLink:
      return "文件或它所在的目录已被换成符号链接，为了安全不能打开或下载。";
    case FileCheck::kNotRegular:
      return "这不是一个普通文件。";
    case FileCheck::kOutsideRoots:
      return "文件不在允许扫描的目录中。";
    case FileCheck::kNotIndexed:
      return "这个文件不在索引中。";
    case FileCheck::kChanged:
      return "文件在建立索引之后已被修改或替换，请等索引更新之后再试。";
  }
  return "";
}

FileCheck OpenIndexedFile(const std::string& path, FileRole role, const ScanScope* scope,
                          SearchService* search, int* fd) {
  *fd = -1;
  if (path.empty() || path.front() != '/') return FileCheck::kMissing;
  // The page names the file by its text; the disk knows it by its bytes.
  const std::string disk_path = PathOnDisk(path);
  // O_NONBLOCK: opening a FIFO put in the file's place must not hang the page.
  int flags = O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
  if (role == FileRole::kFolder) flags |= O_DIRECTORY;
  const int opened = open(disk_path.c_str(), flags);
  if (opened < 0) {
    if (errno == ELOOP) return FileCheck::kSymbolicLink;
    if (errno == ENOTDIR && role == FileRole::kFolder) return FileCheck::kNotRegular;
    return FileCheck::kMissing;
  }
  struct stat st {};
  FileCheck check = FileCheck::kOk;
  if (fstat(opened, &st) != 0) {
    check = FileCheck::kMissing;
  } else if (role == FileRole::kIndexedFile ? !S_ISREG(st.st_mode) : !S_ISDIR(st.st_mode)) {
    check = FileCheck::kNotRegular;
  } else {
    check = PlaceOf(disk_path, RealPathOf(opened), scope);
  }
  if (check == FileCheck::kOk && role == FileRole::kIndexedFile) {
    check = MatchRecord(path, st, search);
  }
  if (check != FileCheck::kOk) {
    close(opened);
    return check;
  }
  fcntl(opened, F_SETFL, fcntl(opened, F_GETFL) & ~O_NONBLOCK);
  *fd = opened;
  return FileCheck::kOk;
}

}  // namespace lun
