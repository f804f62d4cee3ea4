// Text of a mail message (EML) or a web archive (MHT, MHTML).
//
// The text is: the subject, sender, recipients and date, one per line, then
// the text of the body parts (plain text as it stands, HTML through
// html_text.h, each in the charset its part declares; of a
// multipart/alternative only the plain version), then the names of
// attachments. Attached messages are read the same way, nested at most
// kMimeMaxDepth deep. Thread-safe.
#ifndef LUN_CRAWLER_EXTRACT_MIME_TEXT_H_
#define LUN_CRAWLER_EXTRACT_MIME_TEXT_H_

#include <string>
#include <string_view>

#include "crawler/extract/extract_result.h"

namespace lun {

inline constexpr int kMimeMaxDepth = 16;

// Any bytes parse as a message (possibly without headers or text); the
// status is kOk unless nesting went too deep (kPartial).
ExtractResult MimeText(std::string_view bytes, size_t limit);

// The text of an unstructured header such as Subject, from its raw value:
// folded lines joined, encoded-words ("=?charset?B|Q?...?=") decoded with
// adjacent ones of one charset read as a whole, and bytes outside them read
// as UTF-8, else GB18030. Pure.
std::u16string DecodeHeaderText(std::string_view raw);

}  // namespace lun

#endif  // LUN_CRAWLER_EXTRACT_MIME_TEXT_H_
