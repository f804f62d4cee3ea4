#include "pages/script/builtin_library.h"

#include "automation/text_case.h"
#include "pages/script/runtime.h"
#include "pages/script/script_errors.h"

namespace lun::script::lib {

bool Missing(Args a, std::size_t i) {
  return i >= a.size() || (a[i].type() == VT_ERROR && a[i].AsError() == DISP_E_PARAMNOTFOUND);
}

// Reduced value of argument i (objects to their default value).
Variant Val(Args a, std::size_t i) { return Reduce(a[i]); }

std::int64_t LongArg(Args a, std::size_t i, std::int64_t def) {
  if (Missing(a, i)) return def;
  return ToLong(a[i]);
}

std::u16string StrOf(const Variant& v) {
  Variant r = Reduce(v);
  if (r.is_null()) Throw(kErrInvalidNull);
  return ToStr(r);
}

// Compare argument: 0 binary (default) or 1 text.
bool TextCompare(Args a, std::size_t i) {
  if (Missing(a, i)) return false;
  Variant v = Val(a, i);
  if (v.is_null()) Throw(kErrInvalidNull);
  std::int64_t c = ToLong(v);
  if (c != 0 && c != 1) Throw(kErrInvalidCall);
  return c == 1;
}

Variant Str(std::u16string s) {
  CheckStringLength(s.size());
  return Variant::Bstr(std::move(s));
}

Variant Long(std::int64_t v) { return Variant::I4(static_cast<std::int32_t>(v)); }
Variant Int(std::int64_t v) { return Variant::I2(static_cast<std::int16_t>(v)); }

// Position of `needle` in `hay` at or after `from` (0-based), or npos.
std::size_t FindText(std::u16string_view hay, std::u16string_view needle, std::size_t from,
                     bool text) {
  if (!text) return hay.find(needle, from);
  std::u16string h = FoldCase(hay), n = FoldCase(needle);
  return h.find(n, from);
}

std::size_t RFindText(std::u16string_view hay, std::u16string_view needle, std::size_t last_start,
                      bool text) {
  if (!text) return hay.rfind(needle, last_start);
  std::u16string h = FoldCase(hay), n = FoldCase(needle);
  return h.rfind(n, last_start);
}

}  // namespace lun::script::lib
