// Field value encodings, byte for byte, and the decoders' handling of damaged
// bytes.
#include "engine/storage/value_codec.h"

#include <array>
#include <string>

#include <gtest/gtest.h>

#include "config/packed_text.h"

namespace lun {
namespace {

std::string Hex(std::string_view bytes) {
  static const char* digits = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : bytes) {
    if (!out.empty()) out += ' ';
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out;
}

std::string Encode(int type, const Variant& v) {
  std::string out;
  EXPECT_EQ(EncodeFieldValue(type, v, &out), S_OK);
  return out;
}

TEST(ValueCodecTest, EncodesEachTypeAsStored) {
  struct Case {
    const char* what;
    int type;
    Variant value;
    const char* hex;
  };
  const std::array<Case, 17> cases = {{
      {"one char text stays plain (gzip is longer)", kFieldText, Variant::Bstr(u"A"),
       "03 00 00 00 00 41 00"},
      {"empty text stores length 0", kFieldText, Variant::Bstr(u""), "00 00 00 00"},
      {"null text stores length 0", kFieldDocument, Variant::Null(), "00 00 00 00"},
      {"text stops at its first NUL", kFieldText, Variant::Bstr(std::u16string(u"B\0C", 3)),
       "03 00 00 00 00 42 00"},
      {"number into text field is converted", kFieldText, Variant::I4(7),
       "03 00 00 00 00 37 00"},
      {"integer", kFieldInteger, Variant::I4(-2), "FE FF FF FF"},
      {"integer from numeric string", kFieldInteger, Variant::Bstr(u"258"), "02 01 00 00"},
      {"empty integer stores zeros", kFieldInteger, Variant(), "00 00 00 00"},
      {"single", kFieldSingle, Variant::R4(1.5f), "00 00 C0 3F"},
      {"double", kFieldDouble, Variant::R8(-2.0), "00 00 00 00 00 00 00 C0"},
      {"date", kFieldDate, Variant::Date(1.0), "00 00 00 00 00 00 F0 3F"},
      {"logical true is 1 whatever the non-zero value", kFieldLogical, Variant::I4(5), "01"},
      {"logical false", kFieldLogical, Variant::Bool(false), "00"},
      {"null logical stores zero", kFieldLogical, Variant::Null(), "00"},
      {"binary integer: VT_I4 and 4 bytes", kFieldBinary, Variant::I4(1),
       "06 00 00 00 03 00 01 00 00 00"},
      {"binary string: VT_BSTR, byte count with terminator, text, terminator", kFieldBinary,
       Variant::Bstr(u"Hi"), "0C 00 00 00 08 00 06 00 00 00 48 00 69 00 00 00"},
      {"binary null stores length 0", kFieldBinary, Variant::Null(), "00 00 00 00"},
  }};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(Hex(Encode(c.type, c.value)), c.hex);
  }
}

TEST(ValueCodecTest, BinaryBoolAndObjectUseTheirFixedWidths) {
  EXPECT_EQ(Hex(Encode(kFieldBinary, Variant::Bool(true))), "04 00 00 00 0B 00 FF FF");
  const std::string object = Encode(kFieldBinary, Variant::Object(nullptr));
  EXPECT_EQ(object.size(), 4u + 2 + 16);  // VT_DISPATCH and a null class identifier
  EXPECT_TRUE(IsWellFormedVariantStream(std::string_view(object).substr(4)));
}

TEST(ValueCodecTest, UnconvertibleValueFailsAndLeavesOutputAlone) {
  std::string out = "keep";
  EXPECT_NE(EncodeFieldValue(kFieldInteger, Variant::Bstr(u"not a number"), &out), S_OK);
  EXPECT_NE(EncodeFieldValue(kFieldInteger, Variant::R8(1e12), &out), S_OK);  // overflow
  EXPECT_EQ(out, "keep");
}

TEST(ValueCodecTest, LongTextIsCompressedWithTheFixedGzipHeader) {
  std::u16string text;
  for (int i = 0; i < 400; ++i) text += u"中文全文检索";
  std::string out;
  EncodeTextValue(text, &out);
  const uint32_t n = DecodeFixed32(out.data());
  ASSERT_EQ(out.size(), 4u + n);
  EXPECT_LT(n, text.size() * 2 + 1);
  EXPECT_EQ(static_cast<uint8_t>(out[4]), record_format::kMethodGzip);
  EXPECT_EQ(Hex(out.substr(5, 10)), "1F 8B 08 00 00 00 00 00 00 0B");
  // Trailer: CRC-32 and the byte count of the UTF-16LE text.
  EXPECT_EQ(DecodeFixed32(out.data() + out.size() - 4), text.size() * 2);
  std::u16string back;
  ASSERT_TRUE(DecodeTextValue(std::string_view(out).substr(4), &back));
  EXPECT_EQ(back, text);
}

TEST(ValueCodecTest, TextCompressedAtTheDefaultLevelStillDecodes) {
  // Records written before the writer chose its faster level hold members
  // deflated at the default level (as the packed text container writes).
  std::u16string text;
  for (int i = 0; i < 300; ++i) text += u"desktop search 桌面搜索 ";
  std::string plain;
  for (char16_t c : text) {
    plain.push_back(static_cast<char>(c & 0xFF));
    plain.push_back(static_cast<char>(c >> 8));
  }
  const std::string value = std::string(1, char(record_format::kMethodGzip)) + GzipMember(plain);
  std::u16string back;
  ASSERT_TRUE(DecodeTextValue(value, &back));
  EXPECT_EQ(back, text);
}

TEST(ValueCodecTest, IncompressibleTextIsStoredPlain) {
  std::u16string text;
  uint32_t x = 12345;
  for (int i = 0; i < 300; ++i) {
    x = x * 1103515245 + 12345;
    text += static_cast<char16_t>(0x4E00 + (x >> 16) % 20000);
  }
  std::string out;
  EncodeTextValue(text, &out);
  EXPECT_EQ(static_cast<uint8_t>(out[4]), record_format::kMethodPlain);
  EXPECT_EQ(DecodeFixed32(out.data()), text.size() * 2 + 1);
}

TEST(ValueCodecTest, DamagedTextIsRejected) {
  std::u16string text(2000, u'字');
  std::string out;
  EncodeTextValue(text, &out);
  const std::string stored = out.substr(4);
  struct Case {
    const char* what;
    std::string bytes;
  };
  std::string bad_crc = stored;
  bad_crc[bad_crc.size() - 5] ^= 1;
  std::string bad_size = stored;
  bad_size[bad_size.size() - 1] = 0x7F;
  std::string bad_deflate = stored;
  bad_deflate[12] ^= 0x55;
  std::string bad_method = stored;
  bad_method[0] = 2;
  std::string flags_set = stored;
  flags_set[4] = 0x04;
  const std::array<Case, 7> cases = {{
      {"truncated member", stored.substr(0, stored.size() / 2)},
      {"member cut before its trailer", stored.substr(0, stored.size() - 3)},
      {"wrong CRC", bad_crc},
      {"size in trailer larger than the data", bad_size},
      {"damaged deflate data", bad_deflate},
      {"unknown method byte", bad_method},
      {"header flags set", flags_set},
  }};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::u16string back;
    EXPECT_FALSE(DecodeTextValue(c.bytes, &back));
  }
  std::u16string back;
  EXPECT_FALSE(DecodeTextValue(std::string("\0A", 2), &back)) << "odd plain byte count";
}

