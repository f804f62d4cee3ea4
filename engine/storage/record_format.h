// Record bodies in a segment's data file (segment_format.h) and the encoding
// of each field type. Integers are little-endian.
//
// A body is the values of the table's fields in field order, each in its
// type's encoding, with no record header and no padding:
//
//   type                     encoding
//   1 text, 8 document       u32 N, then N bytes; N = 0 for an empty or null
//                            value. Else byte 0 is the method:
//                              0  the rest is the UTF-16LE text as is
//                              1  the rest is one gzip member of it:
//                                 1F 8B 08 00 00 00 00 00 00 0B, raw deflate
//                                 (window bits -15; any compressor and
//                                 level reads the same: level 1 is
//                                 written, by libdeflate for text of one
//                                 chunk and by zlib for the seekable
//                                 form), CRC-32 and byte count (u32 each)
//                            The member is stored when it is smaller than
//                            the text's byte count plus one.
//                            Seekable form, written for text of more than
//                            32 KiB (its UTF-16LE bytes): the header has
//                            FLG = 04 (FEXTRA), then u16 XLEN and one
//                            subfield "LS" (u16 length) holding the seek
//                            table: u32 chunk bytes C (32 KiB, doubled
//                            while the table would pass 16,379 entries),
//                            u32 n = (text bytes - 1) / C, n x u32 offsets
//                            from the start of the deflate data at which
//                            chunks 1..n begin, u32 CRC-32 of these table
//                            bytes. The deflate stream ends each chunk of
//                            C bytes of text with a full flush, so any
//                            chunk inflates on its own. Still one RFC 1952
//                            member: any gzip reader reads the text, and a
//                            reader that finds the table unsound reads from
//                            the start. Shorter text keeps the fixed header.
//   2 integer                4 bytes, signed
//   3 single                 4 bytes, IEEE single
//   4 double                 8 bytes, IEEE double
//   5 logical                1 byte, 1 for true, 0 for false
//   6 date                   8 bytes, OLE automation date (double)
//   7 binary                 u32 N, then N bytes of variant stream (below);
//                            N = 0 for an empty or null value
//   0 unknown, other         nothing
// Null or empty values of the fixed-width types store zeros.
//
// Variant stream (binary fields): u16 VARTYPE, then
//   VT_I1, VT_UI1                                 1 byte
//   VT_I2, VT_BOOL, VT_UI2                        2 bytes
//   VT_I4, VT_R4, VT_ERROR, VT_UI4, VT_INT, VT_UINT  4 bytes
//   VT_R8, VT_CY, VT_DATE                         8 bytes
//   VT_UNKNOWN, VT_DISPATCH                       16-byte class identifier of
//                                                 the saved object; our objects
//                                                 have no persistence, so it
//                                                 is the null identifier
//   any other type                                the value as text: u32 byte
//                                                 count including the 2-byte
//                                                 terminator, UTF-16LE text,
//                                                 terminator
//
// Worked example: a table (文本 text, 整型 integer) holding ("A", 7) has the
// 11-byte body 03 00 00 00 | 00 41 00 | 07 00 00 00.
#ifndef LUN_ENGINE_STORAGE_RECORD_FORMAT_H_
#define LUN_ENGINE_STORAGE_RECORD_FORMAT_H_

#include <cstddef>
#include <cstdint>

namespace lun {

// Field type codes (bits 0-15 of a FieldDef's type word).
enum FieldType : int {
  kFieldUnknown = 0,
  kFieldText = 1,
  kFieldInteger = 2,
  kFieldSingle = 3,
  kFieldDouble = 4,
  kFieldLogical = 5,
  kFieldDate = 6,
  kFieldBinary = 7,
  kFieldDocument = 8,
};

// Index kinds of a field.
enum IndexKind : int {
  kNoIndex = -1,
  kWordIndex = 0,
  kExactIndex = 7,
};

namespace record_format {

inline constexpr size_t kLengthSize = 4;
inline constexpr uint8_t kMethodPlain = 0;
inline constexpr uint8_t kMethodGzip = 1;
inline constexpr size_t kGzipHeaderSize = 10;
inline constexpr uint8_t kGzipHeader[kGzipHeaderSize] = {0x1F, 0x8B, 0x08, 0x00, 0,
                                                         0,    0,    0,    0x00, 0x0B};
inline constexpr size_t kGzipTrailerSize = 8;
inline constexpr uint8_t kGzipFlagExtra = 0x04;
inline constexpr char kSeekTableId[2] = {'L', 'S'};
inline constexpr uint32_t kSeekChunkBytes = 32768;
inline constexpr size_t kMaxSeekEntries = 16379;  // XLEN = 16 + 4n stays below 65,536
inline constexpr size_t kVarTypeSize = 2;
inline constexpr size_t kClassIdSize = 16;

}  // namespace record_format
}  // namespace lun

#endif  // LUN_ENGINE_STORAGE_RECORD_FORMAT_H_
