#include "pages/field_object.h"

#include <algorithm>
#include <atomic>
#include <vector>

#include "engine/query/highlighter.h"
#include "engine/query/recordset.h"
#include "engine/storage/data_table.h"
#include "engine/storage/value_codec.h"
#include "pages/result_snippet.h"
#include "platform/text.h"

namespace lun {
namespace {

std::atomic<int64_t> g_live_objects{0};

// A snippet longer than this is cut to it: the page asks for at most a few
// thousand characters, and a stray argument must not read a whole text.
constexpr int64_t kMaxSnippetLength = 100'000;

}  // namespace

int64_t LiveRecordsetObjects() { return g_live_objects.load(); }

namespace internal {
LiveObjectCount::LiveObjectCount() { g_live_objects.fetch_add(1); }
LiveObjectCount::~LiveObjectCount() { g_live_objects.fetch_sub(1); }
}  // namespace internal

const FieldObject::Table FieldObject::kTable = {
    {{u"Value", kValue, DISPATCH_PROPERTYGET | DISPATCH_METHOD, 0, 0, {}, VT_VARIANT},
     &FieldObject::GetValue},
    {{u"HTMLValue", kHtmlValue, DISPATCH_PROPERTYGET | DISPATCH_METHOD, 0, 0, {}, VT_BSTR},
     &FieldObject::GetHtmlValue},
    {{u"Name", kName, DISPATCH_PROPERTYGET | DISPATCH_METHOD, 0, 0, {}, VT_BSTR},
     &FieldObject::GetName},
    {{u"Mark", kMark, DISPATCH_PROPERTYGET | DISPATCH_METHOD, 0, 0, {}, VT_BSTR},
     &FieldObject::GetMark},
    {{u"Snippet", kSnippet, DISPATCH_METHOD, 2, 2, {VT_BSTR, VT_I4}, VT_BSTR},
     &FieldObject::GetSnippet},
};

FieldObject::FieldObject(std::shared_ptr<const Recordset> rows, int column)
    : TableDispatch(kTable), rows_(std::move(rows)), column_(column) {
  if (rows_) name_ = ToWide(rows_->columns()[static_cast<size_t>(column_)].name);
}

HResult FieldObject::Invoke(DispId id, std::uint16_t flags, std::span<const Variant> args,
                            Variant* result, ExcepInfo* excep) {
  // The default member is Value.
  return TableDispatch::Invoke(id == DISPID_VALUE ? kValue : id, flags, args, result, excep);
}

HResult FieldObject::GetValue(std::span<Variant>, Variant* result, ExcepInfo*) {
  if (rows_) *result = rows_->Value(column_);
  return S_OK;
}

// A text column is cut while its stored text is read piece by piece: a row
// of a results page costs the text up to its first keyword, not the
// decompression of the whole document. A value without a stored text (or a
// damaged one) is cut from the value as the script would see it.
std::u16string FieldObject::CutText(const TextCutter& cut) const {
  const Recordset::Column* column =
      rows_ ? &rows_->columns()[static_cast<size_t>(column_)] : nullptr;
  const int64_t record = rows_ ? rows_->RecordNumber() : -1;
  std::string stored;
  if (column && IsTextType(column->type) && record >= 0 && rows_->table() &&
      rows_->table()->ReadStoredValue(static_cast<uint32_t>(record), column->position, &stored)) {
    StoredTextReader reader(stored);
    std::u16string cut_text =
        cut(reader.size(), [&reader](std::u16string* text) { return reader.Next(text); });
    if (!reader.damaged()) return cut_text;
  }
  std::u16string text;
  // A value without a text form (an array, Null) cuts as no text.
  if (!rows_ || ToText(rows_->Value(column_), &text) != S_OK) text.clear();
  bool given = false;
  return cut(text.size(), [&](std::u16string* out) {
    if (given) return false;
    given = true;
    out->append(text);
    return true;
  });
}

HResult FieldObject::GetHtmlValue(std::span<Variant>, Variant* result, ExcepInfo*) {
  static const std::vector<std::u16string> kNoKeywords;
  const std::vector<std::u16string>& keywords =
      rows_ ? rows_->columns()[static_cast<size_t>(column_)].keywords : kNoKeywords;
  *result = Variant::Bstr(CutText([&](size_t size, const TextPieces& next) {
    return HighlightedSnippet(size, next, keywords);
  }));
  return S_OK;
}

HResult FieldObject::GetSnippet(std::span<Variant> args, Variant* result, ExcepInfo*) {
  const std::u16string mark(args[0].AsString());
  const size_t length =
      static_cast<size_t>(std::clamp<int64_t>(args[1].AsInteger(), 0, kMaxSnippetLength));
  *result = Variant::Bstr(CutText([&](size_t size, const TextPieces& next) {
    return ResultSnippet(size, next, mark, length);
  }));
  return S_OK;
}

HResult FieldObject::GetName(std::span<Variant>, Variant* result, ExcepInfo*) {
  *result = Variant::Bstr(name_);
  return S_OK;
}

HResult FieldObject::GetMark(std::span<Variant>, Variant* result, ExcepInfo*) {
  std::u16string mark;
  if (rows_) {
    for (const std::u16string& keyword : rows_->columns()[static_cast<size_t>(column_)].keywords) {
      mark += u'*';
      mark += keyword;
    }
  }
  *result = Variant::Bstr(std::move(mark));
  return S_OK;
}

}  // namespace lun
