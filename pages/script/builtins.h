// Built-in functions and constants of the language. Internal to
// pages/script. Each function receives its arguments already evaluated
// (objects not reduced: IsObject and TypeName look at the object itself; a
// missing argument is Error(DISP_E_PARAMNOTFOUND)) and raises script errors
// through runtime.h.
#ifndef LUN_PAGES_SCRIPT_BUILTINS_H_
#define LUN_PAGES_SCRIPT_BUILTINS_H_

#include <cstdint>
#include <memory>
#include <span>
#include <string_view>

#include "automation/dispatch.h"
#include "automation/variant.h"

namespace lun::script {

// What built-ins need from the running interpreter.
class BuiltinHost {
 public:
  virtual ~BuiltinHost() = default;
  // Null when no factory is registered for the ProgID.
  virtual std::shared_ptr<Dispatch> CreateObject(std::u16string_view prog_id) = 0;
  virtual std::shared_ptr<Dispatch> ErrObject() = 0;
  virtual std::size_t MaxArrayElements() const = 0;
  // Eval, Execute / ExecuteGlobal and GetRef: code given as text, run in
  // the running scope (Eval, Execute) or at the script level.
  virtual Variant EvalText(std::u16string_view text) = 0;
  virtual void ExecuteText(std::u16string_view text, bool global) = 0;
  // Error 5 when no procedure has that name.
  virtual std::shared_ptr<Dispatch> ProcedureReference(std::u16string_view name) = 0;
  // State of Rnd / Randomize.
  std::uint32_t rnd_seed = 0x50000;
  float rnd_last = 0;
};

using BuiltinFn = Variant (*)(BuiltinHost& host, std::span<const Variant> args);

struct Builtin {
  std::u16string_view name;  // as written in documentation
  int min_args;
  int max_args;
  BuiltinFn fn;
};

// Index of a built-in function by folded (ASCII lower-case) name, or -1.
int FindBuiltin(std::u16string_view folded);
const Builtin& GetBuiltin(int index);

// Value of a built-in constant (vbCrLf ...) by folded name.
bool FindBuiltinConstant(std::u16string_view folded, Variant* value);

// Randomize statement: seeds from `seed`, or from Timer when `seed` is
// missing or Empty.
void RandomizeSeed(BuiltinHost& host, const Variant* seed);

}  // namespace lun::script

#endif  // LUN_PAGES_SCRIPT_BUILTINS_H_
