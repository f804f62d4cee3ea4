#include "crawl_service/extraction_worker.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstring>

#include "crawler/extract/text_filters.h"
#include "platform/process.h"

namespace lun {
namespace {

// The worker's side: extract and send "status(1) length(4) text" on `fd`.
[[noreturn]] void RunWorker(int fd, const std::string& path, const WorkerLimits& limits,
                            const PluginRegistry* plugins) {
  setpgid(0, 0);
  if (limits.memory_bytes > 0 && !MemoryLimitsUnsupported()) {
    struct rlimit as{limits.memory_bytes, limits.memory_bytes};
    setrlimit(RLIMIT_AS, &as);
  }
  // A spinning reader is stopped by the CPU limit even if the deadline
  // watcher were late; SIGXCPU ends the worker.
  const rlim_t cpu = static_cast<rlim_t>(limits.deadline_ms) / 1000 + 2;
  struct rlimit cpu_limit{cpu, cpu + 1};
  setrlimit(RLIMIT_CPU, &cpu_limit);
  const ExtractResult result = ExtractFileText(path, limits.text_limit, plugins);
  const bool has_text =
      result.status == ExtractStatus::kOk || result.status == ExtractStatus::kPartial;
  const unsigned char status = has_text ? 1 : 0;
  const uint32_t bytes = has_text ? static_cast<uint32_t>(result.text.size() * 2) : 0;
  bool ok = WriteAllToFd(fd, &status, 1) && WriteAllToFd(fd, &bytes, sizeof bytes);
  if (ok && bytes > 0) ok = WriteAllToFd(fd, result.text.data(), bytes);
  close(fd);
  _exit(ok ? 0 : 1);
}

}  // namespace

bool MemoryLimitsUnsupported() {
#if defined(__SANITIZE_ADDRESS__)
  return true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
  return true;
#else
  return false;
#endif
#else
  return false;
#endif
}

WorkerResult ExtractInWorker(const std::string& path, const WorkerLimits& limits,
                             const PluginRegistry* plugins,
                             const std::vector<int>& close_in_child) {
  WorkerResult result;
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return result;
  const pid_t pid = fork();
  if (pid < 0) {
    close(fds[0]);
    close(fds[1]);
    return result;
  }
  if (pid == 0) {
    close(fds[0]);
    for (int fd : close_in_child) close(fd);
    RunWorker(fds[1], path, limits, plugins);
  }
  close(fds[1]);
  // Also set from this side, so the group exists before a kill can target it.
  setpgid(pid, pid);
  const int64_t deadline = MonotonicMs() + limits.deadline_ms;
  std::string data;
  const size_t max_data = 5 + limits.text_limit * 2;
  bool timed_out = false;
  char buf[65536];
  for (;;) {
    const int64_t left = deadline - MonotonicMs();
    if (left <= 0) {
      timed_out = true;
      break;
    }
    struct pollfd pfd{fds[0], POLLIN, 0};
    const int rc = poll(&pfd, 1, static_cast<int>(left));
    if (rc < 0 && errno != EINTR) break;
    if (rc <= 0) continue;
    const ssize_t n = read(fds[0], buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    if (data.size() + static_cast<size_t>(n) > max_data) break;  // a worker gone wrong
    data.append(buf, static_cast<size_t>(n));
  }
  close(fds[0]);
  kill(-pid, SIGKILL);  // the worker is done or must go; its helpers go with it
  kill(pid, SIGKILL);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (timed_out) {
    result.outcome = WorkerOutcome::kTimedOut;
    return result;
  }
  uint32_t bytes = 0;
  if (data.size() < 5) {
    result.outcome = WorkerOutcome::kCrashed;
    return result;
  }
  std::memcpy(&bytes, data.data() + 1, sizeof bytes);
  if (data[0] != 1) {
    result.outcome = WorkerOutcome::kNoText;
    return result;
  }
  if (bytes % 2 != 0 || data.size() != 5 + size_t{bytes}) {
    result.outcome = WorkerOutcome::kCrashed;  // cut short or malformed
    return result;
  }
  result.text.resize(bytes / 2);
  std::memcpy(result.text.data(), data.data() + 5, bytes);
  result.outcome = WorkerOutcome::kText;
  return result;
}

}  // namespace lun