TEST(ValueCodecTest, LocateValueStaysInsideTheBody) {
  const std::string body = Encode(kFieldText, Variant::Bstr(u"xyz")) + Encode(kFieldInteger, Variant::I4(9));
  ValueExtent e;
  ASSERT_TRUE(LocateValue(kFieldText, body, 0, &e));
  EXPECT_EQ(e.value_pos, 4u);
  EXPECT_EQ(e.value_size, 7u);
  ASSERT_TRUE(LocateValue(kFieldInteger, body, e.end, &e));
  EXPECT_EQ(e.end, body.size());
  EXPECT_FALSE(LocateValue(kFieldInteger, body, body.size(), &e));
  EXPECT_FALSE(LocateValue(kFieldText, body.substr(0, 6), 0, &e)) << "length beyond the body";
  std::string huge = body;
  huge[3] = '\x7F';
  EXPECT_FALSE(LocateValue(kFieldText, huge, 0, &e));
  EXPECT_FALSE(LocateValue(kFieldDouble, body, body.size() - 4, &e));
}

TEST(ValueCodecTest, StoredValuesReadBackAsTheirVariantTypes) {
  struct Case {
    int type;
    Variant in;
    Variant out;
  };
  const std::array<Case, 8> cases = {{
      {kFieldText, Variant::Bstr(u"文本"), Variant::Bstr(u"文本")},
      {kFieldText, Variant(), Variant::Bstr(u"")},
      {kFieldInteger, Variant::Bstr(u"12"), Variant::I4(12)},
      {kFieldSingle, Variant::R4(2.5f), Variant::R4(2.5f)},
      {kFieldDouble, Variant::I4(3), Variant::R8(3.0)},
      {kFieldLogical, Variant::Bool(true), Variant::Bool(true)},
      {kFieldDate, Variant::Date(45000.5), Variant::Date(45000.5)},
      {kFieldBinary, Variant::I4(1), Variant::Bstr(u"二进制数据")},
  }};
  for (const Case& c : cases) {
    SCOPED_TRACE(FieldTypeName(c.type));
    std::string body;
    Variant direct;
    ASSERT_EQ(EncodeFieldValue(c.type, c.in, &body, &direct), S_OK);
    ValueExtent e;
    ASSERT_TRUE(LocateValue(c.type, body, 0, &e));
    Variant read;
    ASSERT_TRUE(StoredValueToVariant(c.type, std::string_view(body).substr(e.value_pos, e.value_size),
                                     &read));
    EXPECT_TRUE(read == c.out);
    // What an index is handed at append time equals what a rebuild reads.
    EXPECT_TRUE(direct == read);
  }
}

TEST(ValueCodecTest, VariantStreamChecks) {
  EXPECT_TRUE(IsWellFormedVariantStream(""));
  EXPECT_TRUE(IsWellFormedVariantStream(std::string("\x03\x00\x01\x00\x00\x00", 6)));
  EXPECT_FALSE(IsWellFormedVariantStream(std::string("\x03\x00\x01\x00\x00", 5)));
  EXPECT_FALSE(IsWellFormedVariantStream(std::string("\x08\x00\x04\x00\x00\x00\x41\x00\x00", 9)));
  EXPECT_FALSE(IsWellFormedVariantStream(std::string("\x08\x00\x03\x00\x00\x00\x41\x00\x00", 9)));
}

TEST(ValueCodecTest, TypeNames) {
  EXPECT_STREQ(FieldTypeName(kFieldDocument), "文档");
  EXPECT_STREQ(FieldTypeName(99), "未知");
  EXPECT_EQ(FieldTypeFromName("双精度小数"), kFieldDouble);
  EXPECT_EQ(FieldTypeFromName("nothing"), -1);
}

}  // namespace
}  // namespace lun
