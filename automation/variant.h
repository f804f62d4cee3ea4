// Variant: the tagged value that automation objects, the script interpreter
// and the search engine's field values share.
//
// The type codes are COM's VARTYPE numbers because the search engine writes
// them into its files; they must never be renumbered.
//
// A Variant has value semantics: copying it copies strings and arrays
// (arrays are shared copy-on-write, so a copy is cheap until one side
// writes). An object (VT_DISPATCH / VT_UNKNOWN) is a shared reference: the
// copy and the original point at the same object. A null object pointer is
// "Nothing".
//
// Thread safety: a Variant is a plain value; distinct Variants may be used
// on distinct threads. The objects they point at decide their own safety.
#ifndef LUN_AUTOMATION_VARIANT_H_
#define LUN_AUTOMATION_VARIANT_H_

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "automation/hresult.h"

namespace lun {

// COM VARTYPE values. VT_ARRAY is a flag combined with an element type
// (VT_ARRAY | VT_VARIANT for script arrays, VT_ARRAY | VT_UI1 for bytes).
enum VarType : std::uint16_t {
  VT_EMPTY = 0,
  VT_NULL = 1,
  VT_I2 = 2,
  VT_I4 = 3,
  VT_R4 = 4,
  VT_R8 = 5,
  VT_CY = 6,
  VT_DATE = 7,
  VT_BSTR = 8,
  VT_DISPATCH = 9,
  VT_ERROR = 10,
  VT_BOOL = 11,
  VT_VARIANT = 12,
  VT_UNKNOWN = 13,
  VT_I1 = 16,
  VT_UI1 = 17,
  VT_UI2 = 18,
  VT_UI4 = 19,
  VT_I8 = 20,
  VT_UI8 = 21,
  VT_INT = 22,
  VT_UINT = 23,
  VT_ARRAY = 0x2000,
};

class Dispatch;
class SafeArray;
class Variant;

// Currency values are 64-bit integers scaled by 10,000.
inline constexpr std::int64_t kCurrencyScale = 10000;

// VARIANT_BOOL values.
inline constexpr std::int16_t kVariantTrue = -1;
inline constexpr std::int16_t kVariantFalse = 0;

class Variant {
 public:
  // Empty.
  Variant() = default;

  // Factories, one per subtype. Integer factories do not range-check beyond
  // their parameter type.
  static Variant Null();
  static Variant I2(std::int16_t v);
  static Variant I4(std::int32_t v);
  static Variant I8(std::int64_t v);
  static Variant UI1(std::uint8_t v);
  // Any integer type (VT_I1, I2, I4, I8, UI1, UI2, UI4, UI8, INT, UINT);
  // `v` is stored as given (UI8 values above INT64_MAX wrap). Other types
  // give Empty.
  static Variant Integer(VarType type, std::int64_t v);
  static Variant R4(float v);
  static Variant R8(double v);
  // `units` is the value times 10,000.
  static Variant Currency(std::int64_t units);
  // Days since 1899-12-30; the fraction is the time of day.
  static Variant Date(double serial);
  static Variant Bool(bool v);
  static Variant Bstr(std::u16string v);
  static Variant Bstr(std::u16string_view v);
  static Variant Bstr(const char16_t* v);
  // VT_ERROR holding an HRESULT (a missing optional argument is
  // Error(DISP_E_PARAMNOTFOUND)).
  static Variant Error(HResult code);
  // VT_DISPATCH. A null pointer is Nothing.
  static Variant Object(std::shared_ptr<Dispatch> object);
  // VT_ARRAY | array->element_type(). A null pointer is taken as an empty
  // Variant array with no dimensions (an undimensioned dynamic array).
  static Variant Array(std::shared_ptr<SafeArray> array);
  // VT_ARRAY | VT_UI1 holding a copy of `bytes`.
  static Variant Bytes(std::span<const std::uint8_t> bytes);
  // A one-dimensional VT_ARRAY | VT_VARIANT with lower bound 0.
  static Variant VariantArray(std::vector<Variant> items);

