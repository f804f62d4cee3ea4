#include "crawler/text_detector.h"

#include <gtest/gtest.h>

#include <string>

namespace lun {
namespace {

std::string Bytes(std::initializer_list<unsigned char> b) {
  return std::string(b.begin(), b.end());
}

TEST(TextDetectorTest, PrefixTable) {
  const std::string utf8_chinese = "说明文件：桌面搜索\n";
  const std::string gb_chinese =
      Bytes({0xCB, 0xB5, 0xC3, 0xF7, 0xCE, 0xC4, 0xBC, 0xFE, '\n'});  // 说明文件
  struct Case {
    const char* what;
    std::string prefix;
    bool complete;
    bool text;
  };
  const Case cases[] = {
      {"ASCII", "This is the README.\n\tIndented line\r\n", true, true},
      {"UTF-8 Chinese", utf8_chinese, true, true},
      {"UTF-8 cut by the probe's end", utf8_chinese.substr(0, utf8_chinese.size() - 2), false,
       true},
      {"UTF-8 cut at the file's end", utf8_chinese.substr(0, 7), true, false},
      {"UTF-16LE with BOM", Bytes({0xFF, 0xFE, 'h', 0, 'i', 0}), true, true},
      {"UTF-16BE with BOM", Bytes({0xFE, 0xFF, 0, 'h', 0, 'i'}), true, true},
      {"UTF-16 without BOM", Bytes({'h', 0, 'i', 0}), true, false},
      {"GB18030 Chinese", gb_chinese, true, true},
      {"GB18030 four-byte sequence", gb_chinese + Bytes({0x81, 0x30, 0x81, 0x30}), true, true},
      {"Latin-1 accents", Bytes({'c', 'a', 'f', 0xE9, ' ', 'n', 0xE9}), true, false},
      {"NUL byte", std::string("text\0more", 9), true, false},
      {"ELF header", Bytes({0x7F, 'E', 'L', 'F', 2, 1, 1, 0}), true, false},
      {"PNG header", Bytes({0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'}), true, false},
      {"gzip header", Bytes({0x1F, 0x8B, 0x08, 0x00}), true, false},
      {"many control bytes", std::string(50, 'a') + Bytes({1, 2, 3, 4, 5}), true, false},
      {"terminal colours", "\x1B[31mred\x1B[0m\n", true, true},
      {"empty", "", true, false},
      {"invalid in UTF-8 and GB18030", Bytes({0xC0, 0x20, 'a'}), true, false},
      {"UTF-8 surrogate", Bytes({0xED, 0xA0, 0x80}), true, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(LooksLikeText(c.prefix, c.complete), c.text) << c.what;
  }
  // Only the first 8 KB count: a NUL after them does not make binary.
  const std::string long_text = std::string(kTextProbeBytes, 'a') + std::string(1, '\0');
  EXPECT_TRUE(LooksLikeText(long_text, true));
}

}  // namespace
}  // namespace lun
