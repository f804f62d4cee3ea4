#include "automation/variant.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>

#include "automation/date_time.h"
#include "automation/dispatch.h"
#include "platform/text.h"

namespace lun {
namespace {

std::string Narrow(std::u16string_view s) { return ToNarrow(s); }

TEST(VariantTest, TypeCodesAreComVarTypes) {
  // The engine stores these numbers in its files.
  EXPECT_EQ(VT_BSTR, 8);
  EXPECT_EQ(VT_BOOL, 11);
  EXPECT_EQ(VT_UI1, 17);
  EXPECT_EQ(VT_UINT, 23);
  EXPECT_EQ(VT_ARRAY | VT_VARIANT, 8204);
  EXPECT_EQ(Variant::Bytes(std::array<std::uint8_t, 2>{1, 2}).type(),
            VT_ARRAY | VT_UI1);
}

TEST(VariantTest, StringsKeepEmbeddedNuls) {
  std::u16string s(u"a\0b", 3);
  Variant v = Variant::Bstr(s);
  EXPECT_EQ(v.AsString().size(), 3u);
  Variant copy = v;
  EXPECT_EQ(copy, v);
}

TEST(VariantTest, ArrayCopiesAreIndependent) {
  Variant a = Variant::VariantArray({Variant::I2(1), Variant::I2(2)});
  Variant b = a;
  ASSERT_EQ(b.MutableArray()->Put(0, Variant::I2(9)), S_OK);
  EXPECT_EQ(a.AsArray()->Get(0).AsInteger(), 1);
  EXPECT_EQ(b.AsArray()->Get(0).AsInteger(), 9);
}

TEST(VariantTest, RedimPreserveKeepsElementsAndRefusesInnerDimension) {
  SafeArray::Bound b[2] = {{0, 3}, {0, 6}};
  auto a = SafeArray::Create(VT_VARIANT, b);
  ASSERT_TRUE(a);
  std::size_t flat = 0;
  std::int64_t idx[2] = {2, 5};
  ASSERT_EQ(a->FlatIndex(idx, &flat), S_OK);
  ASSERT_EQ(a->Put(flat, Variant::I4(42)), S_OK);
  SafeArray::Bound grow[2] = {{0, 3}, {0, 8}};
  ASSERT_EQ(a->Redim(grow, true), S_OK);
  ASSERT_EQ(a->FlatIndex(idx, &flat), S_OK);
  EXPECT_EQ(a->Get(flat).AsInteger(), 42);
  SafeArray::Bound inner[2] = {{0, 4}, {0, 8}};
  EXPECT_EQ(a->Redim(inner, true), DISP_E_BADINDEX);
  std::int64_t outside[2] = {3, 0};
  EXPECT_EQ(a->FlatIndex(outside, &flat), DISP_E_BADINDEX);
}

TEST(VariantTest, HugeArrayIsRefusedNotAllocated) {
  SafeArray::Bound b[3] = {{0, 1 << 20}, {0, 1 << 20}, {0, 1 << 20}};
  EXPECT_EQ(SafeArray::Create(VT_VARIANT, b), nullptr);
}

struct ConvCase {
  Variant in;
  VarType to;
  HResult hr;
  const char* text;  // expected CStr of the result when hr == S_OK
};

TEST(VariantTest, ChangeTypeTable) {
  const ConvCase cases[] = {
      {Variant::R8(2.5), VT_I2, S_OK, "2"},
      {Variant::R8(3.5), VT_I2, S_OK, "4"},
      {Variant::R8(-2.5), VT_I2, S_OK, "-2"},
      {Variant::R8(32767.5), VT_I2, DISP_E_OVERFLOW, ""},
      {Variant::R8(-32768.5), VT_I2, S_OK, "-32768"},
      {Variant::I4(256), VT_UI1, DISP_E_OVERFLOW, ""},
      {Variant::I4(-1), VT_UI1, DISP_E_OVERFLOW, ""},
      {Variant::R8(2.5), VT_I4, S_OK, "2"},
      {Variant::R8(-3.5), VT_I4, S_OK, "-4"},
      {Variant::Bstr(u" 12 "), VT_I2, S_OK, "12"},
      {Variant::Bstr(u"&H10"), VT_I2, S_OK, "16"},
      {Variant::Bstr(u"&HFFFFFFFF"), VT_I4, S_OK, "-1"},
      {Variant::Bstr(u"1,000"), VT_R8, S_OK, "1000"},
      {Variant::Bstr(u"1e3"), VT_R8, S_OK, "1000"},
      {Variant::Bstr(u"1d3"), VT_R8, S_OK, "1000"},
      {Variant::Bstr(u".5"), VT_R8, S_OK, "0.5"},
      {Variant::Bstr(u""), VT_I2, DISP_E_TYPEMISMATCH, ""},
      {Variant::Bstr(u"  "), VT_R8, DISP_E_TYPEMISMATCH, ""},
      {Variant::Bstr(u"abc"), VT_I2, DISP_E_TYPEMISMATCH, ""},
      {Variant::Bstr(u"12a"), VT_R8, DISP_E_TYPEMISMATCH, ""},
      {Variant::Bstr(u"1e"), VT_R8, DISP_E_TYPEMISMATCH, ""},
      {Variant(), VT_I2, S_OK, "0"},
      {Variant::Null(), VT_I2, DISP_E_TYPEMISMATCH, ""},
      {Variant::Null(), VT_BSTR, DISP_E_TYPEMISMATCH, ""},
      {Variant::Bstr(u"true"), VT_BOOL, S_OK, "True"},
      {Variant::Bstr(u" FALSE "), VT_BOOL, S_OK, "False"},
      {Variant::Bstr(u"0"), VT_BOOL, S_OK, "False"},
      {Variant::Bstr(u"yes"), VT_BOOL, DISP_E_TYPEMISMATCH, ""},
      {Variant(), VT_BOOL, S_OK, "False"},
      {Variant::Bool(true), VT_I2, S_OK, "-1"},
      {Variant::R8(1.0), VT_BSTR, S_OK, "1"},
      {Variant::R8(-0.5), VT_BSTR, S_OK, "-0.5"},
      {Variant::R8(0.1 + 0.2), VT_BSTR, S_OK, "0.3"},
      {Variant::R8(1.0 / 3), VT_BSTR, S_OK, "0.333333333333333"},
      {Variant::R8(1.0 / 30), VT_BSTR, S_OK, "3.33333333333333E-02"},
      {Variant::R8(1e15), VT_BSTR, S_OK, "1E+15"},
      {Variant::R8(123456789012345.0), VT_BSTR, S_OK, "123456789012345"},
      {Variant::R8(1e-15), VT_BSTR, S_OK, "0.000000000000001"},
      {Variant::R8(1e-16), VT_BSTR, S_OK, "1E-16"},
      {Variant::R8(9007199254740992.0), VT_BSTR, S_OK, "9.00719925474099E+15"},
      {Variant::R4(1.0f / 3), VT_BSTR, S_OK, "0.3333333"},
      {Variant::Currency(12345678), VT_BSTR, S_OK, "1234.5678"},
      {Variant::Currency(-15000), VT_BSTR, S_OK, "-1.5"},
      {Variant::R8(1.23456), VT_CY, S_OK, "1.2346"},
      {Variant::Date(37652), VT_BSTR, S_OK, "2003/1/31"},
      {Variant::Date(37652 + (21 * 3600 + 5 * 60 + 7) / 86400.0), VT_BSTR,
       S_OK, "2003/1/31 21:05:07"},
      {Variant::Date((21 * 3600 + 5 * 60 + 7) / 86400.0), VT_BSTR, S_OK,
       "21:05:07"},
      {Variant::Bstr(u"2003-1-31"), VT_DATE, S_OK, "2003/1/31"},
      {Variant::Bstr(u"1/31/2003 10:30:00 PM"), VT_DATE, S_OK,
       "2003/1/31 22:30:00"},
      {Variant::Bstr(u"January 31, 2003"), VT_DATE, S_OK, "2003/1/31"},
      {Variant::Bstr(u"31 Jan 2003"), VT_DATE, S_OK, "2003/1/31"},
      {Variant::Bstr(u"2/30/2003"), VT_DATE, DISP_E_TYPEMISMATCH, ""},
      {Variant::R8(1e10), VT_DATE, DISP_E_OVERFLOW, ""},
      {Variant::Bool(false), VT_BSTR, S_OK, "False"},
      {Variant::VariantArray({}), VT_BSTR, DISP_E_TYPEMISMATCH, ""},
  };
  for (const auto& c : cases) {
    std::u16string in_text;
    (void)ToText(c.in, &in_text);
    SCOPED_TRACE(Narrow(in_text) + " -> " + std::to_string(c.to));
    Variant out;
    ASSERT_EQ(ChangeType(c.in, c.to, &out), c.hr);
    if (c.hr != S_OK) continue;
    EXPECT_EQ(out.type(), c.to);
    std::u16string text;
    ASSERT_EQ(ToText(out, &text), S_OK);
    EXPECT_EQ(Narrow(text), c.text);
  }
}

// An object whose default member returns another object, then a number:
// conversion must follow the chain.
class Chain : public Dispatch {
 public:
  explicit Chain(int depth) : depth_(depth) {}
  HResult GetIdOfName(std::u16string_view, DispId*) override {
    return DISP_E_UNKNOWNNAME;
  }
  HResult Invoke(DispId id, std::uint16_t, std::span<const Variant>,
                 Variant* result, ExcepInfo*) override {
    if (id != DISPID_VALUE || depth_ < 0) return DISP_E_MEMBERNOTFOUND;
    *result = depth_ == 0 ? Variant::I4(7)
                          : Variant::Object(std::make_shared<Chain>(depth_ - 1));
    return S_OK;
  }

