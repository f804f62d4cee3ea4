#include "pages/script/parser.h"

#include <algorithm>
#include <unordered_set>

#include "pages/script/builtins.h"
#include "pages/script/lexer.h"
#include "pages/script/script_errors.h"

namespace lun::script {

namespace {

// Internal unwind for a compile error; ParseProgram turns it into a value.
struct Failure {
  int number;
  int line;
  int column;
};

// Binary operator levels, lowest precedence first. Not and unary minus are
// prefix levels of their own.
enum Level : int {
  kLevelImp = 0,
  kLevelEqv,
  kLevelXor,
  kLevelOr,
  kLevelAnd,
  kLevelNot,
  kLevelCompare,
  kLevelConcat,
  kLevelAdd,
  kLevelMod,
  kLevelIntDiv,
  kLevelMul,
  kLevelNeg,
  kLevelPow,
};

class Parser {
 public:
  Parser(const std::vector<Token>& tokens, const ParseLimits& limits)
      : t_(tokens), limits_(limits) {}

  std::unique_ptr<Program> Run();
  // One expression and nothing after it (Eval's text).
  ExprPtr RunExpression();

 private:
  // ---- tokens
  const Token& Cur() const { return t_[p_]; }
  const Token& Peek(std::size_t n = 1) const { return t_[std::min(p_ + n, t_.size() - 1)]; }
  bool Is(Tok k) const { return Cur().kind == k; }
  bool IsKw(Kw kw) const { return Cur().kind == Tok::kIdent && Cur().kw == kw; }
  void Advance() {
    if (p_ + 1 < t_.size()) ++p_;
  }
  [[noreturn]] void Fail(int number) { Fail(number, Cur()); }
  [[noreturn]] void Fail(int number, const Token& at) { throw Failure{number, at.line, at.column}; }
  void ExpectKw(Kw kw, int number) {
    if (!IsKw(kw)) Fail(number);
    Advance();
  }
  void Expect(Tok k, int number) {
    if (!Is(k)) Fail(number);
    Advance();
  }
  bool AtStatementEnd() const {
    return Is(Tok::kNewLine) || Is(Tok::kColon) || Is(Tok::kEof) ||
           (single_line_if_ > 0 && (IsKw(Kw::kElse) || IsKw(Kw::kElseIf)));
  }
  void ExpectStatementEnd() {
    if (!AtStatementEnd()) Fail(kCeExpectedEndOfStatement);
  }
  void SkipSeparators() {
    while (Is(Tok::kNewLine) || Is(Tok::kColon)) Advance();
  }
  void ExpectSeparator() {
    if (Is(Tok::kNewLine) || Is(Tok::kColon)) {
      Advance();
    } else if (!Is(Tok::kEof)) {
      Fail(kCeExpectedEndOfStatement);
    }
  }
  void CheckStack() {
    char here;
    if (stack_base_ - &here > static_cast<std::ptrdiff_t>(limits_.stack_bytes)) {
      Fail(kCeOutOfMemory);
    }
  }
  // A name in a variable position: any word that is not reserved.
  const Token& ExpectName() {
    if (!Is(Tok::kIdent) || IsReserved(Cur().kw)) Fail(kCeExpectedIdentifier);
    const Token& tok = Cur();
    Advance();
    return tok;
  }

  // A statement node at the current keyword, which is consumed.
  StmtPtr NewStmt(StmtKind kind) {
    auto st = std::make_unique<Stmt>();
    st->kind = kind;
    st->line = Cur().line;
    st->column = Cur().column;
    Advance();
    return st;
  }
  // "End" kw, closing a block.
  void ExpectEnd(Kw kw, int number) {
    if (!IsKw(Kw::kEnd)) Fail(kCeExpectedEnd);
    Advance();
    ExpectKw(kw, number);
  }
  // Inside a block statement, Else no longer ends a single-line If.
  struct BlockStatement {
    explicit BlockStatement(Parser* p) : parser(p), saved(p->single_line_if_) {
      p->single_line_if_ = 0;
    }
    ~BlockStatement() { parser->single_line_if_ = saved; }
    Parser* parser;
    int saved;
  };

  // ---- scopes
  void Declare(const Token& name_tok);
  bool IsDeclared(const std::u16string& folded) const { return declared_.count(folded) > 0; }

  // ---- grammar
  void ParseTopLevel();
  std::unique_ptr<Procedure> ParseProcedure(ClassDef* owner);
  void ParseClass();
  Block ParseBlock();
  bool AtBlockEnd() const;
  StmtPtr ParseStatement();
  StmtPtr ParseDim();
  StmtPtr ParseReDim();
  StmtPtr ParseConst();
  StmtPtr ParseErase();
  StmtPtr ParseSet();
  StmtPtr ParseCallKeyword();
  StmtPtr ParsePathStatement();
  StmtPtr ParseIf();
  StmtPtr ParseSelect();
  StmtPtr ParseFor();
  StmtPtr ParseDo();
  StmtPtr ParseWhile();
  StmtPtr ParseExit();
  StmtPtr ParseOnError();
  StmtPtr ParseWith();
  Variant ParseConstValue();

  ExprPtr ParseExpr() { return ParseLevel(kLevelImp); }
  ExprPtr ParseLevel(int level);
  ExprPtr ParsePowOperand();
  ExprPtr ParsePrimary();
  ExprPtr ParsePath(ExprPtr start, std::size_t* last_paren);
  void ParseParenArgs(Expr* call);
  void ParseBareArgs(Expr* call);
  ExprPtr MakeName(const Token& tok);
  ExprPtr MakeNode(ExprKind kind, const Token& at);
  ExprPtr MakeBinary(Op op, ExprPtr l, ExprPtr r, const Token& at);
  void SetDepth(Expr* e, const Token& at);

