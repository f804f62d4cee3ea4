// A minimal HTTP/1.0 client over 127.0.0.1 for the tests and benchmarks
// that talk to a running web server: one request per connection, the answer
// read until the server closes it. Not used by the programs.
#ifndef LUN_WEB_LOOPBACK_CLIENT_H_
#define LUN_WEB_LOOPBACK_CLIENT_H_

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cstdint>
#include <string>

namespace lun {

// Sends `request` to 127.0.0.1:`port` and returns the whole answer; "" when
// the connection fails. With `timeout_s` > 0 a server that stops answering
// ends the read after that long instead of hanging the caller.
inline std::string ExchangeOverLoopback(uint16_t port, const std::string& request,
                                        int timeout_s = 0) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return {};
  if (timeout_s > 0) {
    timeval timeout{timeout_s, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
  }
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  std::string answer;
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      send(fd, request.data(), request.size(), MSG_NOSIGNAL) ==
          static_cast<ssize_t>(request.size())) {
    char buffer[65536];
    for (ssize_t n; (n = recv(fd, buffer, sizeof buffer, 0)) > 0;) {
      answer.append(buffer, static_cast<size_t>(n));
    }
  }
  close(fd);
  return answer;
}

}  // namespace lun

#endif  // LUN_WEB_LOOPBACK_CLIENT_H_
