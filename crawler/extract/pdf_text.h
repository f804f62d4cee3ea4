// Text of a PDF document through poppler, page by page (one line break
// between pages). Thread-safe: each call has its own poppler document.
//
// Chinese documents made by old tools often use a font that is not
// embedded, named like a Chinese font ("小标宋_GB2312", "SimSun-GBK"), that
// declares WinAnsi encoding while its strings hold GBK bytes: poppler then
// gives Latin-1 mojibake. Such a page is read back into its bytes and
// decoded as GBK when a font of the document says GB2312/GBK/GB18030 in
// its name and the bytes are valid GBK, or, whatever the fonts, when every byte
// above 0x7F pairs up into GBK characters, two at least in the GB2312 area.
#ifndef LUN_CRAWLER_EXTRACT_PDF_TEXT_H_
#define LUN_CRAWLER_EXTRACT_PDF_TEXT_H_

#include <string_view>

#include "crawler/extract/extract_result.h"

namespace lun {

// kDamaged when poppler cannot read `bytes` as a PDF, kLocked when it needs
// a password. `bytes` must stay valid for the call.
ExtractResult PdfText(std::string_view bytes, size_t limit);

}  // namespace lun

#endif  // LUN_CRAWLER_EXTRACT_PDF_TEXT_H_
