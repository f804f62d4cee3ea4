// PostingCache: the process-wide, bounded cache of stored position lists
// prepared for probing (SeekableList), shared by every word-index
// generation.
//
// Long lists of frequent characters are read and checked once and then
// probed by many look-ups; reading and checking them again for every
// look-up would cost more than the probing itself. Entries belong to an
// owner (one generation) and are dropped when the owner's stored lists
// change (its Flush) or the owner goes away. When the entries exceed the
// budget, the least recently used ones leave; a list larger than the whole
// budget is never kept. Lists handed out stay valid for their holder after
// they leave the cache.
//
// Thread safety: every member may be called from any thread.
#ifndef LUN_ENGINE_INDEX_POSTING_CACHE_H_
#define LUN_ENGINE_INDEX_POSTING_CACHE_H_

#include <cstddef>
#include <cstdint>
#include <list>
#include <map>
#include <memory>
#include <mutex>

#include "engine/index/packed_list.h"

namespace lun {

class PostingCache {
 public:
  // 128 MiB: the lists that a session's English queries need on a 400 MB
  // text corpus fit (with 64 MiB they left and came back at every other
  // query there: "of the" took 1.8 s instead of 0.4 s at the median), and a
  // query process stays near 100 MB there. On a 100 MB corpus every letter's
  // list fits in half of it.
  static constexpr size_t kDefaultBudget = size_t{128} << 20;

  explicit PostingCache(size_t budget_bytes) : budget_(budget_bytes) {}
  PostingCache(const PostingCache&) = delete;
  PostingCache& operator=(const PostingCache&) = delete;

  // The cache all word-index generations use.
  static PostingCache& Shared();
  // A fresh owner number (never handed out twice in a process).
  static uint64_t NewOwner();

  // The list stored for (owner, key), or null.
  std::shared_ptr<const SeekableList> Find(uint64_t owner, uint32_t key);
  // Keeps `list` for (owner, key), replacing an earlier one, and evicts the
  // least recently used entries beyond the budget.
  void Insert(uint64_t owner, uint32_t key, std::shared_ptr<const SeekableList> list);
  // Drops every entry of `owner`.
  void Forget(uint64_t owner);

  size_t bytes() const;
  size_t entries() const;

 private:
  using Key = std::pair<uint64_t, uint32_t>;
  struct Entry {
    std::shared_ptr<const SeekableList> list;
    size_t bytes = 0;
    std::list<Key>::iterator use;  // place in `recent_`
  };

  void EraseLocked(std::map<Key, Entry>::iterator it);

  const size_t budget_;
  mutable std::mutex mutex_;
  std::map<Key, Entry> entries_;
  std::list<Key> recent_;  // most recently used first
  size_t bytes_ = 0;
};

}  // namespace lun

#endif  // LUN_ENGINE_INDEX_POSTING_CACHE_H_