  VarType type() const { return type_; }
  bool is_empty() const { return type_ == VT_EMPTY; }
  bool is_null() const { return type_ == VT_NULL; }
  bool is_string() const { return type_ == VT_BSTR; }
  bool is_object() const {
    return type_ == VT_DISPATCH || type_ == VT_UNKNOWN;
  }
  bool is_array() const { return (type_ & VT_ARRAY) != 0; }
  // True for the subtypes arithmetic treats as numbers (I1..UINT, R4, R8,
  // CY, DATE, BOOL); not for Empty or strings.
  bool is_numeric() const;

  // Typed accessors. Each requires the matching type(); a mismatch returns
  // the zero value of the accessor (never undefined behaviour).
  // AsInteger: every integer subtype, BOOL (-1/0), ERROR (the code),
  // CY (the raw scaled units).
  std::int64_t AsInteger() const;
  // R4, R8, DATE: the stored double. Integer subtypes: their value.
  double AsDouble() const;
  bool AsBool() const { return AsInteger() != 0; }
  std::int64_t AsCurrencyUnits() const { return AsInteger(); }
  HResult AsError() const { return static_cast<HResult>(AsInteger()); }
  // BSTR only; an empty view otherwise.
  std::u16string_view AsString() const;
  // Mutable string of a BSTR (null for other types).
  std::u16string* MutableString();
  // VT_DISPATCH / VT_UNKNOWN; null for Nothing and for other types.
  const std::shared_ptr<Dispatch>& AsObject() const;
  // Arrays: the array, shared. Null for a non-array.
  const std::shared_ptr<SafeArray>& AsArray() const;
  // Arrays: the array, made unique to this Variant first (copy-on-write).
  // Null for a non-array.
  SafeArray* MutableArray();

  // Exact identity of type and value (strings by code units, objects by
  // pointer, arrays element by element). Not the script's `=`.
  friend bool operator==(const Variant& a, const Variant& b);

 private:
  friend void ReleaseNested(std::vector<Variant>&& values);
  using Storage = std::variant<std::monostate, std::int64_t, double,
                               std::u16string, std::shared_ptr<Dispatch>,
                               std::shared_ptr<SafeArray>>;
  Variant(VarType t, Storage s) : type_(t), value_(std::move(s)) {}

  VarType type_ = VT_EMPTY;
  Storage value_;
};

// A rectangular array of 1 to 60 dimensions. Elements are stored with the
// first index changing fastest (the SAFEARRAY layout), so growing the last
// dimension keeps every existing element in place.
// Arrays of element type VT_UI1 hold bytes; all others hold Variants.
class SafeArray {
 public:
  struct Bound {
    std::int64_t lower = 0;
    std::int64_t count = 0;
  };
  static constexpr std::size_t kMaxDimensions = 60;

  // An array with no dimensions yet (a `Dim a()` dynamic array).
  explicit SafeArray(VarType element_type = VT_VARIANT)
      : element_type_(element_type) {}
  SafeArray(const SafeArray&) = default;
  SafeArray& operator=(const SafeArray&) = default;
  // Nested arrays and objects are released one level at a time, so a
  // script that nests arrays 100,000 deep cannot overflow the stack here.
  ~SafeArray();
  // Moves the elements out (the array keeps its bounds, elements Empty).
  void TakeItems(std::vector<Variant>* out);
  // An array with the given bounds, all elements Empty (or 0 bytes).
  // Returns null when the dimension count is 0 or above kMaxDimensions, a
  // count is negative, or the total would exceed `max_elements`.
  static std::shared_ptr<SafeArray> Create(
      VarType element_type, std::span<const Bound> bounds,
      std::size_t max_elements = std::size_t{1} << 26);

  VarType element_type() const { return element_type_; }
  std::size_t dimensions() const { return bounds_.size(); }
  std::span<const Bound> bounds() const { return bounds_; }
  std::size_t size() const;

  // Element at a flat position (0 <= flat < size()).
  Variant Get(std::size_t flat) const;
  // Stores `v` at a flat position. For a byte array `v` must already be a
  // UI1 (the caller converts). Returns DISP_E_BADINDEX when out of range.
  HResult Put(std::size_t flat, Variant v);
  // Element storage of a Variant array (null for byte arrays): lets an
  // interpreter bind a by-reference argument to an element.
  Variant* MutableElement(std::size_t flat);
  // Bytes of a byte array (empty for Variant arrays).
  std::span<const std::uint8_t> bytes() const { return bytes_; }

