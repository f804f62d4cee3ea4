// Headless mode of the user interface: every message is one line on standard
// output (for whoever started lun) and one in the engine log (for whoever
// reads it later).
#include <cstdio>

#include "app/first_run_defaults.h"
#include "app/user_interface.h"
#include "platform/error_log.h"

namespace lun {

void HeadlessInterface::Say(std::string_view kind, std::string_view title,
                            std::string_view text) {
  std::string line = std::string(kind) + " " + std::string(title) + ": " + std::string(text);
  // One fwrite per line: lines of several threads never interleave.
  std::string out = line + "\n";
  std::fwrite(out.data(), 1, out.size(), stdout);
  std::fflush(stdout);
  AppendEngineErrorLog(line);
}

void HeadlessInterface::Notify(std::string_view title, std::string_view text) {
  Say("[通知]", title, text);
}

int HeadlessInterface::Countdown(std::string_view caption, std::string_view text,
                                 int /*milliseconds*/, BoxButtons /*buttons*/) {
  Say("[提示]", caption, text);
  return kTimedOut;
}

void HeadlessInterface::SetTip(std::string_view tip) {
  std::lock_guard lock(tip_mutex_);
  tip_ = tip;
}

std::string HeadlessInterface::tip() const {
  std::lock_guard lock(tip_mutex_);
  return tip_;
}

void HeadlessInterface::RunFirstRunWizard(SettingsStore& settings) {
  ApplyFirstRunDefaults(settings);
  Say("[通知]", "系统初始化", "使用默认设置");
}

}  // namespace lun
