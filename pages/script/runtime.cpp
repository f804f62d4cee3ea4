#include "pages/script/runtime.h"

#include <cmath>
#include <limits>

#include "automation/date_time.h"
#include "pages/script/script_errors.h"

namespace lun::script {

namespace {

// Per-thread so that engines on different threads keep their own limit.
thread_local std::size_t g_max_string = std::size_t{1} << 26;

// Numeric classes that decide result types, narrowest first.
enum class Num { kByte, kInt, kLong, kSingle, kDouble, kCurrency, kDate };

bool IsIntegral(VarType t) {
  switch (t) {
    case VT_I1:
    case VT_I2:
    case VT_I4:
    case VT_I8:
    case VT_INT:
    case VT_UI1:
    case VT_UI2:
    case VT_UI4:
    case VT_UI8:
    case VT_UINT:
    case VT_BOOL:
      return true;
    default:
      return false;
  }
}

// Classifies a reduced, non-Null scalar for arithmetic. Strings are parsed
// (to Double); Empty is Integer 0.
Num Classify(const Variant& v, double* d, std::int64_t* i) {
  switch (v.type()) {
    case VT_EMPTY:
      *i = 0;
      *d = 0;
      return Num::kInt;
    case VT_BSTR:
      if (!ParseNumber(v.AsString(), d)) Throw(kErrTypeMismatch);
      return Num::kDouble;
    case VT_UI1:
      *i = v.AsInteger();
      *d = static_cast<double>(*i);
      return Num::kByte;
    case VT_I2:
    case VT_BOOL:
    case VT_I1:
      *i = v.AsInteger();
      *d = static_cast<double>(*i);
      return Num::kInt;
    case VT_I4:
    case VT_UI2:
    case VT_INT:
      *i = v.AsInteger();
      *d = static_cast<double>(*i);
      return Num::kLong;
    case VT_I8:
    case VT_UI4:
    case VT_UI8:
    case VT_UINT:
      *d = static_cast<double>(v.AsInteger());
      return Num::kDouble;
    case VT_R4:
      *d = v.AsDouble();
      return Num::kSingle;
    case VT_R8:
      *d = v.AsDouble();
      return Num::kDouble;
    case VT_CY:
      *i = v.AsInteger();
      *d = static_cast<double>(*i) / kCurrencyScale;
      return Num::kCurrency;
    case VT_DATE:
      *d = v.AsDouble();
      return Num::kDate;
    default:
      Throw(kErrTypeMismatch);
  }
}

Variant FromInteger(std::int64_t r, Num cls) {
  // Promote on overflow: Byte -> Integer -> Long -> Double.
  if (cls == Num::kByte) {
    if (r >= 0 && r <= 255) return Variant::UI1(static_cast<std::uint8_t>(r));
    cls = Num::kInt;
  }
  if (cls == Num::kInt) {
    if (r >= -32768 && r <= 32767) return Variant::I2(static_cast<std::int16_t>(r));
    cls = Num::kLong;
  }
  if (r >= INT32_MIN && r <= INT32_MAX) return Variant::I4(static_cast<std::int32_t>(r));
  return Variant::R8(static_cast<double>(r));
}

Variant CheckedDouble(double r) {
  if (!std::isfinite(r)) Throw(kErrOverflow);
  return Variant::R8(r);
}

Variant CurrencyFromUnits(long double units) {
  units = std::nearbyint(units);
  if (!(units >= -9223372036854775808.0L && units < 9223372036854775808.0L)) {
    Throw(kErrOverflow);
  }
  return Variant::Currency(static_cast<std::int64_t>(units));
}

bool IsIntegerClass(Num n) { return n == Num::kByte || n == Num::kInt; }

// Rounds an operand of \, Mod and bitwise operators to a Long.
std::int64_t RoundToLong(const Variant& v) {
  double d = 0;
  std::int64_t i = 0;
  Num n = Classify(v, &d, &i);
  if (n == Num::kByte || n == Num::kInt || n == Num::kLong) return i;
  if (n == Num::kCurrency) d = static_cast<double>(i) / kCurrencyScale;
  double r = RoundHalfEven(d);
  if (!(r >= -2147483648.0 && r <= 2147483647.0)) Throw(kErrOverflow);
  return static_cast<std::int64_t>(r);
}

}  // namespace

// ---------------------------------------------------------------- errors

ScriptThrow ErrorOf(int number, std::u16string_view name) {
  ScriptThrow t;
  t.number = number;
  t.hresult = ScriptErrorCode(number);
  t.description = std::u16string(ErrorDescription(number));
  t.name = std::u16string(name);
  t.source = std::u16string(kRuntimeSource);
  return t;
}

void Throw(int number, std::u16string_view name) { throw ErrorOf(number, name); }

void ThrowHr(HResult hr, const ExcepInfo* excep, std::u16string_view name) {
  if (hr == DISP_E_EXCEPTION && excep) {
    ScriptThrow t;
    HResult code = excep->scode;
    if (code == 0) code = ScriptErrorCode(excep->wcode);
    if ((static_cast<std::uint32_t>(code) & 0xFFFF0000u) == 0x800A0000u) {
      t.number = static_cast<int>(code & 0xFFFF);
    } else {
      t.number = code;
    }
    t.hresult = code;
    t.description = excep->description.empty() ? std::u16string(ErrorDescription(t.number))
                                               : excep->description;
    t.source = excep->source.empty() ? std::u16string(kRuntimeSource) : excep->source;
    throw t;
  }
  switch (hr) {
    case DISP_E_MEMBERNOTFOUND:
    case DISP_E_UNKNOWNNAME:
      Throw(kErrNoMember, name);
    case DISP_E_BADPARAMCOUNT:
      Throw(kErrArgCount, name);
    case DISP_E_TYPEMISMATCH:
    case DISP_E_BADVARTYPE:
      Throw(kErrTypeMismatch, name);
    case DISP_E_PARAMNOTOPTIONAL:
      Throw(kErrNotOptional, name);
    case DISP_E_OVERFLOW:
      Throw(kErrOverflow, name);
    case DISP_E_DIVBYZERO:
      Throw(kErrDivisionByZero, name);
    case DISP_E_BADINDEX:
      Throw(kErrSubscript, name);
    case E_INVALIDARG:
      Throw(kErrInvalidCall, name);
    case E_OUTOFMEMORY:
      Throw(kErrOutOfMemory, name);
    case E_NOTIMPL:
      Throw(kErrNoAction, name);
    default: {
      ScriptThrow t;
      if ((static_cast<std::uint32_t>(hr) & 0xFFFF0000u) == 0x800A0000u) {
        Throw(static_cast<int>(hr & 0xFFFF), name);
      }
      t.number = hr;
      t.hresult = hr;
      t.description = std::u16string(ErrorDescription(kErrAutomation));
      t.name = std::u16string(name);
      t.source = std::u16string(kRuntimeSource);
      throw t;
    }
  }
}

void SetMaxStringLength(std::size_t units) { g_max_string = units; }
std::size_t MaxStringLength() { return g_max_string; }
void CheckStringLength(std::size_t units) {
  if (units > g_max_string) Throw(kErrOutOfStringSpace);
}

// ------------------------------------------------------------ conversions

Variant Reduce(const Variant& v) {
  if (!v.is_object()) return v;
  if (!v.AsObject()) Throw(91);
  Variant out;
  HResult hr = DefaultValue(v, &out);
  if (hr != S_OK) {
    if (hr == DISP_E_TYPEMISMATCH) Throw(91);
    ThrowHr(hr, nullptr);
  }
  return out;
}

const Variant& ReduceRef(const Variant& v, Variant* scratch) {
  if (!v.is_object()) return v;
  *scratch = Reduce(v);
  return *scratch;
}

Variant ConvertValue(const Variant& in, VarType to) {
  Variant v = Reduce(in);
  if (v.is_null()) Throw(kErrInvalidNull);
  if (v.is_array()) Throw(kErrTypeMismatch);
  Variant out;
  HResult hr = ChangeType(v, to, &out);
  if (hr == DISP_E_OVERFLOW) Throw(kErrOverflow);
  if (hr != S_OK) Throw(kErrTypeMismatch);
  return out;
}

double ToDouble(const Variant& v) { return ConvertValue(v, VT_R8).AsDouble(); }
std::int32_t ToLong(const Variant& v) {
  return static_cast<std::int32_t>(ConvertValue(v, VT_I4).AsInteger());
}
std::int16_t ToInteger(const Variant& v) {
  return static_cast<std::int16_t>(ConvertValue(v, VT_I2).AsInteger());
}
std::u16string ToStr(const Variant& v) {
  if (v.is_string()) return std::u16string(v.AsString());
  return std::u16string(ConvertValue(v, VT_BSTR).AsString());
}
bool ToBool(const Variant& v) { return ConvertValue(v, VT_BOOL).AsBool(); }
double ToDate(const Variant& v) { return ConvertValue(v, VT_DATE).AsDouble(); }

bool ToCondition(const Variant& in) {
  if (in.type() == VT_BOOL) return in.AsBool();
  Variant scratch;
  const Variant& v = ReduceRef(in, &scratch);
  if (v.is_null()) return false;
  return ToBool(v);
}

std::int64_t ToIndex(const Variant& in) {
  Variant v = Reduce(in);
  if (v.is_null()) Throw(kErrInvalidNull);
  if (IsIntegral(v.type()) && v.type() != VT_BOOL) return v.AsInteger();
  return ToLong(v);
}

// ---------------------------------------------------------------- operators

Variant Arith(Op op, const Variant& a_in, const Variant& b_in) {
  Variant sa, sb;
  const Variant& a = ReduceRef(a_in, &sa);
  const Variant& b = ReduceRef(b_in, &sb);
  if (a.is_null() || b.is_null()) return Variant::Null();
  if (a.is_array() || b.is_array()) Throw(kErrTypeMismatch);
  if (op == Op::kAdd) {
    if (a.is_string() && b.is_string()) return Concat(a, b);
    if (a.is_string() && b.is_empty()) return a;
    if (b.is_string() && a.is_empty()) return b;
  }
  double da = 0, db = 0;
  std::int64_t ia = 0, ib = 0;
  Num na = Classify(a, &da, &ia);
  Num nb = Classify(b, &db, &ib);
  switch (op) {
    case Op::kDiv: {
      if (db == 0) Throw(da == 0 ? kErrOverflow : kErrDivisionByZero);
      double r = da / db;
      bool single = (na == Num::kSingle && (nb == Num::kSingle || IsIntegerClass(nb))) ||
                    (nb == Num::kSingle && IsIntegerClass(na));
      if (single && std::fabs(r) <= std::numeric_limits<float>::max()) {
        return Variant::R4(static_cast<float>(r));
      }
      return CheckedDouble(r);
    }
    case Op::kIntDiv:
    case Op::kMod: {
      std::int64_t x = RoundToLong(a);
      std::int64_t y = RoundToLong(b);
      if (y == 0) Throw(kErrDivisionByZero);
      std::int64_t r = op == Op::kIntDiv ? x / y : x % y;
      if (na == Num::kByte && nb == Num::kByte) return FromInteger(r, Num::kByte);
      if (IsIntegerClass(na) && IsIntegerClass(nb)) return FromInteger(r, Num::kInt);
      if (r < INT32_MIN || r > INT32_MAX) Throw(kErrOverflow);
      return Variant::I4(static_cast<std::int32_t>(r));
    }
    case Op::kPow: {
      if (da < 0 && db != std::trunc(db)) Throw(kErrInvalidCall);
      if (da == 0 && db < 0) Throw(kErrInvalidCall);
      return CheckedDouble(std::pow(da, db));
    }
    default:
      break;
  }
  // + - *
  auto apply = [op](auto x, auto y) {
    return op == Op::kAdd ? x + y : op == Op::kSub ? x - y : x * y;
  };
  // A Date wins over a Double: Now - 1/24 is a Date.
  if (na == Num::kDate || nb == Num::kDate) {
    if (op == Op::kMul) return CheckedDouble(da * db);
    if (op == Op::kSub && na == Num::kDate && nb == Num::kDate) {
      return CheckedDouble(da - db);
    }
    double r = apply(da, db);
    if (!IsValidDateSerial(r)) Throw(kErrOverflow);
    return Variant::Date(r);
  }
  if (na == Num::kDouble || nb == Num::kDouble) {
    return CheckedDouble(apply(da, db));
  }
  if (na == Num::kCurrency || nb == Num::kCurrency) {
    long double ua = na == Num::kCurrency ? static_cast<long double>(ia)
                                          : static_cast<long double>(da) * kCurrencyScale;
    long double ub = nb == Num::kCurrency ? static_cast<long double>(ib)
                                          : static_cast<long double>(db) * kCurrencyScale;
    if (op == Op::kMul) return CurrencyFromUnits(ua * ub / kCurrencyScale);
    return CurrencyFromUnits(apply(ua, ub));
  }
  if (na == Num::kSingle || nb == Num::kSingle) {
    Num other = na == Num::kSingle ? nb : na;
    double r = apply(da, db);
    if (other == Num::kLong || std::fabs(r) > std::numeric_limits<float>::max()) {
      return CheckedDouble(r);
    }
    return Variant::R4(static_cast<float>(r));
  }
  // Integers: exact in int64 (operands are at most 32-bit).
  std::int64_t r = apply(ia, ib);
  Num cls = (na == Num::kLong || nb == Num::kLong)   ? Num::kLong
            : (na == Num::kByte && nb == Num::kByte) ? Num::kByte
                                                     : Num::kInt;
  return FromInteger(r, cls);
}

Variant Negate(const Variant& in) {
  Variant a = Reduce(in);
  switch (a.type()) {
    case VT_NULL:
      return a;
    case VT_EMPTY:
      return Variant::I2(0);
    case VT_UI1:
    case VT_I2:
    case VT_BOOL:
      return FromInteger(-a.AsInteger(), Num::kInt);
    case VT_I4:
      return FromInteger(-a.AsInteger(), Num::kLong);
    case VT_R4:
      return Variant::R4(static_cast<float>(-a.AsDouble()));
    case VT_R8:
      return Variant::R8(-a.AsDouble());
    case VT_CY:
      return CurrencyFromUnits(-static_cast<long double>(a.AsInteger()));
    case VT_DATE: {
      double r = -a.AsDouble();
      if (!IsValidDateSerial(r)) Throw(kErrOverflow);
      return Variant::Date(r);
    }
    case VT_BSTR: {
      double d = 0;
      if (!ParseNumber(a.AsString(), &d)) Throw(kErrTypeMismatch);
      return Variant::R8(-d);
    }
    default:
      if (IsIntegral(a.type())) return Variant::R8(-static_cast<double>(a.AsInteger()));
      Throw(kErrTypeMismatch);
  }
}

Variant Concat(const Variant& a_in, const Variant& b_in) {
  if (a_in.is_null() && b_in.is_null()) return Variant::Null();
  // Strings are used where they lie; other operands get their text form.
  std::u16string ta, tb;
  auto text = [](const Variant& v, std::u16string* scratch) -> std::u16string_view {
    if (v.is_string()) return v.AsString();
    Variant r = Reduce(v);
    if (r.is_null() || r.is_empty()) return {};
    *scratch = ToStr(r);
    return *scratch;
  };
  std::u16string_view x = text(a_in, &ta);
  std::u16string_view y = text(b_in, &tb);
  CheckStringLength(x.size() + y.size());
  std::u16string out;
  out.reserve(x.size() + y.size());
  out.append(x);
  out.append(y);
  return Variant::Bstr(std::move(out));
}

namespace {

bool IsNumberLike(const Variant& v) {
  return v.is_numeric();  // includes Bool, Date, Currency
}

Variant CompareResult(Op op, int c) {
  bool r = false;
  switch (op) {
    case Op::kEq:
      r = c == 0;
      break;
    case Op::kNe:
      r = c != 0;
      break;
    case Op::kLt:
      r = c < 0;
      break;
    case Op::kGt:
      r = c > 0;
      break;
    case Op::kLe:
      r = c <= 0;
      break;
    case Op::kGe:
      r = c >= 0;
      break;
    default:
      break;
  }
  return Variant::Bool(r);
}

int CompareNumbers(const Variant& a, const Variant& b) {
  if (IsIntegral(a.type()) && IsIntegral(b.type())) {
    std::int64_t x = a.AsInteger(), y = b.AsInteger();
    return x < y ? -1 : x > y ? 1 : 0;
  }
  double x = a.is_empty() ? 0 : a.AsDouble();
  double y = b.is_empty() ? 0 : b.AsDouble();
  return x < y ? -1 : x > y ? 1 : 0;
}

int CompareStrings(std::u16string_view x, std::u16string_view y) {
  int c = x.compare(y);
  return c < 0 ? -1 : c > 0 ? 1 : 0;
}

}  // namespace

Variant Compare(Op op, const Variant& a_in, bool a_lit, const Variant& b_in, bool b_lit) {
  if (a_in.is_null() || b_in.is_null()) return Variant::Null();
  Variant sa, sb;
  const Variant& a = ReduceRef(a_in, &sa);
  const Variant& b = ReduceRef(b_in, &sb);
  if (a.is_null() || b.is_null()) return Variant::Null();
  if (a.is_array() || b.is_array() || a.type() == VT_ERROR || b.type() == VT_ERROR) {
    Throw(kErrTypeMismatch);
  }
  const bool an = IsNumberLike(a), bn = IsNumberLike(b);
  if (an && bn) return CompareResult(op, CompareNumbers(a, b));
  if (a.is_string() && b.is_string()) {
    return CompareResult(op, CompareStrings(a.AsString(), b.AsString()));
  }
  if (a.is_empty() && b.is_empty()) return CompareResult(op, 0);
  if (a.is_empty() && bn) return CompareResult(op, CompareNumbers(Variant::I2(0), b));
  if (b.is_empty() && an) return CompareResult(op, CompareNumbers(a, Variant::I2(0)));
  if (a.is_empty() && b.is_string()) return CompareResult(op, CompareStrings(u"", b.AsString()));
  if (b.is_empty() && a.is_string()) return CompareResult(op, CompareStrings(a.AsString(), u""));
  // A string and a Boolean: the Boolean's string form, compared with
  // case ("True" = True, "true" <> True).
  if (a.is_string() && b.type() == VT_BOOL) {
    return CompareResult(op, CompareStrings(a.AsString(), ToStr(b)));
  }
  if (b.is_string() && a.type() == VT_BOOL) {
    return CompareResult(op, CompareStrings(ToStr(a), b.AsString()));
  }
  // One string, one number.
  const Variant& s = a.is_string() ? a : b;
  const Variant& n = a.is_string() ? b : a;
  const bool s_lit = a.is_string() ? a_lit : b_lit;
  const bool n_lit = a.is_string() ? b_lit : a_lit;
  // c orders the string operand against the number operand.
  int c = 0;
  if (n_lit) {
    // The string (variable or literal) is read as a number.
    double d = 0;
    if (!ParseNumber(s.AsString(), &d)) Throw(kErrTypeMismatch);
    c = CompareNumbers(Variant::R8(d), n);
  } else if (s_lit) {
    // The number takes its string form.
    c = CompareStrings(s.AsString(), ToStr(n));
  } else {
    // Neither is a literal: a number is less than a string.
    c = 1;
  }
  return CompareResult(op, a.is_string() ? c : -c);
}

Variant IsSame(const Variant& a, const Variant& b) {
  if (!a.is_object() || !b.is_object()) Throw(kErrObjectRequired);
  return Variant::Bool(a.AsObject() == b.AsObject());
}

namespace {

// Bitwise class: true when the operand keeps an Integer result.
bool SmallInteger(const Variant& v) {
  return v.type() == VT_I2 || v.type() == VT_UI1 || v.type() == VT_BOOL || v.type() == VT_EMPTY;
}

Variant BitwiseResult(std::int64_t r, const Variant& a, const Variant& b) {
  // Empty with Empty gives a Long on the platform.
  if (a.is_empty() && b.is_empty()) return Variant::I4(static_cast<std::int32_t>(r));
  if (a.type() == VT_UI1 && b.type() == VT_UI1) {
    return Variant::UI1(static_cast<std::uint8_t>(r));
  }
  if (SmallInteger(a) && SmallInteger(b)) {
    return Variant::I2(static_cast<std::int16_t>(r));
  }
  return Variant::I4(static_cast<std::int32_t>(r));
}

}  // namespace

Variant Logical(Op op, const Variant& a_in, const Variant& b_in) {
  Variant sa, sb;
  const Variant& a = ReduceRef(a_in, &sa);
  const Variant& b = ReduceRef(b_in, &sb);
  if (a.is_array() || b.is_array()) Throw(kErrTypeMismatch);
  const bool an = a.is_null(), bn = b.is_null();
  if (an || bn) {
    if (an && bn) return Variant::Null();
    const Variant& other = an ? b : a;
    std::int64_t v = RoundToLong(other);
    auto typed = [&](std::int64_t x) {
      return other.type() == VT_BOOL ? Variant::Bool(x != 0) : BitwiseResult(x, other, other);
    };
    switch (op) {
      case Op::kAnd:
        return v == 0 ? typed(0) : Variant::Null();
      case Op::kOr:
        return v == -1 ? typed(-1) : Variant::Null();
      case Op::kImp:
        if (an) return v == -1 ? typed(-1) : Variant::Null();  // N Imp x
        // x Imp N: the bits where x is 0 are known to be 1; the platform
        // gives them (CByte(170) Imp Null = 85), Null when there are none.
        {
          Variant known = typed(~v);
          return RoundToLong(known) == 0 ? Variant::Null() : known;
        }
      default:
        return Variant::Null();
    }
  }
  std::int64_t x = RoundToLong(a);
  std::int64_t y = RoundToLong(b);
  std::int64_t r = 0;
  switch (op) {
    case Op::kAnd:
      r = x & y;
      break;
    case Op::kOr:
      r = x | y;
      break;
    case Op::kXor:
      r = x ^ y;
      break;
    case Op::kEqv:
      r = ~(x ^ y);
      break;
    case Op::kImp:
      r = (~x) | y;
      break;
    default:
      break;
  }
  if (a.type() == VT_BOOL && b.type() == VT_BOOL) return Variant::Bool(r != 0);
  return BitwiseResult(r, a, b);
}

Variant LogicalNot(const Variant& in) {
  Variant a = Reduce(in);
  if (a.is_null()) return a;
  if (a.type() == VT_BOOL) return Variant::Bool(!a.AsBool());
  if (a.is_array()) Throw(kErrTypeMismatch);
  std::int64_t x = RoundToLong(a);
  return BitwiseResult(~x, a, a);
}

// ---------------------------------------------------------------- types

std::u16string TypeNameOf(const Variant& v) {
  if (v.is_array()) {
    return v.type() == (VT_ARRAY | VT_UI1) ? u"Byte()" : u"Variant()";
  }
  switch (v.type()) {
    case VT_EMPTY:
      return u"Empty";
    case VT_NULL:
      return u"Null";
    case VT_I2:
      return u"Integer";
    case VT_I4:
      return u"Long";
    case VT_R4:
      return u"Single";
    case VT_R8:
      return u"Double";
    case VT_CY:
      return u"Currency";
    case VT_DATE:
      return u"Date";
    case VT_BSTR:
      return u"String";
    case VT_DISPATCH:
    case VT_UNKNOWN:
      return v.AsObject() ? v.AsObject()->TypeName() : u"Nothing";
    case VT_ERROR:
      return u"Error";
    case VT_BOOL:
      return u"Boolean";
    case VT_UI1:
      return u"Byte";
    default:
      return u"Unknown";
  }
}

int VarTypeOf(const Variant& v) {
  if (v.is_array()) return v.type();
  if (v.type() == VT_UNKNOWN) return VT_DISPATCH;
  return v.type();
}

}  // namespace lun::script
