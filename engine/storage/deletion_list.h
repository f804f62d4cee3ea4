// DeletionList: the deleted record numbers of one table, sorted in memory
// and stored in the deletion file {T}.Del (deletion_format.h).
//
// Durability contract: a deletion is written (one 4-byte append) before
// Delete reports it, never held back in memory: a deletion lost by a crash
// would bring the deleted record back, for instance next to the newer
// record that replaced it. Sync makes the written deletions survive power
// loss too. A file rewritten whole (after numbers had to change) is
// replaced atomically.
//
// Repair contract (Load): numbers at or beyond the table's record count
// would delete records appended later, so they are dropped and the file is
// rewritten; a torn last entry is cut, since it would shift every later
// entry.
//
// Thread safety: none. The table serialises every call (its data lock).
#ifndef LUN_ENGINE_STORAGE_DELETION_LIST_H_
#define LUN_ENGINE_STORAGE_DELETION_LIST_H_

#include <cstdint>
#include <string>
#include <vector>

#include "engine/storage/engine_error.h"
#include "platform/file_system.h"

namespace lun {

class DeletionList {
 public:
  explicit DeletionList(FileSystem& fs) : fs_(fs) {}
  DeletionList(const DeletionList&) = delete;
  DeletionList& operator=(const DeletionList&) = delete;

  // Reads the deletions of a table of `record_count` records from `path`
  // (a missing file is an empty list). An unreadable file is logged and
  // read as an empty list; fails only when memory runs out.
  EngineStatus Load(const std::string& path, uint32_t record_count);
  // Closes the file and empties the list.
  void Close();

  enum class Outcome { kDeleted, kAlreadyDeleted, kRefused };
  // Adds `record` (which the caller knows to exist) and writes it to the
  // file; kRefused when the write or an allocation fails (nothing changes).
  Outcome Delete(uint32_t record);
  bool Contains(uint32_t record) const;
  // The deleted numbers, ascending.
  const std::vector<uint32_t>& records() const { return deleted_; }
  uint32_t size() const { return static_cast<uint32_t>(deleted_.size()); }

  // Renumbers the list for the removal of records [first, first + count):
  // those go, later ones move down by `count`. In memory only; true when
  // anything changed (then Rewrite stores it).
  bool RemoveRange(uint32_t first, uint32_t count);
  // Forgets the numbers at or beyond `record_count`, in memory only.
  void ForgetFrom(uint32_t record_count);
  // Replaces the file with the list as it is in memory.
  bool Rewrite();
  // Removes the file and every number: 0 or an errno value (a missing file
  // is success).
  int Clear();

  // Syncs the file when it is open: 0 or an errno value.
  int Sync();

 private:
  // Appends one entry to the file, opening it first when needed.
  bool Write(uint32_t record);

  FileSystem& fs_;
  std::string path_;
  std::vector<uint32_t> deleted_;  // sorted ascending, unique
  ScopedFd file_;
  uint64_t file_size_ = 0;  // bytes of whole entries in the file
};

}  // namespace lun

#endif  // LUN_ENGINE_STORAGE_DELETION_LIST_H_
