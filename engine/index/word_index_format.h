// Byte layout of one generation of a word index: the files "D<n>.Ha<g>"
// (term directory), "D<n>.Ix<g>" (postings) and "D<n>.RL<g>" (record
// boundaries) in the table's index folder, n the field's definition number,
// g the generation. All integers little-endian.
//
// Term directory ".Ha": 65,536 entries of 28 bytes, entry c at 28 * c for
// the UTF-16 code unit c (1,835,008 bytes once written; a shorter file reads
// as zero entries past its end).
//
//   offset  size  field
//   0       4     first run page of the term's list (0: no stored positions)
//   4       4     total byte length of the stored packed list
//   8       4     number of stored positions (authoritative, see below)
//   12      4     page of the last run of the list
//   16      4     bytes of list data in the last run
//   20      4     last stored position
//   24      1     Rice parameter k of the list
//   25      1     tail bits of the list
//   26      1     last data byte of the list
//   27      1     zero
//
// Postings ".Ix": 4096-byte pages. Page 0 is the header page:
//
//   offset  size  field
//   0       4     page size, 4096
//   4       4     next free page (1 in a new file)
//   8       4     largest run allocated so far, in pages
//   12      4     total positions stored
//   16      4     terms with stored positions
//   20      4076  zero
//
// A posting run is m consecutive pages from page p (byte p * 4096):
//
//   offset  size           field
//   0       4              page of the next run of the same list (0: none)
//   4       2              m - 1
//   6       m * 4096 - 6   list data
//
// A term's packed list (packed_list_format.h) is the concatenation of the
// data of its runs in chain order. Continuations do not update the count
// word at the start of the stored list; readers put the directory's count
// there. Runs are zero-filled when allocated and never freed. Pages needed
// for L bytes: 1 when L < 4091, else ((L - 4090) >> 12) + 2.
//
// Record boundaries ".RL": one packed list: the start position of each
// record of the generation (the first is 0), then the position counter after
// the last record. B entries mean B - 1 records. Example: a first record of
// 3 code units occupies positions 1..3 and the list reads {0, 4}.
#ifndef LUN_ENGINE_INDEX_WORD_INDEX_FORMAT_H_
#define LUN_ENGINE_INDEX_WORD_INDEX_FORMAT_H_

#include <cstddef>
#include <cstdint>

namespace lun::word_index {

inline constexpr uint32_t kTermCount = 65536;
inline constexpr size_t kEntrySize = 28;
inline constexpr size_t kDirectorySize = kTermCount * kEntrySize;
static_assert(kDirectorySize == 1835008);

inline constexpr size_t kEntryFirstRun = 0;
inline constexpr size_t kEntryTotalLength = 4;
inline constexpr size_t kEntryCount = 8;
inline constexpr size_t kEntryLastRun = 12;
inline constexpr size_t kEntryLastRunBytes = 16;
inline constexpr size_t kEntryLast = 20;
inline constexpr size_t kEntryK = 24;
inline constexpr size_t kEntryTailBits = 25;
inline constexpr size_t kEntryLastByte = 26;
static_assert(kEntryLastByte + 2 == kEntrySize);

inline constexpr uint32_t kPageSize = 4096;
// The gram index (letter_grams.h) uses this layout with smaller pages: most
// of its lists hold a few dozen bytes, which a 4096-byte page would pad to
// four times the text they index. The header's page size word says which.
inline constexpr uint32_t kGramPageSize = 128;
inline constexpr size_t kHeaderWords = 5;
inline constexpr size_t kHeaderBytes = kHeaderWords * 4;
static_assert(kHeaderBytes == 20);
inline constexpr size_t kHeaderPageSize = 0;
inline constexpr size_t kHeaderNextFree = 4;
inline constexpr size_t kHeaderLargestRun = 8;
inline constexpr size_t kHeaderPositions = 12;
inline constexpr size_t kHeaderTerms = 16;

inline constexpr size_t kRunNext = 0;
inline constexpr size_t kRunPagesMinusOne = 4;
inline constexpr size_t kRunHeaderSize = 6;
inline constexpr uint32_t kMaxRunPages = 65536;  // m - 1 must fit 2 bytes

inline constexpr uint64_t RunDataCapacity(uint32_t pages, uint32_t page_size = kPageSize) {
  return uint64_t{pages} * page_size - kRunHeaderSize;
}
inline constexpr uint32_t PagesNeeded(uint64_t bytes, uint32_t page_size = kPageSize) {
  const uint64_t one = RunDataCapacity(1, page_size);
  return bytes <= one ? 1 : uint32_t((bytes - one) / page_size + 2);
}
static_assert(RunDataCapacity(1) == 4090);
static_assert(PagesNeeded(4090) == 1 && PagesNeeded(4091) == 2);
static_assert(PagesNeeded(4090 + 4096) == 3);  // as the word index has always allocated
static_assert(PagesNeeded(122, kGramPageSize) == 1 && PagesNeeded(123, kGramPageSize) == 2);

// Flush rules.
inline constexpr uint32_t kFlushEveryRecords = 2000;
inline constexpr uint32_t kContinueMinStored = 400;
inline constexpr uint32_t kGramContinueMinStored = 64;
inline constexpr uint32_t kMaxMinimumRun = 128;
inline constexpr uint32_t kBoundaryReencodeLimit = 100;

}  // namespace lun::word_index

#endif  // LUN_ENGINE_INDEX_WORD_INDEX_FORMAT_H_
