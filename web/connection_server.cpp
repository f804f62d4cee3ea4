#include "web/connection_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <ctime>
#include <exception>
#include <system_error>

#include "web/http_response.h"

namespace lun {
namespace {

using Clock = std::chrono::steady_clock;

std::string AddressText(const sockaddr_in& address) {
  char text[INET_ADDRSTRLEN] = {};
  inet_ntop(AF_INET, &address.sin_addr, text, sizeof text);
  return text;
}

ConnectionInfo DescribeConnection(int fd) {
  ConnectionInfo info;
  sockaddr_in address{};
  socklen_t length = sizeof address;
  if (getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
    info.local_address = AddressText(address);
    info.local_port = ntohs(address.sin_port);
  }
  length = sizeof address;
  if (getpeername(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
    info.peer_address = AddressText(address);
    info.peer_port = ntohs(address.sin_port);
  }
  return info;
}

// Milliseconds left until `deadline`, at least 0; -1 (no limit) without one.
int RemainingMs(bool has_deadline, Clock::time_point deadline) {
  if (!has_deadline) return -1;
  const auto left =
      std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left > 0 ? static_cast<int>(left) : 0;
}

// After the response, unread request bytes (an oversized body we refused, for
// instance) would make close() send a reset that can destroy the response
// before the client has read it. So the write side is shut first and what
// the client still sends is drained for a short, bounded while.
constexpr int kLingerMs = 1000;
constexpr size_t kLingerDrainBytes = size_t{4} << 20;

constexpr char kLog[] = "UMServer.log";

}  // namespace

void FileHandle::Reset() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
}

ConnectionServer::ConnectionServer(std::string log_directory)
    : FileLogger(std::move(log_directory)) {}

ConnectionServer::~ConnectionServer() { Shutdown(); }

int ConnectionServer::OnConnect(const std::string&, uint16_t) { return 0; }
int ConnectionServer::OnSent(uint64_t) { return 0; }

size_t ConnectionServer::client_count() const {
  std::lock_guard<std::mutex> hold(clients_lock_);
  return clients_.size();
}

void ConnectionServer::CloseDescriptors() {
  if (listen_fd_ >= 0) close(listen_fd_);
  if (wake_fd_ >= 0) close(wake_fd_);
  listen_fd_ = -1;
  wake_fd_ = -1;
}

// The listening socket is set up here, on the calling thread, rather than on
// the accept thread with a 30-second wait for its report: a port that cannot
// be bound then fails Run at once and the caller can retry another port
// without a pause. The log lines keep the accept thread's context.
bool ConnectionServer::Run(uint16_t port, int idle_timeout_ms) {
  std::lock_guard<std::mutex> hold(run_lock_);
  if (running_) {
    Log(kLog, "_beginthreadex(...) failure, for Launch Thread", "Run", EALREADY);
    return false;
  }
  idle_timeout_ms_ = idle_timeout_ms;
  {
    std::lock_guard<std::mutex> clients(clients_lock_);
    admission_ = ConnectionAdmission(limits_);
  }
  stopping_ = false;
  wake_fd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (wake_fd_ < 0) {
    Log(kLog, "WSACreateEvent(...) failure for ShutdownEvent", "AcceptThread", errno);
    return false;
  }
  listen_fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (listen_fd_ < 0) {
    Log(kLog, "WSASocket(...) failure", "AcceptThread", errno);
    CloseDescriptors();
    return false;
  }
  // Lets a restarted server bind while connections of its previous run sit in
  // TIME_WAIT; on Linux it does not let two servers share the port.
  const int on = 1;
  setsockopt(listen_fd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_ANY);
  address.sin_port = htons(port);
  if (bind(listen_fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    Log(kLog, "bind(...) failure", "AcceptThread", errno);
    CloseDescriptors();
    return false;
  }
  if (listen(listen_fd_, SOMAXCONN) != 0) {
    Log(kLog, "listen(...) failure", "AcceptThread", errno);
    CloseDescriptors();
    return false;
  }
  socklen_t length = sizeof address;
  getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&address), &length);
  port_ = ntohs(address.sin_port);

