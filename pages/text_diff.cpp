#include "pages/text_diff.h"

#include <algorithm>
#include <cstdlib>
#include <string>
#include <unordered_map>

#include "pages/page_encoding.h"

namespace lun {

std::vector<std::string_view> SplitLines(std::string_view text) {
  std::vector<std::string_view> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(start, end - start);
    if (line.ends_with('\r')) line.remove_suffix(1);
    lines.push_back(line);
    start = end + 1;
  }
  return lines;
}

namespace {

// Each distinct line as a small number, so the search compares integers.
void InternLines(const std::vector<std::string_view>& from, const std::vector<std::string_view>& to,
                 std::vector<uint32_t>* a, std::vector<uint32_t>* b) {
  std::unordered_map<std::string_view, uint32_t> ids;
  auto intern = [&ids](const std::vector<std::string_view>& lines, std::vector<uint32_t>* out) {
    out->reserve(lines.size());
    for (std::string_view line : lines) {
      out->push_back(ids.emplace(line, static_cast<uint32_t>(ids.size())).first->second);
    }
  };
  intern(from, a);
  intern(to, b);
}

// Myers' search on a[0, n) and b[0, m), appending the edit in reverse order
// to *reversed (line numbers offset by `base_a`, `base_b`). False when more
// than `max_d` changes are needed.
bool MyersReversed(const uint32_t* a, int n, const uint32_t* b, int m, int max_d, uint32_t base_a,
                   uint32_t base_b, std::vector<DiffOp>* reversed) {
  const int offset = max_d + 1;
  std::vector<int> v(2 * static_cast<size_t>(max_d) + 3, 0);
  // trace[d]: the furthest x of each diagonal k in [-(d-1), d-1] before
  // step d, at index k + d - 1.
  std::vector<std::vector<int>> trace;
  int found = -1;
  for (int d = 0; d <= max_d && found < 0; ++d) {
    if (d == 0) {
      trace.emplace_back();
    } else {
      trace.emplace_back(v.begin() + offset - (d - 1), v.begin() + offset + d);
    }
    for (int k = -d; k <= d; k += 2) {
      int x = (k == -d || (k != d && v[offset + k - 1] < v[offset + k + 1]))
                  ? v[offset + k + 1]
                  : v[offset + k - 1] + 1;
      int y = x - k;
      while (x < n && y < m && a[x] == b[y]) ++x, ++y;
      v[offset + k] = x;
      if (x >= n && y >= m) {
        found = d;
        break;
      }
    }
  }
  if (found < 0) return false;
  int x = n, y = m;
  for (int d = found; d > 0; --d) {
    const std::vector<int>& before = trace[static_cast<size_t>(d)];
    auto at = [&before, d](int k) { return before[static_cast<size_t>(k + d - 1)]; };
    const int k = x - y;
    const int prev_k = (k == -d || (k != d && at(k - 1) < at(k + 1))) ? k + 1 : k - 1;
    const int prev_x = at(prev_k);
    const int prev_y = prev_x - prev_k;
    while (x > prev_x && y > prev_y) {
      --x, --y;
      reversed->push_back({DiffKind::kSame, base_a + x, base_b + y});
    }
    if (x == prev_x) {
      reversed->push_back({DiffKind::kAdded, DiffOp::kNoLine, base_b + prev_y});
    } else {
      reversed->push_back({DiffKind::kRemoved, base_a + prev_x, DiffOp::kNoLine});
    }
    x = prev_x, y = prev_y;
  }
  while (x > 0 && y > 0) {
    --x, --y;
    reversed->push_back({DiffKind::kSame, base_a + x, base_b + y});
  }
  return true;
}

}  // namespace

bool DiffLines(const std::vector<std::string_view>& from, const std::vector<std::string_view>& to,
               const DiffLimits& limits, std::vector<DiffOp>* ops) {
  ops->clear();
  if (from.size() > limits.max_lines || to.size() > limits.max_lines) return false;
  std::vector<uint32_t> a, b;
  InternLines(from, to, &a, &b);
  size_t head = 0;
  while (head < a.size() && head < b.size() && a[head] == b[head]) ++head;
  size_t tail = 0;
  while (tail < a.size() - head && tail < b.size() - head &&
         a[a.size() - 1 - tail] == b[b.size() - 1 - tail]) {
    ++tail;
  }
  const int n = static_cast<int>(a.size() - head - tail);
  const int m = static_cast<int>(b.size() - head - tail);
  // At least |n - m| changes are needed whatever the lines hold.
  if (static_cast<size_t>(std::abs(n - m)) > limits.max_changes) return false;
  const int max_d = static_cast<int>(std::min<size_t>(limits.max_changes, n + m));
  std::vector<DiffOp> middle;
  if (!MyersReversed(a.data() + head, n, b.data() + head, m, max_d, static_cast<uint32_t>(head),
                     static_cast<uint32_t>(head), &middle)) {
    return false;
  }
  ops->reserve(head + middle.size() + tail);
  for (size_t i = 0; i < head; ++i) {
    ops->push_back({DiffKind::kSame, static_cast<uint32_t>(i), static_cast<uint32_t>(i)});
  }
  ops->insert(ops->end(), middle.rbegin(), middle.rend());
  for (size_t i = tail; i > 0; --i) {
    ops->push_back({DiffKind::kSame, static_cast<uint32_t>(a.size() - i),
                    static_cast<uint32_t>(b.size() - i)});
  }
  return true;
}

