#include "crawler/extract/extract_result.h"

#include "platform/text.h"

namespace lun {

const char* StatusName(ExtractStatus status) {
  switch (status) {
    case ExtractStatus::kOk: return "ok";
    case ExtractStatus::kPartial: return "partial";
    case ExtractStatus::kUnsupported: return "unsupported";
    case ExtractStatus::kUnreadable: return "unreadable";
    case ExtractStatus::kDamaged: return "damaged";
    case ExtractStatus::kTooLarge: return "too large";
    case ExtractStatus::kLocked: return "locked";
  }
  return "unknown";
}

bool TextSink::Append(std::u16string_view text) {
  if (full_) return false;
  size_t room = limit_ - text_.size();
  if (text.size() <= room) {
    text_.append(text);
    if (text_.size() == limit_) full_ = true;
    return !full_;
  }
  // Cut before a high surrogate whose partner would fall outside.
  if (room > 0 && text[room - 1] >= 0xD800 && text[room - 1] <= 0xDBFF) --room;
  text_.append(text.substr(0, room));
  full_ = true;
  return false;
}

bool TextSink::AppendUtf8(std::string_view text) { return Append(ToWide(text)); }

bool TextSink::NewLine() {
  if (text_.empty() || text_.back() == u'\n') return !full_;
  return Append(u'\n');
}

bool TextSink::Space() {
  if (text_.empty()) return !full_;
  const char16_t last = text_.back();
  if (last == u' ' || last == u'\n' || last == u'\t') return !full_;
  return Append(u' ');
}

}  // namespace lun
