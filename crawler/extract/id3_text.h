// Text of an MP3 file: its ID3 tags (title, artist, album, year, genre,
// comment, lyrics), one per line. ID3v2.2 to v2.4 at the start of the file
// and ID3v1 at its end are read. Pure; any input is safe. Thread-safe.
#ifndef LUN_CRAWLER_EXTRACT_ID3_TEXT_H_
#define LUN_CRAWLER_EXTRACT_ID3_TEXT_H_

#include <string_view>

#include "crawler/extract/extract_result.h"

namespace lun {

// kOk with the tag text (empty when the file has no tags).
ExtractResult Id3Text(std::string_view bytes, size_t limit);

}  // namespace lun

#endif  // LUN_CRAWLER_EXTRACT_ID3_TEXT_H_
