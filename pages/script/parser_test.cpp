// The parser's table: source text and the tree it must give, written as a
// compact s-expression, for precedence, call forms, single-line forms and
// class declarations.
#include "pages/script/parser.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/text.h"

namespace lun::script {
namespace {

const char* OpName(Op op) {
  static const char* const kNames[] = {"?",   "^",  "*",   "/",   "\\",  "Mod", "+",  "-",
                                       "&",   "=",  "<>",  "<",   ">",   "<=",  ">=", "Is",
                                       "And", "Or", "Xor", "Eqv", "Imp", "neg", "+u", "Not"};
  return kNames[static_cast<int>(op)];
}

std::string Describe(const Expr* e) {
  if (!e) return "_";
  switch (e->kind) {
    case ExprKind::kLiteral: {
      if (e->value.is_string()) return "\"" + ToNarrow(e->value.AsString()) + "\"";
      Variant text;
      if (ChangeType(e->value, VT_BSTR, &text) != S_OK) return "?";
      return ToNarrow(text.AsString());
    }
    case ExprKind::kName:
      return ToNarrow(e->name);
    case ExprKind::kMember:
      return "(. " + Describe(e->left.get()) + " " + ToNarrow(e->name) + ")";
    case ExprKind::kCall: {
      std::string s = "(call " + Describe(e->left.get());
      for (const auto& a : e->args) s += " " + Describe(a.get());
      return s + ")";
    }
    case ExprKind::kUnary:
      return std::string("(") + OpName(e->op) + " " + Describe(e->left.get()) + ")";
    case ExprKind::kBinary:
      return std::string("(") + OpName(e->op) + " " + Describe(e->left.get()) + " " +
             Describe(e->right.get()) + ")";
    case ExprKind::kNew:
      return "(new " + ToNarrow(e->name) + ")";
    case ExprKind::kMe:
      return "Me";
  }
  return "?";
}

std::string Describe(const Block& block);

std::string Describe(const Stmt& s) {
  switch (s.kind) {
    case StmtKind::kAssign:
      return "(let " + Describe(s.target.get()) + " " + Describe(s.value.get()) + ")";
    case StmtKind::kSet:
      return "(set " + Describe(s.target.get()) + " " + Describe(s.value.get()) + ")";
    case StmtKind::kCall:
      return Describe(s.target.get());
    case StmtKind::kIf: {
      std::string out = "(if";
      for (const auto& arm : s.arms) {
        out += " [" + (arm.condition ? Describe(arm.condition.get()) : std::string("else")) + " " +
               Describe(arm.body) + "]";
      }
      return out + ")";
    }
    case StmtKind::kWith:
      return "(with " + Describe(s.value.get()) + " " + Describe(s.body) + ")";
    default:
      return "(stmt)";
  }
}

std::string Describe(const Block& block) {
  std::string out = "{";
  for (const auto& s : block) out += (out.size() > 1 ? " " : "") + Describe(*s);
  return out + "}";
}

std::string DescribeProgram(const Program& p) {
  std::string out = Describe(p.script.body);
  for (const auto& proc : p.procedures) out += " " + ToNarrow(proc->name) + Describe(proc->body);
  for (const auto& c : p.classes) {
    out += " class " + ToNarrow(c->name) + "[";
    for (std::size_t i = 0; i < c->members.size(); ++i) {
      const ClassMember& m = c->members[i];
      out += (i ? " " : "") + ToNarrow(m.folded) + (m.is_public ? "" : "-") +
             (m.field >= 0 ? ":field" : "") + (m.get ? ":get" : "") + (m.let ? ":let" : "") +
             (m.set ? ":set" : "") + (c->default_member == static_cast<int>(i) ? ":default" : "");
    }
    out += "]";
  }
  return out;
}

TEST(ParserTable, TreesOfTypicalSources) {
  struct Row {
    const char* source;
    const char* tree;
  };
  const Row rows[] = {
      // precedence
      {"x = -3 ^ 2", "{(let x (^ (neg 3) 2))}"},
      {"x = 2 ^ 3 ^ 2", "{(let x (^ (^ 2 3) 2))}"},
      {"x = a + b * c & d", "{(let x (& (+ a (* b c)) d))}"},
      {"x = Not a = b And c", "{(let x (And (Not (= a b)) c))}"},
      {"x = a Mod b \\ c", "{(let x (Mod a (\\ b c)))}"},
      // call forms
      {"F a, b", "{(call F a b)}"},
      {"F (a), b", "{(call F a b)}"},
      {"Call F(a, b)", "{(call F a b)}"},
      {"F a, , c", "{(call F a _ c)}"},
      {"x = F(a)(1).y", "{(let x (. (call (call F a) 1) y))}"},
      {"With o : .a.b = 1 : End With", "{(with o {(let (. (. _ a) b) 1)})}"},
      {"Set o = New C", "{(set o (new C))}"},
      // literals
      {"x = &H10& + &HFFFF", "{(let x (+ 16 -1))}"},
      // single-line forms
      {"If a Then b = 1 Else b = 2 End If", "{(if [a {(let b 1)}] [else {(let b 2)}])}"},
      {"If a Then b = 1 : c = 2", "{(if [a {(let b 1) (let c 2)}])}"},
      {"Sub S() x = 1\nEnd Sub", "{} S{(let x 1)}"},
      // classes
      {"Class C\nPrivate n\nPublic Default Property Get V() : V = n : End Property\n"
       "Public Property Let V(x) : n = x : End Property\nSub M : Me.V = 1 : End Sub\nEnd Class",
       "{} class C[n-:field v:get:let:default m:get]"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.source);
    ParseError error;
    std::vector<std::size_t> line_starts;
    auto program = ParseProgram(ToWide(row.source), &error, &line_starts);
    ASSERT_TRUE(program) << "error " << error.number << " at line " << error.line;
    EXPECT_EQ(DescribeProgram(*program), row.tree);
  }
}

}  // namespace
}  // namespace lun::script
