#include "platform/socket_owner.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

namespace lun {
namespace {

bool ParseHex(std::string_view s, uint64_t* value) {
  if (s.empty() || s.size() > 16) return false;
  uint64_t v = 0;
  for (char c : s) {
    int d;
    if (c >= '0' && c <= '9')
      d = c - '0';
    else if (c >= 'A' && c <= 'F')
      d = c - 'A' + 10;
    else if (c >= 'a' && c <= 'f')
      d = c - 'a' + 10;
    else
      return false;
    v = (v << 4) | static_cast<uint64_t>(d);
  }
  *value = v;
  return true;
}

// The kernel prints each 32-bit word of an address in host order (as "%08X"
// of the in-memory word), so on little-endian 127.0.0.1 is "0100007F".
bool ParseWord(std::string_view hex, uint32_t* host_order_address) {
  uint64_t word;
  if (hex.size() != 8 || !ParseHex(hex, &word)) return false;
  *host_order_address = ntohl(static_cast<uint32_t>(word));
  return true;
}

// "0100007F:2125" or, in tcp6, 32 hex digits + ":" + port.
bool ParseEndpoint(std::string_view field, bool is_v6, Endpoint* out) {
  const size_t colon = field.find(':');
  if (colon == std::string_view::npos) return false;
  uint64_t port;
  if (!ParseHex(field.substr(colon + 1), &port) || port > 0xFFFF) return false;
  const std::string_view addr = field.substr(0, colon);
  if (!is_v6) {
    if (!ParseWord(addr, &out->address)) return false;
  } else {
    // ::ffff:a.b.c.d is the words 0, 0, 0x0000FFFF, a.b.c.d.
    if (addr.size() != 32) return false;
    uint32_t w[4];
    for (int i = 0; i < 4; ++i) {
      if (!ParseWord(addr.substr(8 * static_cast<size_t>(i), 8), &w[i])) return false;
    }
    // "::" (a listener on every address) reads as 0.0.0.0.
    const bool any = w[0] == 0 && w[1] == 0 && w[2] == 0 && w[3] == 0;
    if (!any && (w[0] != 0 || w[1] != 0 || w[2] != 0x0000FFFF)) return false;
    out->address = w[3];
  }
  out->port = static_cast<uint16_t>(port);
  return true;
}

// The next white-space separated field of `line` from `*pos`.
std::string_view NextField(std::string_view line, size_t* pos) {
  while (*pos < line.size() && line[*pos] == ' ') ++*pos;
  const size_t start = *pos;
  while (*pos < line.size() && line[*pos] != ' ') ++*pos;
  return line.substr(start, *pos - start);
}

// /proc files report a size of 0, so they are read until the end.
bool ReadProcFile(const char* path, std::string* out) {
  const int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  char buf[65536];
  ssize_t n;
  while ((n = read(fd, buf, sizeof buf)) > 0 && out->size() < (64u << 20)) {
    out->append(buf, static_cast<size_t>(n));
  }
  close(fd);
  return n == 0;
}

}  // namespace

namespace {

// One line of a socket table.
struct SocketLine {
  Endpoint local, remote;
  std::string_view state;  // "0A" is listening, "01" established
  uid_t uid = 0;
};

// Calls `visit` for every well-formed line of `table`.
template <typename Visit>
void ForEachSocket(std::string_view table, bool is_v6, Visit visit) {
  size_t start = 0;
  while (start < table.size()) {
    size_t end = table.find('\n', start);
    if (end == std::string_view::npos) end = table.size();
    const std::string_view line = table.substr(start, end - start);
    start = end + 1;
    // sl local_address rem_address st tx:rx tr:when retrnsmt uid ...
    size_t pos = 0;
    const std::string_view slot = NextField(line, &pos);
    if (slot.empty() || slot.back() != ':') continue;  // the heading line
    SocketLine socket;
    if (!ParseEndpoint(NextField(line, &pos), is_v6, &socket.local) ||
        !ParseEndpoint(NextField(line, &pos), is_v6, &socket.remote)) {
      continue;
    }
    socket.state = NextField(line, &pos);
    for (int skip = 0; skip < 3; ++skip) NextField(line, &pos);
    const std::string uid_text(NextField(line, &pos));
    if (uid_text.empty()) continue;
    char* stop = nullptr;
    const unsigned long uid = std::strtoul(uid_text.c_str(), &stop, 10);
    if (!stop || *stop != '\0') continue;
    socket.uid = static_cast<uid_t>(uid);
    visit(socket);
  }
}

constexpr std::pair<const char*, bool> kTables[] = {{"/proc/net/tcp", false},
                                                    {"/proc/net/tcp6", true}};

}  // namespace

std::optional<uid_t> FindSocketUid(std::string_view table, bool is_v6, Endpoint local,
                                   Endpoint remote) {
  std::optional<uid_t> found;
  ForEachSocket(table, is_v6, [&](const SocketLine& s) {
    if (!found && s.local.address == local.address && s.local.port == local.port &&
        s.remote.address == remote.address && s.remote.port == remote.port) {
      found = s.uid;
    }
  });
  return found;
}

std::vector<uid_t> FindListenerUids(std::string_view table, bool is_v6, uint16_t port) {
  std::vector<uid_t> uids;
  ForEachSocket(table, is_v6, [&](const SocketLine& s) {
    if (s.state == "0A" && s.local.port == port &&
        (s.local.address == 0x7F000001 || s.local.address == 0)) {
      uids.push_back(s.uid);
    }
  });
  return uids;
}

std::vector<uid_t> LoopbackListenerUids(uint16_t port) {
  std::vector<uid_t> uids;
  for (const auto& [file, v6] : kTables) {
    std::string table;
    if (!ReadProcFile(file, &table)) continue;
    const std::vector<uid_t> found = FindListenerUids(table, v6, port);
    uids.insert(uids.end(), found.begin(), found.end());
  }
  return uids;
}

std::optional<uid_t> PeerUid(Endpoint ours, Endpoint theirs) {
  // The peer's socket: its local end is their address, its remote end ours.
  for (const auto& [file, v6] : kTables) {
    std::string table;
    if (!ReadProcFile(file, &table)) continue;
    if (auto uid = FindSocketUid(table, v6, theirs, ours)) return uid;
  }
  return std::nullopt;
}

std::optional<uid_t> PeerUid(int fd) {
  sockaddr_in ours{}, theirs{};
  socklen_t len = sizeof ours;
  if (getsockname(fd, reinterpret_cast<sockaddr*>(&ours), &len) != 0 ||
      ours.sin_family != AF_INET) {
    return std::nullopt;
  }
  len = sizeof theirs;
  if (getpeername(fd, reinterpret_cast<sockaddr*>(&theirs), &len) != 0) return std::nullopt;
  return PeerUid(Endpoint{ntohl(ours.sin_addr.s_addr), ntohs(ours.sin_port)},
                 Endpoint{ntohl(theirs.sin_addr.s_addr), ntohs(theirs.sin_port)});
}

bool ParseIpv4(std::string_view dotted, uint32_t* host_order_address) {
  const std::string text(dotted);
  in_addr addr{};
  if (inet_pton(AF_INET, text.c_str(), &addr) != 1) return false;
  *host_order_address = ntohl(addr.s_addr);
  return true;
}

}  // namespace lun
