// fake_extractd: a stand-in for luncrawl that speaks the real wire format
// and misbehaves on request, for the client's crash and hang suite.
//
// The request path picks the behaviour (the first word found wins):
//   crash      the service dies of SIGSEGV
//   hang       it stops answering (sleeps, no CPU)
//   spin       it stops answering (busy loop)
//   slow       it answers after 300 ms
//   garbage    an odd-length frame
//   huge       it claims a reply of 4 GB minus a little and sends a few bytes
//   halfclose  half a reply, then the connection closes
//   notext     N = 0
//   otherwise  the path itself is the text
// The client's challenge is answered with the token of $LUN_CRAWL_TOKEN.
// Options: --port N, --exit-at-start (ends at once, for restart loops),
// --launch-log FILE (appends one line per start).
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "crawler/extract/crawl_wire_format.h"
#include "platform/text.h"

namespace {

void SendRaw(int fd, const std::string& data) {
  size_t sent = 0;
  while (sent < data.size()) {
    const ssize_t n = send(fd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) return;
    sent += static_cast<size_t>(n);
  }
}

std::string Length(int32_t n) {
  std::string out(4, '\0');
  std::memcpy(out.data(), &n, 4);
  return out;
}

bool Has(const std::string& path, const char* word) { return path.find(word) != std::string::npos; }

// False ends the connection.
bool Answer(int fd, const std::string& path) {
  // The challenge of the client, answered with the token it handed us like
  // the real service does.
  if (path.starts_with(lun::kCrawlHelloPrefix)) {
    const char* token = std::getenv(lun::kCrawlTokenVariable);
    SendRaw(fd, lun::EncodeReply(lun::ToWide(
                    token ? lun::HelloAnswer(token, path.substr(sizeof lun::kCrawlHelloPrefix - 1))
                          : std::string())));
    return true;
  }
  if (Has(path, "crash")) raise(SIGSEGV);
  if (Has(path, "hang")) {
    for (;;) pause();
  }
  if (Has(path, "spin")) {
    volatile unsigned long counter = 0;
    for (;;) counter = counter + 1;
  }
  if (Has(path, "slow")) usleep(300 * 1000);
  if (Has(path, "garbage")) {
    SendRaw(fd, Length(7) + "\x01\x02\x03\x04\x05\x06\x07");
  } else if (Has(path, "huge")) {
    SendRaw(fd, Length(static_cast<int32_t>(0x7FFFFFF0)) + std::string(100, 'x'));
  } else if (Has(path, "halfclose")) {
    SendRaw(fd, Length(1000) + std::string(10, 'x'));
    return false;
  } else if (Has(path, "notext")) {
    SendRaw(fd, Length(0));
  } else {
    SendRaw(fd, lun::EncodeReply(lun::ToWide(path)));
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  signal(SIGPIPE, SIG_IGN);
  uint16_t port = lun::kCrawlServicePort;
  bool exit_at_start = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--port" && i + 1 < argc) {
      port = static_cast<uint16_t>(std::atoi(argv[++i]));
    } else if (arg == "--exit-at-start") {
      exit_at_start = true;
    } else if (arg == "--launch-log" && i + 1 < argc) {
      const int fd = open(argv[++i], O_WRONLY | O_CREAT | O_APPEND, 0600);
      if (fd >= 0) {
        (void)!write(fd, "start\n", 6);
        close(fd);
      }
    }
  }
  if (exit_at_start) return 1;
  const int listen_fd = socket(AF_INET, SOCK_STREAM, 0);
  const int one = 1;
  setsockopt(listen_fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(port);
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (bind(listen_fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) return 2;
  listen(listen_fd, 8);
  for (;;) {
    const int fd = accept(listen_fd, nullptr, nullptr);
    if (fd < 0) continue;
    std::string buffer;
    char chunk[4096];
    for (;;) {
      std::string path;
      size_t used = 0;
      const lun::RequestScan scan = lun::ScanRequest(buffer, &path, &used);
      if (scan == lun::RequestScan::kExit) return 0;
      if (scan == lun::RequestScan::kPath) {
        buffer.erase(0, used);
        if (!Answer(fd, path)) break;
        continue;
      }
      const ssize_t n = recv(fd, chunk, sizeof chunk, 0);
      if (n <= 0) break;
      buffer.append(chunk, static_cast<size_t>(n));
    }
    close(fd);
  }
}
