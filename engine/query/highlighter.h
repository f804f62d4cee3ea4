// Keyword highlighting of field values for result pages.
//
// A Highlighter holds one text as it is and a list of marks: the
// occurrences of the keywords added so far, ordered by position and never
// overlapping. Keywords are matched in the text itself, before any HTML
// escaping, so a keyword finds what the reader sees ("<b" marks "a<b") and
// never lands inside an escape ("amp" does not mark the "&amp;" written for
// "&"). Matching compares the normalised forms of keyword and text (the one
// normalisation table: width, case, traditional/simplified), with "?" in a
// keyword matching any one character. Each keyword gets a letter ("A" for
// the first) and a colour; a later keyword's occurrence keeps its whole span
// and earlier marks give way around it.
//
// Rendering escapes the text for HTML ("<", ">", "&" and '"'; the multi-line
// form also writes CR LF as "<BR>", and a mark never splits that pair).
// Rendering wraps each mark in <font color="..."> ... </font>; the anchored
// form also names the n-th occurrence of letter L "Ln" and links it to
// "#L(n+1)", so a reader can jump from one occurrence to the next.
//
// Not thread-safe; one Highlighter per use.
#ifndef LUN_ENGINE_QUERY_HIGHLIGHTER_H_
#define LUN_ENGINE_QUERY_HIGHLIGHTER_H_

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace lun {

// The colour of keyword `i` (0-based): a list of 12 colours, repeated.
std::u16string_view KeywordColour(size_t i);

class Highlighter {
 public:
  // Replaces the text and drops all marks.
  void SetText(std::u16string_view text);
  void SetMultilineText(std::u16string_view text);

  // Adds the occurrences of `keyword` as marks with the next letter. One
  // leading "[" and one trailing "]" (query anchors) and leading and
  // trailing "?" are dropped first. `colour` empty means "red". False, with
  // nothing changed, when no text is set, the keyword is empty or only "?",
  // or the colour is longer than 10 characters; otherwise the letter
  // advances even when nothing was found.
  bool AddKeyword(std::u16string_view keyword, std::u16string_view colour = {});

  std::u16string RenderPlain() const;
  std::u16string RenderAnchored() const;
  // RenderAnchored for the marks numbered [first, first + count) in text
  // order; the other occurrences are written as unmarked text, so a
  // document with a hundred thousand hits costs a bounded amount of markup.
  // Anchors count per letter from 0 within the window, and the last one of
  // a letter links back to its first, so a reader can go round.
  std::u16string RenderAnchoredWindow(size_t first, size_t count) const;

  struct Mark {
    size_t start;  // in the text as given
    size_t length;
    char letter;
    std::u16string colour;
  };
  const std::vector<Mark>& marks() const { return marks_; }
  const std::u16string& text() const { return text_; }

 private:
  void Keep(std::u16string_view text, bool multiline);
  void AppendEscaped(std::u16string* out, size_t from, size_t to) const;
  std::u16string Render(bool anchored, size_t first, size_t count, bool wrap) const;

  bool has_text_ = false;
  bool multiline_ = false;
  char next_letter_ = 'A';
  std::u16string text_;         // as given
  std::u16string match_copy_;   // normalised text
  std::vector<bool> boundary_;  // per position of text_ (and its end): may a mark begin here
  std::vector<Mark> marks_;
};

// Adds each non-empty "*"-separated word of `words` ("*a*b") as a keyword
// of `highlighter`, in the colour of its position (KeywordColour).
void AddMarkWords(Highlighter* highlighter, std::u16string_view words);

// The navigation bar of the keywords in `keywords` ("*"-separated; empty
// pieces are skipped): per keyword a link to its first anchored occurrence
// ("#A0", "#B0" ...) in its colour, separated by " &nbsp;". The keywords are
// HTML-escaped, since they come from what the user typed.
std::u16string KeywordNavigation(std::u16string_view keywords);

// A column value for a result page: at most 200 characters around the first
// occurrence of the first keyword (from 100 characters before it; the last
// 200 characters when fewer follow), with every keyword marked in red and
// the text escaped for HTML.
std::u16string HighlightedSnippet(std::u16string_view value,
                                  const std::vector<std::u16string>& keywords);
// The same snippet of a text that is read piece by piece: `size` is the
// length of the whole text and `next` appends its next piece (from the
// start) to its argument, false at the end. Pieces are read only until the
// snippet is known, so a keyword near the start of a long stored text costs
// its first pieces, not the whole text. A text that ends before `size`
// (damage) gives the snippet of what was read.
std::u16string HighlightedSnippet(size_t size, const std::function<bool(std::u16string*)>& next,
                                  const std::vector<std::u16string>& keywords);

}  // namespace lun

#endif  // LUN_ENGINE_QUERY_HIGHLIGHTER_H_
