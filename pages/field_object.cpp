#include "pages/field_object.h"

#include <atomic>

#include "engine/query/highlighter.h"
#include "engine/query/recordset.h"
#include "engine/storage/data_table.h"
#include "engine/storage/value_codec.h"
#include "platform/text.h"

namespace lun {
namespace {

std::atomic<int64_t> g_live_objects{0};

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

// A text column's snippet is cut while its stored text is read piece by
// piece: a row of a results page costs the text up to its first keyword,
// not the decompression of the whole document.
bool FieldObject::StoredTextSnippet(std::u16string* snippet) const {
  const Recordset::Column& column = rows_->columns()[static_cast<size_t>(column_)];
  const int64_t record = rows_->RecordNumber();
  if (!IsTextType(column.type) || record < 0 || !rows_->table()) return false;
  std::string stored;
  if (!rows_->table()->ReadStoredValue(static_cast<uint32_t>(record), column.position, &stored)) {
    return false;
  }
  StoredTextReader reader(stored);
  *snippet = HighlightedSnippet(
      reader.size(), [&reader](std::u16string* text) { return reader.Next(text); },
      column.keywords);
  // A damaged value shows as the value itself does: empty.
  return !reader.damaged();
}

HResult FieldObject::GetHtmlValue(std::span<Variant>, Variant* result, ExcepInfo*) {
  std::u16string text;
  if (rows_ && StoredTextSnippet(&text)) {
    *result = Variant::Bstr(std::move(text));
    return S_OK;
  }
  // A value without a text form (an array, Null) shows as nothing.
  if (!rows_ || ToText(rows_->Value(column_), &text) != S_OK) {
    *result = Variant::Bstr(u"");
    return S_OK;
  }
  *result = Variant::Bstr(
      HighlightedSnippet(text, rows_->columns()[static_cast<size_t>(column_)].keywords));
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