  const std::vector<Token>& t_;
  ParseLimits limits_;
  std::size_t p_ = 0;
  const char* stack_base_ = nullptr;
  std::unique_ptr<Program> program_;
  Procedure* scope_ = nullptr;
  std::unordered_set<std::u16string> declared_;     // current scope
  std::unordered_set<std::u16string> global_decl_;  // script-level names
  std::unordered_set<std::u16string> proc_names_;
  int single_line_if_ = 0;
  int for_depth_ = 0;
  int do_depth_ = 0;
  bool in_sub_ = false;
  bool in_function_ = false;
  bool in_property_ = false;
};

std::unique_ptr<Program> Parser::Run() {
  char base;
  stack_base_ = &base;
  program_ = std::make_unique<Program>();
  scope_ = &program_->script;
  SkipSeparators();
  if (IsKw(Kw::kOption)) {
    Advance();
    ExpectKw(Kw::kExplicit, kCeSyntax);
    program_->option_explicit = true;
    ExpectStatementEnd();
    ExpectSeparator();
  }
  while (true) {
    SkipSeparators();
    if (Is(Tok::kEof)) break;
    ParseTopLevel();
    ExpectSeparator();
  }
  return std::move(program_);
}

ExprPtr Parser::RunExpression() {
  char base;
  stack_base_ = &base;
  program_ = std::make_unique<Program>();
  scope_ = &program_->script;
  ExprPtr e = ParseExpr();
  SkipSeparators();
  if (!Is(Tok::kEof)) Fail(kCeExpectedEndOfStatement);
  return e;
}

void Parser::Declare(const Token& name_tok) {
  const std::u16string& f = name_tok.folded;
  Variant ignored;
  // A built-in constant (vbCrLf ...) cannot be declared again either.
  if (declared_.count(f) || (scope_ == &program_->script && proc_names_.count(f)) ||
      FindBuiltinConstant(f, &ignored)) {
    Fail(kCeNameRedefined, name_tok);
  }
  declared_.insert(f);
  if (scope_ == &program_->script) global_decl_.insert(f);
}

void Parser::ParseTopLevel() {
  if (IsKw(Kw::kOption)) Fail(kCeExpectedStatement);
  std::size_t k = 0;
  if (IsKw(Kw::kPublic) || IsKw(Kw::kPrivate)) {
    k = 1;
    if (Peek(1).kind == Tok::kIdent && Peek(1).kw == Kw::kDefault) k = 2;
  }
  const Token& head = Peek(k);
  if (head.kind == Tok::kIdent &&
      (head.kw == Kw::kSub || head.kw == Kw::kFunction || head.kw == Kw::kProperty)) {
    p_ += k;
    program_->procedures.push_back(ParseProcedure(nullptr));
    return;
  }
  if (head.kind == Tok::kIdent && head.kw == Kw::kClass && k == 0) {
    ParseClass();
    return;
  }
  scope_->body.push_back(ParseStatement());
}

// sub_decl | function_decl | property_decl =
//   ("Sub" | "Function" | "Property" ("Get"|"Let"|"Set")) name
//   [ "(" [ params ] ")" ] SEP block "End" ("Sub"|"Function"|"Property")
// Properties only inside a Class (`owner`).
std::unique_ptr<Procedure> Parser::ParseProcedure(ClassDef* owner) {
  const Token& head = Cur();
  int line = head.line;
  ProcKind kind = head.kw == Kw::kFunction ? ProcKind::kFunction : ProcKind::kSub;
  Advance();
  if (head.kw == Kw::kProperty) {
    if (!owner) Fail(kCeMustBeInClass, head);
    if (IsKw(Kw::kGet)) {
      kind = ProcKind::kPropertyGet;
    } else if (IsKw(Kw::kLet)) {
      kind = ProcKind::kPropertyLet;
    } else if (IsKw(Kw::kSet)) {
      kind = ProcKind::kPropertySet;
    } else {
      Fail(kCeExpectedLetSetGet);
    }
    Advance();
  }
  const bool is_function = kind == ProcKind::kFunction || kind == ProcKind::kPropertyGet;
  const Token& name = ExpectName();
  if (!owner) {
    if (proc_names_.count(name.folded) || global_decl_.count(name.folded)) {
      Fail(kCeNameRedefined, name);
    }
    proc_names_.insert(name.folded);
  }
  auto proc = std::make_unique<Procedure>();
  proc->name = name.text;
  proc->folded = name.folded;
  proc->is_function = is_function;
  proc->kind = kind;
  proc->owner = owner;
  proc->line = line;
  std::unordered_set<std::u16string> saved = std::move(declared_);
  declared_.clear();
  Procedure* saved_scope = scope_;
  scope_ = proc.get();
  if (is_function) {
    proc->local_names.push_back(name.folded);  // slot 0: the return value
  }
  if (Is(Tok::kLParen)) {
    Advance();
    if (!Is(Tok::kRParen)) {
      while (true) {
        bool by_val = false;
        if (IsKw(Kw::kByVal)) {
          by_val = true;
          Advance();
        } else if (IsKw(Kw::kByRef)) {
          Advance();
        }
        const Token& pn = ExpectName();
        if (Is(Tok::kLParen)) {
          Advance();
          Expect(Tok::kRParen, kCeExpectedRParen);
        }
        Declare(pn);
        Param param;
        param.name = pn.text;
        param.folded = pn.folded;
        param.by_val = by_val;
        param.slot = static_cast<int>(proc->local_names.size());
        proc->local_names.push_back(pn.folded);
        proc->params.push_back(std::move(param));
        if (!Is(Tok::kComma)) break;
        Advance();
      }
    }
    Expect(Tok::kRParen, kCeExpectedRParen);
  }
  if ((kind == ProcKind::kPropertyLet || kind == ProcKind::kPropertySet) && proc->params.empty()) {
    Fail(kCePropertyNeedsArgument, name);
  }
  // The platform accepts a statement after the header on the same line
  // ("Sub s() x = 1"): only ":" or a line break must follow a header that
  // is followed by nothing.
  if (!AtStatementEnd() && !Is(Tok::kIdent)) Fail(kCeExpectedEndOfStatement);
  bool saved_sub = in_sub_, saved_fn = in_function_, saved_prop = in_property_;
  int saved_for = for_depth_, saved_do = do_depth_;
  in_sub_ = kind == ProcKind::kSub;
  in_function_ = kind == ProcKind::kFunction;
  in_property_ = !in_sub_ && !in_function_;
  for_depth_ = do_depth_ = 0;
  proc->body = ParseBlock();
  if (!IsKw(Kw::kEnd)) Fail(kCeExpectedEnd);
  Advance();
  if (in_property_) {
    ExpectKw(Kw::kProperty, kCeExpectedProperty);
  } else {
    ExpectKw(is_function ? Kw::kFunction : Kw::kSub,
             is_function ? kCeExpectedFunction : kCeExpectedSub);
  }
  ExpectStatementEnd();
  in_sub_ = saved_sub;
  in_function_ = saved_fn;
  in_property_ = saved_prop;
  for_depth_ = saved_for;
  do_depth_ = saved_do;
  scope_ = saved_scope;
  declared_ = std::move(saved);
  return proc;
}

// class_decl = "Class" name SEP { member SEP } "End" "Class"
// member = ["Public" ["Default"] | "Private"] (sub_decl | function_decl |
//          property_decl) | ("Public" | "Private" | "Dim") name [bounds] {"," ...}
void Parser::ParseClass() {
  const int line = Cur().line;
  Advance();
  const Token& name = ExpectName();
  if (proc_names_.count(name.folded) || global_decl_.count(name.folded)) {
    Fail(kCeNameRedefined, name);
  }
  proc_names_.insert(name.folded);
  auto cls = std::make_shared<ClassDef>();
  cls->name = name.text;
  cls->folded = name.folded;
  cls->line = line;
  ExpectStatementEnd();
  std::unordered_set<std::u16string> saved = std::move(declared_);
  declared_.clear();
  Procedure* saved_scope = scope_;
  scope_ = &cls->fields;
  auto member_of = [&](const Token& tok, const std::u16string& display) -> ClassMember& {
    auto [it, added] = cls->member_index.emplace(tok.folded, static_cast<int>(cls->members.size()));
    if (added) {
      ClassMember m;
      m.name = display;
      m.folded = tok.folded;
      cls->members.push_back(std::move(m));
    }
    return cls->members[it->second];
  };
  while (true) {
    SkipSeparators();
    if (IsKw(Kw::kEnd)) break;
    if (Is(Tok::kEof)) Fail(kCeExpectedEnd);
    bool is_public = true, is_default = false, has_access = false;
    const Token& first = Cur();
    if (IsKw(Kw::kPublic) || IsKw(Kw::kPrivate)) {
      is_public = IsKw(Kw::kPublic);
      has_access = true;
      Advance();
      if (IsKw(Kw::kDefault)) {
        if (!is_public) Fail(kCeDefaultNeedsPublic);
        is_default = true;
        Advance();
      }
    }
    if (IsKw(Kw::kSub) || IsKw(Kw::kFunction) || IsKw(Kw::kProperty)) {
      const Token& name_tok = Peek(IsKw(Kw::kProperty) ? 2 : 1);
      scope_ = saved_scope;
      auto proc = ParseProcedure(cls.get());
      scope_ = &cls->fields;
      proc->is_public = is_public;
      ClassMember& m = member_of(name_tok, proc->name);
      if (m.field >= 0) Fail(kCeNameRedefined, name_tok);
      m.is_public = is_public;
      const Procedure** place = proc->kind == ProcKind::kPropertyLet   ? &m.let
                                : proc->kind == ProcKind::kPropertySet ? &m.set
                                                                       : &m.get;
      if (*place) Fail(kCeNameRedefined, name_tok);
      *place = proc.get();
      if (is_default) {
        if (cls->default_member >= 0 && cls->default_member != cls->member_index[name_tok.folded]) {
          Fail(kCeMultipleDefault, first);
        }
        cls->default_member = cls->member_index[name_tok.folded];
      }
      if (proc->folded == u"class_initialize" || proc->folded == u"class_terminate") {
        if (!proc->params.empty()) Fail(kCeInitializeArguments, name_tok);
        (proc->folded == u"class_initialize" ? cls->initialize : cls->terminate) = proc.get();
      }
      cls->methods.push_back(std::move(proc));
      ExpectSeparator();
      continue;
    }
    if (is_default) Fail(kCeSyntax);
    if (!has_access) {
      if (!IsKw(Kw::kDim)) Fail(kCeExpectedStatement);
    } else {
      --p_;  // ParseDim consumes the access keyword as it does "Dim"
    }
    const std::size_t before = cls->fields.local_names.size();
    (void)ParseDim();
    for (std::size_t i = before; i < cls->fields.local_names.size(); ++i) {
      Token tok;
      tok.folded = cls->fields.local_names[i];
      if (cls->member_index.count(tok.folded)) Fail(kCeNameRedefined);
      ClassMember& m = member_of(tok, tok.folded);
      m.field = static_cast<int>(i);
      m.is_public = is_public;
    }
    ExpectSeparator();
  }
  Advance();
  ExpectKw(Kw::kClass, kCeExpectedClass);
  ExpectStatementEnd();
  scope_ = saved_scope;
  declared_ = std::move(saved);
  program_->classes.push_back(std::move(cls));
}

bool Parser::AtBlockEnd() const {
  if (Is(Tok::kEof)) return true;
  if (!Is(Tok::kIdent)) return false;
  switch (Cur().kw) {
    case Kw::kEnd:
    case Kw::kElse:
    case Kw::kElseIf:
    case Kw::kLoop:
    case Kw::kNext:
    case Kw::kWend:
    case Kw::kCase:
    // A procedure cannot start inside a block: the block was not closed.
    case Kw::kSub:
    case Kw::kFunction:
    case Kw::kClass:
      return true;
    default:
      return false;
  }
}

// block = { SEP } { statement SEP }   (up to a closing keyword)
Block Parser::ParseBlock() {
  CheckStack();
  Block block;
  while (true) {
    SkipSeparators();
    if (AtBlockEnd()) break;
    block.push_back(ParseStatement());
    ExpectSeparator();
  }
  return block;
}

StmtPtr Parser::ParseStatement() {
  CheckStack();
  if (Is(Tok::kDot)) return ParsePathStatement();
  if (!Is(Tok::kIdent)) Fail(kCeExpectedStatement);
  switch (Cur().kw) {
    case Kw::kDim:
      return ParseDim();
    case Kw::kPrivate:
    case Kw::kPublic:
      if (scope_ != &program_->script) Fail(kCeExpectedStatement);
      if (Peek().kind == Tok::kIdent && Peek().kw == Kw::kConst) {
        Advance();
        return ParseConst();
      }
      return ParseDim();
    case Kw::kReDim:
      return ParseReDim();
    case Kw::kConst:
      return ParseConst();
    case Kw::kErase:
      return ParseErase();
    case Kw::kSet:
      return ParseSet();
    case Kw::kCall:
      return ParseCallKeyword();
    case Kw::kIf:
      return ParseIf();
    case Kw::kSelect:
      return ParseSelect();
    case Kw::kFor:
      return ParseFor();
    case Kw::kDo:
      return ParseDo();
    case Kw::kWhile:
      return ParseWhile();
    case Kw::kExit:
      return ParseExit();
    case Kw::kOn:
      return ParseOnError();
    case Kw::kWith:
      return ParseWith();
    case Kw::kMe:
      return ParsePathStatement();
    case Kw::kRandomize:
      if (Peek().kind == Tok::kEq) break;  // a variable named Randomize
      {
        auto s = std::make_unique<Stmt>();
        s->kind = StmtKind::kRandomize;
        s->line = Cur().line;
        s->column = Cur().column;
        Advance();
        if (!AtStatementEnd()) s->value = ParseExpr();
        return s;
      }
    case Kw::kStop:
      if (Peek().kind == Tok::kEq) break;
      {
        auto s = std::make_unique<Stmt>();
        s->line = Cur().line;
        Advance();
        return s;
      }
    case Kw::kNext:
      Fail(kCeUnexpectedNext);
    case Kw::kLoop:
      Fail(kCeLoopWithoutDo);
    case Kw::kSub:
    case Kw::kFunction:
    case Kw::kClass:
    case Kw::kOption:
      Fail(kCeExpectedStatement);
    default:
      if (IsReserved(Cur().kw)) Fail(kCeExpectedStatement);
      break;
  }
  return ParsePathStatement();
}

// dim_stmt = ("Dim"|"Private"|"Public") name ["(" [int_const {"," int_const}] ")"] {"," ...}
StmtPtr Parser::ParseDim() {
  auto s = std::make_unique<Stmt>();
  s->kind = StmtKind::kNothing;
  s->line = Cur().line;
  Advance();
  while (true) {
    const Token& name = ExpectName();
    Declare(name);
    int slot = static_cast<int>(scope_->local_names.size());
    scope_->local_names.push_back(name.folded);
    if (Is(Tok::kLParen)) {
      Advance();
      ArrayInit init;
      init.slot = slot;
      if (!Is(Tok::kRParen)) {
        while (true) {
          std::int64_t bound = 0;
          if (Is(Tok::kNumber) && Cur().value.type() != VT_R8) {
            bound = Cur().value.AsInteger();
          } else if (Is(Tok::kIdent)) {
            // A constant declared earlier in this scope or at script level.
            bool found = false;
            auto find = [&](const Procedure& p) {
              for (const auto& [n, v] : p.consts) {
                if (n == Cur().folded && v.is_numeric() && v.type() != VT_R8) {
                  bound = v.AsInteger();
                  found = true;
                }
              }
            };
            find(*scope_);
            if (!found) find(program_->script);
            if (!found) Fail(kCeExpectedInteger);
          } else {
            Fail(kCeExpectedInteger);
          }
          if (bound < -1 || bound > (std::int64_t{1} << 31)) Fail(kCeExpectedInteger);
          init.upper_bounds.push_back(bound);
          Advance();
          if (!Is(Tok::kComma)) break;
          Advance();
        }
        if (init.upper_bounds.size() > 60) Fail(kCeSyntax);
      }
      Expect(Tok::kRParen, kCeExpectedRParen);
      scope_->arrays.push_back(std::move(init));
    }
    if (!Is(Tok::kComma)) break;
    Advance();
  }
  return s;
}

// redim_stmt = "ReDim" ["Preserve"] name "(" expr {"," expr} ")" {"," ...}
StmtPtr Parser::ParseReDim() {
  auto s = NewStmt(StmtKind::kReDim);
  if (IsKw(Kw::kPreserve)) {
    s->preserve = true;
    Advance();
  }
  while (true) {
    const Token& name = ExpectName();
    DimItem item;
    item.target = MakeName(name);
    scope_->redim_names.push_back(name.folded);
    Expect(Tok::kLParen, kCeExpectedLParen);
    while (true) {
      item.bounds.push_back(ParseExpr());
      if (!Is(Tok::kComma)) break;
      Advance();
    }
    Expect(Tok::kRParen, kCeExpectedRParen);
    if (item.bounds.size() > 60) Fail(kCeSyntax);
    s->items.push_back(std::move(item));
    if (!Is(Tok::kComma)) break;
    Advance();
  }
  return s;
}

// const_val = ["+"|"-"] literal | "(" const_val ")"
Variant Parser::ParseConstValue() {
  if (Is(Tok::kLParen)) {
    Advance();
    Variant v = ParseConstValue();
    Expect(Tok::kRParen, kCeExpectedRParen);
    return v;
  }
  bool negate = false;
  if (Is(Tok::kMinus) || Is(Tok::kPlus)) {
    negate = Is(Tok::kMinus);
    Advance();
  }
  Variant v;
  const Token& tok = Cur();
  switch (tok.kind) {
    case Tok::kNumber:
    case Tok::kDate:
      v = tok.value;
      break;
    case Tok::kString:
      if (negate) Fail(kCeExpectedLiteral);
      v = Variant::Bstr(tok.text);
      break;
    case Tok::kIdent:
      switch (tok.kw) {
        case Kw::kTrue:
          v = Variant::Bool(true);
          break;
        case Kw::kFalse:
          v = Variant::Bool(false);
          break;
        case Kw::kEmpty:
          v = Variant();
          break;
        case Kw::kNull:
          v = Variant::Null();
          break;
        case Kw::kNothing:
          v = Variant::Object(nullptr);
          break;
        default:
          Fail(kCeExpectedLiteral);
      }
      if (negate && tok.kw != Kw::kTrue && tok.kw != Kw::kFalse) {
        Fail(kCeExpectedLiteral);
      }
      break;
    default:
      Fail(kCeExpectedLiteral);
  }
  Advance();
  if (negate) {
    if (v.type() == VT_I2) {
      v = v.AsInteger() == -32768 ? Variant::I4(32768)
                                  : Variant::I2(static_cast<std::int16_t>(-v.AsInteger()));
    } else if (v.type() == VT_I4) {
      v = v.AsInteger() == INT32_MIN ? Variant::R8(2147483648.0)
                                     : Variant::I4(static_cast<std::int32_t>(-v.AsInteger()));
    } else if (v.type() == VT_BOOL) {
      v = Variant::I2(static_cast<std::int16_t>(-v.AsInteger()));
    } else if (v.type() == VT_DATE) {
      v = Variant::Date(-v.AsDouble());
    } else {
      v = Variant::R8(-v.AsDouble());
    }
  }
  return v;
}

// const_stmt = ["Public"|"Private"] "Const" name "=" const_val {"," ...}
StmtPtr Parser::ParseConst() {
  auto s = std::make_unique<Stmt>();
  s->line = Cur().line;
  Advance();
  while (true) {
    const Token& name = ExpectName();
    Declare(name);
    Expect(Tok::kEq, kCeExpectedEquals);
    Variant v = ParseConstValue();
    scope_->consts.emplace_back(name.folded, std::move(v));
    if (!Is(Tok::kComma)) break;
    Advance();
  }
  return s;
}

StmtPtr Parser::ParseErase() {
  auto s = NewStmt(StmtKind::kErase);
  while (true) {
    DimItem item;
    item.target = MakeName(ExpectName());
    s->items.push_back(std::move(item));
    if (!Is(Tok::kComma)) break;
    Advance();
  }
  return s;
}

// set_stmt = "Set" target "=" ( expr | "New" name )
StmtPtr Parser::ParseSet() {
  auto s = NewStmt(StmtKind::kSet);
  ExprPtr start;
  if (Is(Tok::kDot)) {
    start = nullptr;
  } else {
    start = MakeName(ExpectName());
  }
  std::size_t last_paren = 0;
  s->target = ParsePath(std::move(start), &last_paren);
  if (s->target->kind == ExprKind::kName) {
    scope_->assigned_names.push_back(s->target->folded);
  }
  Expect(Tok::kEq, kCeExpectedEquals);
  s->value = ParseExpr();
  return s;
}

// call_stmt = "Call" path   (arguments, if any, in the last parentheses)
StmtPtr Parser::ParseCallKeyword() {
  auto s = NewStmt(StmtKind::kCall);
  ExprPtr start;
  if (IsKw(Kw::kMe)) {
    start = MakeNode(ExprKind::kMe, Cur());
    start->name = Cur().text;
    Advance();
  } else if (!Is(Tok::kDot)) {
    start = MakeName(ExpectName());
  }
  std::size_t last_paren = 0;
  s->target = ParsePath(std::move(start), &last_paren);
  ExpectStatementEnd();
  return s;
}

// assign_stmt = target "=" expr  |  call_stmt = path [ args ]
StmtPtr Parser::ParsePathStatement() {
  auto s = std::make_unique<Stmt>();
  s->line = Cur().line;
  s->column = Cur().column;
  ExprPtr start;
  if (IsKw(Kw::kMe)) {
    start = MakeNode(ExprKind::kMe, Cur());
    start->name = Cur().text;
    Advance();
  } else if (!Is(Tok::kDot)) {
    start = MakeName(ExpectName());
  }
  std::size_t last_paren = 0;
  ExprPtr path = ParsePath(std::move(start), &last_paren);
  if (Is(Tok::kEq)) {
    Advance();
    s->kind = StmtKind::kAssign;
    if (path->kind == ExprKind::kName) {
      scope_->assigned_names.push_back(path->folded);
    }
    s->target = std::move(path);
    s->value = ParseExpr();
    return s;
  }
  s->kind = StmtKind::kCall;
  if (AtStatementEnd()) {
    if (path->kind == ExprKind::kCall && last_paren != 0) {
      // "F(a, b)" as a statement is refused; "F(a)" passes (a) by value.
      if (path->args.size() > 1) Fail(kCeParenthesesInSubCall, t_[last_paren]);
      if (path->args.size() == 1 && path->args[0]) {
        path->args[0]->parenthesized = true;
      }
    }
    s->target = std::move(path);
    return s;
  }
  // Something follows the path: arguments without parentheses. If the
  // path ended in "( ... )", those parentheses belong to the first
  // argument ("F (a) + 1, b"), so go back to them.
  ExprPtr callee;
  if (path->kind == ExprKind::kCall && last_paren != 0) {
    callee = std::move(path->left);
    p_ = last_paren;
  } else {
    callee = std::move(path);
  }
  auto call = MakeNode(ExprKind::kCall, t_[p_]);
  call->line = callee->line;
  call->column = callee->column;
  call->left = std::move(callee);
  ParseBareArgs(call.get());
  ExpectStatementEnd();
  s->target = std::move(call);
  return s;
}

// if_stmt = "If" expr "Then" NL block {"ElseIf" expr "Then" NL block}
//           ["Else" block] "End" "If"
//         | "If" expr "Then" stmt_list ["Else" stmt_list]
StmtPtr Parser::ParseIf() {
  auto s = NewStmt(StmtKind::kIf);
  IfArm arm;
  arm.line = s->line;
  arm.condition = ParseExpr();
  ExpectKw(Kw::kThen, kCeExpectedThen);
  if (!Is(Tok::kNewLine) && !Is(Tok::kEof)) {
    // Single-line form: everything up to the end of the logical line.
    ++single_line_if_;
    // The platform also takes a closing "End If" on the same line
    // ("If c Then x = 1 Else x = 2 End If").
    bool closed = false;
    auto at_end_if = [&] {
      return IsKw(Kw::kEnd) && Peek().kind == Tok::kIdent && Peek().kw == Kw::kIf;
    };
    auto parse_list = [&](Block* block) {
      while (true) {
        if (Is(Tok::kColon)) {
          Advance();
          continue;
        }
        if (at_end_if()) {
          Advance();
          Advance();
          closed = true;
          break;
        }
        if (AtStatementEnd()) break;
        block->push_back(ParseStatement());
        if (!AtStatementEnd() && !at_end_if()) Fail(kCeExpectedEndOfStatement);
      }
    };
    parse_list(&arm.body);
    s->arms.push_back(std::move(arm));
    if (!closed && IsKw(Kw::kElse)) {
      IfArm else_arm;
      else_arm.line = Cur().line;
      Advance();
      parse_list(&else_arm.body);
      s->arms.push_back(std::move(else_arm));
    } else if (IsKw(Kw::kElseIf)) {
      Fail(kCeExpectedEndOfStatement);
    }
    --single_line_if_;
    return s;
  }
  BlockStatement block_statement(this);
  arm.body = ParseBlock();
  s->arms.push_back(std::move(arm));
  while (IsKw(Kw::kElseIf)) {
    IfArm next;
    next.line = Cur().line;
    Advance();
    next.condition = ParseExpr();
    ExpectKw(Kw::kThen, kCeExpectedThen);
    next.body = ParseBlock();
    s->arms.push_back(std::move(next));
  }
  if (IsKw(Kw::kElse)) {
    IfArm else_arm;
    else_arm.line = Cur().line;
    Advance();
    else_arm.body = ParseBlock();
    s->arms.push_back(std::move(else_arm));
  }
  ExpectEnd(Kw::kIf, kCeExpectedIf);
  return s;
}

// select_stmt = "Select" "Case" expr SEP {SEP} {"Case" case_list SEP block}
//               ["Case" "Else" SEP block] "End" "Select"
StmtPtr Parser::ParseSelect() {
  auto s = NewStmt(StmtKind::kSelect);
  ExpectKw(Kw::kCase, kCeExpectedCase);
  s->value = ParseExpr();
  ExpectStatementEnd();
  BlockStatement block_statement(this);
  SkipSeparators();
  bool seen_else = false;
  while (IsKw(Kw::kCase)) {
    CaseArm arm;
    arm.line = Cur().line;
    Advance();
    if (IsKw(Kw::kElse)) {
      if (seen_else) Fail(kCeExpectedEnd);
      arm.is_else = true;
      seen_else = true;
      Advance();
    } else {
      if (seen_else) Fail(kCeExpectedEnd);
      while (true) {
        // "Case Is > 3" and "Case 1 To 5" are VB forms the platform
        // rejects; so do we.
        if (IsKw(Kw::kIs)) Fail(kCeExpectedEndOfStatement);
        arm.values.push_back(ParseExpr());
        if (!Is(Tok::kComma)) break;
        Advance();
      }
    }
    if (!AtStatementEnd()) Fail(kCeExpectedEndOfStatement);
    arm.body = ParseBlock();
    s->cases.push_back(std::move(arm));
  }
  ExpectEnd(Kw::kSelect, kCeExpectedSelect);
  return s;
}

// for_stmt = "For" name "=" expr "To" expr ["Step" expr] SEP block "Next"
// foreach_stmt = "For" "Each" name "In" expr SEP block "Next"
StmtPtr Parser::ParseFor() {
  auto s = std::make_unique<Stmt>();
  s->line = Cur().line;
  s->column = Cur().column;
  Advance();
  bool each = IsKw(Kw::kEach);
  if (each) Advance();
  if (!Is(Tok::kIdent) || IsReserved(Cur().kw)) {
    Fail(each ? kCeExpectedIdentifier : kCeInvalidForVariable);
  }
  s->target = MakeName(Cur());
  scope_->assigned_names.push_back(Cur().folded);
  Advance();
  if (Is(Tok::kLParen) || Is(Tok::kDot)) Fail(kCeInvalidForVariable);
  if (each) {
    s->kind = StmtKind::kForEach;
    ExpectKw(Kw::kIn, kCeExpectedIn);
    s->value = ParseExpr();
  } else {
    s->kind = StmtKind::kFor;
    Expect(Tok::kEq, kCeExpectedEquals);
    s->value = ParseExpr();
    ExpectKw(Kw::kTo, kCeExpectedTo);
    s->end = ParseExpr();
    if (IsKw(Kw::kStep)) {
      Advance();
      s->step = ParseExpr();
    }
  }
  ExpectStatementEnd();
  BlockStatement block_statement(this);
  ++for_depth_;
  s->body = ParseBlock();
  --for_depth_;
  if (!IsKw(Kw::kNext)) Fail(kCeExpectedNext);
  Advance();
  // "Next i" is not VBScript.
  ExpectStatementEnd();
  return s;
}

// do_stmt = "Do" [("While"|"Until") expr] SEP block "Loop"
//         | "Do" SEP block "Loop" [("While"|"Until") expr]
StmtPtr Parser::ParseDo() {
  auto s = NewStmt(StmtKind::kDo);
  if (IsKw(Kw::kWhile) || IsKw(Kw::kUntil)) {
    s->until = IsKw(Kw::kUntil);
    Advance();
    s->condition = ParseExpr();
  }
  if (!AtStatementEnd()) {
    Fail(s->condition ? kCeExpectedEndOfStatement : kCeExpectedWhileUntilEnd);
  }
  BlockStatement block_statement(this);
  ++do_depth_;
  s->body = ParseBlock();
  --do_depth_;
  if (!IsKw(Kw::kLoop)) Fail(kCeExpectedLoop);
  Advance();
  if (IsKw(Kw::kWhile) || IsKw(Kw::kUntil)) {
    if (s->condition) Fail(kCeExpectedEndOfStatement);
    s->until = IsKw(Kw::kUntil);
    Advance();
    s->condition = ParseExpr();
    s->condition_at_end = true;
  }
  ExpectStatementEnd();
  return s;
}

// while_stmt = "While" expr SEP block "Wend"
StmtPtr Parser::ParseWhile() {
  auto s = NewStmt(StmtKind::kDo);
  s->wend = true;
  s->condition = ParseExpr();
  ExpectStatementEnd();
  BlockStatement block_statement(this);
  // There is no Exit While, and Exit Do inside While leaves an enclosing
  // Do, so a While does not count as a Do.
  s->body = ParseBlock();
  if (!IsKw(Kw::kWend)) Fail(kCeExpectedWend);
  Advance();
  ExpectStatementEnd();
  return s;
}

// exit_stmt = "Exit" ("Do"|"For"|"Sub"|"Function"|"Property")
StmtPtr Parser::ParseExit() {
  auto s = std::make_unique<Stmt>();
  s->kind = StmtKind::kExit;
  s->line = Cur().line;
  const Token& exit_tok = Cur();
  Advance();
  switch (Cur().kind == Tok::kIdent ? Cur().kw : Kw::kNone) {
    case Kw::kDo:
      if (do_depth_ == 0) Fail(kCeInvalidExit, exit_tok);
      s->exit_kind = ExitKind::kDo;
      break;
    case Kw::kFor:
      if (for_depth_ == 0) Fail(kCeInvalidExit, exit_tok);
      s->exit_kind = ExitKind::kFor;
      break;
    case Kw::kSub:
      if (!in_sub_) Fail(kCeInvalidExit, exit_tok);
      s->exit_kind = ExitKind::kSub;
      break;
    case Kw::kFunction:
      if (!in_function_) Fail(kCeInvalidExit, exit_tok);
      s->exit_kind = ExitKind::kFunction;
      break;
    case Kw::kProperty:
      if (!in_property_) Fail(kCeInvalidExit, exit_tok);
      s->exit_kind = ExitKind::kProperty;
      break;
    default:
      Fail(kCeInvalidExit, exit_tok);
  }
  Advance();
  return s;
}

// on_error_stmt = "On" "Error" ("Resume" "Next" | "GoTo" "0")
StmtPtr Parser::ParseOnError() {
  auto s = std::make_unique<Stmt>();
  s->kind = StmtKind::kOnError;
  s->line = Cur().line;
  Advance();
  ExpectKw(Kw::kError, kCeSyntax);
  if (IsKw(Kw::kResume)) {
    Advance();
    ExpectKw(Kw::kNext, kCeSyntax);
    s->resume_next = true;
  } else if (IsKw(Kw::kGoTo)) {
    Advance();
    if (!Is(Tok::kNumber) || Cur().value.AsDouble() != 0) Fail(kCeSyntax);
    Advance();
  } else {
    Fail(kCeSyntax);
  }
  return s;
}

// with_stmt = "With" expr SEP block "End" "With"
StmtPtr Parser::ParseWith() {
  auto s = NewStmt(StmtKind::kWith);
  s->value = ParseExpr();
  ExpectStatementEnd();
  BlockStatement block_statement(this);
  s->body = ParseBlock();
  ExpectEnd(Kw::kWith, kCeExpectedWith);
  return s;
}

// ---------------------------------------------------------------- expressions

ExprPtr Parser::MakeNode(ExprKind kind, const Token& at) {
  auto e = std::make_unique<Expr>();
  e->kind = kind;
  e->line = at.line;
  e->column = at.column;
  return e;
}

ExprPtr Parser::MakeName(const Token& tok) {
  auto e = MakeNode(ExprKind::kName, tok);
  e->name = tok.text;
  e->folded = tok.folded;
  if (e->folded == u"eval" || e->folded == u"execute" || e->folded == u"executeglobal" ||
      e->folded == u"getref") {
    program_->dynamic_code = true;
  }
  return e;
}

void Parser::SetDepth(Expr* e, const Token& at) {
  int d = 0;
  if (e->left) d = std::max(d, e->left->depth);
  if (e->right) d = std::max(d, e->right->depth);
  for (const auto& a : e->args) {
    if (a) d = std::max(d, a->depth);
  }
  e->depth = d + 1;
  if (e->depth > limits_.max_expression_depth) Fail(kCeOutOfMemory, at);
}

ExprPtr Parser::MakeBinary(Op op, ExprPtr l, ExprPtr r, const Token& at) {
  auto e = MakeNode(ExprKind::kBinary, at);
  e->op = op;
  e->left = std::move(l);
  e->right = std::move(r);
  SetDepth(e.get(), at);
  return e;
}

namespace {

Op BinaryOpAt(int level, const Token& tok) {
  switch (level) {
    case kLevelImp:
      return tok.kw == Kw::kImp && tok.kind == Tok::kIdent ? Op::kImp : Op::kNone;
    case kLevelEqv:
      return tok.kw == Kw::kEqv && tok.kind == Tok::kIdent ? Op::kEqv : Op::kNone;
    case kLevelXor:
      return tok.kw == Kw::kXor && tok.kind == Tok::kIdent ? Op::kXor : Op::kNone;
    case kLevelOr:
      return tok.kw == Kw::kOr && tok.kind == Tok::kIdent ? Op::kOr : Op::kNone;
    case kLevelAnd:
      return tok.kw == Kw::kAnd && tok.kind == Tok::kIdent ? Op::kAnd : Op::kNone;
    case kLevelCompare:
      switch (tok.kind) {
        case Tok::kEq:
          return Op::kEq;
        case Tok::kNe:
          return Op::kNe;
        case Tok::kLt:
          return Op::kLt;
        case Tok::kGt:
          return Op::kGt;
        case Tok::kLe:
          return Op::kLe;
        case Tok::kGe:
          return Op::kGe;
        case Tok::kIdent:
          return tok.kw == Kw::kIs ? Op::kIs : Op::kNone;
        default:
          return Op::kNone;
      }
    case kLevelConcat:
      return tok.kind == Tok::kAmp ? Op::kConcat : Op::kNone;
    case kLevelAdd:
      return tok.kind == Tok::kPlus ? Op::kAdd : tok.kind == Tok::kMinus ? Op::kSub : Op::kNone;
    case kLevelMod:
      return tok.kw == Kw::kMod && tok.kind == Tok::kIdent ? Op::kMod : Op::kNone;
    case kLevelIntDiv:
      return tok.kind == Tok::kBackslash ? Op::kIntDiv : Op::kNone;
    case kLevelMul:
      return tok.kind == Tok::kStar ? Op::kMul : tok.kind == Tok::kSlash ? Op::kDiv : Op::kNone;
    default:
      return Op::kNone;
  }
}

}  // namespace

// expr = imp_expr; each level: next_level { op next_level }, left-associative.
// not_expr = "Not" not_expr | cmp_expr;  neg_expr = ("-"|"+") neg_expr | pow_expr
ExprPtr Parser::ParseLevel(int level) {
  CheckStack();
  if (level == kLevelNot) {
    if (IsKw(Kw::kNot)) {
      const Token& at = Cur();
      Advance();
      auto e = MakeNode(ExprKind::kUnary, at);
      e->op = Op::kNot;
      e->left = ParseLevel(kLevelNot);
      SetDepth(e.get(), at);
      return e;
    }
    return ParseLevel(level + 1);
  }
  if (level == kLevelNeg) return ParseLevel(kLevelPow);
  if (level == kLevelPow) {
    // pow_expr = pow_operand { "^" pow_operand }   (left-associative:
    // 2^3^2 = 64). A leading sign belongs to the operand, as on the
    // platform: -3 ^ 2 = 9.
    ExprPtr left = ParsePowOperand();
    while (Is(Tok::kCaret)) {
      const Token& at = Cur();
      Advance();
      left = MakeBinary(Op::kPow, std::move(left), ParsePowOperand(), at);
    }
    return left;
  }
  ExprPtr left = ParseLevel(level + 1);
  while (true) {
    Op op = BinaryOpAt(level, Cur());
    if (op == Op::kNone) break;
    const Token& at = Cur();
    Advance();
    ExprPtr right = ParseLevel(level + 1);
    left = MakeBinary(op, std::move(left), std::move(right), at);
  }
  return left;
}

// pow_operand = ("-"|"+") pow_operand | primary
ExprPtr Parser::ParsePowOperand() {
  CheckStack();
  if (Is(Tok::kMinus) || Is(Tok::kPlus)) {
    const Token& at = Cur();
    bool minus = Is(Tok::kMinus);
    Advance();
    auto e = MakeNode(ExprKind::kUnary, at);
    e->op = minus ? Op::kNeg : Op::kPlus;
    e->left = ParsePowOperand();
    e->literal = e->left->literal;
    SetDepth(e.get(), at);
    return e;
  }
  return ParsePrimary();
}

// primary = literal | path | "(" expr ")" | "New" name
ExprPtr Parser::ParsePrimary() {
  CheckStack();
  const Token& tok = Cur();
  switch (tok.kind) {
    case Tok::kNumber:
    case Tok::kDate: {
      auto e = MakeNode(ExprKind::kLiteral, tok);
      e->value = tok.value;
      e->literal = true;
      Advance();
      return e;
    }
    case Tok::kString: {
      auto e = MakeNode(ExprKind::kLiteral, tok);
      e->value = Variant::Bstr(tok.text);
      e->literal = true;
      Advance();
      return e;
    }
    case Tok::kLParen: {
      Advance();
      ExprPtr inner = ParseExpr();
      Expect(Tok::kRParen, kCeExpectedRParen);
      inner->parenthesized = true;
      // "(a)(0)" or "(obj).x" continue as a path.
      if (Is(Tok::kLParen) || (Is(Tok::kDot) && !Cur().space_before)) {
        std::size_t last = 0;
        return ParsePath(std::move(inner), &last);
      }
      return inner;
    }
    case Tok::kDot: {
      std::size_t last = 0;
      return ParsePath(nullptr, &last);
    }
    case Tok::kIdent:
      switch (tok.kw) {
        case Kw::kTrue:
        case Kw::kFalse:
        case Kw::kEmpty:
        case Kw::kNull:
        case Kw::kNothing: {
          auto e = MakeNode(ExprKind::kLiteral, tok);
          e->literal = tok.kw != Kw::kNothing;
          e->value = tok.kw == Kw::kTrue    ? Variant::Bool(true)
                     : tok.kw == Kw::kFalse ? Variant::Bool(false)
                     : tok.kw == Kw::kNull  ? Variant::Null()
                     : tok.kw == Kw::kEmpty ? Variant()
                                            : Variant::Object(nullptr);
          Advance();
          return e;
        }
        case Kw::kNew: {
          Advance();
          const Token& name = ExpectName();
          auto e = MakeNode(ExprKind::kNew, tok);
          e->name = name.text;
          e->folded = name.folded;
          return e;
        }
        case Kw::kMe: {
          ExprPtr me = MakeNode(ExprKind::kMe, tok);
          me->name = tok.text;
          Advance();
          std::size_t last = 0;
          return ParsePath(std::move(me), &last);
        }
        default:
          if (IsReserved(tok.kw)) Fail(kCeExpectedExpression);
          break;
      }
      {
        ExprPtr name = MakeName(tok);
        Advance();
        std::size_t last = 0;
        return ParsePath(std::move(name), &last);
      }
    default:
      Fail(kCeExpectedExpression);
  }
}

// path = (name | "." member) { "." member | "(" [args] ")" }
// `start` null means a leading "." (the innermost With value).
ExprPtr Parser::ParsePath(ExprPtr start, std::size_t* last_paren) {
  ExprPtr cur = std::move(start);
  if (!cur) {
    const Token& dot = Cur();
    Expect(Tok::kDot, kCeExpectedStatement);
    if (!Is(Tok::kIdent)) Fail(kCeExpectedIdentifier);
    cur = MakeNode(ExprKind::kMember, dot);
    cur->name = Cur().text;
    cur->folded = Cur().folded;
    Advance();
  }
  *last_paren = 0;
  while (true) {
    if (Is(Tok::kDot) && !Cur().space_before) {
      const Token& dot = Cur();
      Advance();
      if (!Is(Tok::kIdent)) Fail(kCeExpectedIdentifier);
      auto m = MakeNode(ExprKind::kMember, dot);
      m->name = Cur().text;
      m->folded = Cur().folded;
      m->left = std::move(cur);
      Advance();
      SetDepth(m.get(), dot);
      cur = std::move(m);
      *last_paren = 0;
    } else if (Is(Tok::kLParen)) {
      std::size_t paren_pos = p_;
      const Token& at = Cur();
      auto call = MakeNode(ExprKind::kCall, at);
      call->line = cur->line;
      call->column = cur->column;
      call->left = std::move(cur);
      ParseParenArgs(call.get());
      SetDepth(call.get(), at);
      cur = std::move(call);
      *last_paren = paren_pos;
    } else {
      break;
    }
  }
  return cur;
}

// "(" [ [arg] { "," [arg] } ] ")"
void Parser::ParseParenArgs(Expr* call) {
  Expect(Tok::kLParen, kCeExpectedLParen);
  if (Is(Tok::kRParen)) {
    Advance();
    return;
  }
  while (true) {
    if (Is(Tok::kComma) || Is(Tok::kRParen)) {
      call->args.push_back(nullptr);
    } else {
      call->args.push_back(ParseExpr());
    }
    if (Is(Tok::kComma)) {
      Advance();
      continue;
    }
    break;
  }
  Expect(Tok::kRParen, kCeExpectedRParen);
}

// args = [arg] { "," [arg] }   (statement call without parentheses)
void Parser::ParseBareArgs(Expr* call) {
  while (true) {
    if (Is(Tok::kComma)) {
      call->args.push_back(nullptr);
    } else {
      call->args.push_back(ParseExpr());
    }
    if (Is(Tok::kComma)) {
      Advance();
      if (AtStatementEnd())
        call->args.push_back(nullptr);
      else
        continue;
    }
    break;
  }
  SetDepth(call, Cur());
}

}  // namespace

std::unique_ptr<Program> ParseProgram(std::u16string_view source, ParseError* error,
                                      std::vector<std::size_t>* line_starts,
                                      const ParseLimits& limits) {
  std::vector<Token> tokens;
  LexError lex_error;
  if (!Lex(source, &tokens, &lex_error, line_starts)) {
    *error = {lex_error.number, lex_error.line, lex_error.column};
    return nullptr;
  }
  Parser parser(tokens, limits);
  try {
    auto program = parser.Run();
    program->line_starts = *line_starts;
    return program;
  } catch (const Failure& f) {
    *error = {f.number, f.line, f.column};
    return nullptr;
  } catch (const std::bad_alloc&) {
    *error = {kCeOutOfMemory, 0, 0};
    return nullptr;
  }
}

ExprPtr ParseExpression(std::u16string_view source, ParseError* error, const ParseLimits& limits) {
  std::vector<Token> tokens;
  LexError lex_error;
  if (!Lex(source, &tokens, &lex_error, nullptr)) {
    *error = {lex_error.number, lex_error.line, lex_error.column};
    return nullptr;
  }
  Parser parser(tokens, limits);
  try {
    return parser.RunExpression();
  } catch (const Failure& f) {
    *error = {f.number, f.line, f.column};
    return nullptr;
  } catch (const std::bad_alloc&) {
    *error = {kCeOutOfMemory, 0, 0};
    return nullptr;
  }
}

}  // namespace lun::script