  try {
    accept_thread_ = std::thread(&ConnectionServer::AcceptThread, this);
  } catch (const std::system_error& e) {
    Log(kLog, "_beginthreadex(...) failure, for Launch Thread", "Run", e.code().value());
    CloseDescriptors();
    return false;
  }
  try {
    helper_thread_ = std::thread(&ConnectionServer::HelperThread, this);
  } catch (const std::system_error& e) {
    Log(kLog, "_beginthreadex(...) failure, for Helper Thread", "Run", e.code().value());
    stopping_ = true;
    eventfd_write(wake_fd_, 1);
    accept_thread_.join();
    CloseDescriptors();
    return false;
  }
  running_ = true;
  return true;
}

bool ConnectionServer::Shutdown() {
  std::lock_guard<std::mutex> hold(run_lock_);
  if (!running_) return false;
  {
    std::lock_guard<std::mutex> clients(clients_lock_);
    stopping_ = true;
  }
  eventfd_write(wake_fd_, 1);
  clients_changed_.notify_all();
  accept_thread_.join();
  helper_thread_.join();
  std::vector<std::thread> finished;
  {
    // Each client thread sees the shutdown descriptor and removes itself.
    std::unique_lock<std::mutex> clients(clients_lock_);
    clients_changed_.wait(clients, [this] { return clients_.empty(); });
    finished.swap(finished_);
  }
  for (std::thread& thread : finished) thread.join();
  CloseDescriptors();
  running_ = false;
  return true;
}

ConnectionServer::Wait ConnectionServer::WaitFor(int fd, short events, int timeout_ms) const {
  pollfd fds[2] = {{fd, events, 0}, {wake_fd_, POLLIN, 0}};
  const bool limited = timeout_ms >= 0;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    const int n = poll(fds, 2, RemainingMs(limited, deadline));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return Wait::kError;
    if (fds[1].revents != 0) return Wait::kShutdown;
    if (n == 0) return Wait::kTimeout;
    return Wait::kReady;  // readiness, hang-up or error: the next call tells which
  }
}

void ConnectionServer::AcceptThread() {
  for (;;) {
    pollfd fds[2] = {{wake_fd_, POLLIN, 0}, {listen_fd_, POLLIN, 0}};
    const int n = poll(fds, 2, -1);
    if (n < 0) {
      if (errno == EINTR) continue;
      Log(kLog, "WaitForMultipleObjects(...) failure", "AcceptThread", errno);
      return;
    }
    if (fds[0].revents != 0) return;
    if (fds[1].revents == 0) continue;
    sockaddr_in peer{};
    socklen_t length = sizeof peer;
    const int fd = accept4(listen_fd_, reinterpret_cast<sockaddr*>(&peer), &length,
                           SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd < 0) {
      const int error = errno;
      if (error == EAGAIN || error == EWOULDBLOCK || error == EINTR) continue;
      Log(kLog, "WSAAccept(...) failure", "AcceptThread", error);
      // Out of descriptors or memory: the pending connection stays queued and
      // the listener stays readable, so pause instead of spinning.
      if (error == EMFILE || error == ENFILE || error == ENOBUFS || error == ENOMEM) {
        pollfd wake{wake_fd_, POLLIN, 0};
        poll(&wake, 1, 100);
      }
      continue;
    }
    AddClient(fd, peer);
  }
}

void ConnectionServer::Refuse(int fd, const std::string& address, const char* why) {
  connections_refused_.fetch_add(1);
  // A flood would fill the log: one line for each run of refusals.
  if (!refusing_) Log(kLog, std::string(why) + ": " + address, "AcceptThread", 0);
  refusing_ = true;
  close(fd);
}

