// Whether the user is away from the machine: what the crawler's speed mode 0
// ("空闲高速", high speed when idle) asks before it skips its pauses.
//
// The answer, in this order:
//  1. No graphical session (neither DISPLAY nor WAYLAND_DISPLAY is set): a
//     server, or a login without a desktop. Nobody sits at a screen whose
//     work the crawler could slow down: idle.
//  2. The login session's IdleHint from systemd-logind says "yes": idle.
//     Desktops (GNOME, KDE, X screen lockers through xss-lock) keep it
//     current; a bare window manager leaves it at "no" for good, so a "no"
//     alone decides nothing.
//  3. Otherwise the X server's input idle time, when it can be had: idle at
//     kUserIdleAfterMs or more without a key press or pointer move.
//  4. Nothing says idle: the user is taken to be present, so the crawler
//     keeps its pauses (the behaviour without any detector).
//
// Both questions are asked of programs (`loginctl show-session ID -p
// IdleHint --value`, ID being $XDG_SESSION_ID or logind's "auto";
// `xprintidle` when it is installed) through platform/process.h rather than
// of libraries: no D-Bus or X library becomes a dependency of the core,
// and Xlib, which ends the whole process when its connection breaks, never
// runs inside it. A poll every few seconds makes the cost of a short-lived
// process irrelevant.
//
// Rejected: the access times of /dev/input/event*. The kernel does not
// update an event device's times when the compositor reads it (only
// terminals do that for their own devices), so they would call a user who
// is typing idle.
//
// Thread safety: the functions are pure or read only the environment and
// the programs' output; any thread may call them.
#ifndef LUN_CRAWLER_USER_IDLE_H_
#define LUN_CRAWLER_USER_IDLE_H_

#include <cstdint>
#include <functional>
#include <optional>
#include <string_view>

namespace lun {

inline constexpr int64_t kUserIdleAfterMs = 2 * 60 * 1000;

// The three signals, each asked only when the ones before it did not say
// idle.
struct UserIdleProbes {
  std::function<bool()> graphical_session;
  std::function<std::optional<bool>()> session_idle_hint;   // nullopt: no answer
  std::function<std::optional<int64_t>()> input_idle_ms;    // nullopt: no answer
};

// The probes of this machine (environment, loginctl, xprintidle).
UserIdleProbes SystemUserIdleProbes();

// The decision above.
bool IsUserIdle(const UserIdleProbes& probes);

// loginctl's answer ("yes" / "no", a line break allowed); nullopt otherwise.
std::optional<bool> ParseIdleHint(std::string_view output);
// xprintidle's answer: milliseconds as decimal digits; nullopt otherwise.
std::optional<int64_t> ParseIdleMilliseconds(std::string_view output);

}  // namespace lun

#endif  // LUN_CRAWLER_USER_IDLE_H_
