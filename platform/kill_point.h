// Kill points: places where a test build may end the process on purpose, to
// prove that what was acknowledged before survives a crash at that place.
//
// With LUN_TEST_HOOKS compiled in and LUN_KILL_ODDS=N in the environment, each
// LUN_KILL_POINT("name") ends the process with _exit(137) with probability
// 1/N. Before dying it appends the point's name to the file named by
// LUN_KILL_LOG (when set), so a driver can show how often each point fired.
// With LUN_KILL_ONLY=name, only the point of that name can fire, so a driver
// can aim at a rarely reached point.
// Crash points prove the crash handler: with LUN_CRASH_POINT=name in the
// environment, LUN_CRASH_POINT("name") raises SIGSEGV, once per file named
// by LUN_CRASH_ONCE when that is set (the point fires only if it can create
// the file), so that a restarted process does not crash again.
// In release builds the macros compile to nothing.
#ifndef LUN_PLATFORM_KILL_POINT_H_
#define LUN_PLATFORM_KILL_POINT_H_

namespace lun {
void MaybeKill(const char* point);
void MaybeCrash(const char* point);
}  // namespace lun

#if defined(LUN_TEST_HOOKS)
#define LUN_KILL_POINT(name) ::lun::MaybeKill(name)
#define LUN_CRASH_POINT(name) ::lun::MaybeCrash(name)
#else
#define LUN_KILL_POINT(name) ((void)0)
#define LUN_CRASH_POINT(name) ((void)0)
#endif

#endif  // LUN_PLATFORM_KILL_POINT_H_
