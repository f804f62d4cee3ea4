// The interpreter proper: runs a bound syntax tree. Statements (blocks,
// loops, On Error, With, ReDim) and expressions (names, calls, member
// access, operators) are evaluated by walking the tree; every script error
// travels as a ScriptThrow up to the statement that resumes from it (On
// Error Resume Next) or to Run, which reports it. Internal to
// pages/script; ScriptEngine is its public face.
#ifndef LUN_PAGES_SCRIPT_INTERPRETER_H_
#define LUN_PAGES_SCRIPT_INTERPRETER_H_

#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "automation/dispatch.h"
#include "pages/script/ast.h"
#include "pages/script/binder.h"
#include "pages/script/builtins.h"
#include "pages/script/class_instance.h"
#include "pages/script/cycle_collector.h"
#include "pages/script/err_object.h"
#include "pages/script/lexer.h"
#include "pages/script/parser.h"
#include "pages/script/runtime.h"
#include "pages/script/script_engine.h"

namespace lun::script {

enum class Flow { kNormal, kExitDo, kExitFor, kExitProc };

// Storage of one procedure activation (or of the script level).
struct Frame {
  const Procedure* proc = nullptr;
  std::vector<Variant> storage;
  // Each local's storage: its own, or the caller's for a ByRef argument.
  std::vector<Variant*> slots;
  bool resume_next = false;
  std::vector<Variant> with_stack;
  // The instance a class method runs on (Me), else null.
  ClassInstance* me = nullptr;
  // Script-level code (the script, ExecuteGlobal text): names are globals.
  bool script_level = false;
};

class Interpreter : public BuiltinHost, public CodeRunner {
 public:
  Interpreter();
  ~Interpreter() override;

  ScriptLimits limits;
  ScriptEngine::ErrorCallback callback;
  std::vector<NamedItem> items;
  std::unordered_map<std::u16string, ObjectFactory> factories;
  std::u16string source;
  std::unique_ptr<Program> program;
  bool ran = false;
  bool has_error = false;
  ScriptErrorInfo last_error;

  void RegisterObject(std::u16string_view prog_id, ObjectFactory f) {
    factories[FoldName(prog_id)] = std::move(f);
  }

  bool Parse(std::u16string_view text);
  bool Run();
  void Close();

  // BuiltinHost
  std::shared_ptr<Dispatch> CreateObject(std::u16string_view prog_id) override {
    auto it = factories.find(FoldName(prog_id));
    if (it == factories.end() || !it->second) return nullptr;
    return it->second();
  }
  std::shared_ptr<Dispatch> ErrObject() override { return err_; }
  std::size_t MaxArrayElements() const override { return limits.max_array_elements; }

  Variant EvalText(std::u16string_view text) override;
  void ExecuteText(std::u16string_view text, bool global) override;
  std::shared_ptr<Dispatch> ProcedureReference(std::u16string_view name) override;

  // CodeRunner
  HResult InvokeProcedure(const Procedure& proc, std::span<const Variant> args, Variant* result,
                          ExcepInfo* excep) override;
  HResult InvokeMember(ClassInstance& instance, int member, std::uint16_t flags,
                       std::span<const Variant> args, Variant* result, ExcepInfo* excep) override;
  void Terminate(const std::shared_ptr<ClassInstance>& successor) override;

 private:
  CycleCollector cycles_;

  // ---- execution
  void Report(const ScriptThrow& t);
  void Report(const ScriptErrorInfo& info);
  std::u16string SourceLine(int line) const;
  static std::u16string LineOf(std::u16string_view text,
                               const std::vector<std::size_t>& line_starts, int line);
  void Step();
  void CheckStack();
  void RecordErr(const ScriptThrow& t);
  // The array a Dim with bounds (or "Dim a()") starts with.
  Variant NewDimArray(const ArrayInit& init);
  // Drops the script's variables while the interpreter can still run
  // Class_Terminate (end of Run).
  void ReleaseGlobals();

  Flow ExecBlock(const Block& block);
  Flow ExecStmt(const Stmt& s);
  Flow ExecIf(const Stmt& s);
  Flow ExecSelect(const Stmt& s);
  Flow ExecFor(const Stmt& s);
  Flow ExecForEach(const Stmt& s);
  Flow ExecDo(const Stmt& s);
  Flow ExecWith(const Stmt& s);
  void ExecCallStatement(const Expr& target);
  bool AppendInPlace(const Stmt& s);
  void ExecReDim(const Stmt& s);
  void ExecErase(const Stmt& s);
  // Runs `f`; on an error that the current activation resumes from, records
  // it and returns false. Used for the headers of If/Select/loops, whose
  // error continues *inside* the construct.
  template <typename F>
  bool HeaderOk(const Stmt& s, int line, F f);

