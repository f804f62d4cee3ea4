// Syntax tree of a parsed script. The parser builds it; the binder fills in
// where each name lives; the interpreter walks it. Internal to pages/script.
#ifndef LUN_PAGES_SCRIPT_AST_H_
#define LUN_PAGES_SCRIPT_AST_H_

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "automation/variant.h"

namespace lun::script {

struct Procedure;
struct ClassDef;

enum class Op : std::uint8_t {
  kNone,
  // binary, by precedence level (highest first)
  kPow,
  kMul,
  kDiv,
  kIntDiv,
  kMod,
  kAdd,
  kSub,
  kConcat,
  kEq,
  kNe,
  kLt,
  kGt,
  kLe,
  kGe,
  kIs,
  kAnd,
  kOr,
  kXor,
  kEqv,
  kImp,
  // unary
  kNeg,
  kPlus,
  kNot,
};

// Where a bare name is bound, decided once after parsing.
enum class BindKind : std::uint8_t {
  kUnbound,       // not yet resolved
  kLocal,         // frame slot `slot`
  kGlobal,        // global slot `slot`
  kConst,         // constant: `constant` holds the value
  kProcedure,     // `procedure`
  kBuiltin,       // built-in function `slot`
  kNamedItem,     // host item `slot`
  kGlobalMember,  // member `member_id` of global-members item `slot`
  kField,         // field `slot` of the instance a method runs on (Me)
  kMethod,        // member `slot` of Me's class: Sub, Function or Property
  kUndefined,     // nothing: Empty, or error 500 under Option Explicit
};

struct Binding {
  BindKind kind = BindKind::kUnbound;
  int slot = 0;
  std::int32_t member_id = 0;
  const Procedure* procedure = nullptr;
  const ClassDef* class_def = nullptr;  // New: the class, null if none
  Variant constant;
};

enum class ExprKind : std::uint8_t {
  kLiteral,  // value
  kName,     // name / folded / binding
  kMember,   // object.name (object null: the innermost With value)
  kCall,     // callee(args): call, index or default member
  kUnary,    // op left
  kBinary,   // left op right
  kNew,      // New name
  kMe,
};

struct Expr {
  ExprKind kind = ExprKind::kLiteral;
  Op op = Op::kNone;
  int line = 0;
  int column = 0;
  // A literal for the comparison rules: a literal token, a signed or
  // parenthesised literal, or a constant name.
  bool literal = false;
  // Written in its own parentheses: passed by value even to ByRef.
  bool parenthesized = false;
  Variant value;
  std::u16string name;    // as written (for messages and member look-up)
  std::u16string folded;  // ASCII lower case
  // Filled by the binder; a name still unbound can be bound later, once
  // Execute code declared it (hence mutable in a tree otherwise const).
  mutable Binding binding;
  int depth = 1;  // height of this subtree (bounded by the parser)
  // The subtree calls a script procedure (which could change variables);
  // set by the binder.
  bool calls_procedure = false;
  std::unique_ptr<Expr> left;
  std::unique_ptr<Expr> right;
  // kCall arguments; a null entry is a missing argument ("F a, , c").
  std::vector<std::unique_ptr<Expr>> args;
};

using ExprPtr = std::unique_ptr<Expr>;

struct Stmt;
using StmtPtr = std::unique_ptr<Stmt>;
using Block = std::vector<StmtPtr>;

enum class StmtKind : std::uint8_t {
  kAssign,  // target = expr
  kSet,     // Set target = expr
  kCall,    // call statement: target is the call expression
  kDim,     // declarations with array bounds
  kReDim,
  kConst,  // nothing to do at run time
  kErase,
  kIf,
  kSelect,
  kFor,
  kForEach,
  kDo,  // also While ... Wend
  kExit,
  kOnError,
  kWith,
  kRandomize,
  kNothing,  // Stop, Option Explicit, declarations without effect
};

enum class ExitKind : std::uint8_t { kDo, kFor, kSub, kFunction, kProperty };

struct DimItem {
  ExprPtr target;  // a kName expression
  // Dim: bounds (upper bounds) when given; `dynamic` for "Dim a()".
  std::vector<std::int64_t> fixed_bounds;
  // ReDim: upper-bound expressions.
  std::vector<ExprPtr> bounds;
  bool is_array = false;
};

struct IfArm {
  ExprPtr condition;  // null for Else
  Block body;
  int line = 0;
};

struct CaseArm {
  std::vector<ExprPtr> values;  // empty for Case Else
  bool is_else = false;
  Block body;
  int line = 0;
};

struct Stmt {
  StmtKind kind = StmtKind::kNothing;
  int line = 0;
  int column = 0;
  ExprPtr target;                 // assign/set/call target; For / For Each counter
  ExprPtr value;                  // assigned value; Select/With/For Each group; For start
  ExprPtr end;                    // For end
  ExprPtr step;                   // For step (null: 1)
  ExprPtr condition;              // Do condition (null: none)
  bool condition_at_end = false;  // Do ... Loop While c
  bool until = false;             // Until rather than While
  bool wend = false;              // While ... Wend (Exit Do passes through)
  bool preserve = false;          // ReDim Preserve
  bool resume_next = false;       // On Error Resume Next (else GoTo 0)
  ExitKind exit_kind = ExitKind::kDo;
  std::vector<DimItem> items;  // Dim / ReDim / Erase
  std::vector<IfArm> arms;     // If
  std::vector<CaseArm> cases;  // Select
  Block body;                  // loops, With
};

struct Param {
  std::u16string name;
  std::u16string folded;
  bool by_val = false;
  int slot = 0;
};

// An array a scope creates on entry (declarations hold for the whole scope,
// wherever the Dim is written). Empty bounds: a dynamic "Dim a()".
struct ArrayInit {
  int slot = 0;
  std::vector<std::int64_t> upper_bounds;
};

enum class ProcKind : std::uint8_t { kSub, kFunction, kPropertyGet, kPropertyLet, kPropertySet };

struct Procedure {
  std::u16string name;
  std::u16string folded;
  // Returns a value (Function, Property Get): slot 0 holds it.
  bool is_function = false;
  ProcKind kind = ProcKind::kSub;
  // Class methods: the class, and whether callers outside it may call.
  const ClassDef* owner = nullptr;
  bool is_public = true;
  int line = 0;
  std::vector<Param> params;
  // Locals: slot 0 of a Function is its return value; then the parameters,
  // then Dim'd and implicitly assigned names.
  std::vector<std::u16string> local_names;  // folded
  std::vector<ArrayInit> arrays;
  std::vector<std::pair<std::u16string, Variant>> consts;  // folded name
  // Names assigned without a declaration (implicit variables), and names a
  // ReDim declares when nothing else does.
  std::vector<std::u16string> assigned_names;
  std::vector<std::u16string> redim_names;
  Block body;
};

// One member of a class, by name: a field, or the procedures that read
// it (Sub, Function or Property Get), assign it (Property Let) and set an
// object to it (Property Set).
struct ClassMember {
  std::u16string name;
  std::u16string folded;
  bool is_public = true;
  int field = -1;  // field slot, or -1
  const Procedure* get = nullptr;
  const Procedure* let = nullptr;
  const Procedure* set = nullptr;
};

// A Class block. `fields` is the scope of its variables: local_names are
// the field names (slot = field index) and arrays their Dim'd arrays.
struct ClassDef : std::enable_shared_from_this<ClassDef> {
  std::u16string name;
  std::u16string folded;
  int line = 0;
  Procedure fields;
  std::vector<ClassMember> members;
  int default_member = -1;  // index in members, or -1
  const Procedure* initialize = nullptr;
  const Procedure* terminate = nullptr;
  std::vector<std::unique_ptr<Procedure>> methods;
  std::unordered_map<std::u16string, int> member_index;  // by folded name
  // Index in members by folded name, or -1.
  int FindMember(const std::u16string& folded_name) const {
    auto it = member_index.find(folded_name);
    return it == member_index.end() ? -1 : it->second;
  }
};

// A parsed script: the script-level scope (its locals are the globals)
// and the procedures.
struct Program {
  bool option_explicit = false;
  // The text names Eval, Execute, ExecuteGlobal or GetRef: code may come
  // to life at run time.
  bool dynamic_code = false;
  // Offset of the first character of each physical line (line numbers as
  // the lexer counts them), for the source line of error reports.
  std::vector<std::size_t> line_starts;
  Procedure script;
  std::vector<std::unique_ptr<Procedure>> procedures;
  // Shared: an instance keeps its class alive after the engine closed.
  std::vector<std::shared_ptr<ClassDef>> classes;
};

}  // namespace lun::script

#endif  // LUN_PAGES_SCRIPT_AST_H_
