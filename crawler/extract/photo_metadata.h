// Text of a photo: its EXIF metadata, read with libexif. One line each, in
// this order and only when present: the camera (make and model), the date
// the picture was taken ("2024-05-01 10:00:00"), the description, the
// title, subject, keywords and comment Windows writes, the user comment
// and the artist. EXIF text fields declared ASCII are in practice in the
// camera's or tool's code page (UTF-8 or GBK); they go through
// DecodeShortField (charset.h). Thread-safe; no state survives a call.
#ifndef LUN_CRAWLER_EXTRACT_PHOTO_METADATA_H_
#define LUN_CRAWLER_EXTRACT_PHOTO_METADATA_H_

#include <string_view>

#include "crawler/extract/extract_result.h"

namespace lun {

// kOk with the metadata text; empty when the photo has no EXIF data.
ExtractResult PhotoMetadataText(std::string_view bytes, size_t limit);

}  // namespace lun

#endif  // LUN_CRAWLER_EXTRACT_PHOTO_METADATA_H_
