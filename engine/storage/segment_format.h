// The files of one record segment k of table {T}: the record data file
// {T}.S{k} and the record offset file {T}.R{k} (k in decimal, no padding).
//
// Record data file: a 1024-byte header, then record bodies back to back
// (record_format.h). A body's length is not stored: it is the distance to
// the next record's offset, or to the end of the data file for the
// segment's last record.
//
// Header:
//   offset  size  content
//        0    12  zero
//       12    10  check bytes: header[c] ^ 0x95 for c = 6,7,8,9,10,5,6,7,8,9
//                 (ten bytes of 0x95 since bytes 0-11 are zero)
//       22     2  zero
//       24    20  creation time, local, "%Y-%m-%d %H:%M:%S", NUL-terminated
//       44   128  copyright text (29 bytes) and its NUL, rest zero
//      172    10  version magic "Tamrix1.0" and its NUL
//      182   842  zero
// On open the first 184 bytes are read and checked in that order: check
// bytes, copyright text, version magic.
//
// Record offset file: one 8-byte unsigned little-endian entry per record of
// the segment, the offset of its body in the data file. The segment's record
// count is the file size / 8. The entry is the commit point of a record: it
// is written after the body, so a body without its entry is invisible.
//
// Worked example: a segment holding one record whose body is 9 bytes has a
// data file of 1033 bytes and an offset file of 8 bytes, 00 04 00 00 00 00
// 00 00 (offset 1024).
#ifndef LUN_ENGINE_STORAGE_SEGMENT_FORMAT_H_
#define LUN_ENGINE_STORAGE_SEGMENT_FORMAT_H_

#include <array>
#include <cstddef>
#include <cstdint>

namespace lun::segment_format {

inline constexpr size_t kHeaderSize = 1024;
inline constexpr size_t kHeaderReadSize = 184;

inline constexpr size_t kCheckBytesOffset = 12;
inline constexpr size_t kCheckBytesSize = 10;
inline constexpr uint8_t kCheckMask = 0x95;
// Header positions whose bytes, XOR kCheckMask, give check bytes 0..9.
inline constexpr std::array<size_t, kCheckBytesSize> kCheckSources = {6, 7, 8, 9, 10,
                                                                      5, 6, 7, 8, 9};
inline constexpr size_t kTimeOffset = 24;
inline constexpr size_t kTimeSize = 20;
inline constexpr size_t kCopyrightOffset = 44;
inline constexpr size_t kCopyrightSize = 128;
// Exactly 29 bytes, as every data file carries it.
inline constexpr char kCopyright[] = "Copyright (C) Tamrix Software";
inline constexpr size_t kVersionOffset = 172;
inline constexpr char kVersion[] = "Tamrix1.0";

inline constexpr size_t kOffsetEntrySize = 8;

static_assert(sizeof(kCopyright) == 29 + 1);
static_assert(sizeof(kVersion) == 10);
static_assert(kCheckBytesOffset + kCheckBytesSize + 2 == kTimeOffset);
static_assert(kTimeOffset + kTimeSize == kCopyrightOffset);
static_assert(kCopyrightOffset + kCopyrightSize == kVersionOffset);
static_assert(kVersionOffset + sizeof(kVersion) + 842 == kHeaderSize);
static_assert(kVersionOffset + sizeof(kVersion) <= kHeaderReadSize);

}  // namespace lun::segment_format

#endif  // LUN_ENGINE_STORAGE_SEGMENT_FORMAT_H_
