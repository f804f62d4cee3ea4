#include "platform/crypto.h"

#include <gtest/gtest.h>

namespace lun {
namespace {

TEST(CryptoTest, PublishedVectors) {
  // RFC 4231, test case 2.
  EXPECT_EQ(HexText(HmacSha256("Jefe", "what do ya want for nothing?")),
            "5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843");
  // RFC 7914, section 11 (PBKDF2-HMAC-SHA256, one iteration).
  EXPECT_EQ(HexText(Pbkdf2Sha256("passwd", "salt", 1, 64)),
            "55ac046e56e3089fec1691c22544b605f94185216dde0465e68b9d57c20dacbc"
            "49ca9cccf179b645991664b39d77ef317c71b845b1e30bd509112041d3a19783");
}

TEST(CryptoTest, HexRoundTripAndComparison) {
  std::string bytes;
  ASSERT_TRUE(FromHexText("00ff7F", &bytes));
  EXPECT_EQ(bytes, std::string("\x00\xff\x7f", 3));
  EXPECT_EQ(HexText(bytes), "00ff7f");
  for (const char* bad : {"0", "0g", "zz"}) EXPECT_FALSE(FromHexText(bad, &bytes)) << bad;
  EXPECT_TRUE(ConstantTimeEquals("abc", "abc"));
  EXPECT_TRUE(ConstantTimeEquals("", ""));
  EXPECT_FALSE(ConstantTimeEquals("abc", "abd"));
  EXPECT_FALSE(ConstantTimeEquals("abc", "abcd"));
  EXPECT_EQ(RandomBytes(32).size(), 32u);
  EXPECT_NE(RandomBytes(16), RandomBytes(16));
}

}  // namespace
}  // namespace lun
