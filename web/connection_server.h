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
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "web/file_logger.h"
#include "web/http_request.h"

namespace lun {

// What a client thread sends back for one request.
struct Reply {
  std::string bytes;      // response head and any in-memory body
  std::string file_path;  // empty: nothing follows `bytes`
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

  bool running() const { return running_.load(); }
  // The port bound by the last successful Run.
  uint16_t port() const { return port_; }
  // Client threads that have not yet removed themselves.
  size_t client_count() const;
  // Client threads started since construction (for tests and benchmarks).
  uint64_t clients_started() const { return clients_started_.load(); }

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
  void ClientThread(int fd, uint64_t id);
  void AddClient(int fd, const sockaddr_in& peer);
  void RemoveClient(uint64_t id, int fd);
  // Waits until `fd` has `events` or the shutdown descriptor fires.
  Wait WaitFor(int fd, short events, int timeout_ms) const;
  // Sends all of `data`; false with `*error` set when the peer is gone, the
  // wait times out or the server shuts down (`*error` 0).
  bool SendAll(int fd, std::string_view data, int* error) const;
  bool SendFileRange(int fd, const Reply& reply, uint64_t* sent, int* error) const;
  void LingeringClose(int fd) const;
  void CloseDescriptors();

  std::mutex run_lock_;  // serialises Run and Shutdown
  std::atomic<bool> running_{false};
  std::atomic<bool> stopping_{false};
  uint16_t port_ = 0;
  int idle_timeout_ms_ = 0;
  int listen_fd_ = -1;
  int wake_fd_ = -1;  // eventfd: readable once Shutdown has begun
  std::thread accept_thread_;
  std::thread helper_thread_;

  mutable std::mutex clients_lock_;  // guards clients_, finished_, next_client_id_
  std::condition_variable clients_changed_;
  std::map<uint64_t, std::thread> clients_;
  std::vector<std::thread> finished_;
  uint64_t next_client_id_ = 0;
  std::atomic<uint64_t> clients_started_{0};
};

}  // namespace lun

#endif  // LUN_WEB_CONNECTION_SERVER_H_
