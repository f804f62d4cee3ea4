#include "crawler/extract/child_pipe.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/process.h"

namespace lun {

std::unique_ptr<ChildPipe> ChildPipe::Start(const std::function<void(int fd)>& body) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return nullptr;
  const pid_t pid = fork();
  if (pid < 0) {
    close(fds[0]);
    close(fds[1]);
    return nullptr;
  }
  if (pid == 0) {
    close(fds[0]);
    body(fds[1]);
    _exit(0);
  }
  close(fds[1]);
  return std::unique_ptr<ChildPipe>(new ChildPipe(pid, fds[0]));
}

std::unique_ptr<ChildPipe> ChildPipe::Exec(const std::vector<std::string>& argv) {
  if (argv.empty()) return nullptr;
  // Prepared before the fork: the child only calls async-signal-safe functions.
  std::vector<char*> args;
  args.reserve(argv.size() + 1);
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  return Start([&args](int fd) {
    if (dup2(fd, STDOUT_FILENO) < 0) _exit(127);
    execv(args[0], args.data());
    _exit(127);
  });
}

ChildPipe::~ChildPipe() {
  close(fd_);
  if (reaped_) return;
  kill(pid_, SIGKILL);
  while (waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
  }
}

bool ChildPipe::ReadToEnd(std::string* out, size_t max_bytes, int timeout_ms) {
  const int64_t deadline = MonotonicMs() + timeout_ms;
  char buf[65536];
  for (;;) {
    const int64_t left = deadline - MonotonicMs();
    if (left <= 0) return false;
    struct pollfd pfd{fd_, POLLIN, 0};
    const int rc = poll(&pfd, 1, static_cast<int>(left));
    if (rc < 0 && errno != EINTR) return false;
    if (rc <= 0) continue;
    const ssize_t got = read(fd_, buf, sizeof buf);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return false;
    if (got == 0) return true;
    if (out->size() + static_cast<size_t>(got) > max_bytes) return false;
    out->append(buf, static_cast<size_t>(got));
  }
}

int ChildPipe::Wait() {
  int status = 0;
  while (waitpid(pid_, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  reaped_ = true;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool ChildPipe::ReadExactly(void* buf, size_t n, const std::atomic<bool>* stop, int silence_ms) {
  char* p = static_cast<char*>(buf);
  int64_t deadline = MonotonicMs() + silence_ms;
  while (n > 0) {
    if (stop && stop->load()) return false;
    const int64_t left = deadline - MonotonicMs();
    if (left <= 0) return false;
    struct pollfd pfd {
      fd_, POLLIN, 0
    };
    // Wake now and then to look at the stop flag.
    const int rc = poll(&pfd, 1, static_cast<int>(left < 200 ? left : 200));
    if (rc < 0 && errno != EINTR) return false;
    if (rc <= 0) continue;
    const ssize_t got = read(fd_, p, n);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    p += got;
    n -= static_cast<size_t>(got);
    deadline = MonotonicMs() + silence_ms;
  }
  return true;
}

}  // namespace lun
