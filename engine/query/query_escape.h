// Escaping user text for a query.
//
// Text typed by a user or taken from a path may hold characters that the
// query language reserves (" *+-()<>=[]{}:?", the blank included).
// EscapeQueryText replaces each by "%0x00" + two upper-case hex digits + "%",
// so that the text reaches the index look-up as one term. The evaluator
// decodes "%0x" + four hex digits + "%" back into the one character just
// before the look-up.
#ifndef LUN_ENGINE_QUERY_QUERY_ESCAPE_H_
#define LUN_ENGINE_QUERY_QUERY_ESCAPE_H_

#include <string>
#include <string_view>

namespace lun {

inline constexpr std::string_view kReservedQueryChars = " *+-()<>=[]{}:?";

std::string EscapeQueryText(std::string_view text);

// Replaces every well-formed escape in a term by its character. Hex digits
// may be of either case (query text is lower-cased before it is parsed);
// anything that is not a complete escape stays as it is.
std::u16string DecodeQueryEscapes(std::u16string_view term);

}  // namespace lun

#endif  // LUN_ENGINE_QUERY_QUERY_ESCAPE_H_
