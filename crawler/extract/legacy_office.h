// Text of the binary Office formats (DOC, WPS, XLS, PPT) through the
// programs of the antiword and catdoc packages, when they are installed.
//
// These parsers are old C code that may crash or hang on a hostile file, so
// they run as separate processes under a deadline and an output limit, and
// only from inside the crawl service. Thread-safe.
#ifndef LUN_CRAWLER_EXTRACT_LEGACY_OFFICE_H_
#define LUN_CRAWLER_EXTRACT_LEGACY_OFFICE_H_

#include <string>
#include <string_view>

#include "crawler/extract/extract_result.h"

namespace lun {

inline constexpr int kLegacyOfficeTimeoutMs = 30000;

// True when a program for `type` ("DOC", "XLS" ...) is installed.
bool LegacyOfficeAvailable(std::string_view type);

// kUnsupported when no program for the type is installed; kDamaged when the
// program fails or is killed at the deadline.
ExtractResult LegacyOfficeText(const std::string& path, std::string_view type, size_t limit);

}  // namespace lun

#endif  // LUN_CRAWLER_EXTRACT_LEGACY_OFFICE_H_
