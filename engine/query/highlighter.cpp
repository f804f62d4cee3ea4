#include "engine/query/highlighter.h"

#include <algorithm>
#include <array>

#include "platform/normalize.h"

namespace lun {
namespace {

constexpr size_t kMaxColourLength = 10;
constexpr size_t kSnippetLength = 200;
constexpr size_t kSnippetLead = 100;

constexpr std::array<std::u16string_view, 12> kColours = {
    u"red",   u"magenta", u"blue",  u"cyan",   u"firebrick", u"cadetblue",
    u"green", u"brown",   u"coral", u"indigo", u"lawngreen", u"navy"};

// Letters run A..Z, then a..z, then start again, so anchor names stay
// letters whatever the number of keywords.
char NextLetter(char letter) {
  if (letter == 'Z') return 'a';
  if (letter == 'z') return 'A';
  return static_cast<char>(letter + 1);
}

// Position of the first match of the normalised `keyword` in `text` at or
// after `from`, "?" matching any one character; npos when none.
size_t FindWildcard(std::u16string_view text, std::u16string_view keyword, size_t from) {
  if (keyword.empty()) return std::u16string_view::npos;
  for (size_t i = from; i + keyword.size() <= text.size(); ++i) {
    size_t k = 0;
    while (k < keyword.size() && (keyword[k] == u'?' || keyword[k] == text[i + k])) ++k;
    if (k == keyword.size()) return i;
  }
  return std::u16string_view::npos;
}

std::u16string StripKeyword(std::u16string_view keyword) {
  if (!keyword.empty() && keyword.front() == u'[') keyword.remove_prefix(1);
  if (!keyword.empty() && keyword.back() == u']') keyword.remove_suffix(1);
  while (!keyword.empty() && keyword.front() == u'?') keyword.remove_prefix(1);
  while (!keyword.empty() && keyword.back() == u'?') keyword.remove_suffix(1);
  return Normalize(keyword);
}

void AppendHtmlEscaped(std::u16string* out, std::u16string_view text) {
  for (const char16_t c : text) {
    switch (c) {
      case u'<':
        *out += u"&lt;";
        break;
      case u'>':
        *out += u"&gt;";
        break;
      case u'&':
        *out += u"&amp;";
        break;
      case u'"':
        *out += u"&quot;";
        break;
      default:
        out->push_back(c);
    }
  }
}

std::u16string Number(size_t n) {
  const std::string digits = std::to_string(n);
  return std::u16string(digits.begin(), digits.end());
}

}  // namespace

std::u16string_view KeywordColour(size_t i) { return kColours[i % kColours.size()]; }

void Highlighter::Keep(std::u16string_view text, bool multiline) {
  text_.assign(text);
  multiline_ = multiline;
  // A mark may begin or end anywhere but between the CR and the LF of a
  // line break that is written as one "<BR>".
  boundary_.assign(text_.size() + 1, true);
  if (multiline) {
    for (size_t i = 1; i < text_.size(); ++i) {
      if (text_[i - 1] == u'\r' && text_[i] == u'\n') boundary_[i] = false;
    }
  }
  match_copy_ = Normalize(text_);
  marks_.clear();
  has_text_ = true;
}

void Highlighter::SetText(std::u16string_view text) { Keep(text, false); }
void Highlighter::SetMultilineText(std::u16string_view text) { Keep(text, true); }

void Highlighter::AppendEscaped(std::u16string* out, size_t from, size_t to) const {
  for (size_t i = from; i < to; ++i) {
    if (multiline_ && text_[i] == u'\r' && i + 1 < to && text_[i + 1] == u'\n') {
      *out += u"<BR>";
      ++i;
    } else {
      AppendHtmlEscaped(out, std::u16string_view(&text_[i], 1));
    }
  }
}

bool Highlighter::AddKeyword(std::u16string_view keyword, std::u16string_view colour) {
  if (!has_text_ || colour.size() > kMaxColourLength) return false;
  const std::u16string key = StripKeyword(keyword);
  if (key.empty()) return false;
  const std::u16string mark_colour(colour.empty() ? u"red" : colour);

  std::vector<Mark> found;
  size_t at = FindWildcard(match_copy_, key, 0);
  while (at != std::u16string::npos) {
    if (boundary_[at] && boundary_[at + key.size()]) {
      found.push_back(Mark{at, key.size(), next_letter_, mark_colour});
      at = FindWildcard(match_copy_, key, at + key.size());
    } else {
      at = FindWildcard(match_copy_, key, at + 1);
    }
  }
  next_letter_ = NextLetter(next_letter_);
  if (found.empty()) return true;

  // The new occurrences keep their spans; what older marks cover of them is
  // cut away, which may split an older mark in two.
  std::vector<Mark> merged;
  for (const Mark& old : marks_) {
    size_t start = old.start;
    const size_t end = old.start + old.length;
    for (const Mark& n : found) {
      const size_t n_end = n.start + n.length;
      if (n_end <= start || n.start >= end) continue;
      if (n.start > start) merged.push_back(Mark{start, n.start - start, old.letter, old.colour});
      start = std::max(start, n_end);
    }
    if (start < end) merged.push_back(Mark{start, end - start, old.letter, old.colour});
  }
  merged.insert(merged.end(), found.begin(), found.end());
  std::sort(merged.begin(), merged.end(),
            [](const Mark& a, const Mark& b) { return a.start < b.start; });
  marks_ = std::move(merged);
  return true;
}

std::u16string Highlighter::Render(bool anchored, size_t first, size_t count, bool wrap) const {
  const size_t begin = std::min(first, marks_.size());
  const size_t end = begin + std::min(count, marks_.size() - begin);
  std::array<size_t, 256> total{};  // per letter: anchors in the window
  if (wrap) {
    for (size_t i = begin; i < end; ++i) ++total[static_cast<unsigned char>(marks_[i].letter)];
  }
  std::u16string out;
  out.reserve(text_.size() + (end - begin) * 64);
  std::array<size_t, 256> occurrence{};  // per letter: anchors written so far
  size_t pos = 0;
  for (size_t i = begin; i < end; ++i) {
    const Mark& m = marks_[i];
    AppendEscaped(&out, pos, m.start);
    if (anchored) {
      const unsigned char l = static_cast<unsigned char>(m.letter);
      const std::u16string letter(1, static_cast<char16_t>(m.letter));
      const size_t n = occurrence[l]++;
      const size_t next = wrap ? (n + 1) % total[l] : n + 1;
      out += u"<A name=" + letter + Number(n) + u" href=#" + letter + Number(next) + u">";
    }
    out += u"<font color=\"" + m.colour + u"\">";
    AppendEscaped(&out, m.start, m.start + m.length);
    out += anchored ? u"</font></A>" : u"</font>";
    pos = m.start + m.length;
  }
  AppendEscaped(&out, pos, text_.size());
  return out;
}

std::u16string Highlighter::RenderPlain() const { return Render(false, 0, marks_.size(), false); }
std::u16string Highlighter::RenderAnchored() const { return Render(true, 0, marks_.size(), false); }
std::u16string Highlighter::RenderAnchoredWindow(size_t first, size_t count) const {
  return Render(true, first, count, true);
}

std::u16string KeywordNavigation(std::u16string_view keywords) {
  std::u16string out;
  char letter = 'A';
  size_t index = 0;
  size_t pos = 0;
  while (pos <= keywords.size()) {
    size_t end = keywords.find(u'*', pos);
    if (end == std::u16string_view::npos) end = keywords.size();
    const std::u16string_view keyword = keywords.substr(pos, end - pos);
    pos = end + 1;
    if (keyword.empty()) continue;
    if (index > 0) out += u" &nbsp;";
    out += u"<A href=#";
    out.push_back(static_cast<char16_t>(letter));
    out += u"0><font color=";
    out += KeywordColour(index);
    out += u">";
    AppendHtmlEscaped(&out, keyword);
    out += u"</font></A>";
    letter = NextLetter(letter);
    ++index;
  }
  return out;
}

void AddMarkWords(Highlighter* highlighter, std::u16string_view words) {
  size_t colour = 0;
  size_t pos = 0;
  while (pos <= words.size()) {
    size_t star = words.find(u'*', pos);
    if (star == std::u16string_view::npos) star = words.size();
    if (star > pos) highlighter->AddKeyword(words.substr(pos, star - pos), KeywordColour(colour++));
    pos = star + 1;
  }
}

std::u16string HighlightedSnippet(std::u16string_view value,
                                  const std::vector<std::u16string>& keywords) {
  bool given = false;
  return HighlightedSnippet(
      value.size(),
      [&](std::u16string* text) {
        if (given) return false;
        given = true;
        text->append(value);
        return true;
      },
      keywords);
}

std::u16string HighlightedSnippet(size_t size, const std::function<bool(std::u16string*)>& next,
                                  const std::vector<std::u16string>& keywords) {
  const std::u16string keyword = keywords.empty() ? u"" : StripKeyword(keywords.front());
  std::u16string text;
  std::u16string normalised;
  size_t at = std::u16string::npos;
  // A text shorter than a snippet is shown whole; else read until the
  // first keyword is found or, without one, the snippet's length is there.
  bool more = true;
  while (more) {
    more = next(&text);
    if (size < kSnippetLength) continue;
    if (keyword.empty()) {
      if (text.size() >= kSnippetLength) break;
      continue;
    }
    // Search the new part, and the keyword's length less one before it,
    // where an occurrence may straddle the pieces.
    const size_t from =
        normalised.size() >= keyword.size() - 1 ? normalised.size() - (keyword.size() - 1) : 0;
    normalised += Normalize(std::u16string_view(text).substr(normalised.size()));
    at = FindWildcard(normalised, keyword, from);
    if (at != std::u16string::npos) break;
  }
  size_t start = 0;
  if (size >= kSnippetLength) {
    if (at != std::u16string::npos && at > kSnippetLead) start = at - kSnippetLead;
    start = std::min(start, size - kSnippetLength);
    while (more && text.size() < start + kSnippetLength) more = next(&text);
  }
  start = std::min(start, text.size());
  Highlighter h;
  h.SetText(std::u16string_view(text).substr(start, kSnippetLength));
  for (const std::u16string& k : keywords) h.AddKeyword(k);
  return h.RenderPlain();
}

}  // namespace lun
