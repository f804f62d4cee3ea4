#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "automation/date_time.h"
#include "pages/script/builtin_library.h"
#include "pages/script/runtime.h"
#include "pages/script/script_errors.h"

namespace lun::script {

namespace {

using namespace lib;  // NOLINT: the shared argument helpers

// ------------------------------------------------------------ conversion

Variant ConvertTo(Args a, VarType t) { return ConvertValue(a[0], t); }

Variant FnCStr(BuiltinHost&, Args a) { return ConvertTo(a, VT_BSTR); }
Variant FnCInt(BuiltinHost&, Args a) { return ConvertTo(a, VT_I2); }
Variant FnCLng(BuiltinHost&, Args a) { return ConvertTo(a, VT_I4); }
Variant FnCByte(BuiltinHost&, Args a) {
  // True is taken as its 8-bit pattern: CByte(True) = 255.
  Variant v = Val(a, 0);
  if (v.type() == VT_BOOL) return Variant::UI1(v.AsBool() ? 255 : 0);
  return ConvertTo(a, VT_UI1);
}
Variant FnCDbl(BuiltinHost&, Args a) { return ConvertTo(a, VT_R8); }
Variant FnCSng(BuiltinHost&, Args a) { return ConvertTo(a, VT_R4); }
Variant FnCCur(BuiltinHost&, Args a) { return ConvertTo(a, VT_CY); }
Variant FnCBool(BuiltinHost&, Args a) { return ConvertTo(a, VT_BOOL); }
Variant FnCDate(BuiltinHost&, Args a) { return ConvertTo(a, VT_DATE); }

// ---------------------------------------------------------------- checks

Variant FnIsEmpty(BuiltinHost&, Args a) { return Variant::Bool(a[0].is_empty()); }
Variant FnIsNull(BuiltinHost&, Args a) { return Variant::Bool(a[0].is_null()); }
Variant FnIsArray(BuiltinHost&, Args a) { return Variant::Bool(a[0].is_array()); }
Variant FnIsObject(BuiltinHost&, Args a) { return Variant::Bool(a[0].is_object()); }

Variant FnIsNumeric(BuiltinHost&, Args a) {
  Variant v = a[0];
  if (v.is_object()) {
    if (!v.AsObject()) return Variant::Bool(false);
    Variant out;
    if (DefaultValue(v, &out) != S_OK) return Variant::Bool(false);
    v = out;
  }
  switch (v.type()) {
    case VT_EMPTY:
      return Variant::Bool(true);
    case VT_BSTR: {
      double d = 0;
      return Variant::Bool(ParseNumber(v.AsString(), &d));
    }
    case VT_DATE:
    case VT_NULL:
    case VT_ERROR:
      return Variant::Bool(false);
    default:
      return Variant::Bool(!v.is_array() && v.is_numeric());
  }
}

Variant FnIsDate(BuiltinHost&, Args a) {
  Variant v = a[0];
  if (v.is_object()) {
    Variant out;
    if (!v.AsObject() || DefaultValue(v, &out) != S_OK) return Variant::Bool(false);
    v = out;
  }
  if (v.type() == VT_DATE) return Variant::Bool(true);
  if (v.is_string()) {
    double d = 0;
    return Variant::Bool(ParseDateText(v.AsString(), &d));
  }
  return Variant::Bool(false);
}

Variant FnTypeName(BuiltinHost&, Args a) { return Variant::Bstr(TypeNameOf(a[0])); }
Variant FnVarType(BuiltinHost&, Args a) { return Int(VarTypeOf(a[0])); }

// ---------------------------------------------------------------- math

Variant FnAbs(BuiltinHost&, Args a) {
  Variant v = Val(a, 0);
  switch (v.type()) {
    case VT_NULL:
      return v;
    case VT_EMPTY:
      return Int(0);
    case VT_UI1:
      return v;
    case VT_I2:
    case VT_BOOL: {
      std::int64_t x = std::llabs(v.AsInteger());
      return x > 32767 ? Long(x) : Int(x);
    }
    case VT_I4: {
      std::int64_t x = std::llabs(v.AsInteger());
      return x > INT32_MAX ? Variant::R8(static_cast<double>(x)) : Long(x);
    }
    case VT_R4:
      return Variant::R4(static_cast<float>(std::fabs(v.AsDouble())));
    case VT_CY:
      return Variant::Currency(v.AsInteger() < 0 ? -v.AsInteger() : v.AsInteger());
    case VT_DATE:
      return Variant::Date(std::fabs(v.AsDouble()));
    default:
      return Variant::R8(std::fabs(ToDouble(v)));
  }
}

Variant IntFix(Args a, bool floor_mode) {
  Variant v = Val(a, 0);
  auto f = [floor_mode](double d) { return floor_mode ? std::floor(d) : std::trunc(d); };
  switch (v.type()) {
    case VT_NULL:
      return v;
    case VT_EMPTY:
      return Int(0);
    case VT_UI1:
    case VT_I2:
    case VT_I4:
      return v;
    case VT_BOOL:
      return Int(v.AsInteger());
    case VT_R4:
      return Variant::R4(static_cast<float>(f(v.AsDouble())));
    case VT_CY: {
      long double units = static_cast<long double>(v.AsInteger()) / kCurrencyScale;
      units = floor_mode ? std::floor(units) : std::trunc(units);
      return Variant::Currency(static_cast<std::int64_t>(units * kCurrencyScale));
    }
    case VT_DATE:
      return Variant::Date(f(v.AsDouble()));
    default:
      return Variant::R8(f(ToDouble(v)));
  }
}

Variant FnInt(BuiltinHost&, Args a) { return IntFix(a, true); }
Variant FnFix(BuiltinHost&, Args a) { return IntFix(a, false); }

Variant FnRound(BuiltinHost&, Args a) {
  Variant v = Val(a, 0);
  std::int64_t d = LongArg(a, 1, 0);
  if (d < 0) Throw(kErrInvalidCall, u"Round");
  if (v.is_null()) return v;
  switch (v.type()) {
    case VT_UI1:
    case VT_I2:
    case VT_I4:
      return v;
    case VT_BOOL:
      return Int(v.AsInteger());
    case VT_EMPTY:
      return Int(0);
    default:
      break;
  }
  double x = ToDouble(v);
  if (d > 15) return Variant::R8(x);
  double scale = std::pow(10.0, static_cast<double>(d));
  double scaled = x * scale;
  if (!std::isfinite(scaled)) return Variant::R8(x);
  // Work on the decimal value the user sees: 1.2345 * 100 is 123.45000000000002
  // in binary, which must still round as 123.45.
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.15g", scaled);
  double decimal = std::strtod(buf, nullptr);
  double r = RoundHalfEven(decimal) / scale;
  if (v.type() == VT_R4) return Variant::R4(static_cast<float>(r));
  if (v.type() == VT_CY) {
    return Variant::Currency(static_cast<std::int64_t>(std::nearbyint(r * kCurrencyScale)));
  }
  return Variant::R8(r);
}

Variant FnSgn(BuiltinHost&, Args a) {
  Variant v = Val(a, 0);
  if (v.is_null()) return v;
  double d = ToDouble(v);
  return Int(d > 0 ? 1 : d < 0 ? -1 : 0);
}

Variant MathResult(double r) {
  if (!std::isfinite(r)) Throw(kErrOverflow);
  return Variant::R8(r);
}

double MathArg(Args a) {
  Variant v = Val(a, 0);
  if (v.is_null()) Throw(kErrInvalidNull);
  return ToDouble(v);
}

Variant FnSqr(BuiltinHost&, Args a) {
  double x = MathArg(a);
  if (x < 0) Throw(kErrInvalidCall, u"Sqr");
  return Variant::R8(std::sqrt(x));
}
Variant FnExp(BuiltinHost&, Args a) { return MathResult(std::exp(MathArg(a))); }
Variant FnLog(BuiltinHost&, Args a) {
  double x = MathArg(a);
  if (x <= 0) Throw(kErrInvalidCall, u"Log");
  return Variant::R8(std::log(x));
}
Variant FnSin(BuiltinHost&, Args a) { return MathResult(std::sin(MathArg(a))); }
Variant FnCos(BuiltinHost&, Args a) { return MathResult(std::cos(MathArg(a))); }
Variant FnTan(BuiltinHost&, Args a) { return MathResult(std::tan(MathArg(a))); }
Variant FnAtn(BuiltinHost&, Args a) { return MathResult(std::atan(MathArg(a))); }

// The classic 24-bit linear congruential generator of the language's Rnd.
float NextRnd(BuiltinHost& h) {
  h.rnd_seed = (h.rnd_seed * 1140671485u + 12820163u) & 0xFFFFFFu;
  h.rnd_last = static_cast<float>(h.rnd_seed) / 16777216.0f;
  return h.rnd_last;
}

Variant FnRnd(BuiltinHost& h, Args a) {
  if (Missing(a, 0)) return Variant::R4(NextRnd(h));
  float n = static_cast<float>(ToDouble(a[0]));
  if (n == 0) return Variant::R4(h.rnd_last);
  if (n < 0) {
    std::uint32_t bits = 0;
    std::memcpy(&bits, &n, sizeof bits);
    h.rnd_seed = (bits + (bits >> 24)) & 0xFFFFFFu;
  }
  return Variant::R4(NextRnd(h));
}

// RGB(r, g, b): each part 0..255 (larger values count as 255), as the
// Long r + 256 * g + 65536 * b.
Variant FnRGB(BuiltinHost&, Args a) {
  std::int64_t v = 0;
  for (std::size_t i = 3; i-- > 0;) {
    Variant part = Val(a, i);
    if (part.is_null()) Throw(kErrInvalidNull, u"RGB");
    std::int64_t n = ToLong(part);
    if (n < 0) Throw(kErrInvalidCall, u"RGB");
    v = v * 256 + std::min<std::int64_t>(n, 255);
  }
  return Long(v);
}

// The engine's identity: the language and version pages test for.
// Decision: the build number is this interpreter's own (1).
Variant FnScriptEngine(BuiltinHost&, Args) { return Str(u"VBScript"); }
Variant FnScriptEngineMajorVersion(BuiltinHost&, Args) { return Long(5); }
Variant FnScriptEngineMinorVersion(BuiltinHost&, Args) { return Long(8); }
Variant FnScriptEngineBuildVersion(BuiltinHost&, Args) { return Long(1); }

constexpr Builtin kTable[] = {
    {u"CStr", 1, 1, FnCStr},
    {u"CInt", 1, 1, FnCInt},
    {u"CLng", 1, 1, FnCLng},
    {u"CByte", 1, 1, FnCByte},
    {u"CDbl", 1, 1, FnCDbl},
    {u"CSng", 1, 1, FnCSng},
    {u"CCur", 1, 1, FnCCur},
    {u"CBool", 1, 1, FnCBool},
    {u"CDate", 1, 1, FnCDate},
    {u"IsEmpty", 1, 1, FnIsEmpty},
    {u"IsNull", 1, 1, FnIsNull},
    {u"IsNumeric", 1, 1, FnIsNumeric},
    {u"IsArray", 1, 1, FnIsArray},
    {u"IsObject", 1, 1, FnIsObject},
    {u"IsDate", 1, 1, FnIsDate},
    {u"TypeName", 1, 1, FnTypeName},
    {u"VarType", 1, 1, FnVarType},
    {u"Abs", 1, 1, FnAbs},
    {u"Int", 1, 1, FnInt},
    {u"Fix", 1, 1, FnFix},
    {u"Round", 1, 2, FnRound},
    {u"Sgn", 1, 1, FnSgn},
    {u"Sqr", 1, 1, FnSqr},
    {u"Exp", 1, 1, FnExp},
    {u"Log", 1, 1, FnLog},
    {u"Sin", 1, 1, FnSin},
    {u"Cos", 1, 1, FnCos},
    {u"Tan", 1, 1, FnTan},
    {u"Atn", 1, 1, FnAtn},
    {u"Rnd", 0, 1, FnRnd},
    {u"RGB", 3, 3, FnRGB},
    {u"ScriptEngine", 0, 0, FnScriptEngine},
    {u"ScriptEngineMajorVersion", 0, 0, FnScriptEngineMajorVersion},
    {u"ScriptEngineMinorVersion", 0, 0, FnScriptEngineMinorVersion},
    {u"ScriptEngineBuildVersion", 0, 0, FnScriptEngineBuildVersion},
};

}  // namespace

std::span<const Builtin> MathBuiltins() { return kTable; }

}  // namespace lun::script
