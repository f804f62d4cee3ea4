#include "automation/variant.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

#include "automation/date_time.h"
#include "automation/dispatch.h"

namespace lun {

namespace {

bool IsIntegerType(VarType t) {
  switch (t) {
    case VT_I1: case VT_I2: case VT_I4: case VT_I8: case VT_INT:
    case VT_UI1: case VT_UI2: case VT_UI4: case VT_UI8: case VT_UINT:
    case VT_BOOL: case VT_ERROR: case VT_CY:
      return true;
    default:
      return false;
  }
}

// The chain of default members is bounded so that an object whose default
// member returns itself cannot loop forever.
constexpr int kMaxDefaultDepth = 16;

}  // namespace

Variant Variant::Null() { return Variant(VT_NULL, std::monostate{}); }
Variant Variant::I2(std::int16_t v) { return Variant(VT_I2, std::int64_t{v}); }
Variant Variant::I4(std::int32_t v) { return Variant(VT_I4, std::int64_t{v}); }
Variant Variant::I8(std::int64_t v) { return Variant(VT_I8, v); }
Variant Variant::UI1(std::uint8_t v) { return Variant(VT_UI1, std::int64_t{v}); }
Variant Variant::Integer(VarType type, std::int64_t v) {
  switch (type) {
    case VT_I1: case VT_I2: case VT_I4: case VT_I8: case VT_INT:
    case VT_UI1: case VT_UI2: case VT_UI4: case VT_UI8: case VT_UINT:
      return Variant(type, v);
    default:
      return Variant();
  }
}
Variant Variant::R4(float v) { return Variant(VT_R4, double{v}); }
Variant Variant::R8(double v) { return Variant(VT_R8, v); }
Variant Variant::Currency(std::int64_t units) { return Variant(VT_CY, units); }
Variant Variant::Date(double serial) { return Variant(VT_DATE, serial); }
Variant Variant::Bool(bool v) {
  return Variant(VT_BOOL, std::int64_t{v ? kVariantTrue : kVariantFalse});
}
Variant Variant::Bstr(std::u16string v) { return Variant(VT_BSTR, std::move(v)); }
Variant Variant::Bstr(std::u16string_view v) {
  return Variant(VT_BSTR, std::u16string(v));
}
Variant Variant::Bstr(const char16_t* v) {
  return Variant(VT_BSTR, std::u16string(v));
}
Variant Variant::Error(HResult code) { return Variant(VT_ERROR, std::int64_t{code}); }
Variant Variant::Object(std::shared_ptr<Dispatch> object) {
  return Variant(VT_DISPATCH, std::move(object));
}
Variant Variant::Array(std::shared_ptr<SafeArray> array) {
  if (!array) array = std::make_shared<SafeArray>(VT_VARIANT);
  VarType t = static_cast<VarType>(VT_ARRAY | array->element_type());
  return Variant(t, std::move(array));
}
Variant Variant::Bytes(std::span<const std::uint8_t> bytes) {
  SafeArray::Bound b{0, static_cast<std::int64_t>(bytes.size())};
  auto array = SafeArray::Create(VT_UI1, std::span(&b, 1),
                                 std::numeric_limits<std::size_t>::max());
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    (void)array->Put(i, Variant::UI1(bytes[i]));
  }
  return Array(std::move(array));
}
Variant Variant::VariantArray(std::vector<Variant> items) {
  auto array = std::make_shared<SafeArray>(VT_VARIANT);
  SafeArray::Bound b{0, static_cast<std::int64_t>(items.size())};
  (void)array->Redim(std::span(&b, 1), false,
                     std::numeric_limits<std::size_t>::max());
  for (std::size_t i = 0; i < items.size(); ++i) {
    *array->MutableElement(i) = std::move(items[i]);
  }
  return Array(std::move(array));
}

bool Variant::is_numeric() const {
  return IsIntegerType(type_) ? type_ != VT_ERROR
                              : (type_ == VT_R4 || type_ == VT_R8 ||
                                 type_ == VT_DATE);
}

std::int64_t Variant::AsInteger() const {
  if (auto p = std::get_if<std::int64_t>(&value_)) return *p;
  if (auto d = std::get_if<double>(&value_)) {
    if (!std::isfinite(*d)) return 0;
    if (*d >= 9.2e18 || *d <= -9.2e18) return 0;
    return static_cast<std::int64_t>(*d);
  }
  return 0;
}

