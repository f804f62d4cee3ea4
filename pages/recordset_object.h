// RecordsetObject: the script-visible result of a search, over the engine's
// Recordset. FTS.Execute and FTS.LookAt hand one to the page; the page moves
// through it, reads its paging figures, reads each column through a field
// object (field_object.h), searches within it and counts its rows per
// document category.
//
// Members, in table order (dispatch id = position):
//    1 Execute(query)  method  a new recordset object: this result intersected
//                              with the query (search within). On a recordset
//                              without rows the new object is empty too, with
//                              an empty ErrorInfo.
//    2 Close           method  releases the field objects and the rows; the
//                              fields the page still holds read empty.
//    3 MovePage(page)  method  1-based; 0 (or less) means 1, beyond the last
//                              means the last.
//    4 Move(row)       method  0-based row; outside the rows: no current row.
//    5 MoveFirst, 6 MoveLast, 7 MovePrev (not past row 0),
//    8 MoveNext (after the last row the recordset is at its end).
//    9 Field(name)     method  the field object of the column whose name equals
//                              `name` ignoring case, else of column n (1-based)
//                              when `name` is a decimal number n; otherwise
//                              Nothing. The default member: rs("x") is
//                              rs.Field("x").
//   10 Statistic       get     counts the rows per category (below); false
//                              without rows.
//   11 GetCount(name)  method  the category's count from the last Statistic;
//                              0 for an unknown name.
//   12 Eof             get     no current row (at or past the end)
//   13 Bof             get     the current row is row 0
//   14 Success         get     the object has rows
//   15 RecordPower     get     relevance of the current row; -1 unless the
//                              rows are ordered by "相关度"
//   16 PhysicsRecordNO get     record number of the current row; -1 without one
//   17 RecordCount, 18 CurPageNO (1-based; 0 before any page move),
//   19 CurPageSize, 20 MaxPageNO, 21 FieldCount
//                      get     the rows, pages and columns
//   22 Cursor          get     the 0-based current row; -1 without one
//   23 ElapsedSecond   get     seconds the evaluation took
//   24 ErrorInfo       get     the engine's message of a failed search, else ""
//   25 PageSize        get/put rows per page (10 unless set); a put below 1 is
//                              ignored.
// Without rows (a failed search, or after Close) Eof and Bof are true,
// Success false, every integer property 0, ElapsedSecond 0.0, and the
// movements do nothing. A failed search gives the page an object like that
// with the engine's message in ErrorInfo ("等待超时", "查询表达式语法错误").
//
// Statistic: for each category of the document table ("文档", "网页" ...,
// "其它"), the number of rows whose record is in that category's record
// list (the crawler keeps those lists). Every category is counted by a merge
// of the result with its list, so rows that are in no list count nowhere;
// rows of any table other than "文档" count in no category.
//
// Thread safety: one page thread. Objects are held by std::shared_ptr.
#ifndef LUN_PAGES_RECORDSET_OBJECT_H_
#define LUN_PAGES_RECORDSET_OBJECT_H_

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "automation/member_table.h"
#include "pages/field_object.h"

namespace lun {

class Recordset;
class SearchService;

// What a recordset object needs beyond its rows. Both may be empty.
struct RecordsetServices {
  // Runs Execute (search within); must outlive the object. Null: Execute
  // gives an object that failed with "创建记录集失败".
  SearchService* search = nullptr;
  // The record numbers of the documents of category `index` (0-7),
  // ascending. Empty: every count is 0.
  std::function<std::vector<uint32_t>(int index)> category_list;
};

class RecordsetObject : public TableDispatch<RecordsetObject> {
 public:
  enum : DispId {
    kExecute = 1,
    kClose,
    kMovePage,
    kMove,
    kMoveFirst,
    kMoveLast,
    kMovePrev,
    kMoveNext,
    kField,
    kStatistic,
    kGetCount,
    kEof,
    kBof,
    kSuccess,
    kRecordPower,
    kPhysicsRecordNo,
    kRecordCount,
    kCurPageNo,
    kCurPageSize,
    kMaxPageNo,
    kFieldCount,
    kCursor,
    kElapsedSecond,
    kErrorInfo,
    kPageSize,
  };
  static constexpr int kCategoryCount = 8;

