#include "engine/index/posting_cache.h"

#include <atomic>

namespace lun {

PostingCache& PostingCache::Shared() {
  // Never destroyed: generations owned by static objects may still forget
  // their entries while the process exits.
  static PostingCache* const cache = new PostingCache(kDefaultBudget);
  return *cache;
}

uint64_t PostingCache::NewOwner() {
  static std::atomic<uint64_t> next{1};
  return next.fetch_add(1, std::memory_order_relaxed);
}

std::shared_ptr<const SeekableList> PostingCache::Find(uint64_t owner, uint32_t key) {
  std::lock_guard lock(mutex_);
  const auto it = entries_.find({owner, key});
  if (it == entries_.end()) return nullptr;
  recent_.splice(recent_.begin(), recent_, it->second.use);
  return it->second.list;
}

void PostingCache::Insert(uint64_t owner, uint32_t key, std::shared_ptr<const SeekableList> list) {
  if (!list) return;
  const size_t size = list->memory_bytes() + sizeof(Entry) + sizeof(Key);
  if (size > budget_) return;
  std::lock_guard lock(mutex_);
  if (const auto old = entries_.find({owner, key}); old != entries_.end()) EraseLocked(old);
  while (bytes_ + size > budget_ && !recent_.empty()) EraseLocked(entries_.find(recent_.back()));
  recent_.push_front({owner, key});
  entries_[{owner, key}] = Entry{std::move(list), size, recent_.begin()};
  bytes_ += size;
}

void PostingCache::Forget(uint64_t owner) {
  std::lock_guard lock(mutex_);
  auto it = entries_.lower_bound({owner, 0});
  while (it != entries_.end() && it->first.first == owner) {
    const auto next = std::next(it);
    EraseLocked(it);
    it = next;
  }
}

void PostingCache::EraseLocked(std::map<Key, Entry>::iterator it) {
  bytes_ -= it->second.bytes;
  recent_.erase(it->second.use);
  entries_.erase(it);
}

size_t PostingCache::bytes() const {
  std::lock_guard lock(mutex_);
  return bytes_;
}

size_t PostingCache::entries() const {
  std::lock_guard lock(mutex_);
  return entries_.size();
}

}  // namespace lun