double Variant::AsDouble() const {
  if (auto d = std::get_if<double>(&value_)) return *d;
  if (auto p = std::get_if<std::int64_t>(&value_)) {
    if (type_ == VT_CY) return static_cast<double>(*p) / kCurrencyScale;
    return static_cast<double>(*p);
  }
  return 0;
}

std::u16string_view Variant::AsString() const {
  if (auto s = std::get_if<std::u16string>(&value_)) return *s;
  return {};
}

std::u16string* Variant::MutableString() {
  return std::get_if<std::u16string>(&value_);
}

const std::shared_ptr<Dispatch>& Variant::AsObject() const {
  static const std::shared_ptr<Dispatch> kNone;
  if (auto p = std::get_if<std::shared_ptr<Dispatch>>(&value_)) return *p;
  return kNone;
}

const std::shared_ptr<SafeArray>& Variant::AsArray() const {
  static const std::shared_ptr<SafeArray> kNone;
  if (auto p = std::get_if<std::shared_ptr<SafeArray>>(&value_)) return *p;
  return kNone;
}

SafeArray* Variant::MutableArray() {
  auto p = std::get_if<std::shared_ptr<SafeArray>>(&value_);
  if (!p || !*p) return nullptr;
  // Copy-on-write: another Variant still sees the old contents.
  if (p->use_count() > 1) *p = std::make_shared<SafeArray>(**p);
  return p->get();
}

bool operator==(const Variant& a, const Variant& b) {
  if (a.type_ != b.type_) return false;
  if (a.is_array()) {
    const auto& x = a.AsArray();
    const auto& y = b.AsArray();
    if (x == y) return true;
    if (!x || !y) return false;
    if (x->bounds_.size() != y->bounds_.size()) return false;
    for (std::size_t i = 0; i < x->bounds_.size(); ++i) {
      if (x->bounds_[i].lower != y->bounds_[i].lower ||
          x->bounds_[i].count != y->bounds_[i].count)
        return false;
    }
    return x->items_ == y->items_ && x->bytes_ == y->bytes_;
  }
  if (a.type_ == VT_R4 || a.type_ == VT_R8 || a.type_ == VT_DATE) {
    return a.AsDouble() == b.AsDouble();
  }
  return a.value_ == b.value_;
}

// ---------------------------------------------------------------- SafeArray

namespace {

bool TotalSize(std::span<const SafeArray::Bound> bounds, std::size_t max,
               std::size_t* total) {
  std::size_t n = 1;
  for (const auto& b : bounds) {
    if (b.count < 0) return false;
    auto c = static_cast<std::size_t>(b.count);
    if (c != 0 && n > max / c) return false;
    n *= c;
  }
  if (n > max) return false;
  *total = n;
  return true;
}

}  // namespace

std::shared_ptr<SafeArray> SafeArray::Create(VarType element_type,
                                             std::span<const Bound> bounds,
                                             std::size_t max_elements) {
  if (bounds.empty() || bounds.size() > kMaxDimensions) return nullptr;
  auto a = std::make_shared<SafeArray>(element_type);
  if (a->Redim(bounds, false, max_elements) != S_OK) return nullptr;
  return a;
}

std::size_t SafeArray::size() const {
  return element_type_ == VT_UI1 ? bytes_.size() : items_.size();
}

Variant SafeArray::Get(std::size_t flat) const {
  if (element_type_ == VT_UI1) {
    return flat < bytes_.size() ? Variant::UI1(bytes_[flat]) : Variant();
  }
  return flat < items_.size() ? items_[flat] : Variant();
}

HResult SafeArray::Put(std::size_t flat, Variant v) {
  if (flat >= size()) return DISP_E_BADINDEX;
  if (element_type_ == VT_UI1) {
    bytes_[flat] = static_cast<std::uint8_t>(v.AsInteger());
  } else {
    items_[flat] = std::move(v);
  }
  return S_OK;
}

Variant* SafeArray::MutableElement(std::size_t flat) {
  if (element_type_ == VT_UI1 || flat >= items_.size()) return nullptr;
  return &items_[flat];
}