// The admission is decided here, on the accept thread, so that a refused
// connection never costs a thread: it is closed at once.
void ConnectionServer::AddClient(int fd, const sockaddr_in& peer) {
  std::string address = AddressText(peer);
  const bool loopback = IsLoopbackAddress(address);
  if (!loopback && remote_allowed_ && !remote_allowed_()) {
    std::lock_guard<std::mutex> hold(clients_lock_);
    Refuse(fd, address, "Remote connection closed, remote login is off");
    return;
  }
  {
    std::lock_guard<std::mutex> hold(clients_lock_);
    if (!admission_.Admit(address)) {
      Refuse(fd, address, "Connection refused, too many connections");
      return;
    }
    refusing_ = false;
  }
  OnConnect(address, peer.sin_port);
  // Remote peers get the shorter time-out: an idle remote connection holds
  // its place only briefly.
  int timeout_ms = idle_timeout_ms_;
  if (!loopback && limits_.remote_idle_timeout_ms > 0 &&
      (timeout_ms <= 0 || limits_.remote_idle_timeout_ms < timeout_ms)) {
    timeout_ms = limits_.remote_idle_timeout_ms;
  }
  // The thread starts under the lock, so it finds itself in the list even if
  // it ends at once.
  std::lock_guard<std::mutex> hold(clients_lock_);
  const uint64_t id = next_client_id_++;
  try {
    clients_.emplace(
        id, std::thread(&ConnectionServer::ClientThread, this, fd, id, address, timeout_ms));
    clients_started_.fetch_add(1);
  } catch (const std::system_error& e) {
    Log(kLog, "_beginthreadex(...) failure", "AddClient", e.code().value());
    admission_.Release(address);
    close(fd);  // not served: the client sees the connection closed
  }
}

void ConnectionServer::RemoveClient(uint64_t id, int fd, const std::string& address) {
  close(fd);
  std::lock_guard<std::mutex> hold(clients_lock_);
  admission_.Release(address);
  const auto found = clients_.find(id);
  if (found == clients_.end()) {
    Log(kLog, "Thread not found in the list", "ClientThread", 0);
    return;
  }
  finished_.push_back(std::move(found->second));
  clients_.erase(found);
  clients_changed_.notify_all();
}

void ConnectionServer::HelperThread() {
  std::unique_lock<std::mutex> hold(clients_lock_);
  while (!stopping_) {
    clients_changed_.wait_for(hold, std::chrono::milliseconds(100),
                              [this] { return stopping_ || !finished_.empty(); });
    std::vector<std::thread> finished;
    finished.swap(finished_);
    hold.unlock();
    // These threads have left RemoveClient; joining returns at once.
    for (std::thread& thread : finished) thread.join();
    hold.lock();
  }
}

bool ConnectionServer::SendAll(int fd, std::string_view data, int timeout_ms, int* error) const {
  while (!data.empty()) {
    const size_t chunk = std::min(data.size(), kSendChunkBytes);
    const ssize_t n = send(fd, data.data(), chunk, MSG_NOSIGNAL);
    if (n > 0) {
      data.remove_prefix(static_cast<size_t>(n));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      switch (WaitFor(fd, POLLOUT, timeout_ms > 0 ? timeout_ms : -1)) {
        case Wait::kReady:
          continue;
        case Wait::kShutdown:
          *error = 0;
          return false;
        case Wait::kTimeout:
          *error = ETIMEDOUT;
          return false;
        case Wait::kError:
          *error = errno;
          return false;
      }
    }
    *error = n < 0 ? errno : EPIPE;
    return false;
  }
  return true;
}

