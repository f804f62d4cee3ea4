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
  // Some code defines classes or names Eval/Execute/ExecuteGlobal/GetRef:
  // reading a variable may then run script code (a default member).
  bool script_objects = false;
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
  // Code run by Execute binds its script level in `context` (the running
  // procedure, with the class `owner` of a method): its names come first.
  // Null: the script level (ExecuteGlobal, or the script itself).
  void BindProgram(Program& program, const Procedure* context = nullptr,
                   const ClassDef* owner = nullptr);

  // Binds the expression of Eval in `context` as above.
  void BindExpression(Expr& e, const Procedure* context, const ClassDef* owner);

 private:
  struct Scope {
    const ClassDef* owner = nullptr;  // class of a method
    const Procedure* proc = nullptr;  // null at script level
    std::unordered_map<std::u16string, int> locals;
    std::unordered_map<std::u16string, Variant> consts;
  };
  static Scope ContextScope(const Procedure* context, const ClassDef* owner);
  void BindScope(Procedure& proc, const ClassDef* owner);
  int GlobalSlot(const std::u16string& folded);
  bool CallsCode(BindKind kind) const;
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
