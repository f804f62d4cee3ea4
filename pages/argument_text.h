// How the page objects read a text argument from a script.
//
// Response.Write, the Server functions and the cookie properties all take
// "a text": a script may hand them a string, a number, a field object (read
// through its default member) or Null. They all read it the same way, here.
#ifndef LUN_PAGES_ARGUMENT_TEXT_H_
#define LUN_PAGES_ARGUMENT_TEXT_H_

#include <string>

#include "automation/variant.h"

namespace lun {

// The text of `value` in the system code page (UTF-8). Empty, Null and a
// missing optional argument give "" (a Null database field written to a page
// writes nothing rather than stopping the page). Anything else is converted
// as CStr would; a value without a text form (an array, an object without a
// default member) gives DISP_E_TYPEMISMATCH and leaves *text unchanged.
[[nodiscard]] HResult ArgumentText(const Variant& value, std::string* text);

// True for the value a script passes for an argument it left out.
bool IsMissingArgument(const Variant& value);

}  // namespace lun

#endif  // LUN_PAGES_ARGUMENT_TEXT_H_
