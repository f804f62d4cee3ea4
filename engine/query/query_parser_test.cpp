#include "engine/query/query_parser.h"

#include <gtest/gtest.h>

#include "config/settings_store.h"
#include "engine/query/query_escape.h"
#include "engine/storage/engine_error.h"
#include "platform/scratch_dir.h"
#include "platform/text.h"

namespace lun {
namespace {

int32_t TestFields(std::string_view name) {
  static const std::pair<const char*, int32_t> kFields[] = {
      {"文本内容", 0}, {"文件名称", 1}, {"文件大小", 2}, {"x", 3}};
  for (const auto& [field, number] : kFields) {
    if (name == field) return number;
  }
  return kUnknownField;
}

// Postfix list as text: terms as "field:text" (with "<", "<=", ">", ">="
// after the field when they compare), operators as * + - ~ (negation).
std::string Render(const TokenList& list) {
  std::string out;
  for (const QueryToken& t : list) {
    if (!out.empty()) out += ' ';
    switch (t.type) {
      case TokenType::kTerm: {
        static const char* kCmp[] = {"", ">", ">=", "<", "<="};
        out += std::to_string(t.field) + kCmp[static_cast<int>(t.comparison)] + ":" +
               ToNarrow(t.text);
        break;
      }
      case TokenType::kIntersection: out += '*'; break;
      case TokenType::kUnion: out += '+'; break;
      case TokenType::kDifference: out += '-'; break;
      case TokenType::kNegation: out += '~'; break;
      default: out += '?';
    }
  }
  return out;
}

std::string Parse(std::string_view expression, const OperatorTable& ops = {}) {
  const auto list = ParseExpression(ops, NormalizeQueryText(expression), TestFields);
  return list ? Render(*list) : "ERROR";
}

TEST(QueryParserTest, ExpressionsToPostfix) {
  struct Case {
    const char* expression;
    const char* postfix;
  };
  const Case cases[] = {
      {"", ""},
      {"   ", ""},
      {"a b", "-1:a b"},  // blanks are part of a term: a phrase
      {"a+b", "-1:a -1:b +"},
      {"a + b", "-1:a  -1: b +"},
      // No precedence: both give a, b, union, c, intersection.
      {"(a+b)*c", "-1:a -1:b + -1:c *"},
      {"a+b*c", "-1:a -1:b + -1:c *"},
      {"-a", "-1:a ~"},
      {"a--b", "-1:a -1:b ~ -"},
      {"--a", "-1:a ~ ~"},
      {"-a*b", "-1:a ~ -1:b *"},
      {"a*-b", "-1:a -1:b ~ *"},
      {"-a*-b+c", "-1:a ~ -1:b ~ -1:c + *"},
      {"a-*b", "ERROR"},
      {"-*b", "ERROR"},
      {"a*", "ERROR"},
      {"(a", "ERROR"},
      {"a)", "ERROR"},
      {"()", "ERROR"},
      {"(a)(b)", "ERROR"},
      {"(a)b", "ERROR"},
      // Fields and their scope.
      {"文本内容=(a*b)", "0:a 0:b *"},
      {"文件名称=x*y", "1:x 1:y *"},
      {"文本内容=(a)+b", "0:a 0:b +"},
      {"(文件名称=a)+b", "1:a -1:b +"},
      {"文本内容=-abc", "0:abc ~"},
      {"文本内容=", "ERROR"},
      {"文本内容=*a", "ERROR"},
      {"任意字段=abc", "-1:abc"},
      {" 文件名称 =a", "1:a"},  // the name is trimmed
      {"nosuchfield=a", "ERROR"},
      {"=a", "ERROR"},
      // Comparisons.
      {"x<=5", "3<=:5"},
      {"x>=5", "3>=:5"},
      {"x<5", "3<:5"},
      {"x>5", "3>:5"},
      {"x=<5", "ERROR"},
      {"x<5>3", "ERROR"},
      {"<5", "ERROR"},
      {"x<5=3", "ERROR"},
      // Ranges and anchors are term text, not operators.
      {"文件大小=[100~200}", "2:[100~200}"},
      {"文件名称=[abc]", "1:[abc]"},
      // The whole expression is normalised before it is split.
      {"ＡＢＣ", "-1:abc"},
      {"繁體", "-1:繁体"},
      {"文本内容＝（ａ＋ｂ）", "0:a 0:b +"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.expression);
    EXPECT_EQ(Parse(c.expression), c.postfix);
  }
}

TEST(QueryParserTest, ConfiguredOperatorsMatchAsWholeStrings) {
  ScratchDir dir;
  SettingsStore settings;
  ASSERT_TRUE(settings.Load(dir.File("Setting")));
  settings.SetValue(kSearchSection, "交", "AND");
  settings.SetValue(kSearchSection, "并", "OR");
  const OperatorTable ops = OperatorTable::FromSettings(settings);
  EXPECT_EQ(ops.difference, u"-");  // unset: the default
  EXPECT_EQ(Parse("a AND b OR c", ops), "-1:a  -1: b  * -1: c +");
  EXPECT_EQ(Parse("a*b", ops), "-1:a*b");  // "*" is no operator any more
  EXPECT_EQ(Parse("anord", ops), "-1:an -1:d +") << "a whole-string match inside a word";
  EXPECT_EQ(Parse("(a)", ops), "-1:a");  // the parentheses are fixed
}

TEST(QueryParserTest, SplitsTheQueryString) {
  struct Case {
    const char* query;
    int code;
    const char* table;
    const char* expression;
    bool in_all;
    const char* sort;
    bool descending;
  };
  const Case cases[] = {
      {"[文档]:", 0, "文档", "", false, "", false},
      {"文档:", 0, "文档", "", false, "", false},
      {"文档: in all", 0, "文档", "", true, "", false},
      {"  [ 文档 ] : a b  ", 0, "文档", "a b", false, "", false},
      {"[文档]:a order by 修改时间", 0, "文档", "a", false, "修改时间", false},
      {"[文档]:a order by 相关度 DESC", 0, "文档", "a", false, "相关度", true},
      {"[文档]:a ORDER BY  相关度   desc", 0, "文档", "a", false, "相关度", true},
      {"[文档]:a order by 相关度 descending", 0, "文档", "a", false, "相关度", false},
      {"[文档]:a order 相关度", 0, "文档", "a order 相关度", false, "", false},
      // The order clause cuts away what follows it, " in all" included.
      {"[文档]:a order by 相关度 desc in all", 0, "文档", "a", false, "相关度", true},
      {"[文档]:完整路径=x in all order by 相关度", 0, "文档", "完整路径=x", true, "相关度", false},
      {"[文档]:完整路径=x IN ALL", 0, "文档", "完整路径=x", true, "", false},
      {"", kQueryEmpty, "", "", false, "", false},
      {"no colon", kQuerySyntaxError, "", "", false, "", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.query);
    QueryParts parts;
    ASSERT_EQ(SplitQuery(c.query, &parts), c.code);
    if (c.code != 0) continue;
    EXPECT_EQ(parts.table, c.table);
    EXPECT_EQ(parts.expression, c.expression);
    EXPECT_EQ(parts.in_all, c.in_all);
    EXPECT_EQ(parts.sort_field, c.sort);
    EXPECT_EQ(parts.descending, c.descending);
    EXPECT_FALSE(parts.has_target);
  }
}

TEST(QueryParserTest, TargetAndLengthLimit) {
  QueryParts parts;
  ASSERT_EQ(SplitQuery("[文档]:a order by 相关度 desc>>>/home/u/other.db:[结果]", &parts), 0);
  EXPECT_TRUE(parts.has_target);
  EXPECT_EQ(parts.target_path, "/home/u/other.db");
  EXPECT_EQ(parts.target_table, "结果");
  EXPECT_EQ(parts.sort_field, "相关度");
  ASSERT_EQ(SplitQuery("文档:a>>>[结果]", &parts), 0);
  EXPECT_EQ(parts.target_path, "");
  EXPECT_EQ(parts.target_table, "结果");
  EXPECT_EQ(parts.expression, "a");

  const std::string at_limit = "文档:" + std::string(kMaxQueryBytes - 7, 'a');
  ASSERT_EQ(at_limit.size(), kMaxQueryBytes);
  EXPECT_EQ(SplitQuery(at_limit, &parts), 0);
  EXPECT_EQ(SplitQuery(at_limit + "a", &parts), kQueryTooLong);
}

TEST(QueryEscapeTest, EscapedTextIsOneTermAndDecodesBack) {
  const std::string path = "C:\\a b.txt";
  const std::string escaped = EscapeQueryText(path);
  EXPECT_EQ(escaped, "C%0x003A%\\a%0x0020%b.txt");
  EXPECT_EQ(EscapeQueryText(""), "");
  EXPECT_EQ(EscapeQueryText(std::string(kReservedQueryChars)).size(), 8 * kReservedQueryChars.size());

  // Through the whole parser: one term, and after normalisation (which
  // lower-cases the hex digits) it still decodes to the original text.
  const std::string hostile = "a*(b)+c-[d]:{e}<f>=g?";
  const auto list = ParseExpression({}, NormalizeQueryText("完整路径=" + EscapeQueryText(hostile)),
                                    [](std::string_view) { return 7; });
  ASSERT_TRUE(list);
  ASSERT_EQ(list->size(), 1u);
  EXPECT_EQ(DecodeQueryEscapes((*list)[0].text), ToWide(hostile));
  EXPECT_EQ(DecodeQueryEscapes(u"%0x4E2D%文%0xZZZZ%%0x00"), u"中文%0xZZZZ%%0x00");
}

}  // namespace
}  // namespace lun