HResult SafeArray::FlatIndex(std::span<const std::int64_t> indexes,
                             std::size_t* flat) const {
  if (indexes.size() != bounds_.size() || bounds_.empty()) {
    return DISP_E_BADINDEX;
  }
  std::size_t pos = 0;
  std::size_t stride = 1;
  for (std::size_t i = 0; i < indexes.size(); ++i) {
    std::int64_t rel = indexes[i] - bounds_[i].lower;
    if (rel < 0 || rel >= bounds_[i].count) return DISP_E_BADINDEX;
    pos += static_cast<std::size_t>(rel) * stride;
    stride *= static_cast<std::size_t>(bounds_[i].count);
  }
  *flat = pos;
  return S_OK;
}

HResult SafeArray::Redim(std::span<const Bound> bounds, bool preserve,
                         std::size_t max_elements) {
  if (bounds.empty() || bounds.size() > kMaxDimensions) return DISP_E_BADINDEX;
  std::size_t total = 0;
  if (!TotalSize(bounds, max_elements, &total)) {
    for (const auto& b : bounds) {
      if (b.count < 0) return DISP_E_BADINDEX;
    }
    return E_OUTOFMEMORY;
  }
  if (preserve && !bounds_.empty()) {
    if (bounds.size() != bounds_.size()) return DISP_E_BADINDEX;
    for (std::size_t i = 0; i + 1 < bounds.size(); ++i) {
      if (bounds[i].lower != bounds_[i].lower ||
          bounds[i].count != bounds_[i].count)
        return DISP_E_BADINDEX;
    }
    // First index fastest: the last dimension is outermost, so resizing
    // the flat storage keeps every surviving element at its position.
    if (element_type_ == VT_UI1) {
      bytes_.resize(total);
    } else {
      items_.resize(total);
    }
    bounds_.back() = bounds.back();
    return S_OK;
  }
  bounds_.assign(bounds.begin(), bounds.end());
  if (element_type_ == VT_UI1) {
    bytes_.assign(total, 0);
  } else {
    items_.clear();
    items_.resize(total);
  }
  return S_OK;
}

SafeArray::~SafeArray() {
  if (!items_.empty()) ReleaseNested(std::move(items_));
}

void SafeArray::TakeItems(std::vector<Variant>* out) {
  for (auto& v : items_) {
    if (!v.is_empty()) out->push_back(std::move(v));
  }
  items_.clear();
}

void ReleaseNested(std::vector<Variant>&& values) {
  std::vector<Variant> work = std::move(values);
  while (!work.empty()) {
    Variant v = std::move(work.back());
    work.pop_back();
    if (auto* a = std::get_if<std::shared_ptr<SafeArray>>(&v.value_)) {
      if (*a && a->use_count() == 1) (*a)->TakeItems(&work);
    } else if (auto* o = std::get_if<std::shared_ptr<Dispatch>>(&v.value_)) {
      if (*o && o->use_count() == 1) (*o)->TakeChildren(&work);
    }
    // `v` goes here; what it held has no nested values left.
  }
}

void SafeArray::Clear() {
  bounds_.clear();
  items_.clear();
  bytes_.clear();
}

void SafeArray::ResetElements() {
  for (auto& v : items_) v = Variant();
  for (auto& b : bytes_) b = 0;
}

// ------------------------------------------------------------ numbers, text

double RoundHalfEven(double v) {
  if (!std::isfinite(v)) return v;
  double r = std::nearbyint(v);  // default rounding mode: to nearest even
  return r;
}

namespace {

bool IsBlank(char16_t c) { return c == u' ' || c == u'\t'; }

int DigitValue(char16_t c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  return -1;
}

}  // namespace

