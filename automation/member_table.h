// TableDispatch: a Dispatch implementation driven by a static member table,
// the usual shape of a host object (Response, Request, the recordset ...).
//
// Each entry gives a member's name, dispatch id, the kinds of call it
// accepts, its parameter types and result type, and the handler. The base
// class does the rest the same way for every object:
//   - name look-up without regard to ASCII case;
//   - dispatch id 0 is the entry whose id is DISPID_VALUE (the default
//     member), if the table has one;
//   - arguments are converted to the declared parameter types with
//     ChangeType (VT_VARIANT: passed as they are; VT_DISPATCH: must be an
//     object); a failed conversion answers DISP_E_TYPEMISMATCH, a missing
//     optional argument stays Error(DISP_E_PARAMNOTFOUND) for the handler;
//   - a member that takes no parameters and returns an object, called with
//     arguments, is called without them and the arguments go to the
//     returned object's default member (so rs.Field("x") and rs("x") reach
//     the same thing);
//   - the handler's result is converted to the declared result type.
//
// Usage:
//   class Response : public TableDispatch<Response> {
//    public:
//     static const Table kTable;   // defined in the .cpp
//     HResult Write(std::span<Variant> args, Variant* result, ExcepInfo* e);
//   };
//   const Response::Table Response::kTable = {{
//       {u"Write", 1, DISPATCH_METHOD, 1, 1, {VT_BSTR}, VT_EMPTY, &Response::Write},
//   }};
//   Response() : TableDispatch(kTable) {}
//
// A property put handler receives the indexes followed by the new value
// (converted to the last declared parameter type).
#ifndef LUN_AUTOMATION_MEMBER_TABLE_H_
#define LUN_AUTOMATION_MEMBER_TABLE_H_

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "automation/dispatch.h"

namespace lun {

inline constexpr std::size_t kMaxMemberParams = 6;

// Shared algorithm of TableDispatch, independent of the object's type.
namespace member_table {

struct Shape {
  std::u16string_view name;
  DispId id;
  std::uint16_t flags;  // DISPATCH_METHOD | PROPERTYGET | PROPERTYPUT | PUTREF accepted
  std::uint8_t min_params;
  std::uint8_t max_params;  // for puts: including the value
  std::array<VarType, kMaxMemberParams> params;
  VarType result;  // VT_EMPTY: no result; VT_VARIANT: as the handler gave it
};

// Finds the entry for (id, flags); -1 if none.
int FindEntry(std::span<const Shape* const> shapes, DispId id, std::uint16_t flags);

// Converts `args` to the entry's parameter types into *out.
HResult ConvertArgs(const Shape& shape, std::span<const Variant> args,
                    std::vector<Variant>* out);

// Converts a handler's result to the declared type.
HResult ConvertResult(const Shape& shape, Variant* result);

}  // namespace member_table

template <typename T>
class TableDispatch : public Dispatch {
 public:
  using Handler = HResult (T::*)(std::span<Variant> args, Variant* result,
                                 ExcepInfo* excep);
  struct Entry {
    member_table::Shape shape;
    Handler handler;
  };
  using Table = std::vector<Entry>;

  // `table` must outlive the object (normally a static).
  explicit TableDispatch(const Table& table) : table_(table) {
    for (const auto& e : table_) shapes_.push_back(&e.shape);
  }

  HResult GetIdOfName(std::u16string_view name, DispId* id) override {
    for (const auto& e : table_) {
      if (EqualsIgnoreAsciiCase(e.shape.name, name)) {
        *id = e.shape.id;
        return S_OK;
      }
    }
    return DISP_E_UNKNOWNNAME;
  }

  HResult Invoke(DispId id, std::uint16_t flags, std::span<const Variant> args,
                 Variant* result, ExcepInfo* excep) override {
    Variant ignored;
    if (!result) result = &ignored;
    *result = Variant();
    int index = member_table::FindEntry(shapes_, id, flags);
    if (index < 0) return DISP_E_MEMBERNOTFOUND;
    const Entry& entry = table_[static_cast<std::size_t>(index)];
    const auto& shape = entry.shape;
    const bool get = (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) == 0;
    if (get && shape.max_params == 0 && !args.empty() && shape.result == VT_DISPATCH) {
      Variant object;
      HResult hr = Call(entry, {}, &object, excep);
      if (hr != S_OK) return hr;
      if (!object.is_object() || !object.AsObject()) return DISP_E_TYPEMISMATCH;
      return object.AsObject()->Invoke(DISPID_VALUE, DISPATCH_METHOD | DISPATCH_PROPERTYGET,
                                       args, result, excep);
    }
    if (args.size() < shape.min_params || args.size() > shape.max_params) {
      return DISP_E_BADPARAMCOUNT;
    }
    return Call(entry, args, result, excep);
  }

 private:
  HResult Call(const Entry& entry, std::span<const Variant> args, Variant* result,
               ExcepInfo* excep) {
    std::vector<Variant> converted;
    HResult hr = member_table::ConvertArgs(entry.shape, args, &converted);
    if (hr != S_OK) return hr;
    hr = (static_cast<T*>(this)->*entry.handler)(converted, result, excep);
    if (hr != S_OK) return hr;
    return member_table::ConvertResult(entry.shape, result);
  }

  const Table& table_;
  std::vector<const member_table::Shape*> shapes_;
};

}  // namespace lun

#endif  // LUN_AUTOMATION_MEMBER_TABLE_H_