 private:
  int depth_;
};

TEST(VariantTest, DispatchIsReducedThroughDefaultMember) {
  Variant out;
  ASSERT_EQ(ChangeType(Variant::Object(std::make_shared<Chain>(2)), VT_BSTR,
                       &out),
            S_OK);
  EXPECT_EQ(out.AsString(), u"7");
  EXPECT_EQ(ChangeType(Variant::Object(std::make_shared<Chain>(-1)), VT_I4,
                       &out),
            DISP_E_MEMBERNOTFOUND);
  EXPECT_EQ(ChangeType(Variant::Object(nullptr), VT_I4, &out),
            DISP_E_TYPEMISMATCH);
  // A self-referencing default member chain must end, not loop.
  EXPECT_EQ(ChangeType(Variant::Object(std::make_shared<Chain>(100)), VT_I4,
                       &out),
            DISP_E_TYPEMISMATCH);
}

TEST(DateTimeTest, SerialsAndParts) {
  EXPECT_EQ(DaysFromDate(1900, 1, 1), 2);
  EXPECT_EQ(DaysFromDate(2003, 13, 1), DaysFromDate(2004, 1, 1));
  EXPECT_EQ(DaysFromDate(2003, 3, 0), DaysFromDate(2003, 2, 28));
  DateParts p;
  ASSERT_TRUE(SerialToParts(-1.25, &p));
  EXPECT_EQ(p.year, 1899);
  EXPECT_EQ(p.month, 12);
  EXPECT_EQ(p.day, 29);
  EXPECT_EQ(p.hour, 6);
  ASSERT_TRUE(SerialToParts(DaysFromDate(2003, 1, 1), &p));
  EXPECT_EQ(p.weekday, 4);  // a Wednesday
  EXPECT_FALSE(SerialToParts(kMinDateSerial - 1, &p));
  EXPECT_FALSE(SerialToParts(NAN, &p));
  EXPECT_EQ(FormatLongDate(DaysFromDate(2003, 1, 31)), u"2003年1月31日");
}

}  // namespace
}  // namespace lun