  explicit RecordsetObject(RecordsetServices services);
  ~RecordsetObject() override;

  // Takes `rows` (not null) as the result, moved to row 0, with one field
  // object per column.
  void Attach(std::unique_ptr<Recordset> rows);
  // Leaves the object without rows, with the engine's message for `code`.
  void Fail(int code);

  bool has_rows() const { return rows_ != nullptr; }
  const std::string& error_text() const { return error_text_; }

  HResult Invoke(DispId id, std::uint16_t flags, std::span<const Variant> args, Variant* result,
                 ExcepInfo* excep) override;
  std::u16string TypeName() const override { return u"Recordset"; }

  static const Table kTable;

 private:
  HResult Execute(std::span<Variant> args, Variant* result, ExcepInfo* excep);
  HResult Close(std::span<Variant> args, Variant* result, ExcepInfo* excep);
  HResult MovePage(std::span<Variant> args, Variant* result, ExcepInfo* excep);
  HResult Move(std::span<Variant> args, Variant* result, ExcepInfo* excep);
  HResult MoveFirst(std::span<Variant> args, Variant* result, ExcepInfo* excep);
  HResult MoveLast(std::span<Variant> args, Variant* result, ExcepInfo* excep);
  HResult MovePrev(std::span<Variant> args, Variant* result, ExcepInfo* excep);
  HResult MoveNext(std::span<Variant> args, Variant* result, ExcepInfo* excep);
  HResult Field(std::span<Variant> args, Variant* result, ExcepInfo* excep);
  HResult Statistic(std::span<Variant> args, Variant* result, ExcepInfo* excep);
  HResult GetCount(std::span<Variant> args, Variant* result, ExcepInfo* excep);
  HResult GetEof(std::span<Variant> args, Variant* result, ExcepInfo* excep);
  HResult GetBof(std::span<Variant> args, Variant* result, ExcepInfo* excep);
  HResult GetSuccess(std::span<Variant> args, Variant* result, ExcepInfo* excep);
  HResult GetRecordPower(std::span<Variant> args, Variant* result, ExcepInfo* excep);
  HResult GetPhysicsRecordNo(std::span<Variant> args, Variant* result, ExcepInfo* excep);
  HResult GetRecordCount(std::span<Variant> args, Variant* result, ExcepInfo* excep);
  HResult GetCurPageNo(std::span<Variant> args, Variant* result, ExcepInfo* excep);
  HResult GetCurPageSize(std::span<Variant> args, Variant* result, ExcepInfo* excep);
  HResult GetMaxPageNo(std::span<Variant> args, Variant* result, ExcepInfo* excep);
  HResult GetFieldCount(std::span<Variant> args, Variant* result, ExcepInfo* excep);
  HResult GetCursor(std::span<Variant> args, Variant* result, ExcepInfo* excep);
  HResult GetElapsedSecond(std::span<Variant> args, Variant* result, ExcepInfo* excep);
  HResult GetErrorInfo(std::span<Variant> args, Variant* result, ExcepInfo* excep);
  HResult GetPageSize(std::span<Variant> args, Variant* result, ExcepInfo* excep);
  HResult PutPageSize(std::span<Variant> args, Variant* result, ExcepInfo* excep);

  // A 32-bit integer property: `read` of the rows, 0 without rows.
  template <typename Read>
  HResult IntegerProperty(Variant* result, Read read) const;
  // Runs `move` on the rows when there are any.
  template <typename Do>
  HResult Movement(Do move);
  int FieldIndexOf(std::u16string_view name) const;

  internal::LiveObjectCount count_;
  RecordsetServices services_;
  std::string error_text_;
  std::shared_ptr<Recordset> rows_;
  std::vector<std::shared_ptr<FieldObject>> fields_;
  std::array<int32_t, kCategoryCount> category_counts_{};
};

}  // namespace lun

#endif  // LUN_PAGES_RECORDSET_OBJECT_H_
