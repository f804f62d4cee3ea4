// Field value encodings, byte for byte, and the decoders' handling of damaged
// bytes.
#include "engine/storage/value_codec.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <array>
#include <string>
#include <vector>

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
      {"number into text field is converted", kFieldText, Variant::I4(7), "03 00 00 00 00 37 00"},
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

// A text of about 200 KB of UTF-16: several seek chunks, and varied enough
// that a chunk read from the wrong place cannot pass for the right one.
std::u16string SeekableText() {
  std::u16string text;
  for (int i = 0; text.size() < 100'000; ++i) {
    const std::string line = "line " + std::to_string(i) + " 桌面搜索 desktop search\r\n";
    text += std::u16string(line.begin(), line.end());
  }
  return text;
}

// The stored value (method byte and member) of `text`.
std::string StoredText(std::u16string_view text) {
  std::string out;
  EncodeTextValue(text, &out);
  return out.substr(4);
}

std::u16string ReadAll(StoredTextReader& reader) {
  std::u16string text;
  while (reader.Next(&text)) {
  }
  return text;
}

// The seek table of a stored seekable value: offset of its data, and size.
constexpr size_t kTableAt = 1 + 10 + 2 + 4;

TEST(ValueCodecTest, LongTextGetsASeekTableAndStaysOneGzipMember) {
  const std::u16string text = SeekableText();
  const std::string stored = StoredText(text);
  ASSERT_EQ(static_cast<uint8_t>(stored[0]), record_format::kMethodGzip);
  EXPECT_EQ(Hex(stored.substr(1, 4)), "1F 8B 08 04") << "FEXTRA set";
  EXPECT_EQ(stored.substr(13, 2), "LS");
  const uint32_t chunk = DecodeFixed32(stored.data() + kTableAt);
  const uint32_t entries = DecodeFixed32(stored.data() + kTableAt + 4);
  EXPECT_EQ(chunk, record_format::kSeekChunkBytes);
  EXPECT_EQ(entries, (text.size() * 2 - 1) / chunk);
  std::u16string back;
  ASSERT_TRUE(DecodeTextValue(stored, &back));
  EXPECT_EQ(back, text);
  // Any gzip reader reads it: zlib's own gzip decoding, header and all.
  z_stream zs{};
  ASSERT_EQ(inflateInit2(&zs, 16 + MAX_WBITS), Z_OK);
  std::string plain(text.size() * 2 + 16, '\0');
  zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(stored.data() + 1));
  zs.avail_in = static_cast<uInt>(stored.size() - 1);
  zs.next_out = reinterpret_cast<Bytef*>(plain.data());
  zs.avail_out = static_cast<uInt>(plain.size());
  EXPECT_EQ(inflate(&zs, Z_FINISH), Z_STREAM_END);
  EXPECT_EQ(zs.total_out, text.size() * 2);
  inflateEnd(&zs);
}

