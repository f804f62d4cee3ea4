// The last-chance handler for fatal signals (SIGSEGV, SIGBUS, SIGILL, SIGFPE,
// SIGABRT). On a crash it appends one line to the crash log "LUNError.Log":
//
//   <local time "%Y-%m-%d %H:%M:%S">错误原因: <signal description>\t错误代码: 0x<signal number>
//   \t程序地址: 0x<instruction address>\t数据状态: <status text>\r\n
//
// (one line; broken here for width), with the same byte-range lock as
// AppendCrashLog (platform/error_log.h), so lines of several processes never
// interleave. Then it runs the database closer (if one is set) and restarts
// the program by exec of the same executable with the original arguments,
// in the same process. It does not restart, but lets the process die by the
// signal, when
//   - the process is exiting (SetCrashExiting was called), or
//   - the crash came less than `min_uptime_for_restart_s` after installation:
//     a fault that strikes during start-up (a damaged file, a broken plug-in)
//     would strike the new instance as well, and restarting it would loop.
//     Later crashes restart, so restarts happen at most once per that time.
//
// Everything the handler does is async-signal-safe: the log path, the
// arguments and the signal descriptions are prepared at installation, the
// status text is a buffer the application refreshes (a crash may interrupt
// any lock holder, so the handler can neither build the text nor ask the
// crawler for it), and the time is formatted by hand from the clock and a
// UTC offset taken outside the handler.
//
// Before the exec every descriptor above 2 is closed: the new instance must
// be able to take the instance lock and bind the web server's port that the
// old image held.
//
// If the handler has not reached the restart (or death) after
// `handler_deadline_s` seconds, for example because the closer or the log's
// lock hangs, an alarm goes on to it directly. A second thread that crashes
// while the first is being handled waits for the exec; a fault inside the
// handler itself ends the process at once.
//
// The handler runs on an alternate signal stack, so a stack overflow is
// logged too. Signal stacks belong to threads: installation prepares one for
// the calling thread; other threads call PrepareCrashStackForThread.
#ifndef LUN_APP_CRASH_HANDLER_H_
#define LUN_APP_CRASH_HANDLER_H_

#include <string>
#include <string_view>
#include <vector>

namespace lun {

struct CrashHandlerOptions {
  // The program's arguments as main() received them; the restart passes
  // exactly these (argv[0] included).
  std::vector<std::string> argv;
  // The program the restart runs: the running executable itself, even when
  // an update has replaced its file meanwhile. Tests point it elsewhere.
  std::string restart_program = "/proc/self/exe";
  // The crash log; empty: "LUNError.Log" in the application home, as set
  // when InstallCrashHandler is called.
  std::string log_path;
  int min_uptime_for_restart_s = 60;
  int handler_deadline_s = 10;
};

// What the handler may do about the database: a function that only calls
// async-signal-safe functions and takes no lock. Closing the engine itself is
// not that: the crash may have struck inside the engine with its locks held
// and its memory half-updated, and flushing that memory could damage the
// files. The engine's files are written with write(2), so what was written is
// in the kernel's cache and survives the process; a table's indexes are
// caught up from its records when it next opens. A closer may fsync the
// database's descriptors; no closer at all is also safe.
using CrashDatabaseCloser = void (*)();

// Installs the handler for the five signals with `options`, prepares the
// alternate stack of the calling thread and unblocks the five signals (a
// restarted instance inherits the signal mask of the handler it was started
// from). Installing starts afresh: the process is not exiting, no closer is
// set and the status is "数据连接已关闭", the text of a process without an
// open database. Call once, early in start-up, after SetApplicationHome and
// before other threads start. False when the options do not fit (a path
// longer than PATH_MAX) or the system refuses the signal stack or the
// handlers.
bool InstallCrashHandler(const CrashHandlerOptions& options);

// Gives the calling thread an alternate signal stack of its own, released
// when the thread ends. Returns true when the thread has one (also when it
// had one already).
bool PrepareCrashStackForThread();

// Replaces the status text that a crash line reports (the crawler's
// StatusText). Texts longer than 511 bytes are cut at a character boundary. Thread-safe; a refresh
// racing a crash on another thread gives the crash line the old or the new text, whole.
void SetCrashStatusText(std::string_view text);

// Sets (or with nullptr removes) the function run after the line is written.
// Thread-safe.
void SetCrashDatabaseCloser(CrashDatabaseCloser closer);

// From now on a crash writes its line, runs the closer and does not restart.
// The shutdown sequence calls it first. Thread-safe, async-signal-safe.
void SetCrashExiting();

}  // namespace lun

#endif  // LUN_APP_CRASH_HANDLER_H_
