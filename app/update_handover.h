// The hand-over to a staged update at process entry.
//
// The update checker (update_checker.h) stages an update in "Update/" of the
// application home; the update is pending when both "Update/update" (the
// updater program) and "Update/Update.ini" exist there. The next start of the
// program then starts the updater instead of itself and ends.
#ifndef LUN_APP_UPDATE_HANDOVER_H_
#define LUN_APP_UPDATE_HANDOVER_H_

#include <string>

namespace lun {

inline constexpr char kUpdateDirectory[] = "Update";
inline constexpr char kUpdaterName[] = "update";
inline constexpr char kUpdateIniName[] = "Update.ini";

// When both markers exist under `home`, starts "Update/update" without
// arguments, directly (never through a shell), in a process group of its own
// and not waited for, and returns true: the caller ends with exit code 0 and
// initialises nothing. Returns false when either marker is missing, and also
// when the updater cannot be started (not executable, not a program): a
// broken staged update must not keep the application from ever starting
// again; the failure is written to the crash log of the application home
// (platform/error_log.h), so call SetApplicationHome(home) first.
bool HandOverPendingUpdate(const std::string& home);

}  // namespace lun

#endif  // LUN_APP_UPDATE_HANDOVER_H_
