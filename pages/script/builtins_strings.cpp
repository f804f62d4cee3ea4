#include <algorithm>
#include <limits>
#include <string>
#include <vector>

#include "automation/text_case.h"
#include "pages/script/builtin_library.h"
#include "pages/script/lexer.h"
#include "pages/script/runtime.h"
#include "pages/script/script_errors.h"
#include "platform/ansi_code_page.h"

namespace lun::script {

namespace {

using namespace lib;  // NOLINT: the shared argument helpers

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
  // The match must end at or before `start` (InStrRev("abcd", "bc", 2) = 0).
  if (s1.empty() || s2.size() > static_cast<std::size_t>(start)) return Long(0);
  std::size_t pos = RFindText(s1, s2, static_cast<std::size_t>(start) - s2.size(), text);
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
  if (arr.is_null()) Throw(kErrInvalidNull, u"Join");
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
  bool narrow =
      v.type() == VT_I2 || v.type() == VT_UI1 || v.type() == VT_BOOL || v.type() == VT_EMPTY;
  n = ToLong(v);
  std::uint32_t u = narrow && n < 0 ? static_cast<std::uint16_t>(n) : static_cast<std::uint32_t>(n);
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
  if (v.is_null()) Throw(kErrInvalidNull, u"Escape");
  std::u16string s = ToStr(v);
  std::u16string out;
  const char16_t* hex = u"0123456789ABCDEF";
  for (char16_t c : s) {
    bool keep = (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z') || (c >= u'0' && c <= u'9') ||
                c == u'@' || c == u'*' || c == u'_' || c == u'+' || c == u'-' || c == u'.' ||
                c == u'/';
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
  if (v.is_null()) Throw(kErrInvalidNull, u"Unescape");
  std::u16string s = ToStr(v);
  std::u16string out;
  for (std::size_t i = 0; i < s.size();) {
    if (s[i] == u'%') {
      if (i + 5 < s.size() + 0 && (s[i + 1] == u'u' || s[i + 1] == u'U') && Hex1(s[i + 2]) >= 0 &&
          Hex1(s[i + 3]) >= 0 && Hex1(s[i + 4]) >= 0 && Hex1(s[i + 5]) >= 0) {
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

// ---- byte forms. A script string is UTF-16: each character is two bytes,
// low byte first. A byte count that ends inside a character keeps that
// character's low byte as a character of its own (the platform keeps an
// odd-length byte string; ours rounds it up to whole characters).

std::u16string BytesOf(const std::u16string& s, std::int64_t first, std::int64_t count) {
  const std::int64_t total = static_cast<std::int64_t>(s.size()) * 2;
  std::u16string out;
  for (std::int64_t b = first; b < total && b < first + count; ++b) {
    const char16_t c = s[static_cast<std::size_t>(b / 2)];
    if (b % 2 == 0 && b + 1 < first + count) {
      out.push_back(c);
      ++b;
    } else {
      out.push_back(static_cast<char16_t>(b % 2 == 0 ? (c & 0xFF) : (c >> 8)));
    }
  }
  return out;
}

std::int64_t ByteCountArg(Args a, std::size_t i, std::u16string_view fn) {
  Variant v = Val(a, i);
  if (v.is_null()) Throw(kErrInvalidNull, fn);
  std::int64_t n = ToLong(v);
  if (n < 0) Throw(kErrInvalidCall, fn);
  return n;
}

Variant FnLenB(BuiltinHost&, Args a) {
  Variant v = Val(a, 0);
  if (v.is_null()) return v;
  return Long(static_cast<std::int64_t>(ToStr(v).size()) * 2);
}

Variant FnLeftB(BuiltinHost&, Args a) {
  Variant v = Val(a, 0);
  std::int64_t n = ByteCountArg(a, 1, u"LeftB");
  if (v.is_null()) return v;
  return Str(BytesOf(ToStr(v), 0, n));
}

Variant FnRightB(BuiltinHost&, Args a) {
  Variant v = Val(a, 0);
  std::int64_t n = ByteCountArg(a, 1, u"RightB");
  if (v.is_null()) return v;
  std::u16string s = ToStr(v);
  const std::int64_t total = static_cast<std::int64_t>(s.size()) * 2;
  return Str(BytesOf(s, std::max<std::int64_t>(0, total - n), n));
}

Variant FnMidB(BuiltinHost&, Args a) {
  Variant v = Val(a, 0);
  std::int64_t start = ByteCountArg(a, 1, u"MidB");
  if (start < 1) Throw(kErrInvalidCall, u"MidB");
  std::int64_t n =
      Missing(a, 2) ? std::numeric_limits<std::int32_t>::max() : ByteCountArg(a, 2, u"MidB");
  if (v.is_null()) return v;
  return Str(BytesOf(ToStr(v), start - 1, n));
}

Variant FnAscB(BuiltinHost&, Args a) {
  std::u16string s = StrOf(a[0]);
  if (s.empty()) Throw(kErrInvalidCall, u"AscB");
  return Variant::UI1(static_cast<std::uint8_t>(s[0] & 0xFF));
}

Variant FnChrB(BuiltinHost&, Args a) {
  std::int64_t n = ByteCountArg(a, 0, u"ChrB");
  if (n > 255) Throw(kErrInvalidCall, u"ChrB");
  return Str(std::u16string(1, static_cast<char16_t>(n)));
}

// InStrB([start,] s1, s2[, compare]): the byte position of s2 in s1.
Variant FnInStrB(BuiltinHost& h, Args a) {
  std::vector<Variant> args(a.begin(), a.end());
  if (args.size() >= 3) {
    std::int64_t start = ByteCountArg(a, 0, u"InStrB");
    if (start < 1) Throw(kErrInvalidCall, u"InStrB");
    args[0] = Variant::I4(static_cast<std::int32_t>((start + 1) / 2));
  }
  Variant pos = FnInStr(h, args);
  if (pos.is_null()) return pos;
  const std::int64_t p = ToLong(pos);
  return Long(p == 0 ? 0 : (p - 1) * 2 + 1);
}

constexpr Builtin kTable[] = {
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
    {u"LenB", 1, 1, FnLenB},
    {u"LeftB", 2, 2, FnLeftB},
    {u"RightB", 2, 2, FnRightB},
    {u"MidB", 2, 3, FnMidB},
    {u"AscB", 1, 1, FnAscB},
    {u"ChrB", 1, 1, FnChrB},
    {u"InStrB", 2, 4, FnInStrB},
};

}  // namespace

std::span<const Builtin> StringBuiltins() { return kTable; }

}  // namespace lun::script
