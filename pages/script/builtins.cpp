#include "pages/script/builtins.h"

#include <unicode/ucnv.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <ctime>
#include <limits>
#include <string>
#include <unordered_map>

#include "automation/date_time.h"
#include "automation/text_case.h"
#include "pages/script/lexer.h"
#include "pages/script/runtime.h"
#include "pages/script/script_errors.h"

namespace lun::script {

namespace {

using Args = std::span<const Variant>;

bool Missing(Args a, std::size_t i) {
  return i >= a.size() ||
         (a[i].type() == VT_ERROR && a[i].AsError() == DISP_E_PARAMNOTFOUND);
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
std::size_t FindText(std::u16string_view hay, std::u16string_view needle,
                     std::size_t from, bool text) {
  if (!text) return hay.find(needle, from);
  std::u16string h = FoldCase(hay), n = FoldCase(needle);
  return h.find(n, from);
}

std::size_t RFindText(std::u16string_view hay, std::u16string_view needle,
                      std::size_t last_start, bool text) {
  if (!text) return hay.rfind(needle, last_start);
  std::u16string h = FoldCase(hay), n = FoldCase(needle);
  return h.rfind(n, last_start);
}

// ------------------------------------------------------------ ANSI (GBK)

// The ANSI code page of the target systems is GBK; Asc and Chr speak it.
struct Gbk {
  UConverter* conv = nullptr;
  Gbk() {
    UErrorCode status = U_ZERO_ERROR;
    conv = ucnv_open("GBK", &status);
    if (U_FAILURE(status)) conv = nullptr;
  }
  ~Gbk() {
    if (conv) ucnv_close(conv);
  }
};

Gbk& GbkConverter() {
  thread_local Gbk gbk;
  return gbk;
}

int AnsiCode(char16_t c) {
  if (c < 0x80) return c;
  UConverter* conv = GbkConverter().conv;
  if (!conv) return '?';
  char out[8];
  UErrorCode status = U_ZERO_ERROR;
  ucnv_reset(conv);
  int32_t n = ucnv_fromUChars(conv, out, sizeof out,
                              reinterpret_cast<const UChar*>(&c), 1, &status);
  if (U_FAILURE(status) || n <= 0) return '?';
  if (n == 1) return static_cast<unsigned char>(out[0]);
  int code = (static_cast<unsigned char>(out[0]) << 8) |
             static_cast<unsigned char>(out[1]);
  return static_cast<std::int16_t>(code);
}

char16_t FromAnsi(std::int64_t n) {
  unsigned code = static_cast<unsigned>(n) & 0xFFFF;
  if (code < 0x80) return static_cast<char16_t>(code);
  UConverter* conv = GbkConverter().conv;
  if (!conv) return u'?';
  char in[2];
  int len = 0;
  if (code <= 0xFF) {
    in[len++] = static_cast<char>(code);
  } else {
    in[len++] = static_cast<char>(code >> 8);
    in[len++] = static_cast<char>(code & 0xFF);
  }
  UChar out[4];
  UErrorCode status = U_ZERO_ERROR;
  ucnv_reset(conv);
  int32_t m = ucnv_toUChars(conv, out, 4, in, len, &status);
  if (U_FAILURE(status) || m != 1) return u'?';
  return static_cast<char16_t>(out[0]);
}

// ---------------------------------------------------------------- strings

Variant FnLen(BuiltinHost&, Args a) {
  Variant v = Val(a, 0);
  if (v.is_null()) return v;
  return Long(static_cast<std::int64_t>(ToStr(v).size()));
}

Variant FnLeft(BuiltinHost&, Args a) {
  Variant v = Val(a, 0);
  std::int64_t n = ToLong(a[1]);
  if (n < 0) Throw(kErrInvalidCall, u"Left");
  if (v.is_null()) return v;
  std::u16string s = ToStr(v);
  return Str(s.substr(0, static_cast<std::size_t>(std::min<std::int64_t>(n, s.size()))));
}

Variant FnRight(BuiltinHost&, Args a) {
  Variant v = Val(a, 0);
  std::int64_t n = ToLong(a[1]);
  if (n < 0) Throw(kErrInvalidCall, u"Right");
  if (v.is_null()) return v;
  std::u16string s = ToStr(v);
  std::size_t k = static_cast<std::size_t>(std::min<std::int64_t>(n, s.size()));
  return Str(s.substr(s.size() - k));
}

Variant FnMid(BuiltinHost&, Args a) {
  Variant v = Val(a, 0);
  std::int64_t start = ToLong(a[1]);
  std::int64_t len = Missing(a, 2) ? -1 : ToLong(a[2]);
  if (start < 1 || (!Missing(a, 2) && len < 0)) Throw(kErrInvalidCall, u"Mid");
  if (v.is_null()) return v;
  std::u16string s = ToStr(v);
  if (static_cast<std::size_t>(start) > s.size()) return Str(u"");
  std::size_t from = static_cast<std::size_t>(start - 1);
  std::size_t count = len < 0 ? std::u16string::npos : static_cast<std::size_t>(len);
  return Str(s.substr(from, count));
}

Variant FnInStr(BuiltinHost&, Args a) {
  std::size_t n = a.size();
  while (n > 0 && Missing(a, n - 1)) --n;
  std::int64_t start = 1;
  std::size_t first = 0;
  bool text = false;
  if (n >= 3) {
    Variant s = Val(a, 0);
    if (s.is_null()) Throw(kErrInvalidNull, u"InStr");
    start = ToLong(s);
    first = 1;
    if (n == 4) text = TextCompare(a, 3);
  } else if (n < 2) {
    Throw(kErrArgCount, u"InStr");
  }
  if (start < 1) Throw(kErrInvalidCall, u"InStr");
  Variant v1 = Val(a, first), v2 = Val(a, first + 1);
  if (v1.is_null() || v2.is_null()) return Variant::Null();
  std::u16string s1 = ToStr(v1), s2 = ToStr(v2);
  if (s1.empty()) return Long(0);
  if (s2.empty()) {
    return Long(static_cast<std::size_t>(start) <= s1.size() + 1 ? start : 0);
  }
  if (static_cast<std::size_t>(start) > s1.size()) return Long(0);
  std::size_t pos = FindText(s1, s2, static_cast<std::size_t>(start - 1), text);
  return Long(pos == std::u16string::npos ? 0 : static_cast<std::int64_t>(pos) + 1);
}

Variant FnInStrRev(BuiltinHost&, Args a) {
  Variant v1 = Val(a, 0), v2 = Val(a, 1);
  std::int64_t start = LongArg(a, 2, -1);
  bool text = TextCompare(a, 3);
  if (start == 0 || start < -1) Throw(kErrInvalidCall, u"InStrRev");
  if (v1.is_null() || v2.is_null()) return Variant::Null();
  std::u16string s1 = ToStr(v1), s2 = ToStr(v2);
  if (start == -1) start = static_cast<std::int64_t>(s1.size());
  if (s2.empty()) return Long(start);
  if (static_cast<std::size_t>(start) > s1.size() && !s1.empty()) {
    start = static_cast<std::int64_t>(s1.size());
  }
  if (s1.empty()) return Long(0);
  std::size_t pos = RFindText(s1, s2, static_cast<std::size_t>(start - 1), text);
  return Long(pos == std::u16string::npos ? 0 : static_cast<std::int64_t>(pos) + 1);
}

Variant FnReplace(BuiltinHost&, Args a) {
  std::u16string s = StrOf(a[0]);
  std::u16string find = StrOf(a[1]);
  std::u16string with = StrOf(a[2]);
  std::int64_t start = LongArg(a, 3, 1);
  std::int64_t count = LongArg(a, 4, -1);
  bool text = TextCompare(a, 5);
  if (start < 1 || count < -1) Throw(kErrInvalidCall, u"Replace");
  if (static_cast<std::size_t>(start) > s.size()) return Str(u"");
  std::u16string rest = s.substr(static_cast<std::size_t>(start - 1));
  if (find.empty() || count == 0) return Str(rest);
  std::u16string out;
  std::size_t pos = 0;
  std::int64_t done = 0;
  std::u16string folded_rest = text ? FoldCase(rest) : std::u16string();
  std::u16string folded_find = text ? FoldCase(find) : std::u16string();
  while (count < 0 || done < count) {
    std::size_t hit = text ? folded_rest.find(folded_find, pos) : rest.find(find, pos);
    if (hit == std::u16string::npos) break;
    out.append(rest, pos, hit - pos);
    out.append(with);
    CheckStringLength(out.size());
    pos = hit + find.size();
    ++done;
  }
  out.append(rest, pos, std::u16string::npos);
  return Str(std::move(out));
}

Variant FnSplit(BuiltinHost&, Args a) {
  std::u16string s = StrOf(a[0]);
  std::u16string delim = Missing(a, 1) ? u" " : StrOf(a[1]);
  std::int64_t count = LongArg(a, 2, -1);
  bool text = TextCompare(a, 3);
  if (count < -1) Throw(kErrInvalidCall, u"Split");
  std::vector<Variant> parts;
  if (s.empty() || count == 0) return Variant::VariantArray({});
  if (delim.empty()) return Variant::VariantArray({Variant::Bstr(s)});
  std::size_t pos = 0;
  while (true) {
    if (count > 0 && static_cast<std::int64_t>(parts.size()) == count - 1) break;
    std::size_t hit = FindText(s, delim, pos, text);
    if (hit == std::u16string::npos) break;
    parts.push_back(Variant::Bstr(s.substr(pos, hit - pos)));
    pos = hit + delim.size();
  }
  parts.push_back(Variant::Bstr(s.substr(pos)));
  return Variant::VariantArray(std::move(parts));
}

const SafeArray& OneDimArray(const Variant& v, std::u16string_view fn) {
  if (!v.is_array() || !v.AsArray() || v.AsArray()->dimensions() != 1) {
    Throw(kErrTypeMismatch, fn);
  }
  return *v.AsArray();
}

Variant FnJoin(BuiltinHost&, Args a) {
  Variant arr = Val(a, 0);
  const SafeArray& sa = OneDimArray(arr, u"Join");
  std::u16string delim = Missing(a, 1) ? u" " : StrOf(a[1]);
  std::u16string out;
  for (std::size_t i = 0; i < sa.size(); ++i) {
    if (i) out += delim;
    Variant e = sa.Get(i);
    Variant r = Reduce(e);
    if (!r.is_null() && !r.is_empty()) out += ToStr(r);
    CheckStringLength(out.size());
  }
  return Str(std::move(out));
}

Variant FnUCase(BuiltinHost&, Args a) {
  Variant v = Val(a, 0);
  if (v.is_null()) return v;
  return Str(ToUpperText(ToStr(v)));
}

Variant FnLCase(BuiltinHost&, Args a) {
  Variant v = Val(a, 0);
  if (v.is_null()) return v;
  return Str(ToLowerText(ToStr(v)));
}

Variant TrimImpl(Args a, bool left, bool right) {
  Variant v = Val(a, 0);
  if (v.is_null()) return v;
  std::u16string s = ToStr(v);
  std::size_t b = 0, e = s.size();
  if (left) {
    while (b < e && s[b] == u' ') ++b;
  }
  if (right) {
    while (e > b && s[e - 1] == u' ') --e;
  }
  return Str(s.substr(b, e - b));
}

Variant FnTrim(BuiltinHost&, Args a) { return TrimImpl(a, true, true); }
Variant FnLTrim(BuiltinHost&, Args a) { return TrimImpl(a, true, false); }
Variant FnRTrim(BuiltinHost&, Args a) { return TrimImpl(a, false, true); }

Variant FnSpace(BuiltinHost&, Args a) {
  std::int64_t n = ToLong(a[0]);
  if (n < 0) Throw(kErrInvalidCall, u"Space");
  CheckStringLength(static_cast<std::size_t>(n));
  return Variant::Bstr(std::u16string(static_cast<std::size_t>(n), u' '));
}

Variant FnString(BuiltinHost&, Args a) {
  std::int64_t n = ToLong(a[0]);
  Variant ch = Val(a, 1);
  if (ch.is_null()) Throw(kErrInvalidNull, u"String");
  if (n < 0) Throw(kErrInvalidCall, u"String");
  char16_t c = 0;
  if (ch.is_string()) {
    if (ch.AsString().empty()) Throw(kErrInvalidCall, u"String");
    c = ch.AsString()[0];
  } else {
    std::int64_t code = ToLong(ch);
    if (code < -32768 || code > 65535) Throw(kErrInvalidCall, u"String");
    c = FromAnsi(code);
  }
  CheckStringLength(static_cast<std::size_t>(n));
  return Variant::Bstr(std::u16string(static_cast<std::size_t>(n), c));
}

Variant FnStrReverse(BuiltinHost&, Args a) {
  std::u16string s = StrOf(a[0]);
  std::reverse(s.begin(), s.end());
  return Str(std::move(s));
}

Variant FnStrComp(BuiltinHost&, Args a) {
  Variant x = Val(a, 0), y = Val(a, 1);
  bool text = TextCompare(a, 2);
  if (x.is_null() || y.is_null()) return Variant::Null();
  return Int(CompareText(ToStr(x), ToStr(y), text));
}

Variant FnAsc(BuiltinHost&, Args a) {
  std::u16string s = StrOf(a[0]);
  if (s.empty()) Throw(kErrInvalidCall, u"Asc");
  return Int(AnsiCode(s[0]));
}

Variant FnAscW(BuiltinHost&, Args a) {
  std::u16string s = StrOf(a[0]);
  if (s.empty()) Throw(kErrInvalidCall, u"AscW");
  return Int(static_cast<std::int16_t>(s[0]));
}

Variant FnChr(BuiltinHost&, Args a) {
  Variant v = Val(a, 0);
  if (v.is_null()) Throw(kErrInvalidNull, u"Chr");
  std::int64_t n = ToLong(v);
  if (n < -32768 || n > 65535) Throw(kErrInvalidCall, u"Chr");
  return Variant::Bstr(std::u16string(1, FromAnsi(n)));
}

Variant FnChrW(BuiltinHost&, Args a) {
  Variant v = Val(a, 0);
  if (v.is_null()) Throw(kErrInvalidNull, u"ChrW");
  std::int64_t n = ToLong(v);
  if (n < -32768 || n > 65535) Throw(kErrInvalidCall, u"ChrW");
  if (n < 0) n += 65536;
  return Variant::Bstr(std::u16string(1, static_cast<char16_t>(n)));
}

Variant RadixImpl(Args a, int base) {
  Variant v = Val(a, 0);
  if (v.is_null()) return v;
  std::int64_t n = 0;
  bool narrow = v.type() == VT_I2 || v.type() == VT_UI1 || v.type() == VT_BOOL ||
                v.type() == VT_EMPTY;
  n = ToLong(v);
  std::uint32_t u = narrow && n < 0 ? static_cast<std::uint16_t>(n)
                                    : static_cast<std::uint32_t>(n);
  if (u == 0) return Variant::Bstr(u"0");
  std::u16string out;
  while (u) {
    out.push_back(u"0123456789ABCDEF"[u % base]);
    u /= base;
  }
  std::reverse(out.begin(), out.end());
  return Variant::Bstr(std::move(out));
}

Variant FnHex(BuiltinHost&, Args a) { return RadixImpl(a, 16); }
Variant FnOct(BuiltinHost&, Args a) { return RadixImpl(a, 8); }

Variant FnFilter(BuiltinHost&, Args a) {
  Variant arr = Val(a, 0);
  if (!arr.is_array()) Throw(kErrTypeMismatch, u"Filter");
  const SafeArray& sa = OneDimArray(arr, u"Filter");
  std::u16string value = StrOf(a[1]);
  bool include = Missing(a, 2) ? true : ToBool(a[2]);
  bool text = TextCompare(a, 3);
  std::vector<Variant> out;
  for (std::size_t i = 0; i < sa.size(); ++i) {
    Variant e = Reduce(sa.Get(i));
    std::u16string s = e.is_null() || e.is_empty() ? std::u16string() : ToStr(e);
    bool has = FindText(s, value, 0, text) != std::u16string::npos;
    if (has == include) out.push_back(Variant::Bstr(std::move(s)));
  }
  return Variant::VariantArray(std::move(out));
}

Variant FnEscape(BuiltinHost&, Args a) {
  Variant v = Val(a, 0);
  if (v.is_null()) return v;
  std::u16string s = ToStr(v);
  std::u16string out;
  const char16_t* hex = u"0123456789ABCDEF";
  for (char16_t c : s) {
    bool keep = (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z') ||
                (c >= u'0' && c <= u'9') || c == u'@' || c == u'*' || c == u'_' ||
                c == u'+' || c == u'-' || c == u'.' || c == u'/';
    if (keep) {
      out.push_back(c);
    } else if (c < 256) {
      out += u'%';
      out += hex[c >> 4];
      out += hex[c & 15];
    } else {
      out += u"%u";
      out += hex[(c >> 12) & 15];
      out += hex[(c >> 8) & 15];
      out += hex[(c >> 4) & 15];
      out += hex[c & 15];
    }
  }
  return Str(std::move(out));
}

int Hex1(char16_t c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  return -1;
}

Variant FnUnescape(BuiltinHost&, Args a) {
  Variant v = Val(a, 0);
  if (v.is_null()) return v;
  std::u16string s = ToStr(v);
  std::u16string out;
  for (std::size_t i = 0; i < s.size();) {
    if (s[i] == u'%') {
      if (i + 5 < s.size() + 0 && (s[i + 1] == u'u' || s[i + 1] == u'U') &&
          Hex1(s[i + 2]) >= 0 && Hex1(s[i + 3]) >= 0 && Hex1(s[i + 4]) >= 0 &&
          Hex1(s[i + 5]) >= 0) {
        out.push_back(static_cast<char16_t>((Hex1(s[i + 2]) << 12) | (Hex1(s[i + 3]) << 8) |
                                            (Hex1(s[i + 4]) << 4) | Hex1(s[i + 5])));
        i += 6;
        continue;
      }
      if (i + 2 < s.size() && Hex1(s[i + 1]) >= 0 && Hex1(s[i + 2]) >= 0) {
        out.push_back(static_cast<char16_t>((Hex1(s[i + 1]) << 4) | Hex1(s[i + 2])));
        i += 3;
        continue;
      }
    }
    out.push_back(s[i++]);
  }
  return Str(std::move(out));
}

// ------------------------------------------------------------ conversion

Variant ConvertTo(Args a, VarType t) { return ConvertValue(a[0], t); }

Variant FnCStr(BuiltinHost&, Args a) { return ConvertTo(a, VT_BSTR); }
Variant FnCInt(BuiltinHost&, Args a) { return ConvertTo(a, VT_I2); }
Variant FnCLng(BuiltinHost&, Args a) { return ConvertTo(a, VT_I4); }
Variant FnCByte(BuiltinHost&, Args a) { return ConvertTo(a, VT_UI1); }
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
    case VT_NULL: return v;
    case VT_EMPTY: return Int(0);
    case VT_UI1: return v;
    case VT_I2:
    case VT_BOOL: {
      std::int64_t x = std::llabs(v.AsInteger());
      return x > 32767 ? Long(x) : Int(x);
    }
    case VT_I4: {
      std::int64_t x = std::llabs(v.AsInteger());
      return x > INT32_MAX ? Variant::R8(static_cast<double>(x)) : Long(x);
    }
    case VT_R4: return Variant::R4(static_cast<float>(std::fabs(v.AsDouble())));
    case VT_CY: return Variant::Currency(v.AsInteger() < 0 ? -v.AsInteger() : v.AsInteger());
    case VT_DATE: return Variant::Date(std::fabs(v.AsDouble()));
    default: return Variant::R8(std::fabs(ToDouble(v)));
  }
}

Variant IntFix(Args a, bool floor_mode) {
  Variant v = Val(a, 0);
  auto f = [floor_mode](double d) { return floor_mode ? std::floor(d) : std::trunc(d); };
  switch (v.type()) {
    case VT_NULL: return v;
    case VT_EMPTY: return Int(0);
    case VT_UI1: case VT_I2: case VT_I4: return v;
    case VT_BOOL: return Int(v.AsInteger());
    case VT_R4: return Variant::R4(static_cast<float>(f(v.AsDouble())));
    case VT_CY: {
      long double units = static_cast<long double>(v.AsInteger()) / kCurrencyScale;
      units = floor_mode ? std::floor(units) : std::trunc(units);
      return Variant::Currency(static_cast<std::int64_t>(units * kCurrencyScale));
    }
    case VT_DATE: return Variant::Date(f(v.AsDouble()));
    default: return Variant::R8(f(ToDouble(v)));
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
    case VT_UI1: case VT_I2: case VT_I4: return v;
    case VT_BOOL: return Int(v.AsInteger());
    case VT_EMPTY: return Int(0);
    default: break;
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

// ---------------------------------------------------------------- dates

double LocalNowSerial(bool with_fraction_seconds) {
  auto now = std::chrono::system_clock::now();
  std::time_t t = std::chrono::system_clock::to_time_t(now);
  std::tm tm{};
  localtime_r(&t, &tm);
  double secs = tm.tm_hour * 3600.0 + tm.tm_min * 60.0 + tm.tm_sec;
  if (with_fraction_seconds) {
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                  now.time_since_epoch()).count() % 1000;
    secs += static_cast<double>(ms) / 1000.0;
  }
  return static_cast<double>(DaysFromDate(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday)) +
         secs / 86400.0;
}

Variant FnNow(BuiltinHost&, Args) { return Variant::Date(LocalNowSerial(false)); }
Variant FnDate(BuiltinHost&, Args) {
  return Variant::Date(std::floor(LocalNowSerial(false)));
}
Variant FnTime(BuiltinHost&, Args) {
  double s = LocalNowSerial(false);
  return Variant::Date(s - std::floor(s));
}
Variant FnTimer(BuiltinHost&, Args) {
  double s = LocalNowSerial(true);
  double secs = (s - std::floor(s)) * 86400.0;
  return Variant::R4(static_cast<float>(std::floor(secs * 100 + 0.5) / 100));
}

DateParts PartsOf(const Variant& v) {
  double serial = ToDate(v);
  DateParts p;
  if (!SerialToParts(serial, &p)) Throw(kErrOverflow);
  return p;
}

template <int DateParts::*Field>
Variant DatePartFn(BuiltinHost&, Args a) {
  Variant v = Val(a, 0);
  if (v.is_null()) return v;
  return Int(PartsOf(v).*Field);
}

int FirstDayArg(Args a, std::size_t i) {
  std::int64_t f = LongArg(a, i, 1);
  if (f == 0) f = 1;  // vbUseSystemDayOfWeek: Sunday
  if (f < 1 || f > 7) Throw(kErrInvalidCall);
  return static_cast<int>(f);
}

int WeekdayFrom(int sunday_based, int first_day) {
  return (sunday_based - first_day + 7) % 7 + 1;
}

Variant FnWeekday(BuiltinHost&, Args a) {
  Variant v = Val(a, 0);
  int fdow = FirstDayArg(a, 1);
  if (v.is_null()) return v;
  return Int(WeekdayFrom(PartsOf(v).weekday, fdow));
}

double CheckedDate(double serial) {
  if (!IsValidDateSerial(serial)) Throw(kErrInvalidCall);
  return serial;
}

// Continuous time: days plus the forward-counting fraction.
double Continuous(double serial) {
  double day = std::trunc(serial);
  return day + std::fabs(serial - day);
}
double FromContinuous(double t) {
  double day = std::floor(t);
  return CombineDayAndTime(static_cast<long long>(day), t - day);
}

std::int64_t NullCheckedLong(Args a, std::size_t i) {
  Variant v = Val(a, i);
  if (v.is_null()) Throw(kErrInvalidNull);
  return ToLong(v);
}

Variant FnDateSerial(BuiltinHost&, Args a) {
  std::int64_t y = NullCheckedLong(a, 0), m = NullCheckedLong(a, 1),
               d = NullCheckedLong(a, 2);
  if (y >= 0 && y <= 99) y = ExpandTwoDigitYear(static_cast<int>(y));
  double serial = static_cast<double>(DaysFromDate(y, m, d));
  return Variant::Date(CheckedDate(serial));
}

Variant FnTimeSerial(BuiltinHost&, Args a) {
  std::int64_t h = NullCheckedLong(a, 0), m = NullCheckedLong(a, 1),
               s = NullCheckedLong(a, 2);
  double total = static_cast<double>(h * 3600 + m * 60 + s) / 86400.0;
  return Variant::Date(CheckedDate(FromContinuous(total)));
}

Variant FnDateValue(BuiltinHost&, Args a) {
  Variant v = Val(a, 0);
  if (v.is_null()) Throw(kErrInvalidNull);
  return Variant::Date(std::trunc(ToDate(v)));
}

Variant FnTimeValue(BuiltinHost&, Args a) {
  Variant v = Val(a, 0);
  if (v.is_null()) Throw(kErrInvalidNull);
  double s = ToDate(v);
  return Variant::Date(std::fabs(s - std::trunc(s)));
}

enum class Interval { kYear, kQuarter, kMonth, kDayOfYear, kDay, kWeekday, kWeek,
                      kHour, kMinute, kSecond };

Interval IntervalArg(const Variant& v) {
  std::u16string s = FoldName(StrOf(v));
  if (s == u"yyyy") return Interval::kYear;
  if (s == u"q") return Interval::kQuarter;
  if (s == u"m") return Interval::kMonth;
  if (s == u"y") return Interval::kDayOfYear;
  if (s == u"d") return Interval::kDay;
  if (s == u"w") return Interval::kWeekday;
  if (s == u"ww") return Interval::kWeek;
  if (s == u"h") return Interval::kHour;
  if (s == u"n") return Interval::kMinute;
  if (s == u"s") return Interval::kSecond;
  Throw(kErrInvalidCall);
}

int DaysInMonth(int y, int m) {
  return static_cast<int>(DaysFromDate(y, m + 1, 1) - DaysFromDate(y, m, 1));
}

Variant FnDateAdd(BuiltinHost&, Args a) {
  Interval iv = IntervalArg(a[0]);
  Variant nv = Val(a, 1), dv = Val(a, 2);
  if (nv.is_null() || dv.is_null()) Throw(kErrInvalidNull);
  double n = RoundHalfEven(ToDouble(nv));
  if (std::fabs(n) > 1e9) Throw(kErrInvalidCall);
  double serial = ToDate(dv);
  double t = Continuous(serial);
  switch (iv) {
    case Interval::kYear:
    case Interval::kQuarter:
    case Interval::kMonth: {
      DateParts p;
      if (!SerialToParts(serial, &p)) Throw(kErrInvalidCall);
      long long months = static_cast<long long>(n) *
                         (iv == Interval::kYear ? 12 : iv == Interval::kQuarter ? 3 : 1);
      long long total = static_cast<long long>(p.year) * 12 + (p.month - 1) + months;
      long long y = total >= 0 ? total / 12 : (total - 11) / 12;
      int m = static_cast<int>(total - y * 12) + 1;
      if (y < 100 || y > 9999) Throw(kErrInvalidCall);
      int d = std::min(p.day, DaysInMonth(static_cast<int>(y), m));
      double frac = t - std::floor(t);
      return Variant::Date(CheckedDate(
          CombineDayAndTime(DaysFromDate(y, m, d), frac)));
    }
    case Interval::kDayOfYear:
    case Interval::kDay:
    case Interval::kWeekday:
      t += n;
      break;
    case Interval::kWeek:
      t += 7 * n;
      break;
    case Interval::kHour:
      t += n / 24.0;
      break;
    case Interval::kMinute:
      t += n / 1440.0;
      break;
    case Interval::kSecond:
      t += n / 86400.0;
      break;
  }
  return Variant::Date(CheckedDate(FromContinuous(t)));
}

long long FloorDiv(long long a, long long b) {
  long long q = a / b;
  if ((a % b != 0) && ((a < 0) != (b < 0))) --q;
  return q;
}

long long Seconds(double serial) { return std::llround(Continuous(serial) * 86400.0); }

Variant FnDateDiff(BuiltinHost&, Args a) {
  Interval iv = IntervalArg(a[0]);
  Variant v1 = Val(a, 1), v2 = Val(a, 2);
  int fdow = FirstDayArg(a, 3);
  if (v1.is_null() || v2.is_null()) Throw(kErrInvalidNull);
  double s1 = ToDate(v1), s2 = ToDate(v2);
  DateParts p1, p2;
  if (!SerialToParts(s1, &p1) || !SerialToParts(s2, &p2)) Throw(kErrInvalidCall);
  long long sec1 = Seconds(s1), sec2 = Seconds(s2);
  long long day1 = FloorDiv(sec1, 86400), day2 = FloorDiv(sec2, 86400);
  long long r = 0;
  switch (iv) {
    case Interval::kYear: r = p2.year - p1.year; break;
    case Interval::kQuarter:
      r = (p2.year * 4LL + (p2.month - 1) / 3) - (p1.year * 4LL + (p1.month - 1) / 3);
      break;
    case Interval::kMonth: r = (p2.year * 12LL + p2.month) - (p1.year * 12LL + p1.month); break;
    case Interval::kDayOfYear:
    case Interval::kDay: r = day2 - day1; break;
    case Interval::kWeekday: r = (day2 - day1) / 7; break;
    case Interval::kWeek:
      // Week starts (days whose weekday is fdow) in (day1, day2]. Day 0
      // (1899-12-30) is a Saturday, so day d has weekday fdow exactly when
      // d = fdow (mod 7).
      r = FloorDiv(day2 - fdow, 7) - FloorDiv(day1 - fdow, 7);
      break;
    case Interval::kHour: r = FloorDiv(sec2, 3600) - FloorDiv(sec1, 3600); break;
    case Interval::kMinute: r = FloorDiv(sec2, 60) - FloorDiv(sec1, 60); break;
    case Interval::kSecond: r = sec2 - sec1; break;
  }
  if (r < INT32_MIN || r > INT32_MAX) return Variant::R8(static_cast<double>(r));
  return Long(r);
}

// Week number of `p` for first day `fdow` and first-week rule `fwoy`.
int WeekOfYear(const DateParts& p, int fdow, int fwoy) {
  auto week_start_of_year = [&](int year) {
    long long jan1 = DaysFromDate(year, 1, 1);
    DateParts j;
    SerialToParts(static_cast<double>(jan1), &j);
    int offset = WeekdayFrom(j.weekday, fdow) - 1;  // days since week start
    long long start = jan1 - offset;
    if (fwoy == 2 && 7 - offset < 4) start += 7;
    if (fwoy == 3 && offset != 0) start += 7;
    return start;
  };
  long long day = DaysFromDate(p.year, p.month, p.day);
  long long start = week_start_of_year(p.year);
  if (day < start) start = week_start_of_year(p.year - 1);
  return static_cast<int>((day - start) / 7 + 1);
}

Variant FnDatePart(BuiltinHost&, Args a) {
  Interval iv = IntervalArg(a[0]);
  Variant v = Val(a, 1);
  int fdow = FirstDayArg(a, 2);
  std::int64_t fwoy = LongArg(a, 3, 1);
  if (fwoy == 0) fwoy = 1;
  if (fwoy < 1 || fwoy > 3) Throw(kErrInvalidCall);
  if (v.is_null()) Throw(kErrInvalidNull);
  DateParts p = PartsOf(v);
  switch (iv) {
    case Interval::kYear: return Int(p.year);
    case Interval::kQuarter: return Int((p.month - 1) / 3 + 1);
    case Interval::kMonth: return Int(p.month);
    case Interval::kDayOfYear: return Int(p.day_of_year);
    case Interval::kDay: return Int(p.day);
    case Interval::kWeekday: return Int(WeekdayFrom(p.weekday, fdow));
    case Interval::kWeek: return Int(WeekOfYear(p, fdow, static_cast<int>(fwoy)));
    case Interval::kHour: return Int(p.hour);
    case Interval::kMinute: return Int(p.minute);
    case Interval::kSecond: return Int(p.second);
  }
  return Variant();
}

Variant FnFormatDateTime(BuiltinHost&, Args a) {
  Variant v = Val(a, 0);
  if (v.is_null()) Throw(kErrInvalidNull);
  double s = ToDate(v);
  std::int64_t f = LongArg(a, 1, 0);
  switch (f) {
    case 0: return Str(FormatDateGeneral(s));
    case 1: return Str(FormatLongDate(s));
    case 2: return Str(FormatShortDate(s));
    case 3: return Str(FormatLongTime(s));
    case 4: return Str(FormatShortTime(s));
    default: Throw(kErrInvalidCall, u"FormatDateTime");
  }
}

constexpr std::u16string_view kMonthNames[12] = {
    u"一月", u"二月", u"三月", u"四月", u"五月", u"六月",
    u"七月", u"八月", u"九月", u"十月", u"十一月", u"十二月"};
constexpr std::u16string_view kDayNames[7] = {u"星期日", u"星期一", u"星期二", u"星期三",
                                              u"星期四", u"星期五", u"星期六"};
constexpr std::u16string_view kDayShort[7] = {u"周日", u"周一", u"周二", u"周三",
                                              u"周四", u"周五", u"周六"};

Variant FnMonthName(BuiltinHost&, Args a) {
  std::int64_t m = NullCheckedLong(a, 0);
  if (m < 1 || m > 12) Throw(kErrInvalidCall, u"MonthName");
  return Variant::Bstr(kMonthNames[m - 1]);
}

Variant FnWeekdayName(BuiltinHost&, Args a) {
  std::int64_t w = NullCheckedLong(a, 0);
  bool abbrev = Missing(a, 1) ? false : ToBool(a[1]);
  int fdow = FirstDayArg(a, 2);
  if (w < 1 || w > 7) Throw(kErrInvalidCall, u"WeekdayName");
  int index = static_cast<int>((w - 1 + fdow - 1) % 7);
  return Variant::Bstr(abbrev ? kDayShort[index] : kDayNames[index]);
}

// ------------------------------------------------------------ formatting

// Decimal digits of |x| rounded half away from zero to `decimals` places,
// working on the 15-significant-digit decimal form of x.
std::string RoundDecimal(double x, int decimals) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.14e", std::fabs(x));
  std::string mant;
  const char* p = buf;
  for (; *p && *p != 'e'; ++p) {
    if (*p != '.') mant.push_back(*p);
  }
  int exp10 = std::atoi(p + 1);
  // Digits as an integer string with `point` digits before the point.
  std::string digits = mant;
  int point = exp10 + 1;
  if (point < 0) {
    digits.insert(0, static_cast<std::size_t>(-point), '0');
    point = 0;
  }
  if (static_cast<int>(digits.size()) < point) digits.append(point - digits.size(), '0');
  int keep = point + decimals;
  if (static_cast<int>(digits.size()) < keep) digits.append(keep - digits.size(), '0');
  bool round_up = keep < static_cast<int>(digits.size()) && digits[keep] >= '5';
  digits.resize(keep);
  if (round_up) {
    int i = keep - 1;
    while (i >= 0 && digits[i] == '9') digits[i--] = '0';
    if (i >= 0) {
      ++digits[i];
    } else {
      digits.insert(digits.begin(), '1');
      ++point;
    }
  }
  std::string int_part = digits.substr(0, point);
  std::string frac = digits.substr(point);
  return int_part + "." + frac;  // int_part may be empty
}

int Tristate(Args a, std::size_t i) {
  std::int64_t v = LongArg(a, i, -2);
  if (v != -1 && v != 0 && v != -2) Throw(kErrInvalidCall);
  return static_cast<int>(v);
}

enum class NumberStyle { kNumber, kPercent, kCurrency };

Variant FormatNumberImpl(Args a, NumberStyle style) {
  Variant v = Val(a, 0);
  if (v.is_null()) Throw(kErrInvalidNull);
  double x = ToDouble(v);
  std::int64_t digits = LongArg(a, 1, -1);
  if (digits == -1) digits = 2;
  if (digits < 0 || digits > 255) Throw(kErrInvalidCall);
  int leading = Tristate(a, 2);
  int parens = Tristate(a, 3);
  int group = Tristate(a, 4);
  if (style == NumberStyle::kPercent) x *= 100;
  if (!std::isfinite(x)) Throw(kErrOverflow);
  std::string r = RoundDecimal(x, static_cast<int>(digits));
  std::size_t dot = r.find('.');
  std::string int_part = r.substr(0, dot);
  std::string frac = r.substr(dot + 1);
  bool all_zero = r.find_first_not_of("0.") == std::string::npos;
  bool negative = x < 0 && !all_zero;
  if (int_part.empty()) int_part = "0";
  if (group != 0 && int_part.size() > 3) {
    std::string g;
    int n = static_cast<int>(int_part.size());
    for (int i = 0; i < n; ++i) {
      g.push_back(int_part[i]);
      if ((n - i - 1) % 3 == 0 && i != n - 1) g.push_back(',');
    }
    int_part = g;
  }
  if (leading == 0 && int_part == "0") int_part.clear();
  std::string body = int_part;
  if (digits > 0) body += "." + frac;
  if (style == NumberStyle::kPercent) body += "%";
  std::u16string out;
  std::u16string b16(body.begin(), body.end());
  if (style == NumberStyle::kCurrency) b16 = u"¥" + b16;
  if (negative) {
    out = parens == -1 ? u"(" + b16 + u")"
                       : (style == NumberStyle::kCurrency ? u"¥-" + b16.substr(1) : u"-" + b16);
  } else {
    out = b16;
  }
  return Str(std::move(out));
}

Variant FnFormatNumber(BuiltinHost&, Args a) { return FormatNumberImpl(a, NumberStyle::kNumber); }
Variant FnFormatPercent(BuiltinHost&, Args a) { return FormatNumberImpl(a, NumberStyle::kPercent); }
Variant FnFormatCurrency(BuiltinHost&, Args a) { return FormatNumberImpl(a, NumberStyle::kCurrency); }

// ---------------------------------------------------------------- arrays

Variant FnArray(BuiltinHost& h, Args a) {
  if (a.size() > h.MaxArrayElements()) Throw(kErrOutOfMemory);
  return Variant::VariantArray(std::vector<Variant>(a.begin(), a.end()));
}

Variant BoundImpl(Args a, bool upper, std::u16string_view name) {
  Variant v = a[0];
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

constexpr Builtin kBuiltins[] = {
    {u"Len", 1, 1, FnLen},
    {u"Left", 2, 2, FnLeft},
    {u"Right", 2, 2, FnRight},
    {u"Mid", 2, 3, FnMid},
    {u"InStr", 2, 4, FnInStr},
    {u"InStrRev", 2, 4, FnInStrRev},
    {u"Replace", 3, 6, FnReplace},
    {u"Split", 1, 4, FnSplit},
    {u"Join", 1, 2, FnJoin},
    {u"UCase", 1, 1, FnUCase},
    {u"LCase", 1, 1, FnLCase},
    {u"Trim", 1, 1, FnTrim},
    {u"LTrim", 1, 1, FnLTrim},
    {u"RTrim", 1, 1, FnRTrim},
    {u"Space", 1, 1, FnSpace},
    {u"String", 2, 2, FnString},
    {u"StrReverse", 1, 1, FnStrReverse},
    {u"StrComp", 2, 3, FnStrComp},
    {u"Asc", 1, 1, FnAsc},
    {u"AscW", 1, 1, FnAscW},
    {u"Chr", 1, 1, FnChr},
    {u"ChrW", 1, 1, FnChrW},
    {u"Hex", 1, 1, FnHex},
    {u"Oct", 1, 1, FnOct},
    {u"Filter", 2, 4, FnFilter},
    {u"Escape", 1, 1, FnEscape},
    {u"Unescape", 1, 1, FnUnescape},
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
    {u"Now", 0, 0, FnNow},
    {u"Date", 0, 0, FnDate},
    {u"Time", 0, 0, FnTime},
    {u"Timer", 0, 0, FnTimer},
    {u"Year", 1, 1, DatePartFn<&DateParts::year>},
    {u"Month", 1, 1, DatePartFn<&DateParts::month>},
    {u"Day", 1, 1, DatePartFn<&DateParts::day>},
    {u"Hour", 1, 1, DatePartFn<&DateParts::hour>},
    {u"Minute", 1, 1, DatePartFn<&DateParts::minute>},
    {u"Second", 1, 1, DatePartFn<&DateParts::second>},
    {u"Weekday", 1, 2, FnWeekday},
    {u"DateSerial", 3, 3, FnDateSerial},
    {u"TimeSerial", 3, 3, FnTimeSerial},
    {u"DateValue", 1, 1, FnDateValue},
    {u"TimeValue", 1, 1, FnTimeValue},
    {u"DateAdd", 3, 3, FnDateAdd},
    {u"DateDiff", 3, 5, FnDateDiff},
    {u"DatePart", 2, 4, FnDatePart},
    {u"FormatDateTime", 1, 2, FnFormatDateTime},
    {u"MonthName", 1, 2, FnMonthName},
    {u"WeekdayName", 1, 3, FnWeekdayName},
    {u"FormatNumber", 1, 5, FnFormatNumber},
    {u"FormatPercent", 1, 5, FnFormatPercent},
    {u"FormatCurrency", 1, 5, FnFormatCurrency},
    {u"Array", 0, 1 << 20, FnArray},
    {u"UBound", 1, 2, FnUBound},
    {u"LBound", 1, 2, FnLBound},
    {u"CreateObject", 1, 2, FnCreateObject},
    {u"Err", 0, 0, FnErr},
};

struct Constant {
  std::u16string_view name;
  Variant (*make)();
};

const std::unordered_map<std::u16string, int>& BuiltinIndex() {
  static const auto* map = [] {
    auto* m = new std::unordered_map<std::u16string, int>();
    for (int i = 0; i < static_cast<int>(std::size(kBuiltins)); ++i) {
      m->emplace(FoldName(kBuiltins[i].name), i);
    }
    return m;
  }();
  return *map;
}

const std::unordered_map<std::u16string, Variant>& ConstantMap() {
  static const auto* map = [] {
    auto* m = new std::unordered_map<std::u16string, Variant>();
    auto add = [m](std::u16string_view n, Variant v) { m->emplace(FoldName(n), std::move(v)); };
    add(u"vbCr", Variant::Bstr(u"\r"));
    add(u"vbLf", Variant::Bstr(u"\n"));
    add(u"vbCrLf", Variant::Bstr(u"\r\n"));
    add(u"vbNewLine", Variant::Bstr(u"\r\n"));
    add(u"vbTab", Variant::Bstr(u"\t"));
    add(u"vbFormFeed", Variant::Bstr(u"\f"));
    add(u"vbVerticalTab", Variant::Bstr(u"\v"));
    add(u"vbNullChar", Variant::Bstr(std::u16string(1, u'\0')));
    add(u"vbNullString", Variant::Bstr(u""));
    add(u"vbBinaryCompare", Variant::I2(0));
    add(u"vbTextCompare", Variant::I2(1));
    add(u"vbDatabaseCompare", Variant::I2(2));
    add(u"vbTrue", Variant::I2(-1));
    add(u"vbFalse", Variant::I2(0));
    add(u"vbUseDefault", Variant::I2(-2));
    add(u"vbObjectError", Variant::I4(-2147221504));
    const std::pair<std::u16string_view, int> types[] = {
        {u"vbEmpty", 0}, {u"vbNull", 1}, {u"vbInteger", 2}, {u"vbLong", 3},
        {u"vbSingle", 4}, {u"vbDouble", 5}, {u"vbCurrency", 6}, {u"vbDate", 7},
        {u"vbString", 8}, {u"vbObject", 9}, {u"vbError", 10}, {u"vbBoolean", 11},
        {u"vbVariant", 12}, {u"vbDataObject", 13}, {u"vbByte", 17}, {u"vbArray", 8192},
        {u"vbSunday", 1}, {u"vbMonday", 2}, {u"vbTuesday", 3}, {u"vbWednesday", 4},
        {u"vbThursday", 5}, {u"vbFriday", 6}, {u"vbSaturday", 7},
        {u"vbUseSystemDayOfWeek", 0}, {u"vbUseSystem", 0}, {u"vbFirstJan1", 1},
        {u"vbFirstFourDays", 2}, {u"vbFirstFullWeek", 3}, {u"vbGeneralDate", 0},
        {u"vbLongDate", 1}, {u"vbShortDate", 2}, {u"vbLongTime", 3}, {u"vbShortTime", 4},
    };
    for (const auto& [n, v] : types) add(n, Variant::I2(static_cast<std::int16_t>(v)));
    return m;
  }();
  return *map;
}

}  // namespace

int FindBuiltin(std::u16string_view folded) {
  auto it = BuiltinIndex().find(std::u16string(folded));
  return it == BuiltinIndex().end() ? -1 : it->second;
}

const Builtin& GetBuiltin(int index) { return kBuiltins[index]; }

bool FindBuiltinConstant(std::u16string_view folded, Variant* value) {
  auto it = ConstantMap().find(std::u16string(folded));
  if (it == ConstantMap().end()) return false;
  *value = it->second;
  return true;
}

void RandomizeSeed(BuiltinHost& host, const Variant* seed) {
  double s = 0;
  if (seed && !seed->is_empty()) {
    s = ToDouble(*seed);
  } else {
    double now = LocalNowSerial(true);
    s = (now - std::floor(now)) * 86400.0;
  }
  std::uint64_t bits = 0;
  std::memcpy(&bits, &s, sizeof bits);
  std::uint32_t mix = static_cast<std::uint32_t>((bits >> 32) ^ bits);
  mix ^= mix >> 16;
  host.rnd_seed = (host.rnd_seed & 0xFF) | ((mix & 0xFFFF) << 8);
  host.rnd_seed &= 0xFFFFFF;
}

}  // namespace lun::script
