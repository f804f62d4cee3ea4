#include "crawler/extract/pdf_text.h"

#include <poppler-document.h>
#include <poppler-global.h>
#include <poppler-page.h>

#include <climits>
#include <memory>
#include <mutex>

#include "crawler/extract/charset.h"

namespace lun {
namespace {

void IgnorePopplerMessage(const std::string&, void*) {}

void QuietPoppler() {
  static std::once_flag once;
  std::call_once(once, [] { poppler::set_debug_error_function(&IgnorePopplerMessage, nullptr); });
}

}  // namespace

ExtractResult PdfText(std::string_view bytes, size_t limit) {
  QuietPoppler();
  if (bytes.size() > static_cast<size_t>(INT_MAX)) return {ExtractStatus::kTooLarge, {}, "file too large"};
  if (bytes.substr(0, 1024).find("%PDF") == std::string_view::npos) {
    return {ExtractStatus::kDamaged, {}, "not a PDF document"};
  }
  std::unique_ptr<poppler::document> doc(
      poppler::document::load_from_raw_data(bytes.data(), static_cast<int>(bytes.size())));
  if (!doc) return {ExtractStatus::kDamaged, {}, "poppler cannot read the document"};
  if (doc->is_locked()) return {ExtractStatus::kLocked, {}, "the document needs a password"};
  TextSink sink(limit);
  const int pages = doc->pages();
  for (int i = 0; i < pages && !sink.full(); ++i) {
    std::unique_ptr<poppler::page> page(doc->create_page(i));
    if (!page) continue;
    const poppler::byte_array utf8 = page->text().to_utf8();
    sink.AppendUtf8(std::string_view(utf8.data(), utf8.size()));
    sink.NewLine();
  }
  std::u16string& text = sink.text();
  while (!text.empty() && (text.back() == u'\n' || text.back() == u'\f')) text.pop_back();
  ScrubControlCharacters(&text);
  return {ExtractStatus::kOk, sink.Take(), {}};
}

}  // namespace lun
