#include "crawler/scope_explain.h"

#include <sys/stat.h>

#include <filesystem>

#include "crawler/scan_scope.h"
#include "crawler/text_detector.h"
#include "platform/paths.h"

namespace lun {

namespace {

std::string JoinedRoots(const ScanScope& scope) {
  std::string joined;
  for (const std::string& root : scope.PermittedRoots()) {
    if (!joined.empty()) joined += "; ";
    joined += root;
  }
  return joined;
}

}  // namespace

// The form the scope's paths are kept in. The file is not resolved through
// links; the crawler meets it under the path it walks.
std::string AbsolutePathOf(std::string_view path) {
  std::error_code error;
  std::filesystem::path p(path);
  if (p.is_relative()) p = std::filesystem::current_path(error) / p;
  std::string normal = p.lexically_normal().string();
  while (normal.size() > 1 && normal.back() == '/') normal.pop_back();
  return normal;
}

ScopeExplanation ExplainScope(const ScanScope& scope, std::string_view path, bool detects_text) {
  ScopeExplanation e;
  e.path = AbsolutePathOf(path);
  struct stat st;
  if (stat(e.path.c_str(), &st) != 0) return e;
  e.size = static_cast<uint64_t>(st.st_size);
  if (!S_ISREG(st.st_mode)) {
    e.verdict = ScopeVerdict::kNotAFile;
    return e;
  }
  if (!scope.IsInPermittedRoot(e.path)) {
    e.verdict = ScopeVerdict::kNotUnderRoot;
    e.detail = JoinedRoots(scope);
    return e;
  }
  if (std::string_view part = ExcludedComponentOf(e.path); !part.empty()) {
    e.verdict = ScopeVerdict::kExcludedName;
    e.detail = std::string(part);
    return e;
  }
  if (std::string forbidden = scope.ForbiddenPathOver(e.path); !forbidden.empty()) {
    e.verdict = forbidden == AbsolutePathOf(TempDirectory()) ? ScopeVerdict::kTemporaryDirectory
                                                             : ScopeVerdict::kForbiddenPath;
    e.detail = std::move(forbidden);
    return e;
  }
  const std::string token = TypeTokenOf(e.path);
  if (!scope.IsTypeAdmitted(token)) {
    // The crawler's own test of the content admits what looks like text.
    if (!detects_text || !FileLooksLikeText(e.path)) {
      e.verdict = ScopeVerdict::kTypeNotChosen;
      e.detail = token;
      return e;
    }
    e.detail = "text";
  }
  e.verdict = IsSizeIndexable(e.size) ? ScopeVerdict::kInScope : ScopeVerdict::kOverSizeLimit;
  return e;
}

const char* ScopeVerdictKey(ScopeVerdict verdict) {
  switch (verdict) {
    case ScopeVerdict::kInScope:
      return "in_scope";
    case ScopeVerdict::kMissing:
      return "missing";
    case ScopeVerdict::kNotAFile:
      return "not_a_file";
    case ScopeVerdict::kNotUnderRoot:
      return "not_under_root";
    case ScopeVerdict::kExcludedName:
      return "excluded_name";
    case ScopeVerdict::kTemporaryDirectory:
      return "temporary_directory";
    case ScopeVerdict::kForbiddenPath:
      return "forbidden_path";
    case ScopeVerdict::kTypeNotChosen:
      return "type_not_chosen";
    case ScopeVerdict::kOverSizeLimit:
      return "over_size_limit";
  }
  return "missing";
}

std::string DescribeScope(const ScopeExplanation& e) {
  switch (e.verdict) {
    case ScopeVerdict::kInScope:
      return "在索引范围内。";
    case ScopeVerdict::kMissing:
      return "文件不存在或无法访问。";
    case ScopeVerdict::kNotAFile:
      return "这不是普通文件。";
    case ScopeVerdict::kNotUnderRoot:
      return "不在允许扫描的目录中（" + e.detail + "）。";
    case ScopeVerdict::kExcludedName:
      return "路径中的“" + e.detail + "”按名称被排除。";
    case ScopeVerdict::kTemporaryDirectory:
      return "位于临时目录 " + e.detail + " 中，不索引。";
    case ScopeVerdict::kForbiddenPath:
      return "位于禁止扫描的路径 " + e.detail + " 中。";
    case ScopeVerdict::kTypeNotChosen:
      return "文件类型 " + e.detail + " 未被选中索引。";
    case ScopeVerdict::kOverSizeLimit:
      return "超过 " + std::to_string(kMaxIndexedFileSize) +
             " 字节的大小限制：只按名称索引，不读取内容。";
  }
  return {};
}

}  // namespace lun
