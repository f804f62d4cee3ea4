// Dispatch: the late-bound object interface that script pages call.
//
// An object publishes named members. A caller looks a name up (without
// regard to ASCII case) to get a dispatch id, then invokes that id as a
// method, a property get, a property put (Let) or a property put-ref (Set)
// with a list of arguments. Dispatch id 0 is the default member: the one
// used when the object itself appears where a value is needed (`x = obj`,
// `obj("k")`, `Response.Write rs("f")`).
//
// Ownership: objects are held by std::shared_ptr; a Variant holding an
// object keeps one reference. Implementations that need a pointer to
// themselves use shared_from_this().
//
// Errors are return values (HResult). An object that fails with its own
// number and text returns DISP_E_EXCEPTION and fills the ExcepInfo.
//
// Thread safety: decided by each implementation; the script interpreter
// calls an object only from the thread that runs the script.
#ifndef LUN_AUTOMATION_DISPATCH_H_
#define LUN_AUTOMATION_DISPATCH_H_

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "automation/hresult.h"
#include "automation/variant.h"

namespace lun {

using DispId = std::int32_t;

inline constexpr DispId DISPID_VALUE = 0;
inline constexpr DispId DISPID_UNKNOWN = -1;
inline constexpr DispId DISPID_PROPERTYPUT = -3;
inline constexpr DispId DISPID_NEWENUM = -4;

// Invoke kinds; a value context passes METHOD | PROPERTYGET.
enum DispatchFlags : std::uint16_t {
  DISPATCH_METHOD = 1,
  DISPATCH_PROPERTYGET = 2,
  DISPATCH_PROPERTYPUT = 4,
  DISPATCH_PROPERTYPUTREF = 8,
};

// Error details of a DISP_E_EXCEPTION. `scode` is an HRESULT; a script
// run-time error n is ScriptErrorCode(n). When scode is 0, `wcode` carries
// the error number instead.
struct ExcepInfo {
  std::uint16_t wcode = 0;
  HResult scode = 0;
  std::u16string source;
  std::u16string description;
};

class Enumerator;

class Dispatch : public std::enable_shared_from_this<Dispatch> {
 public:
  Dispatch() = default;
  Dispatch(const Dispatch&) = delete;
  Dispatch& operator=(const Dispatch&) = delete;
  virtual ~Dispatch() = default;

  // Maps a member name (compared without regard to case) to its dispatch
  // id. Unknown name: DISP_E_UNKNOWNNAME, *id untouched.
  virtual HResult GetIdOfName(std::u16string_view name, DispId* id) = 0;

  // Invokes member `id`.
  // - `args` are in source order: args[0] is the first argument written
  //   (not COM's reversed rgvarg). A missing optional argument is
  //   Variant::Error(DISP_E_PARAMNOTFOUND).
  // - For DISPATCH_PROPERTYPUT / PUTREF the new value is the LAST element of
  //   `args`; the elements before it are the indexes (`d("k") = v` passes
  //   {"k", v}).
  // - `result` may be null when the caller discards it; otherwise it is
  //   set (Empty when the member returns nothing).
  // - `excep` may be null; it is filled only with DISP_E_EXCEPTION.
  // Unknown id: DISP_E_MEMBERNOTFOUND. Wrong argument count:
  // DISP_E_BADPARAMCOUNT. Unconvertible argument: DISP_E_TYPEMISMATCH.
  virtual HResult Invoke(DispId id, std::uint16_t flags,
                         std::span<const Variant> args, Variant* result,
                         ExcepInfo* excep) = 0;

  // Enumerator for `For Each`. The default implementation invokes
  // DISPID_NEWENUM (METHOD | PROPERTYGET) and accepts a result that holds
  // an Enumerator object; objects that are collections can also override
  // this directly. Not a collection: DISP_E_MEMBERNOTFOUND.
  virtual HResult NewEnum(std::shared_ptr<Enumerator>* out);

  // The name TypeName() shows for this object ("Dictionary"); "Object" for
  // objects without type information.
  virtual std::u16string TypeName() const { return u"Object"; }

  // Called only when this object is about to be destroyed and nothing else
  // holds it: a container moves the values it holds to `out`, so that deep
  // nesting is released iteratively (see ReleaseNested). Default: nothing.
  virtual void TakeChildren(std::vector<Variant>* /*out*/) {}
};

// IEnumVARIANT: walks a collection one element at a time. It is also a
// Dispatch (with no members), so that it can travel inside a Variant as the
// result of DISPID_NEWENUM.
class Enumerator : public Dispatch {
 public:
  // Next element into *item: S_OK, or S_FALSE at the end (item untouched).
  virtual HResult Next(Variant* item) = 0;
  // Back to the first element.
  virtual HResult Reset() = 0;

  HResult GetIdOfName(std::u16string_view name, DispId* id) override;
  HResult Invoke(DispId id, std::uint16_t flags, std::span<const Variant> args,
                 Variant* result, ExcepInfo* excep) override;
};

// An enumerator over a snapshot of values (what a collection hands out when
// it can copy its elements).
class VectorEnumerator : public Enumerator {
 public:
  explicit VectorEnumerator(std::vector<Variant> items)
      : items_(std::move(items)) {}
  HResult Next(Variant* item) override;
  HResult Reset() override;

 private:
  std::vector<Variant> items_;
  std::size_t next_ = 0;
};

// Member tables: the usual way a host object maps names to ids. Each entry
// is a name (ASCII, compared without case) and its dispatch id.
struct MemberName {
  std::u16string_view name;
  DispId id;
};

// Looks `name` up in `table` without regard to ASCII case. Returns S_OK and
// sets *id, or DISP_E_UNKNOWNNAME.
HResult LookupMember(std::span<const MemberName> table, std::u16string_view name,
                     DispId* id);

// Compares two names without regard to ASCII case (the rule for keywords,
// built-ins and member names).
bool EqualsIgnoreAsciiCase(std::u16string_view a, std::u16string_view b);

// Fills `excep` (if non-null) with a script-style error: scode
// ScriptErrorCode(number), the given description and source; returns
// DISP_E_EXCEPTION, so `return RaiseException(excep, 5, u"...")` reports it.
HResult RaiseException(ExcepInfo* excep, int number,
                       std::u16string_view description,
                       std::u16string_view source = {});

}  // namespace lun

#endif  // LUN_AUTOMATION_DISPATCH_H_
