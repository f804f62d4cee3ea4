// Fixture documents made at test time. Test code only.
#ifndef LUN_CRAWLER_EXTRACT_EXTRACT_TEST_UTIL_H_
#define LUN_CRAWLER_EXTRACT_EXTRACT_TEST_UTIL_H_

#include <cstdint>
#include <string>
#include <string_view>
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

// The same page with `string_bytes` (raw, no parentheses or backslashes)
// shown in a Type1 font that is not embedded, named `base_font` (a PDF
// name, "#xx" escapes allowed) and declaring WinAnsiEncoding.
std::string MakeWinAnsiPdf(const std::string& base_font, const std::string& string_bytes);

// An archive written by libarchive: `format` is "zip", "tar" or "7z",
// `filter` "", "gzip", "bzip2" or "xz". Entries are regular files.
std::string MakeArchive(const std::string& format, const std::string& filter,
                        const ZipEntries& entries);

// An OLE compound file holding one stream `name` with `bytes`, written by
// libgsf.
std::string MakeOleFile(const std::string& name, const std::string& bytes);

// One PowerPoint record: the 8-byte header (version 0xF for a container,
// else 0; instance 0) and `body`.
std::string PptRecord(uint16_t type, const std::string& body, bool container = false);

// A UTF-16LE string without terminator, as text atoms hold it.
std::string Utf16LeBytes(std::u16string_view text);

// A FLAC stream of metadata only: STREAMINFO and one Vorbis comment block
// holding `comments` ("TITLE=...").
std::string MakeFlac(const std::vector<std::string>& comments);

// A JPEG holding only its EXIF segment: make "Canon", model "Canon EOS 5D",
// date taken 2024:05:01 10:00:00 (in the EXIF sub-directory) and the
// description "长城 sunset" in UTF-8.
std::string MakeJpegWithExif();

// A silent WAV with a RIFF INFO list naming it "中文" in GBK.
std::string MakeWavWithGbkInfo();

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
