// ExactIndexSegment: one generation of an exact-value index (file layout in
// exact_index_format.h).
//
// Every record's normalised value is a key of the value trie; each key
// lists the records that hold it. A look-up by value gives those records in
// the order they were indexed.
//
// Writing: AddValue() takes one record into memory only; Flush() inserts
// the new keys into the trie, appends the record numbers to the record
// lists and syncs both files. The trie file is read through a read-only
// shared memory mapping and written only through the FileSystem inside
// Flush(): new nodes go beyond the used end of the file and an insertion
// becomes reachable by one 4-byte link written last, so a process killed at
// any point leaves a trie whose reachable part is whole; what a killed flush
// left behind is dropped by the table's index-write marker anyway.
//
// Reading: Lookup() sees stored and in-memory records. Damaged files give
// what can be read (logged), never a crash or an endless walk.
//
// Thread safety: as WordIndexSegment (writers serialised against all
// readers by the table lock; readers may run together).
#ifndef LUN_ENGINE_INDEX_EXACT_INDEX_SEGMENT_H_
#define LUN_ENGINE_INDEX_EXACT_INDEX_SEGMENT_H_

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/file_system.h"

namespace lun {

class ExactIndexSegment {
 public:
  ExactIndexSegment(const ExactIndexSegment&) = delete;
  ExactIndexSegment& operator=(const ExactIndexSegment&) = delete;
  ~ExactIndexSegment();

  // A new, empty generation; files are created at its first Flush().
  static std::unique_ptr<ExactIndexSegment> CreateNew(FileSystem& fs, const std::string& folder,
                                                      int definition, int generation,
                                                      uint32_t base);
  // Opens a stored generation; null with `*error` set when a file cannot be
  // opened or mapped or its header is damaged.
  static std::unique_ptr<ExactIndexSegment> OpenExisting(FileSystem& fs, const std::string& folder,
                                                         int definition, int generation,
                                                         uint32_t base, std::string* error);

  int generation() const { return generation_; }
  uint32_t base() const { return base_; }
  uint32_t records() const { return records_; }
  uint32_t record_counter() const { return base_ + records_; }
  uint32_t unflushed_records() const { return unflushed_; }

  // The key of `value`: normalised, cut at the first NUL and at
  // kMaxKeyUnits.
  static std::u16string KeyOf(std::u16string_view value);

  // Takes the next record with the value `raw` (not yet normalised).
  void AddValue(std::u16string_view raw);

  // Writes what is in memory and syncs. False on an I/O failure (logged).
  bool Flush();

  // The text the index took for a record's value (ValueText of the value
  // the table stores), read back to check the trie against the records.
  using StoredText = std::function<std::u16string(uint32_t record)>;

  // Appends the records holding exactly the normalised `value`: stored ones
  // in chain order, then unwritten ones. With `stored_text`, the stored leaf
  // the walk ends at (the value's own, or for an absent value the one that
  // agrees with it on every tested bit) is checked against its first
  // record: the trie carries no checksum, and a damaged key would otherwise
  // read as a value that is simply absent. A leaf that disagrees with its
  // record is damage (damaged()), and nothing stored is appended.
  void Lookup(std::u16string_view value, std::vector<uint32_t>* records,
              const StoredText* stored_text = nullptr) const;

  // True once a look-up found the stored data damaged (as
  // WordIndexSegment::damaged()).
  bool damaged() const { return damaged_.load(std::memory_order_relaxed); }

  // Consistency check for `lundb check` (see WordIndexSegment::Check).
  void Check(std::vector<std::string>* problems) const;

 private:
  ExactIndexSegment(FileSystem& fs, std::string folder, int definition, int generation,
                    uint32_t base);

  bool OpenFiles(bool create, std::string* error);
  bool MapTrie(uint64_t size);
  bool GrowTrie(uint64_t size);
  const uint8_t* Node(uint32_t offset, size_t bytes) const;
  uint32_t Root() const;
  // Walks the trie as `key` directs and gives the leaf the walk ends at
  // (0 for an empty trie); true when that leaf holds `key`. `*damaged` when
  // the walk met a node the format does not allow or a leaf that
  // contradicts the bits tested on the way to it.
  bool FindLeaf(const std::u16string& key, uint32_t* leaf, bool* damaged) const;
  // The first record of a stored leaf; false when it lists none yet.
  bool FirstRecordOf(const uint8_t* leaf, uint32_t* record, bool* damaged) const;
  // Inserts `key`, returning its leaf (new or existing); 0 on failure.
  uint32_t Insert(const std::u16string& key);
  bool AppendRecords(uint32_t leaf, const std::vector<uint32_t>& fresh);
  bool AllocatePage(uint32_t* page);
  // False when the chain is damaged (records then holds a partial list).
  bool ReadChain(uint32_t first, uint32_t count, std::vector<uint32_t>* records) const;
  bool ReadLeafRecords(const uint8_t* leaf, std::vector<uint32_t>* records) const;
  void NoteDamage() const;

  FileSystem& fs_;
  const std::string folder_;
  const int definition_;
  const int generation_;
  const uint32_t base_;

  ScopedFd trie_file_;
  ScopedFd list_file_;
  bool files_open_ = false;
  mutable std::atomic<bool> damaged_{false};
  uint8_t* map_ = nullptr;
  uint64_t mapped_size_ = 0;
  uint64_t used_size_ = 0;

  uint32_t next_free_page_ = 1;
  uint32_t file_pages_ = 1;
  uint32_t values_ = 0;
  uint32_t listed_ = 0;

  uint32_t records_ = 0;
  uint32_t unflushed_ = 0;

  struct PendingValue {
    std::u16string key;
    std::vector<uint32_t> records;
  };
  std::vector<PendingValue> pending_;  // in order of first appearance
  std::unordered_map<std::u16string, size_t> pending_index_;
};

}  // namespace lun

#endif  // LUN_ENGINE_INDEX_EXACT_INDEX_SEGMENT_H_
