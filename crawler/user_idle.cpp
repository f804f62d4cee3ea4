#include "crawler/user_idle.h"

#include <stdlib.h>

#include <string>
#include <vector>

#include "platform/process.h"

namespace lun {
namespace {

// Both programs answer in a few milliseconds; one that takes longer (a
// logind that does not respond) costs the poll, not the crawl.
constexpr int kProbeTimeoutMs = 2000;
constexpr size_t kProbeOutputLimit = 256;

bool EnvironmentSet(const char* name) {
  const char* value = getenv(name);
  return value && *value;
}

std::string_view TrimLine(std::string_view s) {
  while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == ' ')) s.remove_suffix(1);
  return s;
}

// The program's output when it ran and succeeded; nullopt otherwise.
std::optional<std::string> RunProbe(const std::string& program, std::vector<std::string> args) {
  const std::string path = FindProgram(program);
  if (path.empty()) return std::nullopt;
  args.insert(args.begin(), path);
  CaptureResult r = RunAndCapture(args, kProbeOutputLimit, kProbeTimeoutMs);
  if (r.error != 0 || r.timed_out || r.truncated || r.exit_code != 0) return std::nullopt;
  return std::move(r.output);
}

std::optional<bool> LogindIdleHint() {
  const char* session = getenv("XDG_SESSION_ID");
  const std::string id = session && *session ? session : "auto";
  const std::optional<std::string> out =
      RunProbe("loginctl", {"show-session", id, "-p", "IdleHint", "--value"});
  return out ? ParseIdleHint(*out) : std::nullopt;
}

std::optional<int64_t> XInputIdleMs() {
  if (!EnvironmentSet("DISPLAY")) return std::nullopt;
  const std::optional<std::string> out = RunProbe("xprintidle", {});
  return out ? ParseIdleMilliseconds(*out) : std::nullopt;
}

}  // namespace

std::optional<bool> ParseIdleHint(std::string_view output) {
  output = TrimLine(output);
  if (output == "yes") return true;
  if (output == "no") return false;
  return std::nullopt;
}

std::optional<int64_t> ParseIdleMilliseconds(std::string_view output) {
  output = TrimLine(output);
  // 18 digits cannot overflow int64_t.
  if (output.empty() || output.size() > 18) return std::nullopt;
  int64_t ms = 0;
  for (char c : output) {
    if (c < '0' || c > '9') return std::nullopt;
    ms = ms * 10 + (c - '0');
  }
  return ms;
}

UserIdleProbes SystemUserIdleProbes() {
  UserIdleProbes probes;
  probes.graphical_session = [] {
    return EnvironmentSet("DISPLAY") || EnvironmentSet("WAYLAND_DISPLAY");
  };
  probes.session_idle_hint = LogindIdleHint;
  probes.input_idle_ms = XInputIdleMs;
  return probes;
}

bool IsUserIdle(const UserIdleProbes& probes) {
  if (!probes.graphical_session || !probes.graphical_session()) return true;
  if (probes.session_idle_hint && probes.session_idle_hint().value_or(false)) return true;
  if (!probes.input_idle_ms) return false;
  return probes.input_idle_ms().value_or(0) >= kUserIdleAfterMs;
}

}  // namespace lun
