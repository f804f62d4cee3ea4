#include "pages/recordset_object.h"

#include <algorithm>

#include "crawler/document_table.h"
#include "crawler/scan_scope.h"
#include "engine/query/recordset.h"
#include "engine/query/search_service.h"
#include "engine/storage/data_table.h"
#include "engine/storage/engine_error.h"
#include "platform/text.h"

namespace lun {
namespace {

constexpr auto kGet = static_cast<std::uint16_t>(DISPATCH_PROPERTYGET | DISPATCH_METHOD);

// Number of values present in both ascending lists.
int32_t CountCommon(const std::vector<uint32_t>& a, const std::vector<uint32_t>& b) {
  int32_t n = 0;
  size_t i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    if (a[i] < b[j]) {
      ++i;
    } else if (b[j] < a[i]) {
      ++j;
    } else {
      ++n, ++i, ++j;
    }
  }
  return n;
}

bool IsDocumentTable(const Recordset& rows) {
  const DataTable* table = rows.table();
  return table && EqualsIgnoreAsciiCase(ToWide(table->name()), ToWide(kDocumentTable));
}

// "12" -> 12; anything but a plain decimal number -> -1.
int64_t DecimalNumber(std::u16string_view text) {
  if (text.empty() || text.size() > 9) return -1;
  int64_t n = 0;
  for (char16_t c : text) {
    if (c < u'0' || c > u'9') return -1;
    n = n * 10 + (c - u'0');
  }
  return n;
}

}  // namespace

using R = RecordsetObject;

const RecordsetObject::Table RecordsetObject::kTable = {
    {{u"Execute", kExecute, DISPATCH_METHOD, 1, 1, {VT_BSTR}, VT_DISPATCH}, &R::Execute},
    {{u"Close", kClose, DISPATCH_METHOD, 0, 0, {}, VT_EMPTY}, &R::Close},
    {{u"MovePage", kMovePage, DISPATCH_METHOD, 1, 1, {VT_I4}, VT_EMPTY}, &R::MovePage},
    {{u"Move", kMove, DISPATCH_METHOD, 1, 1, {VT_I4}, VT_EMPTY}, &R::Move},
    {{u"MoveFirst", kMoveFirst, DISPATCH_METHOD, 0, 0, {}, VT_EMPTY}, &R::MoveFirst},
    {{u"MoveLast", kMoveLast, DISPATCH_METHOD, 0, 0, {}, VT_EMPTY}, &R::MoveLast},
    {{u"MovePrev", kMovePrev, DISPATCH_METHOD, 0, 0, {}, VT_EMPTY}, &R::MovePrev},
    {{u"MoveNext", kMoveNext, DISPATCH_METHOD, 0, 0, {}, VT_EMPTY}, &R::MoveNext},
    {{u"Field", kField, kGet, 1, 1, {VT_BSTR}, VT_DISPATCH}, &R::Field},
    {{u"Statistic", kStatistic, kGet, 0, 0, {}, VT_BOOL}, &R::Statistic},
    {{u"GetCount", kGetCount, kGet, 1, 1, {VT_BSTR}, VT_I4}, &R::GetCount},
    {{u"Eof", kEof, kGet, 0, 0, {}, VT_BOOL}, &R::GetEof},
    {{u"Bof", kBof, kGet, 0, 0, {}, VT_BOOL}, &R::GetBof},
    {{u"Success", kSuccess, kGet, 0, 0, {}, VT_BOOL}, &R::GetSuccess},
    {{u"RecordPower", kRecordPower, kGet, 0, 0, {}, VT_I4}, &R::GetRecordPower},
    {{u"PhysicsRecordNO", kPhysicsRecordNo, kGet, 0, 0, {}, VT_I4}, &R::GetPhysicsRecordNo},
    {{u"RecordCount", kRecordCount, kGet, 0, 0, {}, VT_I4}, &R::GetRecordCount},
    {{u"CurPageNO", kCurPageNo, kGet, 0, 0, {}, VT_I4}, &R::GetCurPageNo},
    {{u"CurPageSize", kCurPageSize, kGet, 0, 0, {}, VT_I4}, &R::GetCurPageSize},
    {{u"MaxPageNO", kMaxPageNo, kGet, 0, 0, {}, VT_I4}, &R::GetMaxPageNo},
    {{u"FieldCount", kFieldCount, kGet, 0, 0, {}, VT_I4}, &R::GetFieldCount},
    {{u"Cursor", kCursor, kGet, 0, 0, {}, VT_I4}, &R::GetCursor},
    {{u"ElapsedSecond", kElapsedSecond, kGet, 0, 0, {}, VT_R8}, &R::GetElapsedSecond},
    {{u"ErrorInfo", kErrorInfo, kGet, 0, 0, {}, VT_BSTR}, &R::GetErrorInfo},
    {{u"PageSize", kPageSize, kGet, 0, 0, {}, VT_I4}, &R::GetPageSize},
    {{u"PageSize", kPageSize, DISPATCH_PROPERTYPUT, 1, 1, {VT_I4}, VT_EMPTY}, &R::PutPageSize},
};

