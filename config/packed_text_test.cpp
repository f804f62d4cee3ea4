#include "config/packed_text.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <random>

#include "config/packed_text_format.h"

namespace lun {
namespace {

// Inflates a gzip member with zlib's own gzip reader, independent of ours.
std::string ReferenceGunzip(const std::string& member) {
  z_stream zs{};
  EXPECT_EQ(inflateInit2(&zs, 16 + MAX_WBITS), Z_OK);
  std::string out(1 << 20, '\0');
  zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(member.data()));
  zs.avail_in = static_cast<uInt>(member.size());
  zs.next_out = reinterpret_cast<Bytef*>(out.data());
  zs.avail_out = static_cast<uInt>(out.size());
  EXPECT_EQ(inflate(&zs, Z_FINISH), Z_STREAM_END);
  out.resize(zs.total_out);
  inflateEnd(&zs);
  return out;
}

std::string Text(size_t n, uint32_t seed, int alphabet) {
  std::mt19937 rng(seed);
  std::string s;
  for (size_t i = 0; i < n; ++i) s.push_back(static_cast<char>(0x21 + rng() % alphabet));
  return s;
}

TEST(PackedTextTest, GzipMemberHasTheFixedHeaderAndTrailer) {
  const std::string text(5000, 'a');
  const std::string member = GzipMember(text);
  ASSERT_GT(member.size(), 18u);
  EXPECT_EQ(member.substr(0, 10), std::string("\x1F\x8B\x08\x00\x00\x00\x00\x00\x00\x0B", 10));
  const auto* t = reinterpret_cast<const unsigned char*>(member.data() + member.size() - 8);
  const uLong crc = crc32(0, reinterpret_cast<const Bytef*>(text.data()), text.size());
  EXPECT_EQ(t[0] | t[1] << 8 | t[2] << 16 | uLong{t[3]} << 24, crc);
  EXPECT_EQ(t[4] | t[5] << 8 | t[6] << 16 | t[7] << 24, 5000);
  EXPECT_EQ(ReferenceGunzip(member), text);
}

TEST(PackedTextTest, PacksCompressedOnlyWhenNotLarger) {
  // Random text over a small alphabet compresses to a little less than its
  // size once it is long enough; search for lengths where the gzip member is
  // exactly as long as the text, and one byte longer.
  bool found_equal = false, found_larger = false;
  for (uint32_t seed = 1; seed < 40 && !(found_equal && found_larger); ++seed) {
    for (size_t n = 16; n < 600; ++n) {
      const std::string text = Text(n, seed, 90);
      const long diff = static_cast<long>(GzipMember(text).size()) - static_cast<long>(n);
      const std::string packed = PackText(text);
      if (diff == 0) {
        found_equal = true;
        EXPECT_EQ(packed[packed_text::kFlagOffset], 1) << "equal size is written compressed";
      } else if (diff == 1) {
        found_larger = true;
        EXPECT_EQ(packed[packed_text::kFlagOffset], 0) << "one byte larger is written plain";
        EXPECT_EQ(packed.substr(16), text);
      }
    }
  }
  EXPECT_TRUE(found_equal);
  EXPECT_TRUE(found_larger);
}

TEST(PackedTextTest, UnpacksWhatItPacks) {
  for (const std::string& text :
       {std::string(), std::string("[a]\r\nk=v\r\n"), std::string(100000, 'z'), Text(3000, 7, 90),
        std::string("nul\0byte", 8)}) {
    std::string out;
    ASSERT_EQ(UnpackText(PackText(text), &out), UnpackResult::kOk);
    EXPECT_EQ(out, text);
  }
}

TEST(PackedTextTest, DecodesOrRejectsEveryShapeOfInput) {
  const std::string text(4000, 'x');
  const std::string packed = PackText(text);
  ASSERT_EQ(packed[15], 1);
  std::string bad_crc = packed;
  bad_crc[bad_crc.size() - 6] ^= 0x55;
  std::string flipped = packed;
  flipped[30] ^= 0xFF;

  // A member with a file name in its header, as the gzip program writes it.
  std::string named = GzipMember("[s]\r\nk=v\r\n");
  named[3] = packed_text::kFlagName;
  named.insert(10, std::string("settings.ini\0", 13));

  struct Case {
    const char* name;
    std::string input;
    UnpackResult result;
    std::string text;  // expected output; for damage, a prefix check
  };
  const Case cases[] = {
      {"header only, 15 bytes", "<Tamrix.Script>", UnpackResult::kOk, ""},
      {"flag 0 and nothing, 16 bytes", std::string("<Tamrix.Script>\0", 16), UnpackResult::kOk,
       ""},
      {"plain payload", std::string("<Tamrix.Script>\0[a]", 19), UnpackResult::kOk, "[a]"},
      {"no header", "[a]\r\nk=v\r\n", UnpackResult::kNotPacked, ""},
      {"other writers' header fields", "<Tamrix.Script>\x01" + named, UnpackResult::kOk,
       "[s]\r\nk=v\r\n"},
      {"cut inside the deflate data", packed.substr(0, 25), UnpackResult::kDamaged, ""},
      {"no trailer", packed.substr(0, packed.size() - 8), UnpackResult::kDamaged, text},
      {"wrong CRC", bad_crc, UnpackResult::kDamaged, text},
      {"flipped data byte", flipped, UnpackResult::kDamaged, ""},
      {"not a gzip member", "<Tamrix.Script>\x01garbage", UnpackResult::kDamaged, ""},
      {"gzip header cut short", "<Tamrix.Script>\x01\x1F\x8B", UnpackResult::kDamaged, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string out = "stale";
    EXPECT_EQ(UnpackText(c.input, &out), c.result);
    if (c.result == UnpackResult::kOk) {
      EXPECT_EQ(out, c.text);
    }
    if (c.result == UnpackResult::kDamaged) {
      EXPECT_EQ(text.substr(0, out.size()), out.substr(0, out.size())) << "only a prefix";
      EXPECT_LE(out.size(), text.size());
    }
  }
}

TEST(PackedTextTest, OutputBeyondTheLimitIsDamage) {
  const std::string bomb = PackText(std::string(1 << 20, '\0'));
  std::string out;
  EXPECT_EQ(UnpackText(bomb, &out, 1000), UnpackResult::kDamaged);
  EXPECT_LE(out.size(), 1000u);
}

}  // namespace
}  // namespace lun
