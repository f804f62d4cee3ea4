// The results page's snippet: the window rules, the line and mark rules, and
// how far it reads a text given in pieces.
#include "pages/result_snippet.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/text.h"

namespace lun {
namespace {

struct Cut {
  std::string snippet;
  size_t pieces_read = 0;
};

// The snippet of `text` handed over in pieces of `piece` characters.
Cut CutInPieces(const std::u16string& text, std::u16string_view mark, size_t length,
                size_t piece = 16) {
  Cut cut;
  cut.snippet = ToNarrow(ResultSnippet(
      text.size(),
      [&](std::u16string* out) {
        if (cut.pieces_read * piece >= text.size()) return false;
        *out += text.substr(cut.pieces_read++ * piece, piece);
        return true;
      },
      mark, length));
  return cut;
}

constexpr char kRed[] = "<font color=\"red\">";
constexpr char kMagenta[] = "<font color=\"magenta\">";

TEST(ResultSnippetTest, WindowLineAndMarks) {
  const std::u16string filler(300, u'x');
  struct Case {
    const char* what;
    std::u16string text;
    std::u16string mark;
    size_t length;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"word within the first third: from the start, more text follows", u"Hello World of Search",
       u"*world", 20, std::string("Hello ") + kRed + "World</font> of Searc…"},
      {"word further on: a third of the window before it", filler + u"Key end",
       u"*KEY", 9, std::string("…xxx") + kRed + "Key</font> en…"},
      {"first word absent: the next word that occurs places the window", u"alpha beta gamma delta",
       u"*zeta*gamma", 9, std::string("…ta ") + kMagenta + "gamma</font>…"},
      {"line breaks, tabs and runs of blanks become one blank, none at the ends",
       u"\r\n  one\t\ttwo \r\n three  ", u"*two", 40,
       std::string("one ") + kRed + "two</font> three"},
      {"no word: escaped for HTML, from the start", u"a<b & 'c' \"d\" e", u"**", 12,
       "a&lt;b &amp; &apos;c&apos; &quot;d…"},
      {"word across two pieces", std::u16string(14, u'.') + u"pieces" + std::u16string(20, u'.'),
       u"*PIECES", 12, std::string("…....") + kRed + "pieces</font>..…"},
      {"empty text", u"", u"*a", 20, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(CutInPieces(c.text, c.mark, c.length).snippet, c.expected);
    // However the text is cut into pieces, the snippet is the same.
    EXPECT_EQ(CutInPieces(c.text, c.mark, c.length, 1).snippet, c.expected);
    EXPECT_EQ(CutInPieces(c.text, c.mark, c.length, 1 << 20).snippet, c.expected);
  }
}

TEST(ResultSnippetTest, ReadsOnlyAsFarAsTheWindowNeeds) {
  std::u16string text = u"intro with the word here";
  while (text.size() < 100'000) text += u" filler text that goes on and on";
  struct Case {
    const char* what;
    std::u16string mark;
    size_t most_pieces;
  };
  const std::vector<Case> cases = {
      {"first word near the start", u"*word*absent", 15},
      {"no word: the window's length", u"", 15},
      {"first word absent: everything, to be sure", u"*absent*word", 100'000 / 16 + 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const Cut cut = CutInPieces(text, c.mark, 200);
    EXPECT_LE(cut.pieces_read, c.most_pieces);
    EXPECT_NE(cut.snippet.find("word"), std::string::npos);
  }
}

}  // namespace
}  // namespace lun
