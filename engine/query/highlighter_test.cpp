#include "engine/query/highlighter.h"

#include <gtest/gtest.h>

#include "platform/text.h"

namespace lun {
namespace {

// The rendered text with <font color="c"> shortened to {c: ...}.
std::string Plain(std::u16string_view text, std::vector<std::u16string> keywords,
                  bool multiline = false) {
  Highlighter h;
  multiline ? h.SetMultilineText(text) : h.SetText(text);
  for (const auto& k : keywords) h.AddKeyword(k, KeywordColour(&k - keywords.data()));
  std::string out = ToNarrow(h.RenderPlain());
  for (size_t at; (at = out.find("<font color=\"")) != std::string::npos;) {
    const size_t quote = out.find('"', at + 13);
    out.replace(at, quote + 2 - at, "{" + out.substr(at + 13, quote - at - 13) + ":");
  }
  for (size_t at; (at = out.find("</font>")) != std::string::npos;) out.replace(at, 7, "}");
  return out;
}

TEST(HighlighterTest, MarksKeywordOccurrences) {
  struct Case {
    const char* name;
    std::u16string text;
    std::vector<std::u16string> keywords;
    const char* rendered;
  };
  const Case cases[] = {
      {"escaping", u"a<b>c&\"", {}, "a&lt;b&gt;c&amp;&quot;"},
      // Keywords are found in the text as the reader sees it, then escaped.
      {"keyword matches what is shown", u"a<b", {u"<b"}, "a{red:&lt;b}"},
      {"an escape is never matched", u"a<b", {u"lt"}, "a&lt;b"},
      {"amp is not found in an ampersand", u"R&D amp", {u"amp"}, "R&amp;D {red:amp}"},
      {"an ampersand is found", u"R&D", {u"&"}, "R{red:&amp;}D"},
      {"an escape written in the text is text", u"&amp;", {u"amp"}, "&amp;{red:amp};"},
      {"repeated occurrences", u"abab", {u"ab"}, "{red:ab}{red:ab}"},
      {"occurrences do not overlap", u"aaa", {u"aa"}, "{red:aa}a"},
      {"later keyword cuts around", u"abc", {u"abc", u"b"}, "{red:a}{magenta:b}{red:c}"},
      {"same start: later wins", u"abcd", {u"abc", u"ab"}, "{magenta:ab}{red:c}d"},
      {"later keyword keeps its span", u"xabc", {u"abc", u"xab"}, "{magenta:xab}{red:c}"},
      {"anchors dropped", u"xaby", {u"[ab]"}, "x{red:ab}y"},
      {"wildcard", u"abc a-c", {u"a?c"}, "{red:abc} {red:a-c}"},
      {"leading and trailing ? dropped", u"xaby", {u"??ab?"}, "x{red:ab}y"},
      {"normalised matching", u"ＡＢＣ 繁體", {u"abc", u"繁体"}, "{red:ＡＢＣ} {magenta:繁體}"},
      {"multi-line", u"a\r\nb", {u"b"}, "a<BR>{red:b}"},
      {"multi-line: a mark never splits a line break", u"a\r\nb", {u"\nb"}, "a<BR>b"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Plain(c.text, c.keywords, std::string(c.name).starts_with("multi-line")), c.rendered);
  }
}

TEST(HighlighterTest, RefusedKeywordsChangeNothing) {
  Highlighter h;
  EXPECT_FALSE(h.AddKeyword(u"a")) << "no text";
  h.SetText(u"abc");
  EXPECT_FALSE(h.AddKeyword(u"???"));
  EXPECT_FALSE(h.AddKeyword(u""));
  EXPECT_FALSE(h.AddKeyword(u"a", u"verylongcolour"));
  EXPECT_TRUE(h.AddKeyword(u"zzz"));  // nothing found, but the letter advances
  EXPECT_TRUE(h.AddKeyword(u"b"));
  ASSERT_EQ(h.marks().size(), 1u);
  EXPECT_EQ(h.marks()[0].letter, 'B');
}

TEST(HighlighterTest, AnchorsLinkEachOccurrenceToTheNext) {
  Highlighter h;
  h.SetText(u"x y x x");
  h.AddKeyword(u"x");
  h.AddKeyword(u"y");
  EXPECT_EQ(ToNarrow(h.RenderAnchored()),
            "<A name=A0 href=#A1><font color=\"red\">x</font></A> "
            "<A name=B0 href=#B1><font color=\"red\">y</font></A> "
            "<A name=A1 href=#A2><font color=\"red\">x</font></A> "
            "<A name=A2 href=#A3><font color=\"red\">x</font></A>");
}

// A window of the marks is anchored; the occurrences before and after it
// are plain text, and each keyword's last anchor leads back to its first.
TEST(HighlighterTest, AnchoredWindow) {
  Highlighter h;
  h.SetText(u"x y x x<");
  h.AddKeyword(u"x");
  h.AddKeyword(u"y");
  EXPECT_EQ(ToNarrow(h.RenderAnchoredWindow(1, 2)),
            "x <A name=B0 href=#B0><font color=\"red\">y</font></A> "
            "<A name=A0 href=#A0><font color=\"red\">x</font></A> x&lt;");
  EXPECT_EQ(ToNarrow(h.RenderAnchoredWindow(0, 100)),
            "<A name=A0 href=#A1><font color=\"red\">x</font></A> "
            "<A name=B0 href=#B0><font color=\"red\">y</font></A> "
            "<A name=A1 href=#A2><font color=\"red\">x</font></A> "
            "<A name=A2 href=#A0><font color=\"red\">x</font></A>&lt;");
  EXPECT_EQ(ToNarrow(h.RenderAnchoredWindow(9, 5)), "x y x x&lt;");
}

TEST(HighlighterTest, KeywordNavigation) {
  EXPECT_EQ(ToNarrow(KeywordNavigation(u"a*b**c")),
            "<A href=#A0><font color=red>a</font></A> &nbsp;"
            "<A href=#B0><font color=magenta>b</font></A> &nbsp;"
            "<A href=#C0><font color=blue>c</font></A>");
  const std::string thirteen = ToNarrow(KeywordNavigation(u"1*2*3*4*5*6*7*8*9*10*11*12*13"));
  EXPECT_NE(thirteen.find("<A href=#M0><font color=red>13<"), std::string::npos);
  // What the user typed is text, not markup.
  EXPECT_EQ(ToNarrow(KeywordNavigation(u"<script>")),
            "<A href=#A0><font color=red>&lt;script&gt;</font></A>");
}

TEST(HighlighterTest, SnippetAroundTheFirstKeyword) {
  std::u16string value(1000, u'.');
  value.replace(500, 3, u"key");
  const std::string snippet = ToNarrow(HighlightedSnippet(value, {u"key"}));
  EXPECT_EQ(snippet,
            std::string(100, '.') + "<font color=\"red\">key</font>" + std::string(97, '.'));

  std::u16string late(1000, u'.');
  late.replace(950, 3, u"key");
  const std::string tail = ToNarrow(HighlightedSnippet(late, {u"key"}));
  EXPECT_EQ(tail, std::string(150, '.') + "<font color=\"red\">key</font>" + std::string(47, '.'));

  EXPECT_EQ(ToNarrow(HighlightedSnippet(std::u16string(300, u'x'), {})), std::string(200, 'x'));
  EXPECT_EQ(ToNarrow(HighlightedSnippet(u"short <b>", {u"short"})),
            "<font color=\"red\">short</font> &lt;b&gt;");
}

TEST(HighlighterTest, SnippetFromPiecesMatchesTheWholeTextAndStopsEarly) {
  // A text read in pieces of 64 units; keywords at the start, across a
  // piece boundary (Normalize applies: full-width letters), near the end,
  // and missing.
  std::u16string text;
  for (int i = 0; text.size() < 5000; ++i)
    text += u"plain words " + std::u16string(1, u'a' + i % 26);
  text.replace(40, 3, u"KEY");
  text.replace(1278, 5, u"ＢＯＲＤ");
  text.replace(4960, 4, u"tail");
  struct Case {
    const char* what;
    std::vector<std::u16string> keywords;
    size_t most_pieces;  // pieces the snippet may read
  };
  const std::vector<Case> cases = {
      {"keyword near the start", {u"key", u"words"}, 4},
      {"keyword across pieces 19 and 20", {u"b?rd"}, 23},
      {"keyword near the end", {u"tail"}, 79},
      {"keyword missing", {u"absent"}, 79},
      {"no keyword", {}, 4},
  };
  constexpr size_t kPiece = 64;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    size_t pieces = 0;
    const std::u16string streamed = HighlightedSnippet(
        text.size(),
        [&](std::u16string* out) {
          if (pieces * kPiece >= text.size()) return false;
          *out += text.substr(pieces++ * kPiece, kPiece);
          return true;
        },
        c.keywords);
    EXPECT_EQ(ToNarrow(streamed), ToNarrow(HighlightedSnippet(text, c.keywords)));
    EXPECT_LE(pieces, c.most_pieces);
  }
}

}  // namespace
}  // namespace lun
