#include "pages/script/binder.h"

#include "pages/script/builtins.h"

namespace lun::script {

Binder::Binder(GlobalNames* globals, const std::vector<NamedItem>* items, bool option_explicit)
    : globals_(globals), items_(items), option_explicit_(option_explicit) {}

bool Binder::KnownAtScriptLevel(const std::u16string& f) const {
  Variant ignored;
  if (globals_->variables.count(f) || globals_->consts.count(f) || globals_->procedures.count(f)) {
    return true;
  }
  if (FindBuiltinConstant(f, &ignored) || FindBuiltin(f) >= 0) return true;
  for (const auto& item : *items_) {
    if (item.folded == f) return true;
  }
  return false;
}

void Binder::BindProgram(Program& program) {
  Procedure& top = program.script;
  for (int i = 0; i < static_cast<int>(top.local_names.size()); ++i) {
    globals_->variables.emplace(top.local_names[i], i);
  }
  for (const auto& [name, value] : top.consts) globals_->consts.emplace(name, value);
  for (const auto& p : program.procedures) globals_->procedures.emplace(p->folded, p.get());
  // Implicit globals: names the script level assigns without declaring
  // them (refused under Option Explicit, except through ReDim).
  auto add_global = [&](const std::u16string& f) {
    if (KnownAtScriptLevel(f)) return;
    globals_->variables.emplace(f, static_cast<int>(top.local_names.size()));
    top.local_names.push_back(f);
  };
  if (!option_explicit_) {
    for (const auto& f : top.assigned_names) add_global(f);
  }
  for (const auto& f : top.redim_names) add_global(f);
  BindScope(top, true);
  for (auto& p : program.procedures) BindScope(*p, false);
}

void Binder::BindScope(Procedure& proc, bool top) {
  Scope scope;
  if (!top) {
    scope.proc = &proc;
    for (int i = 0; i < static_cast<int>(proc.local_names.size()); ++i) {
      scope.locals.emplace(proc.local_names[i], i);
    }
    for (const auto& [name, value] : proc.consts) scope.consts.emplace(name, value);
    // An undeclared name assigned in a procedure is local unless a
    // script-level name of that spelling exists.
    auto add_local = [&](const std::u16string& f) {
      if (scope.locals.count(f) || scope.consts.count(f) || KnownAtScriptLevel(f)) return;
      scope.locals.emplace(f, static_cast<int>(proc.local_names.size()));
      proc.local_names.push_back(f);
    };
    if (!option_explicit_) {
      for (const auto& f : proc.assigned_names) add_local(f);
    }
    for (const auto& f : proc.redim_names) add_local(f);
  }
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

void Binder::BindExpr(Expr* e, const Scope& scope) {
  if (!e) return;
  if (e->kind == ExprKind::kName) {
    Resolve(*e, scope);
    e->calls_procedure = e->binding.kind == BindKind::kProcedure;
    return;
  }
  if (e->kind == ExprKind::kCall && e->left && e->left->kind == ExprKind::kName && scope.proc &&
      scope.proc->is_function && e->left->folded == scope.proc->folded) {
    // Inside F, "F(x)" is a recursive call while a bare "F" is the return
    // variable.
    e->left->binding.kind = BindKind::kProcedure;
    e->left->binding.procedure = scope.proc;
  } else {
    BindExpr(e->left.get(), scope);
  }
  BindExpr(e->right.get(), scope);
  for (auto& a : e->args) BindExpr(a.get(), scope);
  if (e->kind == ExprKind::kUnary && e->left) e->literal = e->left->literal;
  e->calls_procedure = (e->left && e->left->calls_procedure) ||
                       (e->left && e->left->binding.kind == BindKind::kProcedure) ||
                       (e->right && e->right->calls_procedure);
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