TEST(ValueCodecTest, ReaderGivesTheTextPieceByPieceAndSeeksToChunks) {
  const std::u16string long_text = SeekableText();
  const std::u16string short_text = long_text.substr(0, 5000);
  std::u16string incompressible;
  uint32_t x = 7;
  for (int i = 0; i < 20'000; ++i) {
    x = x * 1103515245 + 12345;
    incompressible += static_cast<char16_t>(0x4E00 + (x >> 16) % 20000);
  }
  for (const std::u16string* text :
       {&long_text, &short_text, static_cast<const std::u16string*>(&incompressible)}) {
    const std::string stored = StoredText(*text);
    SCOPED_TRACE(testing::Message() << text->size() << " units, method " << int(stored[0]));
    StoredTextReader reader(stored);
    EXPECT_EQ(reader.size(), text->size());
    std::u16string first;
    ASSERT_TRUE(reader.Next(&first));
    if (text->size() > 10'000)
      EXPECT_LT(first.size(), text->size()) << "a piece, not the whole text";
    EXPECT_EQ(first, text->substr(0, first.size()));
    EXPECT_EQ(first + ReadAll(reader), *text);
    EXPECT_FALSE(reader.damaged());
    for (size_t unit :
         {size_t{0}, size_t{16'384}, size_t{50'000}, text->size() - 1, text->size() + 5}) {
      const size_t start = reader.SeekNear(unit);
      EXPECT_LE(start, std::min(unit, text->size()));
      if (text == &long_text) EXPECT_GT(start + 16'384, std::min(unit, text->size()));
      EXPECT_EQ(ReadAll(reader), text->substr(start)) << "from unit " << unit;
    }
  }
  StoredTextReader empty("");
  EXPECT_EQ(empty.size(), 0u);
  EXPECT_EQ(ReadAll(empty), u"");
}

TEST(ValueCodecTest, DamagedSeekTableCostsTimeNeverText) {
  const std::u16string text = SeekableText();
  const std::string stored = StoredText(text);
  const uint32_t entries = DecodeFixed32(stored.data() + kTableAt + 4);
  const size_t offsets_at = kTableAt + 8;
  const size_t crc_at = offsets_at + entries * 4;
  // Moves chunk 2's offset into the flush marker (00 00 FF FF) before it
  // and writes a table CRC that agrees, so only inflating can tell: the
  // marker's tail reads as a stored block whose lengths disagree.
  std::string wrong_but_sealed = stored;
  EncodeFixed32(wrong_but_sealed.data() + offsets_at + 4,
                DecodeFixed32(stored.data() + offsets_at + 4) - 3);
  EncodeFixed32(wrong_but_sealed.data() + crc_at,
                static_cast<uint32_t>(
                    crc32(0, reinterpret_cast<const Bytef*>(wrong_but_sealed.data() + kTableAt),
                          static_cast<uInt>(crc_at - kTableAt))));
  struct Case {
    const char* what;
    std::string bytes;
    bool seeks;  // SeekNear still lands on chunk 2
  };
  std::vector<Case> cases = {
      {"offset flipped", stored, false},
      {"table CRC flipped", stored, false},
      {"chunk size flipped", stored, false},
      {"offset wrong, table CRC recomputed", wrong_but_sealed, true},
  };
  cases[0].bytes[offsets_at + 5] ^= 0x10;
  cases[1].bytes[crc_at] ^= 0x01;
  cases[2].bytes[kTableAt + 2] ^= 0x01;
  const size_t chunk_units = record_format::kSeekChunkBytes / 2;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::u16string whole;
    ASSERT_TRUE(DecodeTextValue(c.bytes, &whole));
    EXPECT_EQ(whole, text);
    StoredTextReader reader(c.bytes);
    const size_t start = reader.SeekNear(2 * chunk_units + 10);
    EXPECT_EQ(start, c.seeks ? 2 * chunk_units : 0);
    EXPECT_EQ(ReadAll(reader), text.substr(start));
    EXPECT_FALSE(reader.damaged());
  }
}

TEST(ValueCodecTest, ReaderFindsDamageInWhatItReads) {
  const std::u16string text = SeekableText();
  const std::string stored = StoredText(text);
  std::string bad_crc = stored;
  bad_crc[bad_crc.size() - 5] ^= 1;
  std::string bad_tail = stored;
  bad_tail[bad_tail.size() - 40] ^= 0x55;
  std::string bad_size = stored;
  bad_size[bad_size.size() - 2] ^= 0x01;
  for (const std::string* bytes : {&bad_crc, &bad_tail, &bad_size}) {
    StoredTextReader reader(*bytes);
    std::u16string first;
    EXPECT_TRUE(reader.Next(&first)) << "the start of the text is sound";
    (void)ReadAll(reader);
    EXPECT_TRUE(reader.damaged());
  }
  for (const std::string_view bytes :
       {std::string_view("\x02xx", 3), std::string_view("\x01\x1F\x8B", 3),
        std::string_view("\x00odd", 4)}) {
    StoredTextReader reader(bytes);
    EXPECT_TRUE(reader.damaged()) << bytes;
    EXPECT_EQ(ReadAll(reader), u"");
  }
}

TEST(ValueCodecTest, LocateValueStaysInsideTheBody) {
  const std::string body =
      Encode(kFieldText, Variant::Bstr(u"xyz")) + Encode(kFieldInteger, Variant::I4(9));
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
    ASSERT_TRUE(StoredValueToVariant(
        c.type, std::string_view(body).substr(e.value_pos, e.value_size), &read));
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
