#include "crawler/extract/pdf_text.h"

#include <poppler-document.h>
#include <poppler-global.h>
#include <poppler-image.h>
#include <poppler-page-renderer.h>
#include <poppler-page.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cmath>
#include <memory>
#include <mutex>

#include "crawler/extract/charset.h"
#include "crawler/extract/ocr_text.h"
#include "platform/process.h"
#include "platform/text.h"

namespace lun {
namespace {

void IgnorePopplerMessage(const std::string&, void*) {}

void QuietPoppler() {
  static std::once_flag once;
  std::call_once(once, [] { poppler::set_debug_error_function(&IgnorePopplerMessage, nullptr); });
}

// The Windows-1252 bytes of 0x80-0x9F that are not the Latin-1 code points.
constexpr char16_t kWinAnsi80To9F[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

// The WinAnsi byte that decodes to `c`, or -1.
int WinAnsiByte(char16_t c) {
  if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) return c;
  for (int i = 0; i < 32; ++i) {
    if (kWinAnsi80To9F[i] == c) return 0x80 + i;
  }
  return -1;
}

bool HasHighLatin(std::u16string_view text) {
  for (char16_t c : text) {
    if (c >= 0x80 && WinAnsiByte(c) >= 0) return true;
  }
  return false;
}

bool NamesGbFont(std::string font) {
  for (char& c : font) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
  return font.find("GB2312") != std::string::npos || font.find("GBK") != std::string::npos ||
         font.find("GB18030") != std::string::npos;
}

// True when a font of the document names a GB charset. The names are
// looked up in the file's bytes: poppler's own font list loads the system's
// font configuration, a price that every PDF would pay. Fonts in compressed
// object streams are not seen; the producers of such files predate those.
bool HasGbFontName(std::string_view pdf) {
  constexpr std::string_view kKey = "/BaseFont";
  for (size_t at = pdf.find(kKey); at != std::string_view::npos; at = pdf.find(kKey, at + 1)) {
    size_t start = at + kKey.size();
    while (start < pdf.size() && (pdf[start] == ' ' || pdf[start] == '\r' || pdf[start] == '\n')) {
      ++start;
    }
    if (start >= pdf.size() || pdf[start] != '/') continue;
    const size_t end = pdf.find_first_of(" /<>[]()\r\n\t", start + 1);
    if (NamesGbFont(std::string(pdf.substr(start, std::min<size_t>(end, pdf.size()) - start)))) {
      return true;
    }
  }
  return false;
}

// The page's text re-decoded as GBK when it is GBK read as WinAnsi (see the
// header), else unchanged.
std::u16string RedecodeGbkPage(bool gb_font, std::u16string text) {
  if (!HasHighLatin(text)) return text;
  std::string bytes;
  bytes.reserve(text.size());
  for (char16_t c : text) {
    const int b = WinAnsiByte(c);
    if (b < 0) return text;  // real Unicode text: poppler knew the encoding
    bytes.push_back(static_cast<char>(b));
  }
  std::u16string gbk;
  if (!DecodeWithCharset(bytes, "GBK", &gbk) || gbk.find(u'\uFFFD') != std::u16string::npos) {
    return text;
  }
  if (gb_font || LooksLikeGbk(bytes, 2)) return gbk;
  return text;
}

bool IsBlankText(std::u16string_view text) {
  for (char16_t c : text) {
    if (c != u' ' && c != u'\n' && c != u'\r' && c != u'\t' && c != u'\f') return false;
  }
  return true;
}

// Scanned pages are drawn at 300 dots per inch, the resolution the
// recognition models are made for, unless the page is so large that its
// picture would pass kMaxPagePixels: then at what fits.
constexpr double kOcrDotsPerInch = 300;
constexpr double kMaxPagePixels = 40e6;

// The page drawn in grey as a PGM picture (a format every reader of
// pictures knows), or empty when it cannot be drawn.
std::string PagePicture(const poppler::page& page) {
  const poppler::rectf box = page.page_rect();
  const double inches = (box.width() / 72.0) * (box.height() / 72.0);
  if (!(inches > 0)) return {};
  double dpi = kOcrDotsPerInch;
  if (inches * dpi * dpi > kMaxPagePixels) dpi = std::sqrt(kMaxPagePixels / inches);
  poppler::page_renderer renderer;
  renderer.set_image_format(poppler::image::format_gray8);
  renderer.set_render_hints(poppler::page_renderer::antialiasing |
                            poppler::page_renderer::text_antialiasing);
  const poppler::image picture = renderer.render_page(&page, dpi, dpi);
  if (!picture.is_valid() || picture.width() <= 0 || picture.height() <= 0) return {};
  std::string pgm =
      "P5\n" + std::to_string(picture.width()) + " " + std::to_string(picture.height()) + "\n255\n";
  const size_t width = static_cast<size_t>(picture.width());
  pgm.reserve(pgm.size() + width * static_cast<size_t>(picture.height()));
  for (int y = 0; y < picture.height(); ++y) {
    pgm.append(picture.const_data() + static_cast<size_t>(y) * picture.bytes_per_row(), width);
  }
  return pgm;
}

// Reads the pages without a text layer through recognition, within the
// document's time budget: once it is spent, the remaining scanned pages
// stay without text and the document keeps what was read.
class ScannedPageReader {
 public:
  ScannedPageReader() : settings_(GetOcrSettings()), start_(MonotonicMs()) {}

