#include "automation/dictionary.h"

#include <gtest/gtest.h>

namespace lun {
namespace {

TEST(DictionaryTest, KeyMatchingRules) {
  Dictionary d;
  ASSERT_EQ(d.Add(Variant::I2(1), Variant::Bstr(u"one"), nullptr), S_OK);
  // 1, 1.0 and CLng(1) are one key; "1" is another; Empty differs from "".
  EXPECT_TRUE(d.Exists(Variant::R8(1.0)));
  EXPECT_TRUE(d.Exists(Variant::I4(1)));
  EXPECT_FALSE(d.Exists(Variant::Bstr(u"1")));
  ASSERT_EQ(d.Add(Variant(), Variant::I2(0), nullptr), S_OK);
  EXPECT_FALSE(d.Exists(Variant::Bstr(u"")));
  ExcepInfo e;
  EXPECT_EQ(d.Add(Variant::I4(1), Variant(), &e), DISP_E_EXCEPTION);
  EXPECT_EQ(e.scode, ScriptErrorCode(457));
  EXPECT_EQ(d.Add(Variant::VariantArray({}), Variant(), &e), DISP_E_EXCEPTION);
  EXPECT_EQ(e.scode, ScriptErrorCode(13));
}

TEST(DictionaryTest, TextModeAndOrderSurviveRemoval) {
  Dictionary d;
  ASSERT_EQ(d.SetCompareMode(1, nullptr), S_OK);
  for (auto k : {u"b", u"a", u"c"}) {
    ASSERT_EQ(d.Add(Variant::Bstr(k), Variant(), nullptr), S_OK);
  }
  EXPECT_TRUE(d.Exists(Variant::Bstr(u"A")));
  ASSERT_EQ(d.Remove(Variant::Bstr(u"B"), nullptr), S_OK);
  // Positions after the removed entry must still be found.
  ASSERT_EQ(d.RenameKey(Variant::Bstr(u"C"), Variant::Bstr(u"z"), nullptr), S_OK);
  auto keys = d.KeyList();
  ASSERT_EQ(keys.size(), 2u);
  EXPECT_EQ(keys[0].AsString(), u"a");
  EXPECT_EQ(keys[1].AsString(), u"z");
  ExcepInfo e;
  EXPECT_EQ(d.SetCompareMode(0, &e), DISP_E_EXCEPTION);  // not empty
  EXPECT_EQ(d.Remove(Variant::Bstr(u"q"), &e), DISP_E_EXCEPTION);
  EXPECT_EQ(e.scode, ScriptErrorCode(32811));
}

TEST(DictionaryTest, DefaultMemberNeedsAKey) {
  auto d = std::make_shared<Dictionary>();
  Variant out;
  // `x = d` must fail rather than yield a value.
  EXPECT_EQ(ChangeType(Variant::Object(d), VT_BSTR, &out), DISP_E_BADPARAMCOUNT);
  Variant args[] = {Variant::Bstr(u"k"), Variant::I2(5)};
  ASSERT_EQ(d->Invoke(DISPID_VALUE, DISPATCH_PROPERTYPUT, args, nullptr, nullptr),
            S_OK);
  ASSERT_EQ(d->Invoke(DISPID_VALUE, DISPATCH_PROPERTYGET,
                      std::span<const Variant>(args, 1), &out, nullptr),
            S_OK);
  EXPECT_EQ(out.AsInteger(), 5);
}

}  // namespace
}  // namespace lun
