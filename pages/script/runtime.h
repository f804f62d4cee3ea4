// Run-time values and operators of the interpreter: the error unwind, the
// conversions the language applies (to number, string, Boolean), and the
// operators with their result-type rules. Internal to pages/script.
//
// Every function here reports a script error by throwing ScriptThrow; the
// interpreter catches it at statement level (On Error Resume Next) and
// ScriptEngine::Run turns an unhandled one into the error report. Nothing
// else throws it.
#ifndef LUN_PAGES_SCRIPT_RUNTIME_H_
#define LUN_PAGES_SCRIPT_RUNTIME_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "automation/dispatch.h"
#include "automation/variant.h"
#include "pages/script/ast.h"

namespace lun::script {

struct ScriptThrow {
  int number = 0;              // Err.Number
  HResult hresult = 0;         // reported HRESULT
  std::u16string description;  // Err.Description: the standard text
  // The name the error concerns ("CInt"); the host's report adds it to
  // the description ("Type mismatch: 'CInt'"), Err.Description does not.
  std::u16string name;
  std::u16string source;
  // Set by a run-time limit: not catchable by On Error Resume Next.
  bool abort = false;
  // Filled by the innermost statement the error passes.
  int line = -1;
  int column = 0;
};

// Run-time error `number` with its standard text, concerning `name`.
ScriptThrow ErrorOf(int number, std::u16string_view name = {});
// Raises ErrorOf(number, name).
[[noreturn]] void Throw(int number, std::u16string_view name = {});
// Raises the script error that a failed Invoke or ChangeType maps to.
[[noreturn]] void ThrowHr(HResult hr, const ExcepInfo* excep, std::u16string_view name = {});

// Largest string any operation may build (error 14 beyond it).
void SetMaxStringLength(std::size_t units);
std::size_t MaxStringLength();
void CheckStringLength(std::size_t units);

// An object to its default value (dispatch id 0, repeatedly); Nothing is
// error 91 "Object variable not set". Non-objects are returned unchanged.
Variant Reduce(const Variant& v);
// Like Reduce without copying a non-object: returns `v` itself, or the
// default value stored in *scratch.
const Variant& ReduceRef(const Variant& v, Variant* scratch);

// Conversions with the language's errors: 13 type mismatch, 6 overflow,
// 94 for Null.
// ChangeType to `to` (objects reduced first; Null 94, failure 13,
// out of range 6).
Variant ConvertValue(const Variant& v, VarType to);
double ToDouble(const Variant& v);
std::int32_t ToLong(const Variant& v);     // CLng rules
std::int16_t ToInteger(const Variant& v);  // CInt rules
std::u16string ToStr(const Variant& v);    // CStr rules
bool ToBool(const Variant& v);             // CBool rules
double ToDate(const Variant& v);           // CDate rules
// Condition of If/While/Until: Null counts as False.
bool ToCondition(const Variant& v);

// Operators. Null propagation and result types follow the language rules.
Variant Arith(Op op, const Variant& a, const Variant& b);
Variant Negate(const Variant& a);
Variant Concat(const Variant& a, const Variant& b);
// Comparison; `*_literal` tells whether each operand was written as a
// literal (or constant), which decides string/number conversion. Returns
// Bool or Null.
Variant Compare(Op op, const Variant& a, bool a_literal, const Variant& b, bool b_literal);
Variant IsSame(const Variant& a, const Variant& b);
Variant Logical(Op op, const Variant& a, const Variant& b);
Variant LogicalNot(const Variant& a);

// TypeName and VarType of a value.
std::u16string TypeNameOf(const Variant& v);
int VarTypeOf(const Variant& v);

// Array helpers. Index conversion rounds (banker's) and range-checks.
std::int64_t ToIndex(const Variant& v);

}  // namespace lun::script

#endif  // LUN_PAGES_SCRIPT_RUNTIME_H_
