// The name binder: decides once, after parsing, where every name of a
// script lives (a local or global slot, a constant, a procedure, a
// built-in, a host item or one of its members), so that the interpreter
// never looks a name up while it runs. Internal to pages/script.
//
// Look-up order: local -> script level (variable, constant, procedure) ->
// built-in constant or function -> named item -> member of a
// global-members item -> undefined.
//
// Implicit variables: a name the script level assigns without declaring it
// becomes a global; an undeclared name assigned in a procedure is a global
// if the script level knows that name, else a local of the procedure.
// Under Option Explicit only ReDim declares implicitly.
#ifndef LUN_PAGES_SCRIPT_BINDER_H_
#define LUN_PAGES_SCRIPT_BINDER_H_

#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "automation/dispatch.h"
#include "pages/script/ast.h"

namespace lun::script {

// A host object published under a name (AddNamedItem).
struct NamedItem {
  std::u16string folded;
  std::shared_ptr<Dispatch> object;
  bool global_members = false;
};

// The names the script level declares: global variable slots, constants
// and procedures, by folded name.
struct GlobalNames {
  std::unordered_map<std::u16string, int> variables;  // global slot
  int count = 0;                                      // slots in use
  std::unordered_map<std::u16string, Variant> consts;
  std::unordered_map<std::u16string, const Procedure*> procedures;
  std::unordered_map<std::u16string, const ClassDef*> classes;
};

class Binder {
 public:
  // `globals` and `items` must outlive the binder.
  Binder(GlobalNames* globals, const std::vector<NamedItem>* items, bool option_explicit);

  // Adds the program's script-level names to the globals (appending the
  // implicit globals to program.script.local_names) and binds every name
  // in the script level and in each procedure.
  // The script level's names get global slots in the order met; a name
  // already global keeps its slot. ArrayInit slots of program.script are
  // rewritten to global slots.
  void BindProgram(Program& program);

  // Binds code that runs inside an existing activation (Execute, Eval):
  // the names of `proc` (null: the script level) and of its class come
  // first. `code` must declare nothing.
  void BindLocalCode(Procedure& code, const Procedure* proc, const ClassDef* owner);

 private:
  struct Scope {
    const ClassDef* owner = nullptr;  // class of a method
    const Procedure* proc = nullptr;  // null at script level
    std::unordered_map<std::u16string, int> locals;
    std::unordered_map<std::u16string, Variant> consts;
  };
  void BindScope(Procedure& proc, const ClassDef* owner, bool top);
  int GlobalSlot(const std::u16string& folded);
  static bool CallsCode(BindKind kind);
  void BindBlock(Block& block, const Scope& scope);
  void BindStmt(Stmt& s, const Scope& scope);
  void BindExpr(Expr* e, const Scope& scope);
  void Resolve(Expr& e, const Scope& scope);
  bool KnownAtScriptLevel(const std::u16string& folded) const;

  GlobalNames* globals_;
  const std::vector<NamedItem>* items_;
  bool option_explicit_;
};

}  // namespace lun::script

#endif  // LUN_PAGES_SCRIPT_BINDER_H_
