// Which connections the web server takes on, so that no visitor can use up
// its threads: every connection holds a thread until it ends, and a few
// thousand idle connections would otherwise delay the local user's pages
// without bound.
//
// Loopback peers (127.0.0.0/8) are the local user's browser: they may use
// every place. Other peers share what is left after a reserve that only
// loopback peers can fill, and each address may hold only a few places.
//
// Not thread-safe: the connection server calls it under its client lock.
#ifndef LUN_WEB_CONNECTION_ADMISSION_H_
#define LUN_WEB_CONNECTION_ADMISSION_H_

#include <cstddef>
#include <string>
#include <unordered_map>

namespace lun {

struct ConnectionLimits {
  // Connections served at once, from all peers together. A browser opens
  // about six per page; a thousand loopback connections at once are served.
  size_t max_connections = 2048;
  // Places that remote peers can never take.
  size_t loopback_reserve = 1792;
  // Places one remote address may hold at once.
  size_t max_per_remote_address = 16;
  // How long a remote peer may take over its request (and each wait of a
  // send), in ms, when it is shorter than the server's idle time-out.
  int remote_idle_timeout_ms = 5000;
};

// True for an IPv4 address text in 127.0.0.0/8.
bool IsLoopbackAddress(const std::string& address);

class ConnectionAdmission {
 public:
  explicit ConnectionAdmission(const ConnectionLimits& limits = {}) : limits_(limits) {}

  // Takes a place for a connection of `address`; false when the connection
  // is to be refused. Every true is matched by one Release.
  bool Admit(const std::string& address);
  void Release(const std::string& address);

  size_t total() const { return total_; }

 private:
  ConnectionLimits limits_;
  size_t total_ = 0;
  size_t remote_ = 0;
  std::unordered_map<std::string, size_t> per_remote_address_;
};

}  // namespace lun

#endif  // LUN_WEB_CONNECTION_ADMISSION_H_
