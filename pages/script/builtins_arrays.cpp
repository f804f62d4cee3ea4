#include <vector>

#include "pages/script/builtin_library.h"
#include "pages/script/runtime.h"
#include "pages/script/script_errors.h"

namespace lun::script {

namespace {

using namespace lib;  // NOLINT: the shared argument helpers

// ---------------------------------------------------------------- arrays

Variant FnArray(BuiltinHost& h, Args a) {
  if (a.size() > h.MaxArrayElements()) Throw(kErrOutOfMemory);
  return Variant::VariantArray(std::vector<Variant>(a.begin(), a.end()));
}

Variant BoundImpl(Args a, bool upper, std::u16string_view name) {
  const Variant& v = a[0];
  if (!v.is_array() || !v.AsArray()) Throw(kErrTypeMismatch, name);
  const SafeArray& sa = *v.AsArray();
  std::int64_t dim = LongArg(a, 1, 1);
  if (sa.dimensions() == 0 || dim < 1 || dim > static_cast<std::int64_t>(sa.dimensions())) {
    Throw(kErrSubscript, name);
  }
  const auto& b = sa.bounds()[static_cast<std::size_t>(dim - 1)];
  return Long(upper ? b.lower + b.count - 1 : b.lower);
}

Variant FnUBound(BuiltinHost&, Args a) { return BoundImpl(a, true, u"UBound"); }
Variant FnLBound(BuiltinHost&, Args a) { return BoundImpl(a, false, u"LBound"); }

Variant FnCreateObject(BuiltinHost& h, Args a) {
  std::u16string id = StrOf(a[0]);
  auto object = h.CreateObject(id);
  if (!object) Throw(kErrCannotCreate, id);
  return Variant::Object(std::move(object));
}

Variant FnErr(BuiltinHost& h, Args) { return Variant::Object(h.ErrObject()); }

Variant FnEval(BuiltinHost& h, Args a) { return h.EvalText(StrOf(a[0])); }

Variant FnExecute(BuiltinHost& h, Args a) {
  h.ExecuteText(StrOf(a[0]), false);
  return Variant();
}

Variant FnExecuteGlobal(BuiltinHost& h, Args a) {
  h.ExecuteText(StrOf(a[0]), true);
  return Variant();
}

Variant FnGetRef(BuiltinHost& h, Args a) {
  return Variant::Object(h.ProcedureReference(StrOf(a[0])));
}

constexpr Builtin kTable[] = {
    {u"Array", 0, 1 << 20, FnArray}, {u"UBound", 1, 2, FnUBound},
    {u"LBound", 1, 2, FnLBound},     {u"CreateObject", 1, 2, FnCreateObject},
    {u"Err", 0, 0, FnErr},           {u"Eval", 1, 1, FnEval},
    {u"Execute", 1, 1, FnExecute},   {u"ExecuteGlobal", 1, 1, FnExecuteGlobal},
    {u"GetRef", 1, 1, FnGetRef},
};

}  // namespace

std::span<const Builtin> ArrayBuiltins() { return kTable; }

}  // namespace lun::script
