// Byte layout of one generation of an exact-value index: the value trie
// "D<n>.Ha<g>" and the record lists "D<n>.Ix<g>" in the table's index
// folder. All integers little-endian.
//
// Value trie ".Ha": a 1024-byte header, then nodes back to back in the
// order they were created, addressed by their byte offset from the file
// start. The file grows in steps of 4096 bytes (or by what one insertion
// needs, when more), so its tail may hold zero slack.
//
//   header  offset  size  field
//           0       4     offset of the root node (0: empty trie)
//           4       4     zero
//           8       4     number of records indexed by the generation
//           12      1012  zero
//
//   branch  offset  size  field                             (12 bytes)
//           0       1     0
//           1       1     zero
//           2       2     bit tested, 1-based over the key's bits (bit 1
//                         is the most significant bit of the first byte)
//           4       4     node followed when that bit is 0
//           8       4     node followed when it is 1
//
//   leaf    offset  size  field                             (16 + 2L bytes)
//           0       1     1
//           1       1     zero
//           2       2     L, the key's length in code units
//           4       4     record reference: the record number when the
//                         count is 1, the first page of the record-list
//                         chain when it is more (a fresh leaf of count 0
//                         holds its ordinal among the distinct values)
//           8       4     number of records with this value
//           12      2L+2  the key, UTF-16LE, with its 2-byte terminator
//           14+2L   2     zero
//
// A key is the normalised value. Its bit string is the bytes of the
// UTF-16LE text including the terminator; bits beyond it read as 0. So a
// value that is a prefix of another gets a leaf of its own: the
// terminator differs from the longer key's next code unit.
// Along every path from the root, the tested bit numbers strictly increase.
//
// Record lists ".Ix": 2048-byte pages, grown 100 pages at a time. Page 0:
//
//   offset  size  field
//   0       4     page size, 2048
//   4       4     next free page (1 in a new file)
//   8       4     records indexed by the generation (as the trie header)
//   12      4     distinct values in the trie
//   16      4     record numbers stored in record-list pages
//
// Record-list page: 4 bytes page of the next page of the same chain (0:
// none), then up to 511 record numbers. Example: 512 records of one value
// fill page p with 511 numbers and link it to page p' holding the 512th.
#ifndef LUN_ENGINE_INDEX_EXACT_INDEX_FORMAT_H_
#define LUN_ENGINE_INDEX_EXACT_INDEX_FORMAT_H_

#include <cstddef>
#include <cstdint>

namespace lun::exact_index {

inline constexpr size_t kTrieHeaderSize = 1024;
inline constexpr size_t kTrieRoot = 0;
inline constexpr size_t kTrieRecordCount = 8;
inline constexpr size_t kTrieGrowStep = 4096;

inline constexpr uint8_t kBranchTag = 0;
inline constexpr uint8_t kLeafTag = 1;
inline constexpr size_t kNodeTag = 0;
inline constexpr size_t kNodeBitOrLength = 2;
inline constexpr size_t kBranchZero = 4;
inline constexpr size_t kBranchOne = 8;
inline constexpr size_t kBranchSize = 12;
inline constexpr size_t kLeafReference = 4;
inline constexpr size_t kLeafCount = 8;
inline constexpr size_t kLeafKey = 12;
inline constexpr size_t LeafSize(size_t units) { return 16 + 2 * units; }
static_assert(LeafSize(0) == kLeafKey + 2 + 2);

// Keys are cut to this many code units: the tested bit must fit 16 bits,
// ((L + 1) * 16 <= 65535). Queries use at most 1024 characters, so the cut
// never changes what a look-up can find.
inline constexpr size_t kMaxKeyUnits = 4000;
static_assert((kMaxKeyUnits + 1) * 16 <= 0xFFFF);

inline constexpr uint32_t kPageSize = 2048;
inline constexpr uint32_t kGrowPages = 100;
inline constexpr uint32_t kRecordsPerPage = 511;
static_assert(4 + kRecordsPerPage * 4 == kPageSize);
inline constexpr size_t kHeaderPageSize = 0;
inline constexpr size_t kHeaderNextFree = 4;
inline constexpr size_t kHeaderRecords = 8;
inline constexpr size_t kHeaderValues = 12;
inline constexpr size_t kHeaderListed = 16;
inline constexpr size_t kHeaderBytes = 20;

inline constexpr uint32_t kFlushEveryRecords = 2000;

}  // namespace lun::exact_index

#endif  // LUN_ENGINE_INDEX_EXACT_INDEX_FORMAT_H_