bool ParseNumber(std::u16string_view text, double* value, bool* is_long) {
  std::size_t b = 0, e = text.size();
  while (b < e && IsBlank(text[b])) ++b;
  while (e > b && IsBlank(text[e - 1])) --e;
  std::u16string_view s = text.substr(b, e - b);
  if (s.empty()) return false;
  if (is_long) *is_long = false;
  if (s[0] == u'&') {
    std::size_t i = 1;
    int base = 8;
    if (i < s.size() && (s[i] == u'H' || s[i] == u'h')) {
      base = 16;
      ++i;
    } else if (i < s.size() && (s[i] == u'O' || s[i] == u'o')) {
      ++i;
    }
    if (i >= s.size()) return false;
    std::uint64_t acc = 0;
    for (; i < s.size(); ++i) {
      int d = DigitValue(s[i]);
      if (d < 0 || d >= base) return false;
      acc = acc * base + d;
      if (acc > 0xFFFFFFFFull) return false;
    }
    *value = static_cast<double>(static_cast<std::int32_t>(
        static_cast<std::uint32_t>(acc)));
    if (is_long) *is_long = true;
    return true;
  }
  // Decimal: copy to ASCII without group separators, then strtod.
  std::string ascii;
  ascii.reserve(s.size());
  std::size_t i = 0;
  if (s[i] == u'+' || s[i] == u'-') ascii.push_back(static_cast<char>(s[i++]));
  bool digits = false;
  while (i < s.size() && ((s[i] >= u'0' && s[i] <= u'9') || s[i] == u',')) {
    if (s[i] != u',') {
      ascii.push_back(static_cast<char>(s[i]));
      digits = true;
    } else if (!digits) {
      return false;  // a group separator needs a digit before it
    }
    ++i;
  }
  if (i < s.size() && s[i] == u'.') {
    ascii.push_back('.');
    ++i;
    while (i < s.size() && s[i] >= u'0' && s[i] <= u'9') {
      ascii.push_back(static_cast<char>(s[i++]));
      digits = true;
    }
  }
  if (!digits) return false;
  if (i < s.size() && (s[i] == u'E' || s[i] == u'e' || s[i] == u'D' ||
                       s[i] == u'd')) {
    ascii.push_back('e');
    ++i;
    if (i < s.size() && (s[i] == u'+' || s[i] == u'-')) {
      ascii.push_back(static_cast<char>(s[i++]));
    }
    bool exp_digits = false;
    while (i < s.size() && s[i] >= u'0' && s[i] <= u'9') {
      ascii.push_back(static_cast<char>(s[i++]));
      exp_digits = true;
    }
    if (!exp_digits) return false;
  }
  if (i != s.size()) return false;
  char* end = nullptr;
  double v = std::strtod(ascii.c_str(), &end);
  if (end != ascii.c_str() + ascii.size()) return false;
  if (!std::isfinite(v)) return false;
  *value = v;
  return true;
}

std::u16string FormatDouble(double v, bool single) {
  if (std::isnan(v)) return u"NaN";
  if (std::isinf(v)) return v < 0 ? u"-Infinity" : u"Infinity";
  if (v == 0) return u"0";
  const int precision = single ? 7 : 15;
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.*e", precision - 1, v);
  // buf: [-]d.dddddde[+-]xx
  std::string s(buf);
  bool negative = s[0] == '-';
  if (negative) s.erase(0, 1);
  std::size_t epos = s.find('e');
  int exponent = std::atoi(s.c_str() + epos + 1);
  std::string digits;
  for (std::size_t i = 0; i < epos; ++i) {
    if (s[i] != '.') digits.push_back(s[i]);
  }
  while (digits.size() > 1 && digits.back() == '0') digits.pop_back();
  int n = static_cast<int>(digits.size());
  std::string out;
  if (negative) out.push_back('-');
  const int fixed_limit = precision;  // 15 or 7
  const int small_limit = precision + 1;  // 16 or 8
  if (exponent >= fixed_limit || (exponent < 0 && n - exponent > small_limit)) {
    out.push_back(digits[0]);
    if (n > 1) {
      out.push_back('.');
      out.append(digits, 1, std::string::npos);
    }
    char e[16];
    std::snprintf(e, sizeof e, "E%c%02d", exponent < 0 ? '-' : '+',
                  exponent < 0 ? -exponent : exponent);
    out.append(e);
  } else if (exponent < 0) {
    out.append("0.");
    out.append(static_cast<std::size_t>(-exponent - 1), '0');
    out.append(digits);
  } else {
    if (n <= exponent + 1) {
      out.append(digits);
      out.append(static_cast<std::size_t>(exponent + 1 - n), '0');
    } else {
      out.append(digits, 0, exponent + 1);
      out.push_back('.');
      out.append(digits, exponent + 1, std::string::npos);
    }
  }
  return std::u16string(out.begin(), out.end());
}

std::u16string FormatCurrencyUnits(std::int64_t units) {
  bool negative = units < 0;
  std::uint64_t u = negative ? 0 - static_cast<std::uint64_t>(units)
                             : static_cast<std::uint64_t>(units);
  std::string out = negative ? "-" : "";
  out += std::to_string(u / kCurrencyScale);
  std::uint64_t frac = u % kCurrencyScale;
  if (frac != 0) {
    char f[8];
    std::snprintf(f, sizeof f, "%04u", static_cast<unsigned>(frac));
    std::string fs(f);
    while (!fs.empty() && fs.back() == '0') fs.pop_back();
    out += "." + fs;
  }
  return std::u16string(out.begin(), out.end());
}