namespace {

struct DiffTable {
  const std::vector<std::string_view>& old_lines;
  const std::vector<std::string_view>& new_lines;
  std::string html;

  void Cell(uint32_t line, const std::vector<std::string_view>& lines, const char* cls) {
    if (line == DiffOp::kNoLine) {
      html += "<td class=\"ln\"></td><td class=\"none\"></td>";
      return;
    }
    html += "<td class=\"ln\">" + std::to_string(line + 1) + "</td><td class=\"";
    html += cls;
    html += "\">" + HtmlEncode(lines[line]) + "</td>";
  }
  void Row(const char* row_class, uint32_t old_line, const char* old_class, uint32_t new_line,
           const char* new_class) {
    html += "<tr";
    if (*row_class) html += std::string(" class=\"") + row_class + "\"";
    html += ">";
    Cell(old_line, old_lines, old_class);
    Cell(new_line, new_lines, new_class);
    html += "</tr>\n";
  }
  void Fold(size_t lines) {
    html +=
        "<tr class=\"fold\"><td colspan=\"4\">… " + std::to_string(lines) + " 行相同 …</td></tr>\n";
  }
};

}  // namespace

std::string SideBySideDiffHtml(std::string_view old_text, std::string_view new_text,
                               const DiffLimits& limits, size_t context) {
  const std::vector<std::string_view> old_lines = SplitLines(old_text);
  const std::vector<std::string_view> new_lines = SplitLines(new_text);
  std::vector<DiffOp> ops;
  if (!DiffLines(old_lines, new_lines, limits, &ops)) {
    return "<div class=\"msg warn\" "
           "id=\"toolarge\"><strong>两个版本差别太大，无法逐行比较</strong><p>"
           "逐行比较最多处理每个版本 " +
           std::to_string(limits.max_lines) + " 行、共 " + std::to_string(limits.max_changes) +
           " 行改动；这两个版本分别有 " + std::to_string(old_lines.size()) + " 行和 " +
           std::to_string(new_lines.size()) + " 行。请打开两个版本的内容快照对照阅读。</p></div>\n";
  }
  size_t removed = 0, added = 0;
  for (const DiffOp& op : ops) {
    removed += op.kind == DiffKind::kRemoved;
    added += op.kind == DiffKind::kAdded;
  }
  if (removed == 0 && added == 0) {
    return "<div class=\"msg info\" id=\"identical\"><strong>两个版本的文本相同</strong></div>\n";
  }
  DiffTable table{old_lines, new_lines, {}};
  table.html = "<p class=\"diffsum\">删除 <b id=\"removed\">" + std::to_string(removed) +
               "</b> 行，增加 <b id=\"added\">" + std::to_string(added) +
               "</b> 行</p>\n<table class=\"diff\"><colgroup><col class=\"ln\"><col>"
               "<col class=\"ln\"><col></colgroup>\n";
  size_t i = 0;
  while (i < ops.size()) {
    size_t j = i;
    if (ops[i].kind == DiffKind::kSame) {
      while (j < ops.size() && ops[j].kind == DiffKind::kSame) ++j;
      // Context after the change before, then before the change after.
      const size_t keep_head = i == 0 ? 0 : context;
      const size_t keep_tail = j == ops.size() ? 0 : context;
      const size_t run = j - i;
      for (size_t r = 0; r < run; ++r) {
        if (r == keep_head && run > keep_head + keep_tail + 1) {
          table.Fold(run - keep_head - keep_tail);
          r = run - keep_tail - 1;
          continue;
        }
        table.Row("", ops[i + r].old_line, "same", ops[i + r].new_line, "same");
      }
    } else {
      // A run of changes: removals on the left beside additions on the right.
      std::vector<uint32_t> gone, come;
      while (j < ops.size() && ops[j].kind != DiffKind::kSame) {
        if (ops[j].kind == DiffKind::kRemoved) gone.push_back(ops[j].old_line);
        if (ops[j].kind == DiffKind::kAdded) come.push_back(ops[j].new_line);
        ++j;
      }
      for (size_t r = 0; r < std::max(gone.size(), come.size()); ++r) {
        table.Row("chg", r < gone.size() ? gone[r] : DiffOp::kNoLine, "del",
                  r < come.size() ? come[r] : DiffOp::kNoLine, "add");
      }
    }
    i = j;
  }
  table.html += "</table>\n";
  return table.html;
}

}  // namespace lun
