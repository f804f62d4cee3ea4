// Byte layout of the packed text container, the format of the settings file
// "Setting" and of packed pages.
//
//   offset  size  content
//   0       15    "<Tamrix.Script>" (ASCII, no terminator)
//   15      1     flag: 0 = the text follows as it is;
//                 any other value = one gzip member follows (writers write 1)
//   16      rest  payload
//
// The gzip member (RFC 1952) is written as:
//   1F 8B 08 00 | 00 00 00 00 | 00 | 0B | raw deflate data | CRC-32 | ISIZE
//   magic, CM=8, FLG=0 | MTIME=0 | XFL=0 | OS=11 | deflate with the
//   default level, window 15, memory level 8, default strategy | both trailer words little-endian.
// Readers also accept the optional header fields (FEXTRA, FNAME, FCOMMENT,
// FHCRC) that other gzip writers produce.
//
// Writers choose the compressed form when the gzip member is at most as long
// as the text, else the plain form. Example: the text "[a]\r\nk=v\r\n" (10
// bytes) packs plain: "<Tamrix.Script>" 00 "[a]\r\nk=v\r\n", 26 bytes.
//
// A file that does not begin with the magic is plain text as a whole.
#ifndef LUN_CONFIG_PACKED_TEXT_FORMAT_H_
#define LUN_CONFIG_PACKED_TEXT_FORMAT_H_

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace lun::packed_text {

inline constexpr std::string_view kMagic = "<Tamrix.Script>";
inline constexpr size_t kFlagOffset = 15;
inline constexpr size_t kPayloadOffset = 16;
inline constexpr uint8_t kFlagPlain = 0;
inline constexpr uint8_t kFlagGzip = 1;

static_assert(kMagic.size() == kFlagOffset);

inline constexpr uint8_t kGzipHeader[10] = {0x1F, 0x8B, 0x08, 0x00, 0, 0, 0, 0, 0x00, 0x0B};
inline constexpr size_t kGzipTrailerSize = 8;

// FLG bits of the gzip header.
inline constexpr uint8_t kFlagHeaderCrc = 0x02;
inline constexpr uint8_t kFlagExtra = 0x04;
inline constexpr uint8_t kFlagName = 0x08;
inline constexpr uint8_t kFlagComment = 0x10;

}  // namespace lun::packed_text

#endif  // LUN_CONFIG_PACKED_TEXT_FORMAT_H_
