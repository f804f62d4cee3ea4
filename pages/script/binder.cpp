#include "pages/script/binder.h"

#include "pages/script/builtins.h"

namespace lun::script {

Binder::Binder(GlobalNames* globals, const std::vector<NamedItem>* items, bool option_explicit)
    : globals_(globals), items_(items), option_explicit_(option_explicit) {}

bool Binder::KnownAtScriptLevel(const std::u16string& f) const {
  Variant ignored;
  if (globals_->variables.count(f) || globals_->consts.count(f) || globals_->procedures.count(f) ||
      globals_->classes.count(f)) {
    return true;
  }
  if (FindBuiltinConstant(f, &ignored) || FindBuiltin(f) >= 0) return true;
  for (const auto& item : *items_) {
    if (item.folded == f) return true;
  }
  return false;
}

int Binder::GlobalSlot(const std::u16string& folded) {
  auto [it, added] = globals_->variables.emplace(folded, globals_->count);
  if (added) ++globals_->count;
  return it->second;
}

void Binder::BindProgram(Program& program, const Procedure* context, const ClassDef* owner) {
  Procedure& top = program.script;
  if (!program.classes.empty() || program.dynamic_code) globals_->script_objects = true;
  // A script-level name declared again by later code (ExecuteGlobal) keeps
  // its slot; the arrays the script level creates go to their global slot.
  for (auto& init : top.arrays) init.slot = GlobalSlot(top.local_names[init.slot]);
  for (const auto& f : top.local_names) GlobalSlot(f);
  for (const auto& [name, value] : top.consts) globals_->consts[name] = value;
  for (const auto& p : program.procedures) globals_->procedures[p->folded] = p.get();
  for (const auto& c : program.classes) globals_->classes[c->folded] = c.get();
  // Implicit globals: names the script level assigns without declaring
  // them (refused under Option Explicit, except through ReDim).
  auto add_global = [&](const std::u16string& f) {
    if (KnownAtScriptLevel(f)) return;
    GlobalSlot(f);
  };
  if (!option_explicit_) {
    for (const auto& f : top.assigned_names) add_global(f);
  }
  for (const auto& f : top.redim_names) add_global(f);
  BindBlock(top.body, ContextScope(context, owner));
  for (auto& p : program.procedures) BindScope(*p, nullptr);
  for (auto& c : program.classes) {
    for (auto& m : c->methods) BindScope(*m, c.get());
  }
}

Binder::Scope Binder::ContextScope(const Procedure* context, const ClassDef* owner) {
  Scope scope;
  scope.owner = owner;
  scope.proc = context;
  if (context) {
    for (int i = 0; i < static_cast<int>(context->local_names.size()); ++i) {
      scope.locals.emplace(context->local_names[i], i);
    }
    for (const auto& [name, value] : context->consts) scope.consts.emplace(name, value);
  }
  return scope;
}

void Binder::BindExpression(Expr& e, const Procedure* context, const ClassDef* owner) {
  BindExpr(&e, ContextScope(context, owner));
}

void Binder::BindScope(Procedure& proc, const ClassDef* owner) {
  Scope scope = ContextScope(&proc, owner);
  // An undeclared name assigned in a procedure is local unless a
  // script-level name (or a member of its class) of that spelling exists.
  auto add_local = [&](const std::u16string& f) {
    if (scope.locals.count(f) || scope.consts.count(f) || KnownAtScriptLevel(f) ||
        (owner && owner->FindMember(f) >= 0)) {
      return;
    }
    scope.locals.emplace(f, static_cast<int>(proc.local_names.size()));
    proc.local_names.push_back(f);
  };
  if (!option_explicit_) {
    for (const auto& f : proc.assigned_names) add_local(f);
  }
  for (const auto& f : proc.redim_names) add_local(f);
  BindBlock(proc.body, scope);
}

void Binder::BindBlock(Block& block, const Scope& scope) {
  for (auto& s : block) BindStmt(*s, scope);
}

void Binder::BindStmt(Stmt& s, const Scope& scope) {
  BindExpr(s.target.get(), scope);
  BindExpr(s.value.get(), scope);
  BindExpr(s.end.get(), scope);
  BindExpr(s.step.get(), scope);
  BindExpr(s.condition.get(), scope);
  for (auto& item : s.items) {
    BindExpr(item.target.get(), scope);
    for (auto& b : item.bounds) BindExpr(b.get(), scope);
  }
  for (auto& arm : s.arms) {
    BindExpr(arm.condition.get(), scope);
    BindBlock(arm.body, scope);
  }
  for (auto& c : s.cases) {
    for (auto& v : c.values) BindExpr(v.get(), scope);
    BindBlock(c.body, scope);
  }
  BindBlock(s.body, scope);
}

// Names whose evaluation may run script code (and so change variables).
bool Binder::CallsCode(BindKind kind) const {
  switch (kind) {
    case BindKind::kProcedure:
    case BindKind::kMethod:
      return true;
    case BindKind::kConst:
    case BindKind::kUndefined:
    case BindKind::kUnbound:
    case BindKind::kNamedItem:
    case BindKind::kGlobalMember:
      return false;
    default:
      // A variable may hold a class instance whose default member runs
      // script code, and a built-in may be Eval or Execute.
      return globals_->script_objects;
  }
}

void Binder::BindExpr(Expr* e, const Scope& scope) {
  if (!e) return;
  if (e->kind == ExprKind::kName) {
    Resolve(*e, scope);
    e->calls_procedure = CallsCode(e->binding.kind);
    return;
  }
  if (e->kind == ExprKind::kNew) {
    auto it = globals_->classes.find(e->folded);
    e->binding.class_def = it == globals_->classes.end() ? nullptr : it->second;
    e->calls_procedure = true;  // Class_Initialize
    return;
  }
  if (e->kind == ExprKind::kCall && e->left && e->left->kind == ExprKind::kName && scope.proc &&
      scope.proc->is_function && e->left->folded == scope.proc->folded) {
    // Inside F, "F(x)" is a recursive call while a bare "F" is the return
    // variable.
    if (scope.owner) {
      e->left->binding.kind = BindKind::kMethod;
      e->left->binding.slot = scope.owner->FindMember(scope.proc->folded);
    } else {
      e->left->binding.kind = BindKind::kProcedure;
      e->left->binding.procedure = scope.proc;
    }
  } else {
    BindExpr(e->left.get(), scope);
  }
  BindExpr(e->right.get(), scope);
  for (auto& a : e->args) BindExpr(a.get(), scope);
  if (e->kind == ExprKind::kUnary && e->left) e->literal = e->left->literal;
  e->calls_procedure = (e->left && e->left->calls_procedure) ||
                       (e->left && CallsCode(e->left->binding.kind)) ||
                       // a member of a script class instance runs its code
                       e->kind == ExprKind::kMember || (e->right && e->right->calls_procedure);
  for (const auto& a : e->args) {
    if (a && a->calls_procedure) e->calls_procedure = true;
  }
}

// Look-up order: local -> script level (variable, constant, procedure) ->
// built-in constant or function -> named item -> member of a
// global-members item -> undefined.
void Binder::Resolve(Expr& e, const Scope& scope) {
  Binding& b = e.binding;
  const std::u16string& f = e.folded;
  if (scope.proc) {
    if (auto it = scope.locals.find(f); it != scope.locals.end()) {
      b.kind = BindKind::kLocal;
      b.slot = it->second;
      return;
    }
    if (auto it = scope.consts.find(f); it != scope.consts.end()) {
      b.kind = BindKind::kConst;
      b.constant = it->second;
      e.literal = true;
      return;
    }
  }
  if (scope.owner) {
    if (int m = scope.owner->FindMember(f); m >= 0) {
      const ClassMember& member = scope.owner->members[m];
      b.kind = member.field >= 0 ? BindKind::kField : BindKind::kMethod;
      b.slot = member.field >= 0 ? member.field : m;
      return;
    }
  }
  if (auto it = globals_->variables.find(f); it != globals_->variables.end()) {
    b.kind = BindKind::kGlobal;
    b.slot = it->second;
    return;
  }
  if (auto it = globals_->consts.find(f); it != globals_->consts.end()) {
    b.kind = BindKind::kConst;
    b.constant = it->second;
    e.literal = true;
    return;
  }
  if (globals_->classes.count(f)) {
    // A class name used as a value: nothing (New takes the class).
    b.kind = BindKind::kUndefined;
    return;
  }
  if (auto it = globals_->procedures.find(f); it != globals_->procedures.end()) {
    b.kind = BindKind::kProcedure;
    b.procedure = it->second;
    return;
  }
  if (FindBuiltinConstant(f, &b.constant)) {
    b.kind = BindKind::kConst;
    e.literal = true;
    return;
  }
  if (int index = FindBuiltin(f); index >= 0) {
    b.kind = BindKind::kBuiltin;
    b.slot = index;
    return;
  }
  for (int i = 0; i < static_cast<int>(items_->size()); ++i) {
    if ((*items_)[i].folded == f) {
      b.kind = BindKind::kNamedItem;
      b.slot = i;
      return;
    }
  }
  for (int i = 0; i < static_cast<int>(items_->size()); ++i) {
    DispId id = 0;
    if ((*items_)[i].global_members && (*items_)[i].object->GetIdOfName(e.name, &id) == S_OK) {
      b.kind = BindKind::kGlobalMember;
      b.slot = i;
      b.member_id = id;
      return;
    }
  }
  b.kind = BindKind::kUndefined;
}

}  // namespace lun::script
