#include "pages/script/interpreter.h"

#include <chrono>

#include "automation/dictionary.h"
#include "pages/script/lexer.h"
#include "pages/script/parser.h"
#include "pages/script/regexp.h"
#include "pages/script/script_errors.h"

namespace lun::script {

Interpreter::Interpreter() {
  class_link_->runner = this;
  RegisterObject(u"Scripting.Dictionary", [this] {
    auto d = std::make_shared<Dictionary>();
    cycles_.Track(
        d,
        [](Dispatch& c, const CycleCollector::Visitor& visit) {
          static_cast<Dictionary&>(c).ForEachObject(visit);
        },
        [](Dispatch& c) { static_cast<Dictionary&>(c).RemoveAll(); });
    return d;
  });
  RegisterObject(u"VBScript.RegExp", [this] { return CreateRegExp(); });
}

Interpreter::~Interpreter() { Close(); }

std::shared_ptr<Dispatch> Interpreter::CreateRegExp() {
  RegExpLimits regexp_limits;
  regexp_limits.max_result_length = limits.max_string_length;
  // Copies: the object may outlive this run.
  const std::atomic<bool>* stop = limits.stop;
  const bool has_deadline = has_deadline_;
  const auto deadline = deadline_;
  regexp_limits.should_stop = [stop, has_deadline, deadline] {
    return (stop && stop->load(std::memory_order_relaxed)) ||
           (has_deadline && std::chrono::steady_clock::now() > deadline);
  };
  return NewRegExp(std::move(regexp_limits));
}

void Interpreter::Close() {
  // Class_Terminate runs only while the script runs (see ReleaseGlobals).
  class_link_->runner = nullptr;
  global_storage_.clear();
  global_frame_ = Frame();
  items.clear();
  program.reset();
  err_.reset();
  cycles_.Collect();
}

void Interpreter::ReleaseGlobals() {
  frame_ = &global_frame_;
  global_frame_.with_stack.clear();
  try {
    // One at a time, so that a terminating object can still see the
    // globals after it.
    for (auto& v : global_storage_) {
      Variant dropped = std::move(v);
      v = Variant();
    }
  } catch (...) {
    // Nothing of a terminating object's failure reaches the host.
  }
  frame_ = nullptr;
}

// ---------------------------------------------------------------- parse/run

bool Interpreter::Parse(std::u16string_view text) {
  if (program || ran) return false;
  source.assign(text);
  ParseError error;
  std::vector<std::size_t> line_starts;
  ParseLimits parse_limits;
  parse_limits.stack_bytes = limits.stack_bytes / 2;
  try {
    program = ParseProgram(source, &error, &line_starts, parse_limits);
  } catch (const std::bad_alloc&) {
    program.reset();
    error = {kCeOutOfMemory, 0, 0};
  }
  if (!program) {
    ScriptErrorInfo info;
    info.compile_error = true;
    info.line = error.line;
    info.column = error.column;
    info.number = error.number;
    info.hresult = ScriptErrorCode(error.number);
    info.source = std::u16string(kCompileSource);
    info.description = std::u16string(ErrorDescription(error.number));
    info.source_line = LineOf(source, line_starts, error.line);
    Report(info);
    return false;
  }
  Binder(&globals_, &items, program->option_explicit).BindProgram(*program);
  return true;
}

std::u16string Interpreter::SourceLine(int line) const {
  return LineOf(source, program->line_starts, line);
}

// The line ends at its first line break: after a lexer error the next
// line's start is not known.
std::u16string Interpreter::LineOf(std::u16string_view text,
                                   const std::vector<std::size_t>& line_starts, int line) {
  if (line < 0 || static_cast<std::size_t>(line) >= line_starts.size()) return {};
  const std::size_t b = line_starts[line];
  std::size_t e = text.find_first_of(u"\r\n", b);
  if (e == std::u16string_view::npos) e = text.size();
  return std::u16string(text.substr(b, e - b));
}

void Interpreter::Report(const ScriptErrorInfo& info) {
  if (has_error) return;  // each run reports once
  has_error = true;
  last_error = info;
  if (callback) callback(info);
}

void Interpreter::Report(const ScriptThrow& t) {
  ScriptErrorInfo info;
  info.line = t.line < 0 ? 0 : t.line;
  info.column = t.column;
  info.number = t.number;
  info.hresult = t.hresult;
  info.source = t.source;
  info.description = t.description;
  if (!t.name.empty()) info.description += u": '" + t.name + u"'";
  info.source_line = SourceLine(info.line);
  Report(info);
}

Variant Interpreter::NewDimArray(const ArrayInit& init) {
  std::shared_ptr<SafeArray> array;
  if (init.upper_bounds.empty()) {
    array = std::make_shared<SafeArray>(VT_VARIANT);
  } else {
    std::vector<SafeArray::Bound> bounds;
    for (auto ub : init.upper_bounds) bounds.push_back({0, ub + 1});
    array = SafeArray::Create(VT_VARIANT, bounds, limits.max_array_elements);
    if (!array) Throw(kErrOutOfMemory);
    array->set_fixed(true);
  }
  return Variant::Array(std::move(array));
}

bool Interpreter::Run() {
  if (!program || ran) return false;
  ran = true;
  SetMaxStringLength(limits.max_string_length);
  err_ = std::make_shared<ErrorObject>();
  char base;
  stack_base_ = &base;
  steps_ = 0;
  has_deadline_ = limits.time_budget.count() > 0;
  if (has_deadline_) deadline_ = std::chrono::steady_clock::now() + limits.time_budget;
  const Procedure& top = program->script;
  global_frame_.proc = &top;
  global_frame_.script_level = true;
  global_storage_.assign(globals_.count, Variant());
  frame_ = &global_frame_;
  try {
    for (const auto& init : top.arrays) global_storage_[init.slot] = NewDimArray(init);
    ExecBlock(top.body);
  } catch (const ScriptThrow& t) {
    Report(t);
  } catch (const std::bad_alloc&) {
    Report(ErrorOf(kErrOutOfMemory));
  } catch (const std::length_error&) {
    Report(ErrorOf(kErrOutOfStringSpace));
  } catch (...) {
    // A host object that threw: nothing may cross the engine's boundary.
    Report(ErrorOf(kErrInternal));
  }
  ReleaseGlobals();
  return !has_error;
}

// ---------------------------------------------------------------- limits

void Interpreter::Step() {
  if (aborted_) throw abort_;
  ++steps_;
  const char16_t* why = nullptr;
  if (limits.max_steps != 0 && steps_ > limits.max_steps) {
    why = u"Script stopped: it exceeded its step limit";
  } else if ((steps_ & 255) == 0) {
    if (limits.stop && limits.stop->load(std::memory_order_relaxed)) {
      why = u"Script stopped: the server is shutting down";
    } else if (has_deadline_ && std::chrono::steady_clock::now() > deadline_) {
      why = u"Script stopped: it exceeded its time limit";
    }
  }
  if (why) {
    ScriptThrow t;
    t.abort = true;
    t.number = static_cast<int>(E_ABORT);
    t.hresult = E_ABORT;
    t.description = why;
    t.source = std::u16string(kRuntimeSource);
    aborted_ = true;
    abort_ = t;
    throw t;
  }
}

void Interpreter::CheckStack() {
  char here;
  if (stack_base_ - &here > static_cast<std::ptrdiff_t>(limits.stack_bytes)) {
    Throw(kErrOutOfStack);
  }
}

void Interpreter::RecordErr(const ScriptThrow& t) { err_->Set(t.number, t.description, t.source); }

// ---------------------------------------------------------------- statements

Flow Interpreter::ExecBlock(const Block& block) {
  for (const auto& sp : block) {
    const Stmt& s = *sp;
    Flow flow;
    try {
      Step();
      flow = ExecStmt(s);
    } catch (ScriptThrow& t) {
      if (t.line < 0) {
        t.line = s.line;
        t.column = s.column;
      }
      if (t.abort || !frame_->resume_next) throw;
      RecordErr(t);
      continue;
    }
    if (flow != Flow::kNormal) return flow;
  }
  return Flow::kNormal;
}

template <typename F>
bool Interpreter::HeaderOk(const Stmt& s, int line, F f) {
  try {
    f();
    return true;
  } catch (ScriptThrow& t) {
    if (t.line < 0) {
      t.line = line;
      t.column = s.column;
    }
    if (t.abort || !frame_->resume_next) throw;
    RecordErr(t);
    return false;
  }
}

Flow Interpreter::ExecStmt(const Stmt& s) {
  switch (s.kind) {
    case StmtKind::kAssign:
      if (!AppendInPlace(s)) Assign(*s.target, Eval(*s.value), false);
      return Flow::kNormal;
    case StmtKind::kSet: {
      Variant v = Eval(*s.value);
      if (!v.is_object()) Throw(kErrObjectRequired);
      Assign(*s.target, std::move(v), true);
      return Flow::kNormal;
    }
    case StmtKind::kCall:
      ExecCallStatement(*s.target);
      return Flow::kNormal;
    case StmtKind::kReDim:
      ExecReDim(s);
      return Flow::kNormal;
    case StmtKind::kErase:
      ExecErase(s);
      return Flow::kNormal;
    case StmtKind::kIf:
      return ExecIf(s);
    case StmtKind::kSelect:
      return ExecSelect(s);
    case StmtKind::kFor:
      return ExecFor(s);
    case StmtKind::kForEach:
      return ExecForEach(s);
    case StmtKind::kDo:
      return ExecDo(s);
    case StmtKind::kWith:
      return ExecWith(s);
    case StmtKind::kExit:
      switch (s.exit_kind) {
        case ExitKind::kDo:
          return Flow::kExitDo;
        case ExitKind::kFor:
          return Flow::kExitFor;
        default:
          return Flow::kExitProc;
      }
    case StmtKind::kOnError:
      frame_->resume_next = s.resume_next;
      err_->Clear();
      return Flow::kNormal;
    case StmtKind::kRandomize: {
      if (s.value) {
        Variant seed = Reduce(Eval(*s.value));
        RandomizeSeed(*this, &seed);
      } else {
        RandomizeSeed(*this, nullptr);
      }
      return Flow::kNormal;
    }
    case StmtKind::kConst:
    case StmtKind::kDim:
    case StmtKind::kNothing:
      return Flow::kNormal;
  }
  return Flow::kNormal;
}

// "s = s & a & b" appends to s where it lies instead of copying s twice per
// statement; pages build their output this way, and the copies made such
// loops quadratic. Same result as the general path: s is a String, so the
// chain's value is s followed by the text of each operand (Null and Empty
// give ""). Only operands that call no script procedure qualify, so s
// cannot change while they are evaluated.
bool Interpreter::AppendInPlace(const Stmt& s) {
  const Expr& target = *s.target;
  const Expr* node = s.value.get();
  if (target.kind != ExprKind::kName || node->kind != ExprKind::kBinary ||
      node->op != Op::kConcat) {
    return false;
  }
  Variant* slot = VarSlot(target);
  if (!slot || !slot->is_string()) return false;
  std::vector<const Expr*> operands;
  while (node->kind == ExprKind::kBinary && node->op == Op::kConcat) {
    operands.push_back(node->right.get());
    node = node->left.get();
  }
  if (node->kind != ExprKind::kName || VarSlot(*node) != slot) return false;
  for (const Expr* e : operands) {
    if (e->calls_procedure) return false;
  }
  std::vector<Variant> values;
  values.reserve(operands.size());
  for (auto it = operands.rbegin(); it != operands.rend(); ++it) {
    values.push_back(Eval(**it));
  }
  std::u16string* text = slot->MutableString();
  for (const auto& x : values) {
    if (x.is_string()) {
      CheckStringLength(text->size() + x.AsString().size());
      text->append(x.AsString());
      continue;
    }
    Variant r = Reduce(x);
    if (r.is_null() || r.is_empty()) continue;
    std::u16string part = ToStr(r);
    CheckStringLength(text->size() + part.size());
    text->append(part);
  }
  return true;
}

Flow Interpreter::ExecIf(const Stmt& s) {
  for (const auto& arm : s.arms) {
    bool take = true;
    if (arm.condition) {
      // An error in the condition under On Error Resume Next continues
      // inside the construct: the arm runs.
      HeaderOk(s, arm.line, [&] { take = ToCondition(Eval(*arm.condition)); });
    }
    if (take) return ExecBlock(arm.body);
  }
  return Flow::kNormal;
}

Flow Interpreter::ExecSelect(const Stmt& s) {
  Variant test;
  if (!HeaderOk(s, s.line, [&] { test = Eval(*s.value); })) {
    return s.cases.empty() ? Flow::kNormal : ExecBlock(s.cases.front().body);
  }
  for (const auto& arm : s.cases) {
    if (arm.is_else) return ExecBlock(arm.body);
    for (const auto& v : arm.values) {
      Variant r = Compare(Op::kEq, test, s.value->literal, Eval(*v), v->literal);
      if (r.type() == VT_BOOL && r.AsBool()) return ExecBlock(arm.body);
    }
  }
  return Flow::kNormal;
}

Flow Interpreter::ExecFor(const Stmt& s) {
  Variant* counter = WritableSlot(*s.target);
  Variant start, end, step = Variant::I2(1);
  bool ok = HeaderOk(s, s.line, [&] {
    start = Reduce(Eval(*s.value));
    end = Reduce(Eval(*s.end));
    if (s.step) step = Reduce(Eval(*s.step));
    // Bounds must be numbers; check them once.
    (void)ToDouble(start);
    (void)ToDouble(end);
    (void)ToDouble(step);
    *counter = start;
  });
  if (!ok) {
    // The header failed under Resume Next: as on the platform, the loop
    // is skipped and its Next fails in turn, which leaves Err at 92.
    RecordErr(ErrorOf(kErrForNotInitialized));
    return Flow::kNormal;
  }
  const double end_value = ToDouble(end);
  const bool down = ToDouble(step) < 0;
  while (true) {
    Step();
    double c = ToDouble(*counter);
    if (down ? c < end_value : c > end_value) break;
    Flow f = ExecBlock(s.body);
    if (f == Flow::kExitFor) break;
    if (f != Flow::kNormal) return f;
    *counter = Arith(Op::kAdd, *counter, step);
  }
  return Flow::kNormal;
}

Flow Interpreter::ExecForEach(const Stmt& s) {
  Variant* var = WritableSlot(*s.target);
  Variant group;
  if (!HeaderOk(s, s.line, [&] { group = Eval(*s.value); })) {
    Flow f = ExecBlock(s.body);
    return f == Flow::kExitFor ? Flow::kNormal : f;
  }
  if (group.is_array()) {
    // The loop walks a snapshot: the copy shares storage until someone
    // writes, so changing the array in the body cannot disturb the walk.
    const auto array = group.AsArray();  // NOLINT(performance-unnecessary-copy-initialization)
    for (std::size_t i = 0; array && i < array->size(); ++i) {
      Step();
      *var = array->Get(i);
      Flow f = ExecBlock(s.body);
      if (f == Flow::kExitFor) break;
      if (f != Flow::kNormal) return f;
    }
    return Flow::kNormal;
  }
  if (!group.is_object() || !group.AsObject()) Throw(kErrNotCollection);
  std::shared_ptr<Enumerator> e;
  if (group.AsObject()->NewEnum(&e) != S_OK || !e) Throw(kErrNotCollection);
  while (true) {
    Variant item;
    Step();
    HResult hr = e->Next(&item);
    if (hr != S_OK) break;
    *var = std::move(item);
    Flow f = ExecBlock(s.body);
    if (f == Flow::kExitFor) break;
    if (f != Flow::kNormal) return f;
  }
  return Flow::kNormal;
}

Flow Interpreter::ExecDo(const Stmt& s) {
  auto keep_going = [&]() {
    bool c = true;
    if (!HeaderOk(s, s.line, [&] { c = ToCondition(Eval(*s.condition)); })) {
      // Resumed from a failed condition: the body runs after a "Do While"
      // header, and a "Loop While" leaves the loop (going round again
      // would never end).
      return !s.condition_at_end;
    }
    return s.until ? !c : c;
  };
  while (true) {
    Step();  // every pass counts, so an empty endless loop still stops
    if (s.condition && !s.condition_at_end && !keep_going()) break;
    Flow f = ExecBlock(s.body);
    if (f == Flow::kExitDo && !s.wend) break;
    if (f != Flow::kNormal) return f;
    if (s.condition && s.condition_at_end && !keep_going()) break;
  }
  return Flow::kNormal;
}

Flow Interpreter::ExecWith(const Stmt& s) {
  Variant object = Eval(*s.value);
  if (!object.is_object()) Throw(kErrObjectRequired);
  frame_->with_stack.push_back(std::move(object));
  struct Pop {
    Frame* f;
    ~Pop() { f->with_stack.pop_back(); }
  } pop{frame_};
  return ExecBlock(s.body);
}

void Interpreter::ExecCallStatement(const Expr& t) {
  switch (t.kind) {
    case ExprKind::kName:
      switch (t.binding.kind) {
        case BindKind::kProcedure: {
          static const std::vector<ExprPtr> kNoArgs;
          CallProcedure(*t.binding.procedure, kNoArgs);
          return;
        }
        case BindKind::kBuiltin:
        case BindKind::kGlobalMember:
        case BindKind::kMethod:
          (void)EvalName(t);
          return;
        case BindKind::kNamedItem:
          (void)Invoke(items[t.binding.slot].object, DISPID_VALUE,
                       DISPATCH_METHOD | DISPATCH_PROPERTYGET, {}, t.name);
          return;
        case BindKind::kUndefined:
          if (LateBind(t)) return ExecCallStatement(t);
          Throw(program->option_explicit ? kErrUndefined : kErrTypeMismatch, t.name);
        default: {
          Variant v = EvalName(t);
          if (!v.is_object()) Throw(kErrTypeMismatch, t.name);
          (void)Apply(v, {}, t.name);
          return;
        }
      }
    case ExprKind::kMember:
      (void)Eval(t);
      return;
    case ExprKind::kCall:
      (void)EvalCall(t);
      return;
    default:
      (void)Eval(t);
      return;
  }
}

void Interpreter::ExecReDim(const Stmt& s) {
  for (const auto& item : s.items) {
    Variant* slot = WritableSlot(*item.target);
    std::vector<SafeArray::Bound> bounds;
    std::size_t total = 1;
    for (const auto& b : item.bounds) {
      std::int64_t ub = ToIndex(Eval(*b));
      if (ub < -1) Throw(kErrSubscript, item.target->name);
      bounds.push_back({0, ub + 1});
      std::size_t count = static_cast<std::size_t>(ub + 1);
      if (count != 0 && total > limits.max_array_elements / count) Throw(kErrOutOfMemory);
      total *= count;
    }
    if (slot->is_array()) {
      if (slot->AsArray()->fixed()) Throw(kErrFixedArray, item.target->name);
      if (s.preserve && slot->AsArray()->dimensions() > 0) {
        HResult hr = slot->MutableArray()->Redim(bounds, true, limits.max_array_elements);
        if (hr == E_OUTOFMEMORY) Throw(kErrOutOfMemory);
        if (hr != S_OK) Throw(kErrSubscript, item.target->name);
        continue;
      }
    }
    auto array = SafeArray::Create(VT_VARIANT, bounds, limits.max_array_elements);
    if (!array) Throw(kErrOutOfMemory);
    *slot = Variant::Array(std::move(array));
  }
}

void Interpreter::ExecErase(const Stmt& s) {
  for (const auto& item : s.items) {
    Variant* slot = WritableSlot(*item.target);
    if (!slot->is_array()) Throw(kErrTypeMismatch, item.target->name);
    SafeArray* array = slot->MutableArray();
    if (array->fixed()) {
      array->ResetElements();
    } else {
      array->Clear();
    }
  }
}

// ---------------------------------------------------------------- expressions

Variant Interpreter::Eval(const Expr& e) {
  switch (e.kind) {
    case ExprKind::kLiteral:
      return e.value;
    case ExprKind::kName:
      return EvalName(e);
    case ExprKind::kMember: {
      auto obj = EvalObject(e.left.get(), e.name);
      if (ClassInstance* instance = AsInstance(obj)) {
        static const std::vector<ExprPtr> kNoArgs;
        return CallInstanceMember(*instance, InstanceMember(*instance, e), kNoArgs);
      }
      return CallMember(obj, MemberId(obj, e), {}, e.name);
    }
    case ExprKind::kCall:
      return EvalCall(e);
    case ExprKind::kUnary: {
      CheckStack();
      Variant v = Eval(*e.left);
      if (e.op == Op::kNeg) return Negate(v);
      if (e.op == Op::kNot) return LogicalNot(v);
      return Reduce(v);
    }
    case ExprKind::kBinary: {
      CheckStack();
      Variant a = Eval(*e.left);
      Variant b = Eval(*e.right);
      switch (e.op) {
        case Op::kConcat:
          return Concat(a, b);
        case Op::kEq:
        case Op::kNe:
        case Op::kLt:
        case Op::kGt:
        case Op::kLe:
        case Op::kGe:
          return Compare(e.op, a, e.left->literal, b, e.right->literal);
        case Op::kIs:
          return IsSame(a, b);
        case Op::kAnd:
        case Op::kOr:
        case Op::kXor:
        case Op::kEqv:
        case Op::kImp:
          return Logical(e.op, a, b);
        default:
          return Arith(e.op, a, b);
      }
    }
    case ExprKind::kNew:
      return NewInstance(e);
    case ExprKind::kMe:
      if (!frame_->me) Throw(kErrObjectRequired, u"Me");
      return Variant::Object(frame_->me->shared_from_this());
  }
  return Variant();
}

Variant* Interpreter::VarSlot(const Expr& name) {
  if (name.binding.kind == BindKind::kLocal) return frame_->slots[name.binding.slot];
  if (name.binding.kind == BindKind::kGlobal) {
    return &global_storage_[name.binding.slot];
  }
  if (name.binding.kind == BindKind::kField) return &frame_->me->fields()[name.binding.slot];
  return nullptr;
}

Variant* Interpreter::WritableSlot(const Expr& name) {
  if (Variant* slot = VarSlot(name)) return slot;
  if (LateBind(name)) return WritableSlot(name);
  if (name.binding.kind == BindKind::kUndefined) Throw(kErrUndefined, name.name);
  Throw(kErrIllegalAssignment, name.name);
}

Variant Interpreter::EvalName(const Expr& e) {
  const Binding& b = e.binding;
  switch (b.kind) {
    case BindKind::kLocal:
      return *frame_->slots[b.slot];
    case BindKind::kGlobal:
      return global_storage_[b.slot];
    case BindKind::kField:
      return frame_->me->fields()[b.slot];
    case BindKind::kMethod: {
      static const std::vector<ExprPtr> kNoArgs;
      return CallInstanceMember(*frame_->me, b.slot, kNoArgs);
    }
    case BindKind::kConst:
      return b.constant;
    case BindKind::kProcedure: {
      static const std::vector<ExprPtr> kNoArgs;
      return CallProcedure(*b.procedure, kNoArgs);
    }
    case BindKind::kBuiltin: {
      static const std::vector<ExprPtr> kNoArgs;
      return CallBuiltin(b.slot, kNoArgs);
    }
    case BindKind::kNamedItem:
      return Variant::Object(items[b.slot].object);
    case BindKind::kGlobalMember:
      return CallMember(items[b.slot].object, b.member_id, {}, e.name);
    case BindKind::kUndefined:
    case BindKind::kUnbound:
      if (LateBind(e)) return EvalName(e);
      if (program->option_explicit) Throw(kErrUndefined, e.name);
      return Variant();
  }
  return Variant();
}

std::shared_ptr<Dispatch> Interpreter::EvalObject(const Expr* e, std::u16string_view name) {
  Variant v;
  if (!e) {
    if (frame_->with_stack.empty()) Throw(kErrUnqualified, name);
    v = frame_->with_stack.back();
  } else {
    v = Eval(*e);
  }
  if (!v.is_object() || !v.AsObject()) {
    Throw(kErrObjectRequired, e && !e->name.empty() ? std::u16string_view(e->name) : name);
  }
  return v.AsObject();
}

DispId Interpreter::MemberId(const std::shared_ptr<Dispatch>& obj, const Expr& member) {
  DispId id = 0;
  if (obj->GetIdOfName(member.name, &id) != S_OK) Throw(kErrNoMember, member.name);
  return id;
}

std::vector<Variant> Interpreter::EvalArgs(const std::vector<ExprPtr>& args) {
  std::vector<Variant> out;
  out.reserve(args.size());
  for (const auto& a : args) {
    out.push_back(a ? Eval(*a) : Variant::Error(DISP_E_PARAMNOTFOUND));
  }
  return out;
}

Variant Interpreter::Invoke(const std::shared_ptr<Dispatch>& obj, DispId id, std::uint16_t flags,
                            std::span<const Variant> args, std::u16string_view name) {
  if (!obj) Throw(kErrObjectRequired, name);
  Variant result;
  ExcepInfo excep;
  HResult hr = obj->Invoke(id, flags, args, &result, &excep);
  if (Failed(hr)) ThrowHr(hr, &excep, name);
  return result;
}

// One Invoke of the member with the arguments; a member that takes no
// arguments gets them forwarded to its result (index or default member).
Variant Interpreter::CallMember(const std::shared_ptr<Dispatch>& obj, DispId id,
                                std::vector<Variant> args, std::u16string_view name) {
  Variant result;
  ExcepInfo excep;
  HResult hr = obj->Invoke(id, DISPATCH_METHOD | DISPATCH_PROPERTYGET, args, &result, &excep);
  if (hr == DISP_E_BADPARAMCOUNT && !args.empty()) {
    Variant first;
    ExcepInfo excep2;
    if (obj->Invoke(id, DISPATCH_METHOD | DISPATCH_PROPERTYGET, {}, &first, &excep2) == S_OK) {
      return Apply(first, std::move(args), name);
    }
  }
  if (Failed(hr)) ThrowHr(hr, &excep, name);
  return result;
}

// Applies an argument list to a value: index an array, or call an
// object's default member.
Variant Interpreter::Apply(const Variant& v, std::vector<Variant> args, std::u16string_view name) {
  if (v.is_array()) {
    const auto& array = v.AsArray();
    std::vector<std::int64_t> idx;
    idx.reserve(args.size());
    for (const auto& a : args) idx.push_back(ToIndex(a));
    std::size_t flat = 0;
    if (!array || array->FlatIndex(idx, &flat) != S_OK) Throw(kErrSubscript, name);
    return array->Get(flat);
  }
  if (v.is_object()) {
    return Invoke(v.AsObject(), DISPID_VALUE, DISPATCH_METHOD | DISPATCH_PROPERTYGET, args, name);
  }
  if (args.empty()) return v;
  Throw(kErrTypeMismatch, name);
}

// Index expressions are evaluated before the array is looked at: they may
// run code that ReDims or replaces the very array being indexed.
std::vector<std::int64_t> Interpreter::EvalIndexes(const std::vector<ExprPtr>& args,
                                                   std::u16string_view name) {
  std::vector<std::int64_t> idx;
  idx.reserve(args.size());
  for (const auto& a : args) {
    if (!a) Throw(kErrSubscript, name);
    idx.push_back(ToIndex(Eval(*a)));
  }
  return idx;
}

std::size_t Interpreter::FlatOrThrow(const SafeArray* array, const std::vector<std::int64_t>& idx,
                                     std::u16string_view name) {
  std::size_t flat = 0;
  if (!array || array->FlatIndex(idx, &flat) != S_OK) Throw(kErrSubscript, name);
  return flat;
}

Variant Interpreter::EvalCall(const Expr& call) {
  CheckStack();
  const Expr& callee = *call.left;
  if (callee.kind == ExprKind::kName) {
    const Binding& b = callee.binding;
    switch (b.kind) {
      case BindKind::kLocal:
      case BindKind::kGlobal: {
        Variant* slot = VarSlot(callee);
        if (slot->is_array()) {
          // Index without copying the array.
          std::vector<std::int64_t> idx = EvalIndexes(call.args, callee.name);
          if (!slot->is_array()) Throw(kErrTypeMismatch, callee.name);
          const SafeArray* array = slot->AsArray().get();
          return array->Get(FlatOrThrow(array, idx, callee.name));
        }
        Variant v = *slot;
        return Apply(v, EvalArgs(call.args), callee.name);
      }
      case BindKind::kConst:
        return Apply(b.constant, EvalArgs(call.args), callee.name);
      case BindKind::kProcedure:
        return CallProcedure(*b.procedure, call.args);
      case BindKind::kMethod:
        return CallInstanceMember(*frame_->me, b.slot, call.args);
      case BindKind::kField:
        return Apply(Variant(*VarSlot(callee)), EvalArgs(call.args), callee.name);
      case BindKind::kBuiltin:
        return CallBuiltin(b.slot, call.args);
      case BindKind::kNamedItem:
        return Invoke(items[b.slot].object, DISPID_VALUE, DISPATCH_METHOD | DISPATCH_PROPERTYGET,
                      EvalArgs(call.args), callee.name);
      case BindKind::kGlobalMember:
        return CallMember(items[b.slot].object, b.member_id, EvalArgs(call.args), callee.name);
      case BindKind::kUndefined:
      case BindKind::kUnbound:
        if (LateBind(callee)) return EvalCall(call);
        Throw(program->option_explicit ? kErrUndefined : kErrTypeMismatch, callee.name);
    }
  }
  if (callee.kind == ExprKind::kMember) {
    auto obj = EvalObject(callee.left.get(), callee.name);
    if (ClassInstance* instance = AsInstance(obj)) {
      return CallInstanceMember(*instance, InstanceMember(*instance, callee), call.args);
    }
    DispId id = MemberId(obj, callee);
    return CallMember(obj, id, EvalArgs(call.args), callee.name);
  }
  Variant v = Eval(callee);
  return Apply(v, EvalArgs(call.args), callee.name);
}

Variant Interpreter::CallBuiltin(int index, const std::vector<ExprPtr>& args) {
  const Builtin& fn = GetBuiltin(index);
  if (static_cast<int>(args.size()) < fn.min_args || static_cast<int>(args.size()) > fn.max_args) {
    Throw(kErrArgCount, fn.name);
  }
  std::vector<Variant> values = EvalArgs(args);
  for (int i = 0; i < fn.min_args; ++i) {
    if (values[i].type() == VT_ERROR && values[i].AsError() == DISP_E_PARAMNOTFOUND) {
      Throw(kErrArgCount, fn.name);
    }
  }
  return fn.fn(*this, values);
}

Variant Interpreter::CallProcedure(const Procedure& proc, const std::vector<ExprPtr>& args,
                                   ClassInstance* me) {
  if (args.size() != proc.params.size()) Throw(kErrArgCount, proc.name);
  CheckStack();
  if (depth_ >= limits.max_call_depth) Throw(kErrOutOfStack, proc.name);
  Frame frame;
  frame.proc = &proc;
  frame.me = me;
  frame.storage.resize(proc.local_names.size());
  frame.slots.resize(proc.local_names.size(), nullptr);
  // Array elements passed ByRef are copied in and written back after the
  // call, so that a ReDim in the callee can never leave a dangling
  // reference to an element.
  struct WriteBack {
    Variant* array_var;
    std::vector<std::int64_t> indexes;
    int slot;
  };
  std::vector<WriteBack> write_backs;
  for (std::size_t i = 0; i < proc.params.size(); ++i) {
    const Param& p = proc.params[i];
    const Expr* a = args[i].get();
    if (!a) continue;  // missing argument: Empty
    if (!p.by_val && !a->parenthesized) {
      if (a->kind == ExprKind::kName) {
        if (Variant* var = VarSlot(*a)) {
          frame.slots[p.slot] = var;
          continue;
        }
      } else if (a->kind == ExprKind::kCall && a->left->kind == ExprKind::kName) {
        Variant* var = VarSlot(*a->left);
        if (var && var->is_array() && var->AsArray()) {
          WriteBack wb{var, {}, p.slot};
          for (const auto& ix : a->args) {
            if (!ix) Throw(kErrSubscript, a->left->name);
            wb.indexes.push_back(ToIndex(Eval(*ix)));
          }
          std::size_t flat = 0;
          if (var->AsArray()->FlatIndex(wb.indexes, &flat) != S_OK) {
            Throw(kErrSubscript, a->left->name);
          }
          frame.storage[p.slot] = var->AsArray()->Get(flat);
          write_backs.push_back(std::move(wb));
          continue;
        }
      }
    }
    Variant v = Eval(*a);
    if (v.is_array() && v.AsArray() && v.AsArray()->fixed()) {
      v.MutableArray()->set_fixed(false);
    }
    frame.storage[p.slot] = std::move(v);
  }
  Variant result = RunActivation(proc, frame);
  for (auto& wb : write_backs) {
    if (!wb.array_var->is_array()) continue;
    SafeArray* array = wb.array_var->MutableArray();
    std::size_t flat = 0;
    if (array && array->FlatIndex(wb.indexes, &flat) == S_OK) {
      (void)array->Put(flat, std::move(frame.storage[wb.slot]));
    }
  }
  return result;
}

Variant Interpreter::CallProcedureValues(const Procedure& proc, std::span<const Variant> args,
                                         ClassInstance* me) {
  if (args.size() != proc.params.size()) Throw(kErrArgCount, proc.name);
  CheckStack();
  if (depth_ >= limits.max_call_depth) Throw(kErrOutOfStack, proc.name);
  Frame frame;
  frame.proc = &proc;
  frame.me = me;
  frame.storage.resize(proc.local_names.size());
  frame.slots.resize(proc.local_names.size(), nullptr);
  for (std::size_t i = 0; i < proc.params.size(); ++i) {
    const Variant& v = args[i];
    if (v.type() == VT_ERROR && v.AsError() == DISP_E_PARAMNOTFOUND) continue;
    Variant& slot = frame.storage[proc.params[i].slot];
    slot = v;
    if (slot.is_array() && slot.AsArray() && slot.AsArray()->fixed()) {
      slot.MutableArray()->set_fixed(false);
    }
  }
  return RunActivation(proc, frame);
}

// Runs the body in `frame`, whose arguments are in place.
Variant Interpreter::RunActivation(const Procedure& proc, Frame& frame) {
  for (std::size_t i = 0; i < frame.slots.size(); ++i) {
    if (!frame.slots[i]) frame.slots[i] = &frame.storage[i];
  }
  for (const auto& init : proc.arrays) frame.storage[init.slot] = NewDimArray(init);
  struct Restore {
    Interpreter* self;
    Frame* saved;
    ~Restore() {
      self->frame_ = saved;
      --self->depth_;
    }
  } restore{this, frame_};
  ++depth_;
  frame_ = &frame;
  ExecBlock(proc.body);
  if (!proc.is_function) return Variant();
  return std::move(*frame.slots[0]);
}

void Interpreter::Assign(const Expr& target, Variant value, bool is_set) {
  if (!is_set) {
    // Let takes the value: an object gives its default member.
    if (value.is_object()) value = Reduce(value);
    if (value.is_array() && value.AsArray() && value.AsArray()->fixed()) {
      value.MutableArray()->set_fixed(false);
    }
  }
  const std::uint16_t put = is_set ? DISPATCH_PROPERTYPUTREF : DISPATCH_PROPERTYPUT;
  switch (target.kind) {
    case ExprKind::kName: {
      if (Variant* slot = VarSlot(target)) {
        if (slot->is_array() && slot->AsArray() && slot->AsArray()->fixed()) {
          Throw(kErrIllegalAssignment, target.name);
        }
        *slot = std::move(value);
        return;
      }
      if (target.binding.kind == BindKind::kMethod) {
        Variant args[] = {std::move(value)};
        (void)AccessInstanceMember(*frame_->me, target.binding.slot, put, args);
        return;
      }
      if (target.binding.kind == BindKind::kGlobalMember) {
        Variant args[] = {std::move(value)};
        (void)Invoke(items[target.binding.slot].object, target.binding.member_id, put, args,
                     target.name);
        return;
      }
      if (LateBind(target)) return Assign(target, std::move(value), is_set);
      if (target.binding.kind == BindKind::kUndefined) Throw(kErrUndefined, target.name);
      Throw(kErrIllegalAssignment, target.name);
    }
    case ExprKind::kMember: {
      auto obj = EvalObject(target.left.get(), target.name);
      Variant args[] = {std::move(value)};
      if (ClassInstance* instance = AsInstance(obj)) {
        (void)AccessInstanceMember(*instance, InstanceMember(*instance, target), put, args);
        return;
      }
      (void)Invoke(obj, MemberId(obj, target), put, args, target.name);
      return;
    }
    case ExprKind::kCall: {
      const Expr& callee = *target.left;
      if (callee.kind == ExprKind::kName) {
        if (Variant* slot = VarSlot(callee)) {
          if (slot->is_array()) {
            std::vector<std::int64_t> idx = EvalIndexes(target.args, callee.name);
            if (!slot->is_array()) Throw(kErrTypeMismatch, callee.name);
            SafeArray* array = slot->MutableArray();
            std::size_t flat = FlatOrThrow(array, idx, callee.name);
            if (array->Put(flat, std::move(value)) != S_OK) Throw(kErrSubscript, callee.name);
            return;
          }
          if (slot->is_object()) {
            std::vector<Variant> args = EvalArgs(target.args);
            args.push_back(std::move(value));
            (void)Invoke(slot->AsObject(), DISPID_VALUE, put, args, callee.name);
            return;
          }
          Throw(kErrTypeMismatch, callee.name);
        }
        const Binding& b = callee.binding;
        if (b.kind == BindKind::kGlobalMember || b.kind == BindKind::kNamedItem) {
          std::vector<Variant> args = EvalArgs(target.args);
          args.push_back(std::move(value));
          DispId id = b.kind == BindKind::kGlobalMember ? b.member_id : DISPID_VALUE;
          (void)Invoke(items[b.slot].object, id, put, args, callee.name);
          return;
        }
        if (LateBind(callee)) return Assign(target, std::move(value), is_set);
        if (b.kind == BindKind::kUndefined) {
          Throw(program->option_explicit ? kErrUndefined : kErrTypeMismatch, callee.name);
        }
        Throw(kErrIllegalAssignment, callee.name);
      }
      std::shared_ptr<Dispatch> obj;
      DispId id = DISPID_VALUE;
      if (callee.kind == ExprKind::kMember) {
        obj = EvalObject(callee.left.get(), callee.name);
        id = MemberId(obj, callee);
      } else {
        Variant v = Eval(callee);
        if (!v.is_object()) Throw(kErrIllegalAssignment);
        obj = v.AsObject();
      }
      std::vector<Variant> args = EvalArgs(target.args);
      args.push_back(std::move(value));
      (void)Invoke(obj, id, put, args, callee.name);
      return;
    }
    default:
      Throw(kErrIllegalAssignment);
  }
}

}  // namespace lun::script
