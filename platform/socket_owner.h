// Which user owns the other end of a loopback TCP connection.
//
// Three parts of the application trust a loopback connection only when the
// process at its other end runs as our own user: the crawl service serves
// only such clients (it hands out the text of any file it can read), lun
// talks only to such a crawl service (a listener of another account that
// took the port first would read every path and inject text), and the pages
// honour the session codes only from such a browser. TCP has no
// SO_PEERCRED; the kernel's socket tables (/proc/net/tcp and /proc/net/tcp6)
// list every socket with its owner's uid, and the peer's socket is the one
// whose local end is our remote end and whose remote end is our local end.
// A client asks instead who listens on the port: a connection the listener
// has not accepted yet shows root as its owner on some kernels.
#ifndef LUN_PLATFORM_SOCKET_OWNER_H_
#define LUN_PLATFORM_SOCKET_OWNER_H_

#include <netinet/in.h>
#include <sys/types.h>

#include <optional>
#include <string_view>
#include <vector>

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

// The uid of the peer of the IPv4 connection whose ends are `ours` and
// `theirs`, from the kernel's socket tables; nullopt when no socket matches
// (the peer has gone, or the tables cannot be read).
std::optional<uid_t> PeerUid(Endpoint ours, Endpoint theirs);

// The same for connected socket `fd` (either end of the connection).
std::optional<uid_t> PeerUid(int fd);

// The uids of the sockets listening on TCP port `port` that a connection
// to 127.0.0.1:`port` can reach (bound to 127.0.0.1 or to every address,
// IPv4 or IPv6) in the text of a socket table, and in the kernel's tables.
// Empty when there is none.
std::vector<uid_t> FindListenerUids(std::string_view table, bool is_v6, uint16_t port);
std::vector<uid_t> LoopbackListenerUids(uint16_t port);

// An IPv4 address in dotted form as an Endpoint address; false when it is
// not one.
bool ParseIpv4(std::string_view dotted, uint32_t* host_order_address);

}  // namespace lun

#endif  // LUN_PLATFORM_SOCKET_OWNER_H_
