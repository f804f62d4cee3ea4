// The desktop shell's entry point for lun's main(). No widget toolkit
// appears here: the program entry stays free of Qt.
#ifndef LUN_SHELL_DESKTOP_SHELL_H_
#define LUN_SHELL_DESKTOP_SHELL_H_

#include "app/application.h"

namespace lun {

// True when a display is there to show windows on (DISPLAY or
// WAYLAND_DISPLAY set and not empty).
bool DesktopAvailable();

// Runs lun with the desktop shell: creates the application with the shell's
// user interface, runs the start-up sequence on the event loop (a failed
// start-up ends with 0), then adds the tray icon and runs until the user
// exits (or SIGINT, SIGTERM, SIGHUP arrive), and runs the shutdown
// sequence. A second start with the same home asks the running instance to
// show its quick search window and ends with 0. Returns the exit code.
//
// Blocks SIGINT, SIGTERM and SIGHUP for the whole process (they are read
// from a descriptor) and ignores SIGPIPE. Call once, from main().
int RunDesktopShell(const ApplicationOptions& options, int argc, char** argv);

}  // namespace lun

#endif  // LUN_SHELL_DESKTOP_SHELL_H_
