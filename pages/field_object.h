// FieldObject: one column of a page's recordset object (recordset_object.h),
// as the script sees it: rs.Field("文件名称") or rs("文件名称").
//
// Members, in table order (dispatch id = position):
//   1 Value      property get  the column's value in the current row, typed
//                              by the field type; Empty without a current row.
//                              The default member, so rs("x") reads as the
//                              value wherever a value is needed.
//   2 HTMLValue  property get  the value as HTML: at most 200 characters
//                              around the column's first keyword, escaped,
//                              every keyword of the column marked in red.
//   3 Name       property get  the field name.
//   4 Mark       property get  the column's keywords, each preceded by "*"
//                              ("*a*b"), for FTS.MarkKeyword and
//                              FTS.KeywordNavigate.
//   5 Snippet    method        Snippet(mark, length): the results page's
//                              snippet of the value (result_snippet.h)
//                              around the first word of `mark` that occurs
//                              in it; length is clamped to 0-100,000. The
//                              page asks for it instead of the whole text:
//                              a stored text is read only as far as the
//                              snippet needs.
//
// Lifetime: the object shares its recordset's rows, so that a field of a
// recordset the page holds no variable for still reads its row
// (FTS.Execute(q)("x").Mark, where the recordset is a temporary that is gone
// before Mark is asked). Close of the recordset object detaches its fields:
// Value, HTMLValue and Mark then read empty, Name stays.
//
// Thread safety: one page thread, like the recordset.
#ifndef LUN_PAGES_FIELD_OBJECT_H_
#define LUN_PAGES_FIELD_OBJECT_H_

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "automation/member_table.h"

namespace lun {

class Recordset;

// The number of recordset and field objects alive in the process: a page
// run that ends must leave it where it was.
int64_t LiveRecordsetObjects();

namespace internal {
// Counts one living recordset or field object for as long as it exists.
class LiveObjectCount {
 public:
  LiveObjectCount();
  ~LiveObjectCount();
  LiveObjectCount(const LiveObjectCount&) = delete;
  LiveObjectCount& operator=(const LiveObjectCount&) = delete;
};
}  // namespace internal

class FieldObject : public TableDispatch<FieldObject> {
 public:
  enum : DispId { kValue = 1, kHtmlValue = 2, kName = 3, kMark = 4, kSnippet = 5 };

  // Column `column` of `rows`.
  FieldObject(std::shared_ptr<const Recordset> rows, int column);

  // Lets go of the rows: the values read empty from now on.
  void Detach() { rows_.reset(); }

  HResult Invoke(DispId id, std::uint16_t flags, std::span<const Variant> args, Variant* result,
                 ExcepInfo* excep) override;
  std::u16string TypeName() const override { return u"Field"; }

  static const Table kTable;

 private:
  HResult GetValue(std::span<Variant> args, Variant* result, ExcepInfo* excep);
  HResult GetHtmlValue(std::span<Variant> args, Variant* result, ExcepInfo* excep);
  HResult GetSnippet(std::span<Variant> args, Variant* result, ExcepInfo* excep);
  // What `cut` makes of the current row's text of this column, given its
  // size and its pieces.
  using TextCutter =
      std::function<std::u16string(size_t size, const std::function<bool(std::u16string*)>& next)>;
  std::u16string CutText(const TextCutter& cut) const;
  HResult GetName(std::span<Variant> args, Variant* result, ExcepInfo* excep);
  HResult GetMark(std::span<Variant> args, Variant* result, ExcepInfo* excep);

  internal::LiveObjectCount count_;
  std::shared_ptr<const Recordset> rows_;
  int column_;
  std::u16string name_;
};

}  // namespace lun

#endif  // LUN_PAGES_FIELD_OBJECT_H_