bool ConnectionServer::SendFileRange(int fd, const Reply& reply, int timeout_ms, uint64_t* sent,
                                     int* error) const {
  FileHandle opened;
  if (reply.file.get() < 0)
    opened = FileHandle(open(reply.file_path.c_str(), O_RDONLY | O_CLOEXEC));
  const int file = reply.file.get() >= 0 ? reply.file.get() : opened.get();
  if (file < 0) return true;  // nothing more to send; the head has gone
  char buffer[kSendChunkBytes];
  uint64_t offset = reply.file_offset;
  uint64_t left = reply.file_length;
  bool ok = true;
  while (left > 0) {
    const size_t want = static_cast<size_t>(std::min<uint64_t>(left, sizeof buffer));
    const ssize_t n = pread(file, buffer, want, static_cast<off_t>(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;  // read failure or a file that shrank: stop, the client sees a short body
    if (!SendAll(fd, std::string_view(buffer, static_cast<size_t>(n)), timeout_ms, error)) {
      ok = false;
      break;
    }
    offset += static_cast<uint64_t>(n);
    left -= static_cast<uint64_t>(n);
    *sent += static_cast<uint64_t>(n);
  }
  return ok;
}

void ConnectionServer::LingeringClose(int fd) const {
  shutdown(fd, SHUT_WR);
  char buffer[4096];
  size_t drained = 0;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(kLingerMs);
  while (drained < kLingerDrainBytes) {
    const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
    if (n > 0) {
      drained += static_cast<size_t>(n);
      continue;
    }
    if (n == 0) return;
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) return;
    if (WaitFor(fd, POLLIN, RemainingMs(true, deadline)) != Wait::kReady) return;
  }
}

// A request may arrive in many segments (browsers split form posts), so the
// thread reads until FrameRequest has the whole head and body, or refuses it.
// The whole request must arrive within the idle time-out of the connection's
// start: a client that trickles bytes cannot hold its thread longer than a
// silent one.
void ConnectionServer::ClientThread(int fd, uint64_t id, const std::string& address,
                                    int timeout_ms) {
  const ConnectionInfo info = DescribeConnection(fd);
  const bool limited = timeout_ms > 0;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  std::string request;
  // On the stack, untouched beyond what recv writes: an idle connection
  // costs no resident memory for it.
  char buffer[kReceiveBufferBytes];
  RequestFrame frame;
  bool peer_closed = false;
  while (frame.state == RequestFrame::State::kIncomplete && !peer_closed) {
    const Wait wait = WaitFor(fd, POLLIN, RemainingMs(limited, deadline));
    if (wait == Wait::kError)
      Log(kLog, "WSAWaitForMultipleEvents(...) failure", "ClientThread", errno);
    if (wait != Wait::kReady) break;  // time-out and shutdown end it without a line
    for (;;) {
      const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
      if (n > 0) {
        request.append(buffer, static_cast<size_t>(n));
        frame = FrameRequest(request);
        if (frame.state != RequestFrame::State::kIncomplete) break;
        continue;
      }
      if (n == 0) {
        peer_closed = true;
      } else if (errno == EINTR) {
        continue;
      } else if (errno != EAGAIN && errno != EWOULDBLOCK) {
        Log(kLog, "WSARecv(...) failure", "ClientThread", errno);
        peer_closed = true;
      }
      break;
    }
  }

  Reply reply;
  bool answer = false;
  if (frame.state == RequestFrame::State::kRejected) {
    reply.bytes = ErrorResponse(frame.status, std::time(nullptr));
    Log(kLog, "ERROR: " + std::string(frame.status), {}, 0);
    answer = true;
  } else if (frame.state == RequestFrame::State::kComplete) {
    // Nothing thrown by the handler (an allocation failure, a page object)
    // may end the process: the request is dropped and the server carries on.
    try {
      answer = HandleRequest(info, std::string_view(request).substr(0, frame.length), &reply);
    } catch (const std::exception& e) {
      Log(kLog, std::string("HandleRequest(...) failure: ") + e.what(), "ClientThread", 0);
      answer = false;
    } catch (...) {
      Log(kLog, "HandleRequest(...) failure", "ClientThread", 0);
      answer = false;
    }
  }
  request = std::string();
  if (answer) {
    int error = 0;
    uint64_t sent = 0;
    bool ok = SendAll(fd, reply.bytes, timeout_ms, &error);
    if (ok) sent += reply.bytes.size();
    if (ok && !reply.file_path.empty()) ok = SendFileRange(fd, reply, timeout_ms, &sent, &error);
    if (!ok && error != 0) {
      Log(kLog, "WSASend(...) failure", "ClientThread, Primary Send", error);
    } else if (ok) {
      OnSent(sent);
    }
    if (ok) LingeringClose(fd);
  }
  RemoveClient(id, fd, address);
}

}  // namespace lun
