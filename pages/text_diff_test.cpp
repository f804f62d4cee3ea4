#include "pages/text_diff.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace lun {
namespace {

// Applies `ops` to `from` and checks every line of both sides is used once
// and in order, so a wrong edit script cannot pass.
std::vector<std::string_view> Replay(const std::vector<std::string_view>& from,
                                     const std::vector<std::string_view>& to,
                                     const std::vector<DiffOp>& ops) {
  std::vector<std::string_view> out;
  uint32_t next_old = 0, next_new = 0;
  for (const DiffOp& op : ops) {
    if (op.kind != DiffKind::kAdded) EXPECT_EQ(op.old_line, next_old++);
    if (op.kind != DiffKind::kRemoved) EXPECT_EQ(op.new_line, next_new++);
    if (op.kind == DiffKind::kSame) {
      EXPECT_EQ(from[op.old_line], to[op.new_line]);
      out.push_back(from[op.old_line]);
    }
    if (op.kind == DiffKind::kAdded) out.push_back(to[op.new_line]);
  }
  EXPECT_EQ(next_old, from.size());
  EXPECT_EQ(next_new, to.size());
  return out;
}

size_t Changes(const std::vector<DiffOp>& ops) {
  size_t n = 0;
  for (const DiffOp& op : ops) n += op.kind != DiffKind::kSame;
  return n;
}

TEST(TextDiffTest, SplitLinesDropsCarriageReturnsAndTheFinalBreak) {
  EXPECT_EQ(SplitLines("a\r\nb\n\nc\n"), (std::vector<std::string_view>{"a", "b", "", "c"}));
  EXPECT_TRUE(SplitLines("").empty());
  EXPECT_EQ(SplitLines("x"), (std::vector<std::string_view>{"x"}));
}

TEST(TextDiffTest, FindsTheShortestEditAndReplaysIt) {
  struct Case {
    std::string from, to;
    size_t changes;
  } cases[] = {
      {"a\nb\nc", "a\nb\nc", 0},
      {"", "a\nb", 2},
      {"a\nb", "", 2},
      {"a\nb\nc\na\nb\nb\na", "c\nb\na\nb\na\nc", 5},  // Myers' own example
      {"头\n中\n尾", "头\n新\n尾", 2},
      {"x\ny\nz", "y\nz\nx", 2},
      {"same\nsame\nsame", "same\nsame", 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.from + " -> " + c.to);
    auto from = SplitLines(c.from), to = SplitLines(c.to);
    std::vector<DiffOp> ops;
    ASSERT_TRUE(DiffLines(from, to, DiffLimits{}, &ops));
    EXPECT_EQ(Replay(from, to, ops), to);
    EXPECT_EQ(Changes(ops), c.changes);
  }
}

TEST(TextDiffTest, LongTextsWithFewChangesStayCheapAndManyChangesGiveUp) {
  std::string base, edited, other;
  for (int i = 0; i < 30000; ++i) {
    base += "line " + std::to_string(i) + "\n";
    edited += (i == 500 || i == 29000 ? "changed " : "line ") + std::to_string(i) + "\n";
    other += "other " + std::to_string(i) + "\n";
  }
  auto a = SplitLines(base), b = SplitLines(edited), c = SplitLines(other);
  std::vector<DiffOp> ops;
  ASSERT_TRUE(DiffLines(a, b, DiffLimits{}, &ops));
  EXPECT_EQ(Changes(ops), 4u);
  EXPECT_EQ(Replay(a, b, ops), b);
  // Entirely different texts need 60,000 changes: past the limit, and the
  // search stops at the limit instead of trying them all.
  EXPECT_FALSE(DiffLines(a, c, DiffLimits{}, &ops));
  EXPECT_TRUE(ops.empty());
  DiffLimits few_lines;
  few_lines.max_lines = 10;
  EXPECT_FALSE(DiffLines(a, b, few_lines, &ops));
}

TEST(TextDiffTest, HtmlEscapesPairsChangesAndFoldsUnchangedRuns) {
  std::string old_text = "<b>keep</b>\n", new_text = "<b>keep</b>\n";
  for (int i = 0; i < 20; ++i) old_text += "same " + std::to_string(i) + "\n";
  new_text += old_text.substr(old_text.find('\n') + 1);
  old_text += "old & <script>\n";
  new_text += "new & \"line\"\nadded\n";
  const std::string html = SideBySideDiffHtml(old_text, new_text, DiffLimits{}, 3);
  EXPECT_NE(html.find("删除 <b id=\"removed\">1</b> 行，增加 <b id=\"added\">2</b> 行"),
            std::string::npos);
  EXPECT_EQ(html.find("<script>"), std::string::npos);
  EXPECT_EQ(html.find("<b>keep"), std::string::npos);
  EXPECT_NE(html.find("<td class=\"del\">old &amp; &lt;script&gt;</td><td class=\"ln\">22</td>"
                      "<td class=\"add\">new &amp; &quot;line&quot;</td>"),
            std::string::npos);
  EXPECT_NE(html.find("<td class=\"ln\"></td><td class=\"none\"></td><td class=\"ln\">23</td>"
                      "<td class=\"add\">added</td>"),
            std::string::npos);
  // 21 unchanged lines before the change: 3 shown, 18 folded.
  EXPECT_NE(html.find("… 18 行相同 …"), std::string::npos);
  EXPECT_NE(html.find("same 19"), std::string::npos);
  EXPECT_EQ(html.find("same 16<"), std::string::npos);

  EXPECT_NE(SideBySideDiffHtml("a\r\nb", "a\nb\n", DiffLimits{}).find("id=\"identical\""),
            std::string::npos);
  DiffLimits tight;
  tight.max_changes = 1;
  EXPECT_NE(SideBySideDiffHtml("a\nb", "c\nd", tight).find("id=\"toolarge\""), std::string::npos);
}

}  // namespace
}  // namespace lun
