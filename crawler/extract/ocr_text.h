// Text in pictures: images (PNG, JPEG, TIFF, BMP, GIF) and PDF pages that
// have no text layer, read by Tesseract with the Simplified Chinese and
// English models.
//
// Recognition is off unless the user turns on "图片文字识别"; the crawl
// service sets the switch for its process (SetOcrSettings) from the
// settings file of its home before each file.
//
// Each picture is read by the `tesseract` program in a child process of
// its own under an address-space limit (512 MiB by default) and a deadline
// (30 s by default): a 30,000 x 30,000 image or a page that makes the
// engine run for minutes costs that picture's text and nothing else. The
// picture reaches the program through an anonymous memory file, never
// through a file on disk. Thread-safe.
#ifndef LUN_CRAWLER_EXTRACT_OCR_TEXT_H_
#define LUN_CRAWLER_EXTRACT_OCR_TEXT_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "crawler/extract/extract_result.h"

namespace lun {

struct OcrSettings {
  bool enabled = false;
  int image_deadline_ms = 30000;               // one picture
  uint64_t image_memory_bytes = 512ull << 20;  // one picture; RLIMIT_AS of the program
  int file_budget_ms = 45000;                  // all pictures of one document (PDF pages)
  std::string program;                         // empty: "tesseract" found in $PATH
  std::string languages = "chi_sim+eng";
};

void SetOcrSettings(const OcrSettings& settings);
OcrSettings GetOcrSettings();

// True for the image types that recognition reads (upper-case extension).
bool IsOcrImageType(std::string_view type);

// The text Tesseract reads in `image` (any format it knows: PNG, JPEG,
// TIFF, BMP, GIF, PNM), within `deadline_ms`. kUnsupported when no
// program is installed, kPartial (no text) when the program was killed at
// its deadline or memory limit or failed, else kOk. Ignores `enabled`.
ExtractResult RecognizeImageText(std::string_view image, size_t limit, int deadline_ms);

// Tidies recognised text: blanks between two CJK characters dropped (the
// engine's output spaces them, which would break phrase search), runs of
// blank lines and the final form feed removed, control characters scrubbed.
// Pure.
std::u16string TidyRecognizedText(std::u16string_view text);

}  // namespace lun

#endif  // LUN_CRAWLER_EXTRACT_OCR_TEXT_H_