RecordsetObject::RecordsetObject(RecordsetServices services)
    : TableDispatch(kTable), services_(std::move(services)) {}

RecordsetObject::~RecordsetObject() = default;

void RecordsetObject::Attach(std::unique_ptr<Recordset> rows) {
  rows_ = std::move(rows);
  error_text_.clear();
  rows_->MoveFirst();
  fields_.clear();
  for (size_t i = 0; i < rows_->columns().size(); ++i) {
    fields_.push_back(std::make_shared<FieldObject>(rows_, static_cast<int>(i)));
  }
}

void RecordsetObject::Fail(int code) {
  rows_.reset();
  fields_.clear();
  error_text_ = EngineErrorText(code);
}

HResult RecordsetObject::Invoke(DispId id, std::uint16_t flags, std::span<const Variant> args,
                                Variant* result, ExcepInfo* excep) {
  // The default member is Field: rs("x") is rs.Field("x").
  return TableDispatch::Invoke(id == DISPID_VALUE ? kField : id, flags, args, result, excep);
}

HResult RecordsetObject::Execute(std::span<Variant> args, Variant* result, ExcepInfo*) {
  auto within = std::make_shared<RecordsetObject>(services_);
  if (rows_ && !services_.search) {
    within->Fail(kRecordsetCreateFailed);
  } else if (rows_) {
    std::unique_ptr<Recordset> found;
    const int code = services_.search->SearchWithin(*rows_, ToNarrow(args[0].AsString()),
                                                    WithinMode::kIntersect, &found);
    if (code == kEngineOk && found) {
      within->Attach(std::move(found));
    } else {
      within->Fail(code == kEngineOk ? kRecordsetOpenFailed : code);
    }
  }
  *result = Variant::Object(std::move(within));
  return S_OK;
}

HResult RecordsetObject::Close(std::span<Variant>, Variant*, ExcepInfo*) {
  // Fields the page still holds share the rows: they must let go too.
  for (const std::shared_ptr<FieldObject>& field : fields_) field->Detach();
  fields_.clear();
  rows_.reset();
  return S_OK;
}

template <typename Do>
HResult RecordsetObject::Movement(Do move) {
  if (rows_) move(*rows_);
  return S_OK;
}

HResult RecordsetObject::MovePage(std::span<Variant> args, Variant*, ExcepInfo*) {
  const int64_t page = std::max<int64_t>(args[0].AsInteger(), 0);
  return Movement([page](Recordset& rs) { rs.MovePage(static_cast<uint32_t>(page)); });
}

HResult RecordsetObject::Move(std::span<Variant> args, Variant*, ExcepInfo*) {
  const int64_t row = args[0].AsInteger();
  return Movement([row](Recordset& rs) { rs.Move(row); });
}

HResult RecordsetObject::MoveFirst(std::span<Variant>, Variant*, ExcepInfo*) {
  return Movement([](Recordset& rs) { rs.MoveFirst(); });
}

HResult RecordsetObject::MoveLast(std::span<Variant>, Variant*, ExcepInfo*) {
  return Movement([](Recordset& rs) { rs.MoveLast(); });
}

HResult RecordsetObject::MovePrev(std::span<Variant>, Variant*, ExcepInfo*) {
  return Movement([](Recordset& rs) { rs.MovePrev(); });
}

HResult RecordsetObject::MoveNext(std::span<Variant>, Variant*, ExcepInfo*) {
  return Movement([](Recordset& rs) {
    // At the end already: stay there (the engine would wrap to row 0).
    if (!rs.IsEOF()) rs.MoveNext();
  });
}

int RecordsetObject::FieldIndexOf(std::u16string_view name) const {
  const int by_name = rows_->FindColumn(ToNarrow(name));
  if (by_name >= 0) return by_name;
  const int64_t n = DecimalNumber(name);
  if (n >= 1 && n <= static_cast<int64_t>(fields_.size())) return static_cast<int>(n - 1);
  return -1;
}

HResult RecordsetObject::Field(std::span<Variant> args, Variant* result, ExcepInfo*) {
  const int index = rows_ ? FieldIndexOf(args[0].AsString()) : -1;
  *result = Variant::Object(index < 0 ? nullptr : fields_[static_cast<size_t>(index)]);
  return S_OK;
}