  // Flat position of `indexes` (one per dimension, absolute values).
  // DISP_E_BADINDEX when the number of indexes or a value is out of range.
  HResult FlatIndex(std::span<const std::int64_t> indexes,
                    std::size_t* flat) const;

  // Changes the bounds. With `preserve`, only the count of the last
  // dimension may change (else DISP_E_BADINDEX) and elements are kept;
  // without it all elements become Empty. E_OUTOFMEMORY past `max_elements`.
  HResult Redim(std::span<const Bound> bounds, bool preserve,
                std::size_t max_elements = std::size_t{1} << 26);
  // Removes every dimension (Erase of a dynamic array).
  void Clear();
  // Sets every element to Empty (Erase of a fixed array).
  void ResetElements();

  // Lets `Dim a(3)` arrays refuse ReDim.
  bool fixed() const { return fixed_; }
  void set_fixed(bool fixed) { fixed_ = fixed; }

 private:
  friend bool operator==(const Variant& a, const Variant& b);
  VarType element_type_;
  bool fixed_ = false;
  std::vector<Bound> bounds_;
  std::vector<Variant> items_;
  std::vector<std::uint8_t> bytes_;
};

// Destroys `values` without recursion through values that are the last
// reference to an array or object: their elements (and an object's
// children, see Dispatch::TakeChildren) are moved to a work list first.
void ReleaseNested(std::vector<Variant>&& values);

// VariantChangeType: converts `in` to type `to` (a scalar type, or `in`'s
// own array type) into `*out`. Returns S_OK, DISP_E_TYPEMISMATCH (the value
// cannot be read as the target type: a non-numeric string, Null to a
// non-Null type, an array to a scalar, Nothing), DISP_E_OVERFLOW (out of the
// target's range) or an error of the default member. A VT_DISPATCH source
// is reduced by reading its default member (dispatch id 0, property get, no
// arguments), repeatedly while that gives an object. On failure `*out` is
// unchanged. `out` may alias `in`.
//
// Rules: numeric strings as in ParseNumber; rounding to integer types is
// banker's rounding with the range checked after rounding; strings from
// numbers follow FormatNumberText; Booleans become "True"/"False"; dates
// use the fixed zh-CN formats of date_time.h.
[[nodiscard]] HResult ChangeType(const Variant& in, VarType to, Variant* out);

// Reads the default member (dispatch id 0, property get, no arguments) of an
// object, repeatedly while the result is again an object. A non-object `in`
// is copied unchanged. Nothing gives DISP_E_TYPEMISMATCH; an object without
// a default member gives the object's own error (DISP_E_MEMBERNOTFOUND).
[[nodiscard]] HResult DefaultValue(const Variant& in, Variant* out);

// Text of a value as CStr would give it (Empty -> ""); returns the
// ChangeType error for Null, arrays, objects without a default value.
[[nodiscard]] HResult ToText(const Variant& in, std::u16string* out);

// Banker's rounding (round half to even) of a double to an integer value.
double RoundHalfEven(double v);

// Parses a numeric string: blanks (space, tab) at both ends are ignored;
//   [sign] (digits ["." [digits]] | "." digits) [(E|e|D|d) [sign] digits]
//   | "&H" hexdigits | "&O" octdigits
// with "," allowed as a group separator in the integer part. Hex and octal
// give a 32-bit two's-complement Long (1-8 hex digits) and set *is_long.
// Returns false for anything else, including an empty string.
bool ParseNumber(std::u16string_view text, double* value,
                 bool* is_long = nullptr);

// String form of a Double (15 significant digits) or, with `single`, of a
// Single (7 digits): fixed notation unless the exponent is >= 15 (7), or
// negative with digits - exponent > 16 (8); scientific as "1E+15",
// "3.33333333333333E-02".
std::u16string FormatDouble(double v, bool single = false);

// String form of a currency value: up to 4 decimals, no trailing zeros.
std::u16string FormatCurrencyUnits(std::int64_t units);

}  // namespace lun

#endif  // LUN_AUTOMATION_VARIANT_H_
