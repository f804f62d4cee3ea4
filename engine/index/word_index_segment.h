// WordIndexSegment: one generation of a word index (file layout in
// word_index_format.h).
//
// A word index records, for every normalised UTF-16 code unit that is not a
// separator, the ascending positions at which it occurs; a record boundary
// list maps positions back to records. Records of a generation are numbered
// implicitly: record i (from 1) of a generation with base b is table record
// b + i - 1, and owns the positions strictly between boundary i - 1 and
// boundary i. One unused position separates consecutive records, and
// separators use up their positions, so no phrase matches across either.
//
// Writing: AddText() takes one record into memory only; Flush() writes
// everything taken since the last flush and syncs the three files. Nothing
// else writes. The files of a new generation are created by its first
// Flush(), so an unflushed generation leaves nothing on disk.
//
// Reading: PositionCount/ReadPositions/Positions/RecordsOf see the stored
// lists plus what is still in memory. Damaged stored data is logged
// ("读取索引信息错误") and read as nothing or as far as it goes; it never
// crashes or loops.
//
// Thread safety: the owner serialises writers (AddText, Flush) against
// everything else (the table's write lock); readers may run concurrently
// with one another (the table's read lock).
#ifndef LUN_ENGINE_INDEX_WORD_INDEX_SEGMENT_H_
#define LUN_ENGINE_INDEX_WORD_INDEX_SEGMENT_H_

#include <atomic>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "engine/index/char_filter.h"
#include "engine/index/packed_list.h"
#include "platform/file_system.h"

namespace lun {

// How a phrase must sit in a record's value (the query's anchors).
enum class MatchForm {
  kOccurrence,  // anywhere; counted per occurrence
  kWhole,       // the whole value
  kStartsWith,  // at the start of the value
  kEndsWith,    // at the end of the value
};

// What a segment files its positions under: each normalised character (the
// word index: ".Ix", ".Ha", ".RL"), or the letter grams of letter_grams.h
// (the gram index beside it, the same layout: ".Tx", ".Ta", ".TL" for
// trigrams, ".Bx", ".Ba", ".BL" for bigrams).
enum class SegmentKeys { kCharacters, kLetterGrams };

// Paths of one generation's files: "<folder>/D<n>.<ext><g>".
std::string IndexFilePath(const std::string& folder, int definition, const char* ext,
                          int generation);

class WordIndexSegment {
 public:
  WordIndexSegment(const WordIndexSegment&) = delete;
  WordIndexSegment& operator=(const WordIndexSegment&) = delete;
  ~WordIndexSegment();

  // A new, empty generation; its files are created (truncated if stale ones
  // exist) at its first Flush(). `fs` and `filter` must outlive it.
  static std::unique_ptr<WordIndexSegment> CreateNew(FileSystem& fs, const CharFilter& filter,
                                                     const std::string& folder, int definition,
                                                     int generation, uint32_t base,
                                                     SegmentKeys keys = SegmentKeys::kCharacters);

  // Opens a stored generation. Null when a file cannot be opened or its
  // header or boundary list is damaged; `*error` then says which (the
  // message of the engine log). The term directory is not read here: damage
  // in it is found (and noted, see damaged()) by the look-up that reads the
  // entry, the first flush, which reads it whole, or Check().
  static std::unique_ptr<WordIndexSegment> OpenExisting(
      FileSystem& fs, const CharFilter& filter, const std::string& folder, int definition,
      int generation, uint32_t base, std::string* error,
      SegmentKeys keys = SegmentKeys::kCharacters);

  // The file extension (without the generation) of file 0 (postings), 1
  // (directory) or 2 (boundaries) of segments keyed by `keys`.
  static const char* FileExtension(SegmentKeys keys, int file);

  int generation() const { return generation_; }
  uint32_t base() const { return base_; }
  // Base plus the records taken (stored and in memory).
  uint32_t record_counter() const { return base_ + records_; }
  uint32_t records() const { return records_; }
  uint32_t unflushed_records() const { return unflushed_; }
  uint32_t position_counter() const { return position_; }

  // True when a value of `length` code units still fits the 32-bit
  // position space of this generation.
  bool HasRoomFor(size_t length) const { return uint64_t{position_} + length + 1 <= 0xFFFFFFFFu; }

  // Takes the next record with the text `raw` (not yet normalised; the
  // empty view for an empty or missing value). Precondition:
  // HasRoomFor(raw.size()).
  void AddText(std::u16string_view raw);

  // Writes what is in memory and syncs the files. False on an I/O failure
  // or damaged stored data (logged); the segment then must be rebuilt.
  bool Flush();

  // Stored plus in-memory positions of `c`.
  uint32_t PositionCount(char16_t c) const;
  // Appends the positions of `c` (stored, then in memory), ascending.
  // False when the stored list is damaged (logged; nothing appended).
  bool ReadPositions(char16_t c, std::vector<uint32_t>* out) const;
  // The stored list of `c` ready for probing (kept in PostingCache::Shared()
  // across look-ups until the next Flush when it is long); null when `c` has
  // no stored positions. False when the stored list is damaged (logged).
  bool StoredList(char16_t c, std::shared_ptr<const SeekableList>* out) const;
  // The positions of `c` taken since the last Flush, all above the stored
  // ones. Valid until the next AddText or Flush.
  std::span<const uint32_t> PendingPositions(char16_t c) const {
    return pending_.empty() ? std::span<const uint32_t>() : std::span<const uint32_t>(pending_[c]);
  }
  // The same as one packed list (stored list continued with the in-memory
  // positions). False when `c` has no positions or the list is damaged.
  bool Positions(char16_t c, std::vector<uint8_t>* packed) const;