// ------------------------------------------------------------- ChangeType

HResult DefaultValue(const Variant& in, Variant* out) {
  Variant current = in;
  for (int depth = 0; current.is_object(); ++depth) {
    const auto& object = current.AsObject();
    if (!object || depth >= kMaxDefaultDepth) return DISP_E_TYPEMISMATCH;
    Variant next;
    ExcepInfo excep;
    HResult hr = object->Invoke(DISPID_VALUE, DISPATCH_PROPERTYGET, {}, &next,
                                &excep);
    if (hr != S_OK) return hr;
    current = std::move(next);
  }
  *out = std::move(current);
  return S_OK;
}

namespace {

// Reads a scalar as a double for numeric targets.
HResult NumericValue(const Variant& v, double* d) {
  switch (v.type()) {
    case VT_EMPTY:
      *d = 0;
      return S_OK;
    case VT_BSTR:
      return ParseNumber(v.AsString(), d) ? S_OK : DISP_E_TYPEMISMATCH;
    case VT_NULL:
    case VT_ERROR:
      return DISP_E_TYPEMISMATCH;
    default:
      if (v.is_array() || v.is_object()) return DISP_E_TYPEMISMATCH;
      *d = v.AsDouble();
      return S_OK;
  }
}

HResult ToIntegerType(const Variant& v, VarType to, Variant* out) {
  double d = 0;
  // Integer sources go straight through (no double rounding for I8/UI8).
  if (IsIntegerType(v.type()) && v.type() != VT_CY && v.type() != VT_ERROR) {
    d = static_cast<double>(v.AsInteger());
  } else {
    HResult hr = NumericValue(v, &d);
    if (hr != S_OK) return hr;
  }
  double r = RoundHalfEven(d);
  auto in_range = [r](double lo, double hi) { return r >= lo && r <= hi; };
  switch (to) {
    case VT_I1:
      if (!in_range(-128, 127)) return DISP_E_OVERFLOW;
      break;
    case VT_UI1:
      if (!in_range(0, 255)) return DISP_E_OVERFLOW;
      break;
    case VT_I2:
      if (!in_range(-32768, 32767)) return DISP_E_OVERFLOW;
      break;
    case VT_UI2:
      if (!in_range(0, 65535)) return DISP_E_OVERFLOW;
      break;
    case VT_I4:
    case VT_INT:
      if (!in_range(-2147483648.0, 2147483647.0)) return DISP_E_OVERFLOW;
      break;
    case VT_UI4:
    case VT_UINT:
      if (!in_range(0, 4294967295.0)) return DISP_E_OVERFLOW;
      break;
    case VT_I8:
      if (!(r >= -9223372036854775808.0 && r < 9223372036854775808.0))
        return DISP_E_OVERFLOW;
      break;
    case VT_UI8:
      if (!(r >= 0 && r < 18446744073709551616.0)) return DISP_E_OVERFLOW;
      break;
    default:
      return DISP_E_BADVARTYPE;
  }
  *out = Variant::Integer(
      to, to == VT_UI8 && r >= 9223372036854775808.0
              ? static_cast<std::int64_t>(static_cast<std::uint64_t>(r))
              : static_cast<std::int64_t>(r));
  return S_OK;
}

bool ParseBoolWord(std::u16string_view s, bool* value) {
  std::size_t b = 0, e = s.size();
  while (b < e && IsBlank(s[b])) ++b;
  while (e > b && IsBlank(s[e - 1])) --e;
  s = s.substr(b, e - b);
  if (EqualsIgnoreAsciiCase(s, u"true")) {
    *value = true;
    return true;
  }
  if (EqualsIgnoreAsciiCase(s, u"false")) {
    *value = false;
    return true;
  }
  return false;
}

}  // namespace

HResult ToText(const Variant& in, std::u16string* out) {
  Variant v;
  HResult hr = ChangeType(in, VT_BSTR, &v);
  if (hr != S_OK) return hr;
  *out = std::u16string(v.AsString());
  return S_OK;
}

