// Starting the application with the desktop session, through the XDG
// autostart entry $XDG_CONFIG_HOME/autostart/Tamrix.LUN.desktop
// (~/.config/autostart when XDG_CONFIG_HOME is unset).
#ifndef LUN_PLATFORM_AUTOSTART_H_
#define LUN_PLATFORM_AUTOSTART_H_

#include <string>

namespace lun {

// The path of the autostart entry.
std::string AutostartEntryPath();

// on: writes the entry (replacing it atomically) so that the session starts
// `executable` with "--home `home`", the application home of the run that
// writes it (a run with another home would otherwise start with the default
// one); off: removes it. False when the entry cannot be written or removed;
// a missing entry counts as off.
bool SetAutostart(bool on, const std::string& executable, const std::string& home);

// True when the entry exists.
bool AutostartEnabled();

}  // namespace lun

#endif  // LUN_PLATFORM_AUTOSTART_H_