HResult RecordsetObject::Statistic(std::span<Variant>, Variant* result, ExcepInfo*) {
  if (!rows_) {
    *result = Variant::Bool(false);
    return S_OK;
  }
  category_counts_.fill(0);
  if (services_.category_list && IsDocumentTable(*rows_)) {
    // The rows are in display order once sorted; the merge needs them
    // ascending, as the evaluation produced them.
    std::vector<uint32_t> records(rows_->rows().records.begin(), rows_->rows().records.end());
    std::sort(records.begin(), records.end());
    for (int i = 0; i < kCategoryCount && !CategoryName(i).empty(); ++i) {
      category_counts_[static_cast<size_t>(i)] = CountCommon(records, services_.category_list(i));
    }
  }
  *result = Variant::Bool(true);
  return S_OK;
}

HResult RecordsetObject::GetCount(std::span<Variant> args, Variant* result, ExcepInfo*) {
  const int index = CategoryIndex(ToNarrow(args[0].AsString()));
  *result = Variant::I4(
      index < 0 || index >= kCategoryCount ? 0 : category_counts_[static_cast<size_t>(index)]);
  return S_OK;
}

HResult RecordsetObject::GetEof(std::span<Variant>, Variant* result, ExcepInfo*) {
  *result = Variant::Bool(!rows_ || rows_->IsEOF());
  return S_OK;
}

HResult RecordsetObject::GetBof(std::span<Variant>, Variant* result, ExcepInfo*) {
  *result = Variant::Bool(!rows_ || rows_->IsBOF());
  return S_OK;
}

HResult RecordsetObject::GetSuccess(std::span<Variant>, Variant* result, ExcepInfo*) {
  *result = Variant::Bool(rows_ != nullptr);
  return S_OK;
}

template <typename Read>
HResult RecordsetObject::IntegerProperty(Variant* result, Read read) const {
  *result = Variant::I4(rows_ ? static_cast<int32_t>(read(*rows_)) : 0);
  return S_OK;
}

HResult RecordsetObject::GetRecordPower(std::span<Variant>, Variant* result, ExcepInfo*) {
  return IntegerProperty(result, [](const Recordset& rs) { return rs.Relevance(); });
}

HResult RecordsetObject::GetPhysicsRecordNo(std::span<Variant>, Variant* result, ExcepInfo*) {
  return IntegerProperty(result, [](const Recordset& rs) { return rs.RecordNumber(); });
}

HResult RecordsetObject::GetRecordCount(std::span<Variant>, Variant* result, ExcepInfo*) {
  return IntegerProperty(result, [](const Recordset& rs) { return rs.count(); });
}

HResult RecordsetObject::GetCurPageNo(std::span<Variant>, Variant* result, ExcepInfo*) {
  return IntegerProperty(result, [](const Recordset& rs) { return rs.current_page(); });
}

HResult RecordsetObject::GetCurPageSize(std::span<Variant>, Variant* result, ExcepInfo*) {
  return IntegerProperty(result, [](const Recordset& rs) { return rs.current_page_size(); });
}

HResult RecordsetObject::GetMaxPageNo(std::span<Variant>, Variant* result, ExcepInfo*) {
  return IntegerProperty(result, [](const Recordset& rs) { return rs.page_count(); });
}

HResult RecordsetObject::GetFieldCount(std::span<Variant>, Variant* result, ExcepInfo*) {
  return IntegerProperty(result, [](const Recordset& rs) { return rs.columns().size(); });
}

HResult RecordsetObject::GetCursor(std::span<Variant>, Variant* result, ExcepInfo*) {
  // No current row (at the end) reads -1.
  return IntegerProperty(
      result, [](const Recordset& rs) { return rs.IsEOF() ? int64_t{-1} : rs.cursor(); });
}

HResult RecordsetObject::GetElapsedSecond(std::span<Variant>, Variant* result, ExcepInfo*) {
  *result = Variant::R8(rows_ ? rows_->elapsed_seconds : 0.0);
  return S_OK;
}

HResult RecordsetObject::GetErrorInfo(std::span<Variant>, Variant* result, ExcepInfo*) {
  *result = Variant::Bstr(ToWide(error_text_));
  return S_OK;
}

HResult RecordsetObject::GetPageSize(std::span<Variant>, Variant* result, ExcepInfo*) {
  return IntegerProperty(result, [](const Recordset& rs) { return rs.page_size(); });
}

HResult RecordsetObject::PutPageSize(std::span<Variant> args, Variant*, ExcepInfo*) {
  const int64_t size = args[0].AsInteger();
  if (rows_ && size >= 1) rows_->SetPageSize(static_cast<uint32_t>(size));
  return S_OK;
}

}  // namespace lun