  Variant Eval(const Expr& e);
  Variant EvalName(const Expr& e);
  Variant EvalCall(const Expr& call);
  std::shared_ptr<Dispatch> EvalObject(const Expr* e, std::u16string_view name);
  std::vector<Variant> EvalArgs(const std::vector<ExprPtr>& args);
  Variant Apply(const Variant& v, std::vector<Variant> args, std::u16string_view name);
  Variant Invoke(const std::shared_ptr<Dispatch>& obj, DispId id, std::uint16_t flags,
                 std::span<const Variant> args, std::u16string_view name);
  DispId MemberId(const std::shared_ptr<Dispatch>& obj, const Expr& member);
  Variant CallMember(const std::shared_ptr<Dispatch>& obj, DispId id, std::vector<Variant> args,
                     std::u16string_view name);
  Variant CallProcedure(const Procedure& proc, const std::vector<ExprPtr>& args,
                        ClassInstance* me = nullptr);
  Variant CallProcedureValues(const Procedure& proc, std::span<const Variant> args,
                              ClassInstance* me);
  Variant RunActivation(const Procedure& proc, Frame& frame);

  // ---- classes
  // A RegExp object bound by this run's time limit and stop flag.
  std::shared_ptr<Dispatch> CreateRegExp();
  Variant NewInstance(const Expr& e);
  // The script class instance `obj` is, else null.
  static ClassInstance* AsInstance(const std::shared_ptr<Dispatch>& obj);
  // Member `name` of `instance` for code running at this point (private
  // members only from the class's own methods); error 438 when none.
  int InstanceMember(ClassInstance& instance, const Expr& member);
  // Reads or calls member `m` with argument expressions (ByRef possible).
  Variant CallInstanceMember(ClassInstance& instance, int m, const std::vector<ExprPtr>& args);
  // Any access with evaluated arguments: read/call, or Let/Set (the value
  // last in `args`).
  Variant AccessInstanceMember(ClassInstance& instance, int m, std::uint16_t flags,
                               std::span<const Variant> args);
  Variant CallBuiltin(int index, const std::vector<ExprPtr>& args);
  Variant* VarSlot(const Expr& name);
  Variant* WritableSlot(const Expr& name);
  void Assign(const Expr& target, Variant value, bool is_set);
  std::vector<std::int64_t> EvalIndexes(const std::vector<ExprPtr>& args, std::u16string_view name);
  static std::size_t FlatOrThrow(const SafeArray* array, const std::vector<std::int64_t>& idx,
                                 std::u16string_view name);

  // ---- code given as text
  // A name left unbound: after Execute code declared script-level names,
  // binds it to one of them (true) so the caller can retry.
  bool LateBind(const Expr& e);
  // The class of a New, also one that Execute code defined since.
  const ClassDef* LateClass(const Expr& e);
  // Parse limits for code parsed while the script runs: the stack that
  // is left.
  ParseLimits RunTimeParseLimits();
  // A compile error in Eval/Execute text as the run-time error it raises.
  [[noreturn]] static void ThrowCompileError(const ParseError& error);
  // Script errors as a DISP_E_EXCEPTION for a Dispatch-level caller.
  static HResult ToException(const ScriptThrow& t, ExcepInfo* excep);

  GlobalNames globals_;
  // Code that Execute/ExecuteGlobal brought: its procedures and classes
  // stay callable for the rest of the run.
  std::vector<std::unique_ptr<Program>> executed_;
  // Global variables; a deque so that code added by ExecuteGlobal can add
  // globals without moving those a ByRef argument refers to.
  std::deque<Variant> global_storage_;
  Frame global_frame_;
  std::shared_ptr<CodeRunnerLink> class_link_ = std::make_shared<CodeRunnerLink>();
  // A run-time limit that stopped the run stays in force: code that runs
  // after it (Class_Terminate, an error handler) stops at its next step.
  bool aborted_ = false;
  ScriptThrow abort_;
  Frame* frame_ = nullptr;
  std::shared_ptr<ErrorObject> err_;
  int depth_ = 0;
  std::uint64_t steps_ = 0;
  std::chrono::steady_clock::time_point deadline_{};
  bool has_deadline_ = false;
  const char* stack_base_ = nullptr;
};

}  // namespace lun::script

#endif  // LUN_PAGES_SCRIPT_INTERPRETER_H_
