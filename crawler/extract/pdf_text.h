// Text of a PDF document through poppler, page by page (one line break
// between pages). Thread-safe: each call has its own poppler document.
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
