// The transport of the web server: a TCP listener on every local IPv4
// address, an accept thread, one thread per client connection, and a helper
// thread that joins client threads once they have finished.
//
// A client thread reads one request until FrameRequest (http_request.h) finds
// it complete (or refuses it, which is answered with an error response), hands
// it to HandleRequest, sends the reply (memory bytes, then an optional file
// range streamed from disk in 8196-byte chunks) and closes the connection:
// every connection carries one request and one response.
//
// Before a connection gets its thread it must be admitted (ConnectionLimits:
// a cap per remote address and in all, with places only loopback peers can
// take); remote peers also get a shorter idle time-out, and while
// set_remote_admission says no they are closed at once. A refused
// connection is closed on the accept thread and costs nothing further.
//
// Failures are reported only as lines in "UMServer.log" (file_logger.h).
//
// Threading: Run and Shutdown are called from one controlling thread.
// HandleRequest, OnConnect and OnSent are called from client and accept
// threads concurrently. A derived class must call Shutdown() in its own
// destructor, before its members are destroyed, because client threads call
// its virtual functions until Shutdown returns.
#ifndef LUN_WEB_CONNECTION_SERVER_H_
#define LUN_WEB_CONNECTION_SERVER_H_

#include <netinet/in.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "web/connection_admission.h"
#include "web/file_logger.h"
#include "web/http_request.h"

namespace lun {

// Owns one open file descriptor and closes it; movable, not copyable.
class FileHandle {
 public:
  FileHandle() = default;
  explicit FileHandle(int fd) : fd_(fd) {}
  ~FileHandle() { Reset(); }
  FileHandle(FileHandle&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
  FileHandle& operator=(FileHandle&& other) noexcept {
    if (this != &other) {
      Reset();
      fd_ = other.fd_;
      other.fd_ = -1;
    }
    return *this;
  }
  int get() const { return fd_; }
  void Reset();

 private:
  int fd_ = -1;
};

// What a client thread sends back for one request.
struct Reply {
  std::string bytes;      // response head and any in-memory body
  std::string file_path;  // empty: nothing follows `bytes`
  // When open, the range is read from this descriptor rather than from a
  // fresh open of `file_path`: a file checked when it was opened cannot be
  // swapped before it is sent.
  FileHandle file;
  uint64_t file_offset = 0;
  uint64_t file_length = 0;
};

inline constexpr size_t kSendChunkBytes = 8196;
inline constexpr size_t kReceiveBufferBytes = 100000;

class ConnectionServer : public FileLogger {
 public:
  explicit ConnectionServer(std::string log_directory = {});
  ~ConnectionServer() override;

  // Binds `port` (0: any free port, see port()) on every local address,
  // starts the accept and helper threads and returns true. A port that cannot
  // be bound fails at once, after the "bind(...) failure" line. False too when
  // already running. `idle_timeout_ms` bounds the time a client has to send
  // its whole request and each wait of a send (0: no limit).
  bool Run(uint16_t port, int idle_timeout_ms);

  // Stops accepting, tells every client thread to end, and returns once all
  // of them have ended and been joined. False when the server was not running.
  bool Shutdown();

  // How many connections are taken on (connection_admission.h); takes
  // effect at the next Run.
  void set_limits(const ConnectionLimits& limits) { limits_ = limits; }
  // Asked for every connection from a peer outside 127.0.0.0/8 (on the
  // accept thread): false closes it at once, before it costs a thread. The
  // application answers whether remote login is on. Empty: remote peers are
  // served. Set before Run.
  void set_remote_admission(std::function<bool()> allowed) { remote_allowed_ = std::move(allowed); }

  bool running() const { return running_.load(); }
  // The port bound by the last successful Run.
  uint16_t port() const { return port_; }
  // Client threads that have not yet removed themselves.
  size_t client_count() const;
  // Client threads started since construction (for tests and benchmarks).
  uint64_t clients_started() const { return clients_started_.load(); }
  // Connections closed at once since construction: over a limit, or remote
  // while remote peers are not admitted.
  uint64_t connections_refused() const { return connections_refused_.load(); }

 protected:
  // Called on the accept thread for each accepted connection before its
  // thread starts; `port_network_order` is the peer port as on the wire.
  virtual int OnConnect(const std::string& address, uint16_t port_network_order);
  // Called after a reply has been sent in full.
  virtual int OnSent(uint64_t bytes);
  // Handles one complete request. Returns false to close the connection
  // without sending anything. An exception that escapes it is logged and the
  // connection is closed without a response.
  virtual bool HandleRequest(const ConnectionInfo& connection, std::string_view request,
                             Reply* reply) = 0;

 private:
  enum class Wait { kReady, kTimeout, kShutdown, kError };

  void AcceptThread();
  void HelperThread();
  void ClientThread(int fd, uint64_t id, const std::string& address, int timeout_ms);
  void AddClient(int fd, const sockaddr_in& peer);
  void RemoveClient(uint64_t id, int fd, const std::string& address);
  void Refuse(int fd, const std::string& address, const char* why);
  // Waits until `fd` has `events` or the shutdown descriptor fires.
  Wait WaitFor(int fd, short events, int timeout_ms) const;
  // Sends all of `data`, each wait for the peer bounded by `timeout_ms`
  // (<= 0: no limit); false with `*error` set when the peer is gone, the
  // wait times out or the server shuts down (`*error` 0).
  bool SendAll(int fd, std::string_view data, int timeout_ms, int* error) const;
  bool SendFileRange(int fd, const Reply& reply, int timeout_ms, uint64_t* sent, int* error) const;
  void LingeringClose(int fd) const;
  void CloseDescriptors();

  std::mutex run_lock_;  // serialises Run and Shutdown
  std::atomic<bool> running_{false};
  std::atomic<bool> stopping_{false};
  uint16_t port_ = 0;
  int idle_timeout_ms_ = 0;
  ConnectionLimits limits_;
  std::function<bool()> remote_allowed_;
  int listen_fd_ = -1;
  int wake_fd_ = -1;  // eventfd: readable once Shutdown has begun
  std::thread accept_thread_;
  std::thread helper_thread_;

  mutable std::mutex clients_lock_;  // guards clients_, finished_, next_client_id_, admission_
  std::condition_variable clients_changed_;
  std::map<uint64_t, std::thread> clients_;
  std::vector<std::thread> finished_;
  uint64_t next_client_id_ = 0;
  ConnectionAdmission admission_;
  bool refusing_ = false;  // the last connection was refused: log only the first of a run
  std::atomic<uint64_t> clients_started_{0};
  std::atomic<uint64_t> connections_refused_{0};
};

}  // namespace lun

#endif  // LUN_WEB_CONNECTION_SERVER_H_
