// The buffer pool: a small per-table cache of evaluated results, so that a
// repeated search (paging through results re-runs the query) skips the
// index look-ups. Off unless "启用缓冲池" contains "是"; "缓冲池大小" entries
// per table (1-100, default 100).
//
// An entry holds a key made from the postfix token list and its result in a
// file of its own in the pool's folder:
//
//   offset  size     content
//   0       4        N, the number of records
//   4       4        1 when weights follow, else 0
//   8       4 x N    record numbers, ascending
//   8+4N    4 x N    weights (only when flagged)
//   all little-endian.
//
// Entries are probed from a start position derived from the key's length.
// Each entry has its own gate: a look-up holds it shared (never waiting), a
// store exclusively.
//
// Keys also carry the table's record count, its number of deleted records
// and the "in all" flag, so a result stored before an append or a deletion,
// or for the other deletion mode, is never served.
//
// Thread safety: Lookup and Store may be called from any number of threads.
#ifndef LUN_ENGINE_QUERY_BUFFER_POOL_H_
#define LUN_ENGINE_QUERY_BUFFER_POOL_H_

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/query/query_token.h"
#include "engine/query/result_set.h"

namespace lun {

class SettingsStore;

struct BufferPoolSettings {
  size_t size = 0;  // entries per table; 0: the pool is off
  std::chrono::milliseconds validity{std::chrono::seconds(1000000)};
  std::string folder;  // this run's folder; tables get sub-folders
  // Reads "启用缓冲池", "缓冲池大小", "缓冲有效时间" and "缓冲路径" (default:
  // the temporary directory) and prepares a fresh folder for this run:
  // the pool folder "8C30FD34-BAC0-4e9e-BA5C-F2A595A2850F" is emptied and a
  // new UUID folder is made inside it.
  static BufferPoolSettings From(const SettingsStore& settings);
};

// The cache key of a postfix list, or nullopt when it would be longer than
// 1023 characters (such results are not cached).
std::optional<std::u16string> BufferPoolKey(const TokenList& postfix, bool in_all,
                                            uint32_t record_count, uint32_t deleted_count);

class BufferPool {
 public:
  // `folder` is created when missing.
  BufferPool(std::string folder, size_t size, std::chrono::milliseconds validity);
  ~BufferPool();
  BufferPool(const BufferPool&) = delete;
  BufferPool& operator=(const BufferPool&) = delete;

  // Fills `*result` and returns true when an entry holds `key`.
  bool Lookup(const std::u16string& key, ResultSet* result);
  // Stores `result` under `key` in an empty or expired entry, else in the
  // entry at the key's start position.
  void Store(const std::u16string& key, const ResultSet& result);

 private:
  struct Entry;
  size_t StartPosition(const std::u16string& key) const;

  std::string folder_;
  std::chrono::milliseconds validity_;
  std::vector<std::unique_ptr<Entry>> entries_;
};

}  // namespace lun

#endif  // LUN_ENGINE_QUERY_BUFFER_POOL_H_
