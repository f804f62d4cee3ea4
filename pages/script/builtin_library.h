// What the built-in function libraries share: the argument helpers and the
// table each library publishes. Internal to pages/script; builtins.cpp
// gathers the libraries' tables into the one registry.
#ifndef LUN_PAGES_SCRIPT_BUILTIN_LIBRARY_H_
#define LUN_PAGES_SCRIPT_BUILTIN_LIBRARY_H_

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "automation/variant.h"
#include "pages/script/builtins.h"

namespace lun::script {

// The libraries, each a table of its functions.
std::span<const Builtin> StringBuiltins();  // builtins_strings.cpp
std::span<const Builtin> MathBuiltins();    // builtins_math.cpp: conversion, checks, math
std::span<const Builtin> DateBuiltins();    // builtins_dates.cpp: dates and formatting
std::span<const Builtin> ArrayBuiltins();   // builtins_arrays.cpp: arrays, objects, code

// Local date and time now as a date serial; whole seconds unless
// `with_fraction_seconds`.
double LocalNowSerial(bool with_fraction_seconds);

namespace lib {

using Args = std::span<const Variant>;

// Argument i was left out ("F a, , c") or not given.
bool Missing(Args a, std::size_t i);
// Reduced value of argument i (objects to their default value).
Variant Val(Args a, std::size_t i);
// Argument i as a Long, `def` when missing.
std::int64_t LongArg(Args a, std::size_t i, std::int64_t def);
// Text of a value; Null is error 94.
std::u16string StrOf(const Variant& v);
// Compare argument: 0 binary (default) or 1 text; other values error 5.
bool TextCompare(Args a, std::size_t i);
// Results, with the string length limit checked.
Variant Str(std::u16string s);
Variant Long(std::int64_t v);
Variant Int(std::int64_t v);
// Position of `needle` in `hay` at or after `from` (0-based), or npos;
// `text` compares without case.
std::size_t FindText(std::u16string_view hay, std::u16string_view needle, std::size_t from,
                     bool text);
std::size_t RFindText(std::u16string_view hay, std::u16string_view needle, std::size_t last_start,
                      bool text);

}  // namespace lib
}  // namespace lun::script

#endif  // LUN_PAGES_SCRIPT_BUILTIN_LIBRARY_H_