  // Maps `positions` (ascending) of one character of a phrase that has `b`
  // characters before it and `a` after it to the records that hold the
  // whole phrase in `form`. Appends ascending record numbers, and for
  // kOccurrence the number of occurrences per record (1 per record for the
  // anchored forms) to `counts`.
  void RecordsOf(std::span<const uint32_t> positions, uint32_t b, uint32_t a, MatchForm form,
                 std::vector<uint32_t>* records, std::vector<uint32_t>* counts) const;

  // Records whose value is at least (or, for kWhole, exactly) `length` code
  // units long, with the number of non-overlapping places a phrase of that
  // length fits: the look-up of a phrase made only of wildcards.
  void RecordsOfLength(uint32_t length, MatchForm form, std::vector<uint32_t>* records,
                       std::vector<uint32_t>* counts) const;

  // The decoded boundary list (record starts, then the position counter).
  const std::vector<uint32_t>& boundaries() const { return boundaries_; }

  // True once a read found the stored data damaged. The generation is then
  // never trusted again: look-ups read its records' stored text instead, and
  // the table rebuilds the index from the records (at its next index write,
  // else at its next open: finding damage leaves the index-write marker).
  bool damaged() const { return damaged_.load(std::memory_order_relaxed); }

  // Consistency check of the stored files for `lundb check`: every stored
  // list decodes within its bounds and counts, runs lie inside the file,
  // chains end. Appends a line per problem to `problems`.
  void Check(std::vector<std::string>* problems) const;

 private:
  struct TermEntry {
    uint32_t first_run = 0;
    uint32_t total_length = 0;
    uint32_t count = 0;
    uint32_t last_run = 0;
    uint32_t last_run_bytes = 0;
    uint32_t last = 0;
    uint8_t k = 0;
    uint8_t tail_bits = 0;
    uint8_t last_byte = 0;
  };

  WordIndexSegment(FileSystem& fs, const CharFilter& filter, std::string folder, int definition,
                   int generation, uint32_t base, SegmentKeys keys);

  bool OpenFiles(bool create, std::string* error);
  // Decodes a stored directory entry; false when it is damaged.
  static bool DecodeEntry(const uint8_t* p, TermEntry* e);
  // The entry of `c`: from directory_ once loaded, else read from the
  // ".Ha" file. False for a damaged entry (noted; `*e` is then empty).
  bool Entry(uint32_t c, TermEntry* e) const;
  // The whole stored directory, checked against the files.
  bool ReadDirectory(std::vector<TermEntry>* out) const;
  // Loads directory_ (a writer's first flush); false means damage.
  bool LoadDirectory();
  // Bounds of a stored directory (see the .cpp); false means damage.
  bool DirectoryFitsFiles(const std::vector<TermEntry>& directory) const;
  bool EntryFitsFiles(const TermEntry& e) const;
  // Bytes of list data the pages in use can hold.
  uint64_t StoredDataLimit() const;
  bool ReadChain(const TermEntry& e, std::vector<uint8_t>* out) const;
  // Marks the generation damaged; the first time logs it and leaves the
  // index-write marker in the folder.
  void NoteDamage() const;
  bool FlushTerm(char16_t c, std::vector<uint32_t>& fresh);
  uint32_t MinimumRun(const TermEntry& e, uint32_t new_count) const;
  bool AllocateRun(uint32_t pages, uint32_t* page);
  bool WriteNewRun(uint32_t pages, std::span<const uint8_t> data, uint32_t* page, size_t* put);
  bool WriteChain(uint32_t run, uint64_t offset, std::span<const uint8_t> data, uint32_t min_run,
                  TermEntry* e);
  bool LocateInChain(const TermEntry& e, uint64_t offset, uint32_t* run,
                     uint64_t* run_offset) const;
  bool ReadRunHeader(uint32_t page, uint32_t* next, uint32_t* pages) const;
  void AppendBoundary(uint32_t value);
  void EncodeDirectory(std::vector<uint8_t>* out) const;

  FileSystem& fs_;
  const CharFilter& filter_;
  const std::string folder_;
  const int definition_;
  const int generation_;
  const uint32_t base_;
  const SegmentKeys keys_;
  // Bytes per page of the postings file (word_index_format.h).
  const uint32_t page_size_;
  // This generation's entries in PostingCache::Shared().
  const uint64_t cache_owner_;

  ScopedFd ix_file_;
  ScopedFd ha_file_;
  ScopedFd rl_file_;
  bool files_open_ = false;
  mutable std::atomic<bool> damaged_{false};

  // Header words of the ".Ix" file.
  uint32_t next_free_page_ = 1;
  uint32_t largest_run_ = 1;
  uint32_t stored_positions_ = 0;
  uint32_t stored_terms_ = 0;

  // 65,536 entries once a flush needed them; until then a look-up reads
  // the entries it needs from the ".Ha" file (directory_stored_) or, for a
  // new generation, finds them empty.
  std::vector<TermEntry> directory_;
  bool directory_stored_ = false;
  uint64_t ha_size_ = 0;
  std::vector<std::vector<uint32_t>> pending_;  // in-memory positions per key (empty: none yet)
  uint32_t code_limit_ = 0;                     // highest code with pending positions + 1

  std::vector<uint32_t> boundaries_;
  std::vector<uint8_t> boundary_bytes_;  // the ".RL" list as it will be written
  uint32_t records_ = 0;
  uint32_t unflushed_ = 0;
  uint32_t position_ = 0;
};

}  // namespace lun

#endif  // LUN_ENGINE_INDEX_WORD_INDEX_SEGMENT_H_
