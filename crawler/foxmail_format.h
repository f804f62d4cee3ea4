// Byte layouts of the Foxmail files the mail source reads. All integers are
// 32-bit little-endian; nothing here is ever written.
//
// accounts.cfg (in the Foxmail directory):
//   offset 0     2112 bytes not read
//   offset 2112  account count N
//   offset 2116  N account records, back to back:
//                u32 (unused) | u32 L1, L1 bytes (unused)
//                | u32 L2, L2 bytes: the account's mail directory
//                | u32 L3, L3 bytes: the account's folder name | 20 bytes (unused)
//
// NAME.IND, the index of the mailbox whose messages are in NAME.box:
//   offset 0     64-byte header, not read
//   offset 64    message records of 176 bytes; (size - 64) / 176 of them
// Message record:
//   5   u32     position of the message in the .box file
//   9   u32     size of the message in bytes
//   18  u8      flag
//   19  u8      flag
//   20  double  date: days since 0001-01-01 (693594 days before 1899-12-30)
//   33  text    the message key, NUL-terminated
//   ..  text    the message name (subject), NUL-terminated, right after it
// A message in the .box file is a complete RFC 822 message.
#ifndef LUN_CRAWLER_FOXMAIL_FORMAT_H_
#define LUN_CRAWLER_FOXMAIL_FORMAT_H_

#include <cstddef>

namespace lun::foxmail {

inline constexpr size_t kAccountsSkip = 2112;
inline constexpr size_t kAccountTailBytes = 20;
inline constexpr size_t kIndexHeaderBytes = 64;
inline constexpr size_t kIndexRecordBytes = 176;
inline constexpr size_t kPositionOffset = 5;
inline constexpr size_t kSizeOffset = 9;
inline constexpr size_t kDateOffset = 20;
inline constexpr size_t kTextsOffset = 33;
inline constexpr double kDaysFromYearOneTo1899 = 693594.0;

static_assert(kTextsOffset < kIndexRecordBytes);

}  // namespace lun::foxmail

#endif  // LUN_CRAWLER_FOXMAIL_FORMAT_H_
