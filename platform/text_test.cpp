#include "platform/text.h"

#include <gtest/gtest.h>

#include <array>

namespace lun {
namespace {

TEST(TextTest, ValidTextRoundTrips) {
  const std::string samples[] = {"", "abc", "桌面搜索", "mixed 中文 text", "😀 outside the BMP",
                                 std::string("nul\0inside", 10)};
  for (const std::string& s : samples) {
    SCOPED_TRACE(s);
    EXPECT_EQ(ToNarrow(ToWide(s)), s);
  }
  EXPECT_EQ(ToWide("桌面"), u"桌面");
  EXPECT_EQ(ToWide("😀"), u"\xD83D\xDE00");
}

TEST(TextTest, BadSequencesBecomeReplacementAndTheRestSurvives) {
  struct Case {
    const char* name;
    std::string input;
    std::u16string expected;
  };
  const std::array<Case, 7> cases = {{
      {"stray continuation", "a\x80" "b", u"a\uFFFDb"},
      {"truncated at end", "ab\xE6\xA1", u"ab\uFFFD"},
      {"truncated then ASCII", "\xE6\xA1x", u"\uFFFDx"},
      {"overlong slash", "\xC0\xAF" "z", u"\uFFFD\uFFFDz"},
      {"encoded surrogate", "\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},
      {"beyond U+10FFFF", "\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},
      {"invalid lead", "\xFF" "中", u"\uFFFD中"},
  }};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(ToWide(c.input), c.expected);
  }
}

TEST(TextTest, UnpairedSurrogatesBecomeReplacement) {
  EXPECT_EQ(ToNarrow(u"a\xD800" "b"), "a\xEF\xBF\xBD" "b");
  EXPECT_EQ(ToNarrow(u"\xDC00"), "\xEF\xBF\xBD");
  EXPECT_EQ(ToNarrow(std::u16string(1, u'\xD83D')), "\xEF\xBF\xBD");
}

}  // namespace
}  // namespace lun
