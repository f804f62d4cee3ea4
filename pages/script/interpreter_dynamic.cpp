// The interpreter's side of code that comes to life at run time: Eval,
// Execute, ExecuteGlobal and GetRef.
//
// Decisions where the platform leaves room or differs by design:
//   - Execute runs its text in the running scope: the procedure's locals
//     and its class's members are visible; names the text declares or
//     assigns without a declaration become globals (the platform makes
//     them locals that only later Execute text can see). ExecuteGlobal
//     runs at the script level. Procedures and classes either defines are
//     global for the rest of the run.
//   - The text runs under the page's limits: its statements count toward
//     the step limit, each Execute/Eval counts as a call toward the depth
//     limit, and it is parsed in the stack that is left.
//   - A compile error in the text is raised as a run-time error with the
//     compile error's number (1002 ...), at the statement that called.
//   - A run-time error inside the text is reported at the calling
//     statement's line: the text has no line of the page.
//   - A name the script could not bind when it was parsed is looked up
//     again, at the script level, once Execute code has run: code that
//     ExecuteGlobal defines is callable from the page.
#include "pages/script/interpreter.h"
#include "pages/script/script_errors.h"

namespace lun::script {

ParseLimits Interpreter::RunTimeParseLimits() {
  char here;
  std::ptrdiff_t used = stack_base_ - &here;
  std::ptrdiff_t left = static_cast<std::ptrdiff_t>(limits.stack_bytes) - used;
  if (left < 64 * 1024) Throw(kErrOutOfStack);
  ParseLimits parse_limits;
  parse_limits.stack_bytes = static_cast<std::size_t>(left) / 2;
  return parse_limits;
}

void Interpreter::ThrowCompileError(const ParseError& error) {
  ScriptThrow t = ErrorOf(error.number);
  t.source = std::u16string(kCompileSource);
  throw t;
}

HResult Interpreter::ToException(const ScriptThrow& t, ExcepInfo* excep) {
  if (excep) {
    excep->wcode = 0;
    excep->scode = t.hresult;
    excep->description = t.description;
    excep->source = t.source;
  }
  return DISP_E_EXCEPTION;
}

namespace {

// Counts a piece of text code as one call toward the depth limit.
class DepthGuard {
 public:
  DepthGuard(int* depth, int max) : depth_(depth) {
    if (*depth_ >= max) Throw(kErrOutOfStack);
    ++*depth_;
  }
  ~DepthGuard() { --*depth_; }

 private:
  int* depth_;
};

// Errors from the text carry no line of the page: the calling statement
// gives its own.
template <typename F>
auto AtCallersLine(F f) {
  try {
    return f();
  } catch (ScriptThrow& t) {
    t.line = -1;
    throw;
  }
}

}  // namespace

Variant Interpreter::EvalText(std::u16string_view text) {
  CheckStack();
  DepthGuard depth(&depth_, limits.max_call_depth);
  ParseError error;
  ExprPtr e = ParseExpression(text, &error, RunTimeParseLimits());
  if (!e) ThrowCompileError(error);
  Binder(&globals_, &items, program->option_explicit)
      .BindExpression(*e, frame_->script_level ? nullptr : frame_->proc,
                      frame_->me ? &frame_->me->def() : nullptr);
  return AtCallersLine([&] { return Eval(*e); });
}

void Interpreter::ExecuteText(std::u16string_view text, bool global) {
  CheckStack();
  DepthGuard depth(&depth_, limits.max_call_depth);
  ParseError error;
  std::vector<std::size_t> line_starts;
  auto code = ParseProgram(text, &error, &line_starts, RunTimeParseLimits());
  if (!code) ThrowCompileError(error);
  const bool at_script_level = global || frame_->script_level;
  const Procedure* context = at_script_level ? nullptr : frame_->proc;
  const ClassDef* owner = at_script_level || !frame_->me ? nullptr : &frame_->me->def();
  Binder(&globals_, &items, program->option_explicit || code->option_explicit)
      .BindProgram(*code, context, owner);
  while (global_storage_.size() < static_cast<std::size_t>(globals_.count)) {
    global_storage_.emplace_back();
  }
  for (const auto& init : code->script.arrays) global_storage_[init.slot] = NewDimArray(init);
  const Block& body = code->script.body;
  executed_.push_back(std::move(code));
  AtCallersLine([&] {
    if (!global) {
      (void)ExecBlock(body);
      return 0;
    }
    // ExecuteGlobal from inside a procedure: its own script-level frame.
    Frame frame;
    frame.proc = &executed_.back()->script;
    frame.script_level = true;
    Frame* saved = frame_;
    struct Restore {
      Frame** frame;
      Frame* saved;
      ~Restore() { *frame = saved; }
    } restore{&frame_, saved};
    frame_ = &frame;
    (void)ExecBlock(body);
    return 0;
  });
}

bool Interpreter::LateBind(const Expr& e) {
  if (executed_.empty()) return false;
  Binding& b = e.binding;
  if (b.kind != BindKind::kUndefined && b.kind != BindKind::kUnbound) return false;
  if (auto it = globals_.variables.find(e.folded); it != globals_.variables.end()) {
    b.kind = BindKind::kGlobal;
    b.slot = it->second;
    return true;
  }
  if (auto it = globals_.procedures.find(e.folded); it != globals_.procedures.end()) {
    b.kind = BindKind::kProcedure;
    b.procedure = it->second;
    return true;
  }
  return false;
}

const ClassDef* Interpreter::LateClass(const Expr& e) {
  if (!e.binding.class_def && !executed_.empty()) {
    if (auto it = globals_.classes.find(e.folded); it != globals_.classes.end()) {
      e.binding.class_def = it->second;
    }
  }
  return e.binding.class_def;
}

std::shared_ptr<Dispatch> Interpreter::ProcedureReference(std::u16string_view name) {
  auto it = globals_.procedures.find(FoldName(name));
  if (it == globals_.procedures.end()) Throw(kErrInvalidCall, name);
  return std::make_shared<ProcedureRef>(it->second, class_link_);
}

HResult Interpreter::InvokeProcedure(const Procedure& proc, std::span<const Variant> args,
                                     Variant* result, ExcepInfo* excep) {
  if (!frame_) return E_UNEXPECTED;  // the script is not running
  try {
    Variant r = CallProcedureValues(proc, args, nullptr);
    if (result) *result = std::move(r);
    return S_OK;
  } catch (const ScriptThrow& t) {
    return ToException(t, excep);
  }
}

}  // namespace lun::script
