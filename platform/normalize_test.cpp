#include "platform/normalize.h"

#include <gtest/gtest.h>

namespace lun {
namespace {

TEST(NormalizeTest, FoldsWidthCaseAndTraditionalChinese) {
  struct Case {
    std::u16string input;
    std::u16string expected;
  };
  const Case cases[] = {
      {u"ＡＢＣ１２３", u"abc123"},
      {u"ABC123", u"abc123"},
      {u"繁體中文", u"繁体中文"},
      {u"\u3000", u"\u3000"},  // the ideographic space keeps its identity
      {u"ÀÉÎ ΣΑΣ Привет", u"àéî σασ привет"},
      {u"（中國）", u"(中国)"},
      {u"ｈｅｌｌｏ，世界", u"hello,世界"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Normalize(c.input), c.expected);
  }
}

TEST(NormalizeTest, EveryCodeUnitMapsToOneCodeUnitAndIsStable) {
  // One unit to one unit, so positions survive normalisation; and normal
  // forms are fixed points, so normalising twice changes nothing.
  for (uint32_t c = 0; c < 65536; ++c) {
    const char16_t n = NormalizeChar(static_cast<char16_t>(c));
    ASSERT_EQ(NormalizeChar(n), n) << std::hex << c;
    if (c >= 0xD800 && c <= 0xDFFF) {
      ASSERT_EQ(n, c) << "surrogates pass through";
    }
  }
}

}  // namespace
}  // namespace lun
