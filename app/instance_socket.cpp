#include "app/instance_socket.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

#include "platform/paths.h"

namespace lun {
namespace {

// How long a connected client may take to send its request line.
constexpr int kRequestWaitMs = 2000;

// The address of `path`; false when it does not fit sockaddr_un.
bool SocketAddress(const std::string& path, sockaddr_un* address) {
  std::memset(address, 0, sizeof *address);
  address->sun_family = AF_UNIX;
  if (path.size() >= sizeof address->sun_path) return false;
  std::memcpy(address->sun_path, path.c_str(), path.size() + 1);
  return true;
}

// Waits for `events` on `fd` until `deadline`; false on time-out or error.
bool WaitFor(int fd, short events, std::chrono::steady_clock::time_point deadline) {
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    pollfd p{fd, events, 0};
    const int n = poll(&p, 1, static_cast<int>(left.count()));
    if (n > 0) return true;
    if (n < 0 && errno != EINTR) return false;
  }
}

bool WriteAll(int fd, std::string_view data) {
  while (!data.empty()) {
    const ssize_t n = send(fd, data.data(), data.size(), MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

}  // namespace

std::string InstanceSocketPath(const std::string& home) { return JoinPath(home, "lun.socket"); }

bool AskInstance(const std::string& home, std::string_view request, std::string* answer,
                 int timeout_ms) {
  answer->clear();
  sockaddr_un address;
  if (!SocketAddress(InstanceSocketPath(home), &address)) return false;
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  bool answered = false;
  if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 &&
      WriteAll(fd, std::string(request) + "\n")) {
    (void)shutdown(fd, SHUT_WR);
    char buffer[8192];
    for (;;) {
      if (!WaitFor(fd, POLLIN, deadline)) break;
      const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) break;
      if (n == 0) {
        answered = true;
        break;
      }
      answer->append(buffer, static_cast<size_t>(n));
    }
  }
  close(fd);
  return answered;
}

InstanceSocketServer::~InstanceSocketServer() { Stop(); }

bool InstanceSocketServer::Listen(const std::string& home, Handler handler) {
  Stop();
  sockaddr_un address;
  const std::string path = InstanceSocketPath(home);
  if (!SocketAddress(path, &address)) return false;
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  (void)unlink(path.c_str());
  if (bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
      chmod(path.c_str(), 0600) != 0 || listen(fd, 8) != 0 || pipe2(wake_, O_CLOEXEC) != 0) {
    close(fd);
    (void)unlink(path.c_str());
    return false;
  }
  listen_fd_ = fd;
  path_ = path;
  handler_ = std::move(handler);
  thread_ = std::thread([this] { Serve(); });
  return true;
}

void InstanceSocketServer::Stop() {
  if (thread_.joinable()) {
    // A pipe: write(), since send() takes only sockets.
    while (write(wake_[1], "x", 1) < 0 && errno == EINTR) {
    }
    thread_.join();
  }
  for (int* fd : {&listen_fd_, &wake_[0], &wake_[1]}) {
    if (*fd >= 0) close(*fd);
    *fd = -1;
  }
  if (!path_.empty()) (void)unlink(path_.c_str());
  path_.clear();
}

void InstanceSocketServer::Serve() {
  for (;;) {
    pollfd p[2] = {{listen_fd_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
    if (poll(p, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (p[1].revents != 0) return;
    if (p[0].revents == 0) continue;
    const int client = accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (client < 0) continue;
    ServeOne(client);
    close(client);
  }
}

void InstanceSocketServer::ServeOne(int client) {
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(kRequestWaitMs);
  std::string line;
  char buffer[1024];
  while (line.find('\n') == std::string::npos) {
    if (line.size() > kInstanceRequestLimit || !WaitFor(client, POLLIN, deadline)) return;
    const ssize_t n = recv(client, buffer, sizeof buffer, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;  // a request without its line end is taken as it is
    line.append(buffer, static_cast<size_t>(n));
  }
  line = line.substr(0, line.find('\n'));
  if (line.size() > kInstanceRequestLimit) return;
  (void)WriteAll(client, handler_(line));
}

}  // namespace lun
