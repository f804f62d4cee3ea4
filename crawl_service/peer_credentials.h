// Who is at the other end of a loopback TCP connection.
//
// The crawl service hands out the text of any file it can read, so it only
// serves processes of its own user. TCP has no SO_PEERCRED; the kernel's
// socket tables (/proc/net/tcp and /proc/net/tcp6) list every socket with
// its owner's uid, and the peer's socket is the one whose local end is our
// remote end and whose remote end is our local end.
#ifndef LUN_CRAWL_SERVICE_PEER_CREDENTIALS_H_
#define LUN_CRAWL_SERVICE_PEER_CREDENTIALS_H_

#include <netinet/in.h>
#include <sys/types.h>

#include <optional>
#include <string_view>

namespace lun {

// An IPv4 endpoint in host byte order.
struct Endpoint {
  uint32_t address = 0;  // 127.0.0.1 is 0x7F000001
  uint16_t port = 0;
};

// The uid of the socket whose local end is `local` and remote end `remote`,
// found in the text of a socket table (`is_v6`: the /proc/net/tcp6 layout,
// where IPv4 peers appear as ::ffff:a.b.c.d). Nullopt when no line matches.
// Pure; malformed lines are skipped.
std::optional<uid_t> FindSocketUid(std::string_view table, bool is_v6, Endpoint local,
                                   Endpoint remote);

// The uid of the process owning the peer of connected socket `fd`, or
// nullopt when it cannot be found.
std::optional<uid_t> PeerUid(int fd);

}  // namespace lun

#endif  // LUN_CRAWL_SERVICE_PEER_CREDENTIALS_H_
