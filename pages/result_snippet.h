// The snippet of one row of the results page: a window of a document's
// text around the first word of the search that occurs in it, on one line,
// with the words marked.
//
// Read piece by piece: the text is handed over in pieces from its start and
// only as many are read as the window needs (up to the first occurrence of
// the first word and the window after it), so a long stored document costs
// its first pieces, not its whole decompression.
//
// Thread safety: reentrant.
#ifndef LUN_PAGES_RESULT_SNIPPET_H_
#define LUN_PAGES_RESULT_SNIPPET_H_

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

namespace lun {

// Appends the next piece of a text to its argument; false at the end.
using TextPieces = std::function<bool(std::u16string*)>;

// The snippet of a text of `size` characters given by `next`:
//   - the position p (from 1) of the first word of `mark` ("*"-separated;
//     empty words skipped) that occurs in the text, compared as the
//     scripts' text comparison does (case folded unit by unit); 0 when none;
//   - the window of `length` characters from start = p - length \ 3 when p
//     is past length \ 3, else from the first character;
//   - CR, LF and tab written as blanks, runs of blanks as one, blanks
//     trimmed at both ends;
//   - the words of `mark` marked as FTS.MarkKeyword marks them, or the
//     window escaped for HTML when `mark` holds no word;
//   - "…" before it when it does not start at the first character, "…"
//     after it when start + length <= size.
// A text that ends before `size` (damage) gives the snippet of what was
// read.
std::u16string ResultSnippet(size_t size, const TextPieces& next, std::u16string_view mark,
                             size_t length);

}  // namespace lun

#endif  // LUN_PAGES_RESULT_SNIPPET_H_
