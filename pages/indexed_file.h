// Opening a found file on behalf of a page (download, opening on the
// desktop): the one check that every such opener goes through.
//
// Pages name files by the paths the index holds. Between indexing and the
// click the file may have been swapped for a symbolic link to anything the
// user can read (a key, another account's shared file), or for another file.
// So a file is opened, read-only, without following a symbolic link in any
// component, and the opened file must
//   - be a regular file (or, for a folder, a directory),
//   - lie under a permitted root of the scan scope and not under a
//     forbidden path or a hidden component, judged on the path it really
//     has (a root that is itself reached through a link is allowed: the
//     components below it must match exactly),
//   - for a file, still be the indexed one: the live record of its path in
//     "文档" has its size and modification time (the record holds no device
//     or inode, so these two stand for them).
// The caller reads from the descriptor it gets, never reopens the path, so
// what was checked is what is sent.
//
// Thread safety: the functions are reentrant; the scope and the search
// service lock themselves.
#ifndef LUN_PAGES_INDEXED_FILE_H_
#define LUN_PAGES_INDEXED_FILE_H_

#include <string>
#include <string_view>

namespace lun {

class ScanScope;
class SearchService;

enum class FileCheck {
  kOk,
  kMissing,       // nothing at the path, or not an absolute path
  kSymbolicLink,  // the path or one of its folders is a symbolic link
  kNotRegular,    // a device, a pipe, a folder where a file was expected
  kOutsideRoots,  // not under a permitted root, or forbidden
  kNotIndexed,    // no live record of the path
  kChanged,       // size or modification time differ from the record
};

// What the user is told when a file is refused; "" for kOk.
std::string_view FileCheckMessage(FileCheck check);

enum class FileRole { kIndexedFile, kFolder };

// Opens `path` as described above. On kOk `*fd` is the open descriptor
// (O_RDONLY, close-on-exec), which the caller closes; otherwise -1.
// `scope` null permits no root; `search` null finds no record.
FileCheck OpenIndexedFile(const std::string& path, FileRole role, const ScanScope* scope,
                          SearchService* search, int* fd);

}  // namespace lun

#endif  // LUN_PAGES_INDEXED_FILE_H_
