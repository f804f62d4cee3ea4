// The line difference of two texts, for the page that compares two versions
// of a document's stored text side by side.
//
// DiffLines is Myers' greedy algorithm over lines (lines compared byte for
// byte), after the common head and tail are set aside; its time is
// O((N + M) * D) and its memory O(D * D) for D changed lines, so two long
// versions that differ in a few places are cheap. Beyond a limit on lines
// or on changed lines it gives up rather than run long: the page says so.
//
// Pure functions; thread-safe.
#ifndef LUN_PAGES_TEXT_DIFF_H_
#define LUN_PAGES_TEXT_DIFF_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace lun {

enum class DiffKind : uint8_t { kSame, kRemoved, kAdded };

// One line of the difference: kSame has both line numbers, kRemoved only
// `old_line`, kAdded only `new_line` (0-based; the other is kNoLine).
struct DiffOp {
  static constexpr uint32_t kNoLine = UINT32_MAX;
  DiffKind kind;
  uint32_t old_line;
  uint32_t new_line;
};

struct DiffLimits {
  size_t max_lines = 200000;  // lines of either text
  size_t max_changes = 3000;  // lines removed plus lines added
};

// The lines of `text`, split at "\n" with a "\r" before it dropped; a final
// line break ends the last line (no empty line after it).
std::vector<std::string_view> SplitLines(std::string_view text);

// The shortest edit turning `from` into `to`, in order: every line of both
// appears once. False (and `ops` empty) when a limit is passed.
bool DiffLines(const std::vector<std::string_view>& from, const std::vector<std::string_view>& to,
               const DiffLimits& limits, std::vector<DiffOp>* ops);

// The comparison of two texts as HTML (UTF-8, every text escaped): a line
// `<p class="diffsum">` with the counts of removed and added lines
// (elements #removed, #added) and a table `table.diff` of four columns (old
// line number, old line, new line number, new line; a `colgroup` gives the
// number columns class "ln"). Removed lines sit in
// cells of class "del", added ones in "add", side by side where a run of
// removals meets a run of additions; unchanged runs longer than twice
// `context` lines fold into one row of class "fold". Equal texts, and texts
// past the limits, give a `div.msg` saying so instead of the table.
std::string SideBySideDiffHtml(std::string_view old_text, std::string_view new_text,
                               const DiffLimits& limits, size_t context = 3);

}  // namespace lun

#endif  // LUN_PAGES_TEXT_DIFF_H_