  bool enabled() const { return settings_.enabled; }

  // The page's recognised text; false once the budget is spent or the
  // engine was stopped on it.
  bool Read(const poppler::page& page, size_t limit, std::u16string* text) {
    const int64_t left = settings_.file_budget_ms - (MonotonicMs() - start_);
    if (left <= 0) return false;
    const std::string picture = PagePicture(page);
    if (picture.empty()) return true;
    const int deadline = static_cast<int>(std::min<int64_t>(settings_.image_deadline_ms, left));
    ExtractResult result = RecognizeImageText(picture, limit, deadline);
    *text = std::move(result.text);
    return result.status == ExtractStatus::kOk;
  }

 private:
  OcrSettings settings_;
  int64_t start_;
};

}  // namespace

ExtractResult PdfText(std::string_view bytes, size_t limit) {
  QuietPoppler();
  if (bytes.size() > static_cast<size_t>(INT_MAX))
    return {ExtractStatus::kTooLarge, {}, "file too large"};
  if (bytes.substr(0, 1024).find("%PDF") == std::string_view::npos) {
    return {ExtractStatus::kDamaged, {}, "not a PDF document"};
  }
  std::unique_ptr<poppler::document> doc(
      poppler::document::load_from_raw_data(bytes.data(), static_cast<int>(bytes.size())));
  if (!doc) return {ExtractStatus::kDamaged, {}, "poppler cannot read the document"};
  if (doc->is_locked()) return {ExtractStatus::kLocked, {}, "the document needs a password"};
  TextSink sink(limit);
  const bool gb_font = HasGbFontName(bytes);
  ScannedPageReader scanned;
  bool recognizing = scanned.enabled();
  bool stopped = false;
  const int pages = doc->pages();
  for (int i = 0; i < pages && !sink.full(); ++i) {
    std::unique_ptr<poppler::page> page(doc->create_page(i));
    if (!page) continue;
    const poppler::byte_array utf8 = page->text().to_utf8();
    std::u16string text =
        RedecodeGbkPage(gb_font, ToWide(std::string_view(utf8.data(), utf8.size())));
    if (recognizing && IsBlankText(text)) {
      recognizing = scanned.Read(*page, limit - sink.size(), &text);
      stopped = stopped || !recognizing;
    }
    sink.Append(text);
    sink.NewLine();
  }
  std::u16string& text = sink.text();
  while (!text.empty() && (text.back() == u'\n' || text.back() == u'\f')) text.pop_back();
  ScrubControlCharacters(&text);
  if (stopped) return {ExtractStatus::kPartial, sink.Take(), "recognition stopped at its limit"};
  return {ExtractStatus::kOk, sink.Take(), {}};
}

}  // namespace lun
