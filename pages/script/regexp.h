// The RegExp object (New RegExp, CreateObject("VBScript.RegExp")) and the
// Matches, Match and SubMatches collections it hands out. Internal to
// pages/script.
//
//   Pattern, IgnoreCase, Global, Multiline   properties
//   Test(s)          True when the pattern occurs in s
//   Execute(s)       Matches: every match (Global) or the first
//   Replace(s, r)    s with each match (Global) or the first replaced by r,
//                    where $1..$9, $&, $`, $' and $$ stand for a group, the
//                    match, the text before and after it, and "$"
//
// Matching uses ICU's regular expressions on the UTF-16 text (positions
// are UTF-16 units, as the language counts them). ICU's dialect is close
// to the platform's (ECMAScript 3 like); the differences that show:
//   - ICU accepts more: lookbehind, possessive quantifiers, \p{..}
//     classes, (?i) flags, named groups. Patterns valid on the platform
//     mean the same, except as listed here.
//   - "$" without Multiline also matches before a line break that ends
//     the text (Perl's rule); the platform matches only at the very end.
//   - "." does not match \r, \n, U+0085, U+2028 or U+2029 (the platform:
//     not \n, \r, U+2028, U+2029).
//   - "[^]" and "[]" are syntax errors (the platform: any / no character).
//   - Invalid patterns raise the platform's numbers: 5018 "Unexpected
//     quantifier", 5019 "Expected ']'", 5020 "Expected ')'", 5021 "Invalid
//     range in character set", 5017 "Syntax error in regular expression"
//     for the rest. ICU names the cause; where it reports a cause
//     differently from the platform (an unmatched ")" is a mismatched
//     parenthesis to ICU), the number follows ICU's cause.
// A match that runs away (catastrophic backtracking) stops when it passes
// the match-time limit, or the page's own time limit or stop flag, with
// run-time error 5 and a description that says so; it
// never hangs the server.
#ifndef LUN_PAGES_SCRIPT_REGEXP_H_
#define LUN_PAGES_SCRIPT_REGEXP_H_

#include <functional>
#include <memory>

#include "automation/dispatch.h"

namespace lun::script {

struct RegExpLimits {
  // Work one match may do, in ICU's time-limit units (each is a fixed
  // number of matcher steps, on the order of a millisecond).
  int match_time_limit = 1000;
  // Longest text a Replace may build (UTF-16 units).
  std::size_t max_result_length = std::size_t{1} << 26;
  // Polled while a match runs; true stops it (the page's time limit or
  // the server's shutdown).
  std::function<bool()> should_stop;
};

std::shared_ptr<Dispatch> NewRegExp(RegExpLimits limits);

}  // namespace lun::script

#endif  // LUN_PAGES_SCRIPT_REGEXP_H_
