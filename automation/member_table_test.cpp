#include "automation/member_table.h"

#include <gtest/gtest.h>

#include "automation/dictionary.h"

namespace lun {
namespace {

// A small recordset-like object: a default Field member that takes no
// arguments and returns an object, a typed method and a get/put property.
class Sample : public TableDispatch<Sample> {
 public:
  Sample() : TableDispatch(kTable) {
    (void)fields->Add(Variant::Bstr(u"name"), Variant::Bstr(u"value"), nullptr);
  }
  static const Table kTable;
  std::shared_ptr<Dictionary> fields = std::make_shared<Dictionary>();
  std::u16string written;
  bool flag = false;

  HResult Field(std::span<Variant>, Variant* result, ExcepInfo*) {
    *result = Variant::Object(fields);
    return S_OK;
  }
  HResult Write(std::span<Variant> args, Variant*, ExcepInfo*) {
    written += args[0].AsString();
    return S_OK;
  }
  HResult GetFlag(std::span<Variant>, Variant* result, ExcepInfo*) {
    *result = Variant::I4(flag ? 1 : 0);  // converted to the declared VT_BOOL
    return S_OK;
  }
  HResult PutFlag(std::span<Variant> args, Variant*, ExcepInfo*) {
    flag = args[0].AsBool();
    return S_OK;
  }
};

const Sample::Table Sample::kTable = {
    {{u"Field", DISPID_VALUE, DISPATCH_METHOD | DISPATCH_PROPERTYGET, 0, 0, {}, VT_DISPATCH},
     &Sample::Field},
    {{u"Write", 1, DISPATCH_METHOD, 1, 1, {VT_BSTR}, VT_EMPTY}, &Sample::Write},
    {{u"Flag", 2, DISPATCH_PROPERTYGET, 0, 0, {}, VT_BOOL}, &Sample::GetFlag},
    {{u"Flag", 2, DISPATCH_PROPERTYPUT, 1, 1, {VT_BOOL}, VT_EMPTY}, &Sample::PutFlag},
};

TEST(MemberTableTest, ConvertsArgumentsAndResults) {
  Sample s;
  DispId id = 0;
  ASSERT_EQ(s.GetIdOfName(u"WRITE", &id), S_OK);
  Variant args[] = {Variant::R8(1.5)};
  ASSERT_EQ(s.Invoke(id, DISPATCH_METHOD, args, nullptr, nullptr), S_OK);
  EXPECT_EQ(s.written, u"1.5");
  Variant too_many[] = {Variant::I2(1), Variant::I2(2)};
  EXPECT_EQ(s.Invoke(id, DISPATCH_METHOD, too_many, nullptr, nullptr), DISP_E_BADPARAMCOUNT);
  Variant bad[] = {Variant::VariantArray({})};
  EXPECT_EQ(s.Invoke(id, DISPATCH_METHOD, bad, nullptr, nullptr), DISP_E_TYPEMISMATCH);
  Variant on[] = {Variant::Bstr(u"True")};
  ASSERT_EQ(s.Invoke(2, DISPATCH_PROPERTYPUT, on, nullptr, nullptr), S_OK);
  Variant result;
  ASSERT_EQ(s.Invoke(2, DISPATCH_PROPERTYGET, {}, &result, nullptr), S_OK);
  EXPECT_EQ(result.type(), VT_BOOL);
  EXPECT_TRUE(result.AsBool());
  EXPECT_EQ(s.GetIdOfName(u"Nope", &id), DISP_E_UNKNOWNNAME);
}

TEST(MemberTableTest, ArgumentsOfAParameterlessObjectMemberGoToItsDefault) {
  Sample s;
  Variant key[] = {Variant::Bstr(u"name")};
  Variant result;
  ASSERT_EQ(s.Invoke(DISPID_VALUE, DISPATCH_METHOD | DISPATCH_PROPERTYGET, key, &result,
                     nullptr),
            S_OK);
  EXPECT_EQ(result.AsString(), u"value");
}

}  // namespace
}  // namespace lun
