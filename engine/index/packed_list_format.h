// Byte layout of a packed list: an ascending list of N distinct unsigned
// 32-bit numbers a1 < a2 < ... < aN, Rice-coded. The word index stores
// position lists and record boundary lists in this form (".Ix" runs, ".RL").
//
//   offset    size  field
//   0         4     count N (a list of count 0 is these 4 bytes only)
//   4         1     Rice parameter k
//   5         4     first value a1
//   9         B     bit stream: for i = 2..N, d = ai - a(i-1) - 1 written as
//                   q = d >> k one-bits, one zero-bit, then the low k bits
//                   of d, most significant first. Bits fill each byte from
//                   its most significant bit; unused low bits of the last
//                   byte are zero.
//   9 + B     1     tail bits: bits used in the last stream byte (0 when the
//                   stream ends on a byte boundary, and when B = 0)
//   10 + B    4     last value aN
//
// Total size: 14 + B bytes. All integers little-endian.
//
// k is the index of the highest set bit of (aN - a1) / (N - 1) (integer
// division), or 1 when that index is 0; k = 0 for a list of one value.
//
// Worked examples:
//   {7}      -> 01 00 00 00 | 00 | 07 00 00 00 | 00 | 07 00 00 00   (14 bytes)
//   {3, 8}   -> 02 00 00 00 | 02 | 03 00 00 00 | 80 | 04 | 08 00 00 00
//               avg gap 5 -> k = 2; d = 4, q = 1: bits 1,0 then 00 -> 1000....,
//               tail bits 4 (15 bytes)
//
// The last 6 bytes of a list with B > 0 (last stream byte, tail bits, last
// value) are its "tail": a writer continues the list by re-encoding from the
// last stream byte with the same k and writing over those 6 bytes.
#ifndef LUN_ENGINE_INDEX_PACKED_LIST_FORMAT_H_
#define LUN_ENGINE_INDEX_PACKED_LIST_FORMAT_H_

#include <cstddef>
#include <cstdint>

namespace lun::packed_list {

inline constexpr size_t kCountOffset = 0;
inline constexpr size_t kKOffset = 4;
inline constexpr size_t kFirstOffset = 5;
inline constexpr size_t kStreamOffset = 9;
// Bytes around the bit stream: count, k, first before it; tail bits, last
// after it.
inline constexpr size_t kHeadSize = 9;
inline constexpr size_t kTrailerSize = 5;
inline constexpr size_t kFixedSize = kHeadSize + kTrailerSize;
// A list of one value.
inline constexpr size_t kSingleValueSize = 14;
// The bytes a continuation writes over: last stream byte, tail bits, last.
inline constexpr size_t kTailSize = 6;
// Size of a list of count 0.
inline constexpr size_t kEmptySize = 4;

static_assert(kFixedSize == kSingleValueSize);
static_assert(kStreamOffset == kHeadSize);
static_assert(kTailSize == 1 + kTrailerSize);

}  // namespace lun::packed_list

#endif  // LUN_ENGINE_INDEX_PACKED_LIST_FORMAT_H_
