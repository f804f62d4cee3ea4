// The outcome of one text extraction, shared by every text filter, the crawl
// service and the in-process FilterText.
//
// A filter never throws and never aborts on a damaged document: it returns a
// status and whatever text it could read before the damage (partial text is
// kept, so a truncated document still yields its first pages).
#ifndef LUN_CRAWLER_EXTRACT_EXTRACT_RESULT_H_
#define LUN_CRAWLER_EXTRACT_EXTRACT_RESULT_H_

#include <cstddef>
#include <string>
#include <string_view>

namespace lun {

enum class ExtractStatus {
  kOk = 0,        // text (possibly empty) read from an intact document
  kPartial,       // the document is damaged or over a limit; `text` holds what came before
  kUnsupported,   // no filter for this type
  kUnreadable,    // the file cannot be opened or read
  kDamaged,       // the document is not what its type says; no text
  kTooLarge,      // the file or an unpacked part is over a size limit; no text
  kLocked,        // encrypted or password-protected
};

// Text of the in-process filter path is capped at 100,000 characters.
inline constexpr size_t kFilterTextLimit = 100000;

struct [[nodiscard]] ExtractResult {
  ExtractStatus status = ExtractStatus::kOk;
  std::u16string text;  // UTF-16, no terminator
  std::string message;  // why, for logs; empty on success

  bool has_text() const { return !text.empty(); }
};

// Short English name of a status ("ok", "damaged" ...), for logs and tests.
const char* StatusName(ExtractStatus status);

// Collects text up to a limit in UTF-16 code units. Appending past the limit
// keeps the part that fits (never half a surrogate pair) and marks the sink
// full; callers stop reading once Append returns false.
class TextSink {
 public:
  explicit TextSink(size_t limit) : limit_(limit) {}
  TextSink(const TextSink&) = delete;
  TextSink& operator=(const TextSink&) = delete;

  // False once the sink is full.
  bool Append(std::u16string_view text);
  bool Append(char16_t c) { return Append(std::u16string_view(&c, 1)); }
  // Appends UTF-8 (converted through ToWide).
  bool AppendUtf8(std::string_view text);
  // Starts a new line unless the text is empty or already ends in one: block
  // boundaries (paragraphs, cells) become line breaks without piling up.
  bool NewLine();
  // A blank between words, unless the text is empty or ends in white space.
  bool Space();

  bool full() const { return full_; }
  size_t size() const { return text_.size(); }
  std::u16string& text() { return text_; }
  std::u16string Take() { return std::move(text_); }

 private:
  size_t limit_;
  bool full_ = false;
  std::u16string text_;
};

}  // namespace lun

#endif  // LUN_CRAWLER_EXTRACT_EXTRACT_RESULT_H_
