// Fixture documents made at test time. Test code only.
#ifndef LUN_CRAWLER_EXTRACT_EXTRACT_TEST_UTIL_H_
#define LUN_CRAWLER_EXTRACT_EXTRACT_TEST_UTIL_H_

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace lun {

using ZipEntries = std::vector<std::pair<std::string, std::string>>;

// A ZIP archive (deflated entries) written by minizip.
std::string MakeZip(const ZipEntries& entries);

// A ZIP archive with one entry `name` of `inflated_bytes` zero bytes, which
// deflates to a tiny fraction of that.
std::string MakeZipBomb(const std::string& name, size_t inflated_bytes);

// A one-page PDF showing `text` (ASCII, no parentheses or backslashes) in
// Helvetica, with a correct cross-reference table.
std::string MakePdf(const std::string& text);

// A DOCX whose body holds `paragraphs`, one w:p each.
std::string MakeDocx(const std::vector<std::string>& paragraphs);

// An uncompressed compiled-help file holding `entries` (inner paths such as
// "/html/intro.htm", and their bytes) in one directory block of
// `block_len` bytes. `entry_tail`, when given, is appended raw to the
// directory entries (to plant damage).
std::string MakeChm(const ZipEntries& entries, uint32_t block_len = 4096,
                    const std::string& entry_tail = "");

// A loopback TCP port that was free a moment ago (bound to port 0 and
// released), for tests that start servers.
uint16_t FreeLoopbackPort();

}  // namespace lun

#endif  // LUN_CRAWLER_EXTRACT_EXTRACT_TEST_UTIL_H_
