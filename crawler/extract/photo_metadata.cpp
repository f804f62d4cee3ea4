#include "crawler/extract/photo_metadata.h"

#include <libexif/exif-data.h>

#include <climits>
#include <memory>
#include <string>

#include "crawler/extract/charset.h"

namespace lun {
namespace {

using ExifPtr = std::unique_ptr<ExifData, decltype(&exif_data_unref)>;

// An ASCII entry's bytes, up to the first NUL, decoded as local text.
std::u16string AsciiEntry(ExifData* data, ExifTag tag) {
  ExifEntry* entry = exif_data_get_entry(data, tag);
  if (!entry || !entry->data || entry->format != EXIF_FORMAT_ASCII) return {};
  std::string_view bytes(reinterpret_cast<const char*>(entry->data), entry->size);
  bytes = bytes.substr(0, bytes.find('\0'));
  while (!bytes.empty() && bytes.back() == ' ') bytes.remove_suffix(1);
  return DecodeShortField(bytes);
}

// An entry as libexif renders it (the UTF-16 Windows fields, the user
// comment with its charset prefix).
std::u16string RenderedEntry(ExifData* data, ExifTag tag) {
  ExifEntry* entry = exif_data_get_entry(data, tag);
  if (!entry) return {};
  char buffer[4096] = {};
  if (!exif_entry_get_value(entry, buffer, sizeof buffer)) return {};
  std::string_view text(buffer);
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  return DecodeText(text, "UTF-8");
}

void Line(const std::u16string& text, TextSink* sink) {
  if (text.find_first_not_of(u" \t") == std::u16string::npos) return;
  sink->Append(text);
  sink->NewLine();
}

// "2024:05:01 10:00:00" as "2024-05-01 10:00:00".
std::u16string DateTaken(ExifData* data) {
  std::u16string date = AsciiEntry(data, EXIF_TAG_DATE_TIME_ORIGINAL);
  if (date.empty()) date = AsciiEntry(data, EXIF_TAG_DATE_TIME);
  if (date.size() >= 10 && date[4] == u':' && date[7] == u':') date[4] = date[7] = u'-';
  return date;
}

}  // namespace

ExtractResult PhotoMetadataText(std::string_view bytes, size_t limit) {
  if (bytes.size() > UINT_MAX) return {ExtractStatus::kTooLarge, {}, "file too large"};
  ExifPtr data(exif_data_new_from_data(reinterpret_cast<const unsigned char*>(bytes.data()),
                                       static_cast<unsigned int>(bytes.size())),
               &exif_data_unref);
  TextSink sink(limit);
  if (data) {
    std::u16string camera = AsciiEntry(data.get(), EXIF_TAG_MAKE);
    const std::u16string model = AsciiEntry(data.get(), EXIF_TAG_MODEL);
    // Many cameras repeat the make in the model ("Canon" "Canon EOS 5D").
    if (camera.empty() || model.starts_with(camera)) {
      camera = model;
    } else if (!model.empty()) {
      camera += u' ' + model;
    }
    Line(camera, &sink);
    Line(DateTaken(data.get()), &sink);
    Line(AsciiEntry(data.get(), EXIF_TAG_IMAGE_DESCRIPTION), &sink);
    for (ExifTag tag : {EXIF_TAG_XP_TITLE, EXIF_TAG_XP_SUBJECT, EXIF_TAG_XP_KEYWORDS,
                        EXIF_TAG_XP_COMMENT, EXIF_TAG_USER_COMMENT}) {
      Line(RenderedEntry(data.get(), tag), &sink);
    }
    Line(AsciiEntry(data.get(), EXIF_TAG_ARTIST), &sink);
  }
  std::u16string& text = sink.text();
  while (!text.empty() && text.back() == u'\n') text.pop_back();
  ScrubControlCharacters(&text);
  return {ExtractStatus::kOk, sink.Take(), {}};
}

}  // namespace lun
