// Text of the zipped XML document formats: Office Open XML (DOCX, DOCM,
// XLSX, XLSM, PPTX, PPTM and their templates), OpenDocument and the older
// OpenOffice.org formats (ODT, ODS, ODP, ODG, OTT, SXW, SXC, SXI ...) and
// EPUB books.
//
// Paragraphs, rows and slides become lines, spreadsheet cells are separated
// by tabs, a book's chapters come in reading (spine) order. The archive is
// read from memory under the limits of zip_archive.h. Thread-safe.
#ifndef LUN_CRAWLER_EXTRACT_OFFICE_XML_H_
#define LUN_CRAWLER_EXTRACT_OFFICE_XML_H_

#include <string_view>

#include "crawler/extract/extract_result.h"

namespace lun {

// True for the upper-case extensions this reader handles ("DOCX", "ODT" ...).
bool IsOfficeXmlType(std::string_view type);

// Extracts the text of the document in `bytes`, whose upper-case extension is
// `type`, keeping at most `limit` UTF-16 units. kDamaged when the bytes are
// not an archive of that kind; kPartial with the text read so far when a part
// is damaged or too large.
ExtractResult OfficeXmlText(std::string_view bytes, std::string_view type, size_t limit);

}  // namespace lun

#endif  // LUN_CRAWLER_EXTRACT_OFFICE_XML_H_
