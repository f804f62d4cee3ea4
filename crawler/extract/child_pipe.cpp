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
  kill(pid_, SIGKILL);
  while (waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
  }
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
