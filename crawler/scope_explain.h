// Why a file is or is not in the index's scope: the one answer behind the
// index diagnosis page and `lun --explain PATH`.
//
// The checks are those the crawler makes before it reads a file, in the
// order a user can act on them: the file exists and is a regular file, it
// lies under a permitted root, no component of its path is excluded by its
// name, no forbidden path (the temporary directory named as such) covers it,
// its type is chosen, and it is within the size limit. The first that fails
// is the reason; a file over the size limit is still recorded by its name
// and attributes, so that verdict says the text is not read.
#ifndef LUN_CRAWLER_SCOPE_EXPLAIN_H_
#define LUN_CRAWLER_SCOPE_EXPLAIN_H_

#include <cstdint>
#include <string>
#include <string_view>

namespace lun {

class ScanScope;

enum class ScopeVerdict {
  kInScope,
  kMissing,             // no such file, or it cannot be asked (stat failed)
  kNotAFile,            // a directory, device or socket
  kNotUnderRoot,        // under none of the permitted roots
  kExcludedName,        // a component named "$…", ".…" or "lost+found"
  kTemporaryDirectory,  // under the temporary directory
  kForbiddenPath,       // under a path of "禁止扫描" or a system path
  kTypeNotChosen,       // its type is in none of the type lists
  kOverSizeLimit,       // recorded by name only; its text is never read
};

struct ScopeExplanation {
  ScopeVerdict verdict = ScopeVerdict::kMissing;
  std::string path;    // the absolute path that was judged
  std::string detail;  // the root list, component, forbidden path or type token at fault
  uint64_t size = 0;   // bytes, when the file exists
};

// Judges `path` (made absolute against the working directory) under
// `scope`. `detects_text` is true when the crawler admits files of an
// unchosen type whose content looks like text ("识别无扩展名文本"); such a file is
// then in scope, with the detail "text".
ScopeExplanation ExplainScope(const ScanScope& scope, std::string_view path, bool detects_text);

// `path` made absolute against the working directory and lexically normal
// ("a/./b/../c" is "a/c"), without a trailing slash: the form judged.
std::string AbsolutePathOf(std::string_view path);

// One sentence in the interface's language for the verdict and its detail.
std::string DescribeScope(const ScopeExplanation& explanation);

// A stable key for the verdict ("in_scope", "missing", ...), for pages,
// the JSON output and tests.
const char* ScopeVerdictKey(ScopeVerdict verdict);

}  // namespace lun

#endif  // LUN_CRAWLER_SCOPE_EXPLAIN_H_
