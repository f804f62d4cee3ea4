#include "platform/process.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>

namespace lun {
int64_t MonotonicMs() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return int64_t{ts.tv_sec} * 1000 + ts.tv_nsec / 1000000;
}

bool WriteAllToFd(int fd, const void* data, size_t n) {
  const char* p = static_cast<const char*>(data);
  while (n > 0) {
    const ssize_t w = write(fd, p, n);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) return false;
    p += w;
    n -= static_cast<size_t>(w);
  }
  return true;
}

int SpawnProcess(const std::vector<std::string>& argv, const SpawnOptions& options, pid_t* pid) {
  if (argv.empty()) return EINVAL;
  // Everything the child needs is prepared before fork: after it, in a
  // threaded parent, the child may not allocate.
  std::vector<char*> args;
  args.reserve(argv.size() + 1);
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  std::vector<char*> env;
  for (char** e = environ; *e; ++e) {
    const std::string_view entry(*e);
    const std::string_view name = entry.substr(0, entry.find('=') + 1);
    bool replaced = false;
    for (const std::string& extra : options.environment)
      replaced = replaced || extra.starts_with(name);
    if (!replaced) env.push_back(*e);
  }
  for (const std::string& extra : options.environment)
    env.push_back(const_cast<char*>(extra.c_str()));
  env.push_back(nullptr);
  int error_pipe[2];
  if (pipe2(error_pipe, O_CLOEXEC) != 0) return errno;
  const int null_fd = open("/dev/null", O_RDWR | O_CLOEXEC);
  if (null_fd < 0) {
    const int e = errno;
    close(error_pipe[0]);
    close(error_pipe[1]);
    return e;
  }
  const pid_t child = fork();
  if (child < 0) {
    const int e = errno;
    close(error_pipe[0]);
    close(error_pipe[1]);
    close(null_fd);
    return e;
  }
  if (child == 0) {
    if (options.new_process_group) setpgid(0, 0);
    const int out = options.stdout_fd >= 0 ? options.stdout_fd : null_fd;
    dup2(null_fd, 0);
    dup2(out, 1);
    dup2(null_fd, 2);
    // The error pipe must survive CloseOtherDescriptors: move it to 3.
    if (error_pipe[1] != 3) {
      dup3(error_pipe[1], 3, O_CLOEXEC);
    } else {
      fcntl(3, F_SETFD, FD_CLOEXEC);
    }
    // close_range from 4 up keeps the error pipe.
#ifdef SYS_close_range
    if (syscall(SYS_close_range, 4u, ~0u, 0u) != 0)
#endif
    {
      for (int fd = 4; fd < 65536; ++fd) close(fd);
    }
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    execve(args[0], args.data(), env.data());
    const int e = errno;
    (void)!write(3, &e, sizeof e);
    _exit(127);
  }
  close(error_pipe[1]);
  close(null_fd);
  int exec_error = 0;
  ssize_t n;
  do {
    n = read(error_pipe[0], &exec_error, sizeof exec_error);
  } while (n < 0 && errno == EINTR);
  close(error_pipe[0]);
  if (n == static_cast<ssize_t>(sizeof exec_error)) {
    // exec failed: the child has exited already; reap it.
    while (waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
    }
    return exec_error ? exec_error : ENOEXEC;
  }
  *pid = child;
  return 0;
}

std::string FindProgram(const std::string& name) {
  const char* path = getenv("PATH");
  std::string dirs = path ? path : "/usr/local/bin:/usr/bin:/bin";
  size_t start = 0;
  while (start <= dirs.size()) {
    size_t colon = dirs.find(':', start);
    if (colon == std::string::npos) colon = dirs.size();
    const std::string dir = dirs.substr(start, colon - start);
    if (!dir.empty()) {
      std::string candidate = dir + "/" + name;
      if (access(candidate.c_str(), X_OK) == 0) return candidate;
    }
    start = colon + 1;
  }
  return {};
}

CaptureResult RunAndCapture(const std::vector<std::string>& argv, size_t max_output,
                            int timeout_ms) {
  CaptureResult result;
  int out_pipe[2];
  if (pipe2(out_pipe, O_CLOEXEC) != 0) {
    result.error = errno;
    return result;
  }
  SpawnOptions options;
  options.stdout_fd = out_pipe[1];
  options.new_process_group = true;
  pid_t pid = -1;
  result.error = SpawnProcess(argv, options, &pid);
  close(out_pipe[1]);
  if (result.error != 0) {
    close(out_pipe[0]);
    return result;
  }
  const int64_t deadline = MonotonicMs() + timeout_ms;
  bool kill_group = false;
  char buf[65536];
  for (;;) {
    const int64_t left = deadline - MonotonicMs();
    if (left <= 0) {
      result.timed_out = kill_group = true;
      break;
    }
    struct pollfd pfd{out_pipe[0], POLLIN, 0};
    const int rc = poll(&pfd, 1, static_cast<int>(left));
    if (rc < 0 && errno == EINTR) continue;
    if (rc <= 0) continue;
    const ssize_t n = read(out_pipe[0], buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    if (result.output.size() + static_cast<size_t>(n) > max_output) {
      result.output.append(buf, max_output - result.output.size());
      result.truncated = kill_group = true;
      break;
    }
    result.output.append(buf, static_cast<size_t>(n));
  }
  close(out_pipe[0]);
  if (kill_group) kill(-pid, SIGKILL);
  int status = 0;
  // The output is closed; a program that lingers past the deadline is killed.
  for (;;) {
    const pid_t w = waitpid(pid, &status, kill_group ? 0 : WNOHANG);
    if (w == pid) break;
    if (w < 0 && errno != EINTR) break;
    if (w == 0) {
      const int64_t left = deadline - MonotonicMs();
      if (left <= 0) {
        kill(-pid, SIGKILL);
        result.timed_out = kill_group = true;
      } else {
        struct timespec pause{0, 5 * 1000 * 1000};
        nanosleep(&pause, nullptr);
      }
    }
  }
  result.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

std::vector<std::string_view> SplitCommandLine(std::string_view cmdline) {
  std::vector<std::string_view> args;
  size_t start = 0;
  while (start < cmdline.size()) {
    size_t end = cmdline.find('\0', start);
    if (end == std::string_view::npos) end = cmdline.size();
    args.push_back(cmdline.substr(start, end - start));
    start = end + 1;
  }
  return args;
}

namespace {

// The contents of a /proc file (its size shows as 0, so it is read to the
// end); empty when it cannot be read.
std::string ReadProcFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace

bool AnyProcessMatches(const std::function<bool(const ProcessEntry&)>& match) {
  DIR* proc = opendir("/proc");
  if (!proc) return false;
  bool found = false;
  while (const dirent* e = readdir(proc)) {
    char* end = nullptr;
    const long pid = strtol(e->d_name, &end, 10);
    if (pid <= 0 || *end != '\0') continue;
    const std::string dir = std::string("/proc/") + e->d_name;
    ProcessEntry entry;
    entry.pid = static_cast<pid_t>(pid);
    entry.name = ReadProcFile(dir + "/comm");
    if (!entry.name.empty() && entry.name.back() == '\n') entry.name.pop_back();
    entry.cmdline = ReadProcFile(dir + "/cmdline");
    if (entry.name.empty() && entry.cmdline.empty()) continue;  // ended meanwhile
    if (match(entry)) {
      found = true;
      break;
    }
  }
  closedir(proc);
  return found;
}

}  // namespace lun
