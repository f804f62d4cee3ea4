#include "pages/result_snippet.h"

#include <algorithm>
#include <vector>

#include "automation/text_case.h"
#include "engine/query/highlighter.h"
#include "pages/page_encoding.h"
#include "platform/text.h"

namespace lun {
namespace {

std::vector<std::u16string> MarkWords(std::u16string_view mark) {
  std::vector<std::u16string> words;
  size_t pos = 0;
  while (pos <= mark.size()) {
    size_t star = mark.find(u'*', pos);
    if (star == std::u16string_view::npos) star = mark.size();
    if (star > pos) words.push_back(FoldCase(mark.substr(pos, star - pos)));
    pos = star + 1;
  }
  return words;
}

// The window on one line: CR, LF and tab as blanks, one blank for a run,
// none at the ends.
std::u16string OneLine(std::u16string_view window) {
  std::u16string line;
  for (char16_t c : window) {
    if (c == u'\r' || c == u'\n' || c == u'\t') c = u' ';
    if (c == u' ' && (line.empty() || line.back() == u' ')) continue;
    line.push_back(c);
  }
  if (!line.empty() && line.back() == u' ') line.pop_back();
  return line;
}

}  // namespace

std::u16string ResultSnippet(size_t size, const TextPieces& next, std::u16string_view mark,
                             size_t length) {
  const std::vector<std::u16string> words = MarkWords(mark);
  std::vector<size_t> found(words.size(), std::u16string::npos);
  std::u16string text;
  std::u16string folded;
  bool more = true;
  // Until the first word is found; a later word wins only when the first
  // is nowhere in the text, which takes reading it all.
  while (more) {
    if (words.empty() && text.size() >= length) break;
    more = next(&text);
    const size_t searched = folded.size();
    folded += FoldCase(std::u16string_view(text).substr(searched));
    for (size_t i = 0; i < words.size(); ++i) {
      if (found[i] != std::u16string::npos) continue;
      // Occurrences that straddle the pieces start within the word's
      // length of the new part.
      const size_t from = searched >= words[i].size() - 1 ? searched - (words[i].size() - 1) : 0;
      found[i] = folded.find(words[i], from);
    }
    if (!found.empty() && found[0] != std::u16string::npos) break;
  }
  size_t start = 0;  // from 0
  const auto first = std::find_if(found.begin(), found.end(),
                                  [](size_t at) { return at != std::u16string::npos; });
  // The script's rule, from 1: start = p - length \ 3 when p > length \ 3.
  if (first != found.end() && *first + 1 > length / 3) start = *first - length / 3;
  while (more && text.size() < start + length) more = next(&text);
  const std::u16string line =
      OneLine(std::u16string_view(text).substr(std::min(start, text.size()), length));
  std::u16string snippet;
  if (start > 0) snippet += u"…";
  if (words.empty()) {
    snippet += ToWide(HtmlEncode(ToNarrow(line)));
  } else {
    Highlighter highlighter;
    highlighter.SetText(line);
    AddMarkWords(&highlighter, mark);
    snippet += highlighter.RenderPlain();
  }
  if (start + 1 + length <= size) snippet += u"…";
  return snippet;
}

}  // namespace lun