HResult ChangeType(const Variant& in_ref, VarType to, Variant* out) {
  if (in_ref.type() == to && !in_ref.is_object()) {
    if (out != &in_ref) *out = in_ref;
    return S_OK;
  }
  if (to == VT_DISPATCH || to == VT_UNKNOWN) {
    if (!in_ref.is_object()) return DISP_E_TYPEMISMATCH;
    *out = in_ref;
    return S_OK;
  }
  if (to == VT_VARIANT) {
    *out = in_ref;
    return S_OK;
  }
  Variant in;
  if (in_ref.is_object()) {
    HResult hr = DefaultValue(in_ref, &in);
    if (hr != S_OK) return hr;
    if (in.type() == to) {
      *out = std::move(in);
      return S_OK;
    }
  } else {
    in = in_ref;
  }
  if (in.is_array() || (to & VT_ARRAY)) return DISP_E_TYPEMISMATCH;
  if (to == VT_EMPTY) {
    *out = Variant();
    return S_OK;
  }
  if (in.is_null() || to == VT_NULL) return DISP_E_TYPEMISMATCH;
  if (in.type() == VT_ERROR && to != VT_ERROR) return DISP_E_TYPEMISMATCH;

  switch (to) {
    case VT_BSTR: {
      switch (in.type()) {
        case VT_EMPTY:
          *out = Variant::Bstr(u"");
          return S_OK;
        case VT_BOOL:
          *out = Variant::Bstr(in.AsBool() ? u"True" : u"False");
          return S_OK;
        case VT_R8:
          *out = Variant::Bstr(FormatDouble(in.AsDouble()));
          return S_OK;
        case VT_R4:
          *out = Variant::Bstr(FormatDouble(in.AsDouble(), true));
          return S_OK;
        case VT_CY:
          *out = Variant::Bstr(FormatCurrencyUnits(in.AsInteger()));
          return S_OK;
        case VT_DATE:
          if (!IsValidDateSerial(in.AsDouble())) return DISP_E_OVERFLOW;
          *out = Variant::Bstr(FormatDateGeneral(in.AsDouble()));
          return S_OK;
        default: {
          if (!IsIntegerType(in.type())) return DISP_E_TYPEMISMATCH;
          std::string s = in.type() == VT_UI8
                              ? std::to_string(static_cast<std::uint64_t>(
                                    in.AsInteger()))
                              : std::to_string(in.AsInteger());
          *out = Variant::Bstr(std::u16string(s.begin(), s.end()));
          return S_OK;
        }
      }
    }
    case VT_BOOL: {
      if (in.type() == VT_BSTR) {
        bool b = false;
        if (ParseBoolWord(in.AsString(), &b)) {
          *out = Variant::Bool(b);
          return S_OK;
        }
      }
      double d = 0;
      HResult hr = NumericValue(in, &d);
      if (hr != S_OK) return hr;
      *out = Variant::Bool(d != 0);
      return S_OK;
    }
    case VT_R8:
    case VT_R4: {
      double d = 0;
      HResult hr = NumericValue(in, &d);
      if (hr != S_OK) return hr;
      if (to == VT_R4) {
        if (std::fabs(d) > std::numeric_limits<float>::max()) {
          return DISP_E_OVERFLOW;
        }
        *out = Variant::R4(static_cast<float>(d));
      } else {
        *out = Variant::R8(d);
      }
      return S_OK;
    }
    case VT_CY: {
      double d = 0;
      HResult hr = NumericValue(in, &d);
      if (hr != S_OK) return hr;
      double units = RoundHalfEven(d * kCurrencyScale);
      if (!(units >= -9223372036854775808.0 && units < 9223372036854775808.0)) {
        return DISP_E_OVERFLOW;
      }
      *out = Variant::Currency(static_cast<std::int64_t>(units));
      return S_OK;
    }
    case VT_DATE: {
      double serial = 0;
      if (in.type() == VT_BSTR) {
        if (!ParseDateText(in.AsString(), &serial)) return DISP_E_TYPEMISMATCH;
      } else {
        HResult hr = NumericValue(in, &serial);
        if (hr != S_OK) return hr;
        if (!IsValidDateSerial(serial)) return DISP_E_OVERFLOW;
      }
      *out = Variant::Date(serial);
      return S_OK;
    }
    case VT_ERROR:
      if (in.type() == VT_ERROR) {
        *out = in;
        return S_OK;
      }
      return DISP_E_TYPEMISMATCH;
    case VT_I1: case VT_I2: case VT_I4: case VT_I8: case VT_INT:
    case VT_UI1: case VT_UI2: case VT_UI4: case VT_UI8: case VT_UINT:
      return ToIntegerType(in, to, out);
    default:
      return DISP_E_BADVARTYPE;
  }
}

}  // namespace lun
