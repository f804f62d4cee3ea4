// Starting other programs without a shell: fork and exec with an argument
// vector, so that no file name is ever parsed as a command line.
//
// The child gets standard input from /dev/null, standard output where the
// caller says (else /dev/null), standard error on /dev/null, and no other
// descriptor of the parent. Thread-safe: between fork and exec the child
// only calls async-signal-safe functions.
#ifndef LUN_PLATFORM_PROCESS_H_
#define LUN_PLATFORM_PROCESS_H_

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace lun {

struct SpawnOptions {
  int stdout_fd = -1;             // descriptor for the child's output; -1: /dev/null
  bool new_process_group = false; // the child leads a group of its own (so it and its
                                  // children can be killed together)
  // "NAME=value" entries set in the child's environment (replacing any of
  // the same name); the rest of the environment is inherited. The way to
  // hand a child a secret: unlike its arguments, a process's environment
  // is readable only by its own user.
  std::vector<std::string> environment;
};

// Milliseconds of the monotonic clock, for deadlines.
int64_t MonotonicMs();

// Writes all `n` bytes to a pipe or socket, looping over short writes and
// EINTR. False on any other error.
bool WriteAllToFd(int fd, const void* data, size_t n);

// Starts `argv[0]` (a path; not looked up in PATH) with `argv`. Returns 0
// and the child's id, or an errno value (ENOENT when the program does not
// exist or cannot be executed). The caller reaps the child (waitpid).
int SpawnProcess(const std::vector<std::string>& argv, const SpawnOptions& options, pid_t* pid);

// The full path of program `name` found in $PATH, or empty.
std::string FindProgram(const std::string& name);

struct CaptureResult {
  int error = 0;           // errno value when the program could not be run
  bool timed_out = false;  // killed at the deadline
  bool truncated = false;  // output over the limit (the program was killed)
  int exit_code = -1;      // exit status, or -1 when killed by a signal
  std::string output;      // standard output, at most `max_output` bytes
};

// Runs `argv` in a process group of its own, collects its standard output
// and waits for it. At `timeout_ms` or once the output exceeds `max_output`
// the whole group is killed (SIGKILL). Never leaves a zombie.
CaptureResult RunAndCapture(const std::vector<std::string>& argv, size_t max_output,
                            int timeout_ms);

// One running process as /proc shows it.
struct ProcessEntry {
  pid_t pid = 0;
  std::string name;     // /proc/PID/comm: the program name, cut to 15 bytes
  std::string cmdline;  // /proc/PID/cmdline: the arguments, each ended by NUL
};

// The arguments of a /proc cmdline text: split at NUL; the NUL after the
// last argument is optional (a process may rewrite its arguments without
// one). Views into `cmdline`.
std::vector<std::string_view> SplitCommandLine(std::string_view cmdline);

// True when `match` accepts one of the processes running now; stops at the
// first match. Processes that end while /proc is read are skipped; false
// when /proc cannot be read. Thread-safe.
bool AnyProcessMatches(const std::function<bool(const ProcessEntry&)>& match);

}  // namespace lun

#endif  // LUN_PLATFORM_PROCESS_H_
