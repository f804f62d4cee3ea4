#include "app/explain_command.h"

#include <cstdio>
#include <filesystem>

#include "app/home_index.h"
#include "app/instance_socket.h"
#include "config/settings_keys.h"
#include "config/settings_store.h"
#include "crawler/document_table.h"
#include "crawler/file_diagnosis.h"
#include "crawler/scan_scope.h"
#include "platform/paths.h"

namespace lun {

namespace {

constexpr char kUsage[] = "用法: lun --explain 路径 [--home 目录]\n";
constexpr std::string_view kRequestVerb = "EXPLAIN ";
constexpr int kAskTimeoutMs = 10000;

// The diagnosis without a running lun: the scope under the home's settings
// (only read: a home without settings is judged with the defaults and given
// no file), the records from the index opened for reading when there is one.
std::string DiagnoseWithoutInstance(const std::string& home, const std::string& path) {
  // The system's forbidden paths name the application home.
  (void)SetApplicationHome(home);
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
  FileDiagnosis diagnosis;
  diagnosis.scope = ExplainScope(scope, path, detects_text);
  if (std::filesystem::exists(settings_file, ignored)) {
    (void)WithHomeIndex(home, [&](SearchProject& project, SearchService& search) {
      DocumentWriter writer(project, search);
      diagnosis = DiagnoseFile(scope, writer, path, detects_text, nullptr);
    });
  }
  return DiagnosisText(diagnosis);
}

}  // namespace

std::string ExplainRequestLine(std::string_view path) {
  return std::string(kRequestVerb) + std::string(path);
}

bool ParseExplainRequest(std::string_view line, std::string* path) {
  if (!line.starts_with(kRequestVerb) || line.size() == kRequestVerb.size()) return false;
  path->assign(line.substr(kRequestVerb.size()));
  return true;
}

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
  if (path.empty() || path.find('\n') != std::string::npos) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  const std::string home = ResolveApplicationHome(home_option);
  path = AbsolutePathOf(path);
  std::string text;
  std::vector<DiagnosisLine> lines;
  if (!AskInstance(home, ExplainRequestLine(path), &text, kAskTimeoutMs) ||
      !ParseDiagnosisText(text, &lines)) {
    (void)ParseDiagnosisText(DiagnoseWithoutInstance(home, path), &lines);
  }
  std::string verdict;
  for (const DiagnosisLine& line : lines) {
    if (line.key == "path" || line.key == "verdict") {
      std::printf("%s\n", line.value.c_str());
      if (line.key == "verdict") verdict = line.value;
    } else if (line.key == "scope") {
      std::printf("%s\n", line.value.c_str());
    } else if (line.key != "can_index") {
      std::printf("%s: %s\n", line.label.c_str(), line.value.c_str());
    }
  }
  return verdict == ScopeVerdictKey(ScopeVerdict::kInScope) ||
                 verdict == ScopeVerdictKey(ScopeVerdict::kOverSizeLimit)
             ? 0
             : 1;
}

}  // namespace lun
