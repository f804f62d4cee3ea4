#include "app/explain_command.h"

#include <cstdio>
#include <filesystem>

#include "config/settings_keys.h"
#include "config/settings_store.h"
#include "crawler/scan_scope.h"
#include "crawler/scope_explain.h"
#include "platform/paths.h"

namespace lun {

namespace {

constexpr char kUsage[] = "用法: lun --explain 路径 [--home 目录]\n";

}  // namespace

int RunExplainCommand(const std::vector<std::string>& args) {
  std::string path, home_option;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--home" && i + 1 < args.size()) {
      home_option = args[++i];
    } else if (args[i].starts_with("--") || !path.empty()) {
      std::fputs(kUsage, stderr);
      return 2;
    } else {
      path = args[i];
    }
  }
  if (path.empty()) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  const std::string home = ResolveApplicationHome(home_option);
  // The system's forbidden paths name the application home.
  (void)SetApplicationHome(home);
  // A home without settings is judged with the defaults; Load would create
  // the file, and this command leaves the home as it found it.
  SettingsStore settings;
  const std::string settings_file = JoinPath(home, kSettingsFileName);
  std::error_code ignored;
  if (std::filesystem::exists(settings_file, ignored)) (void)settings.Load(settings_file);
  // The scope is built as lun builds it; its default root goes into these
  // in-memory settings only, which are never saved.
  ScanScope scope;
  scope.Load(settings, UserHomeDirectory(), SystemForbiddenPaths());
  const bool detects_text =
      FlagOnAtStartup(settings.GetValue(kSearchSection, key::kDetectText, kTrue));
  const ScopeExplanation e = ExplainScope(scope, path, detects_text);
  std::printf("%s\n%s\n%s\n", e.path.c_str(), ScopeVerdictKey(e.verdict), DescribeScope(e).c_str());
  return e.verdict == ScopeVerdict::kInScope || e.verdict == ScopeVerdict::kOverSizeLimit ? 0 : 1;
}

}  // namespace lun
