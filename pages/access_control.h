// Who a page request is: the one place where the application decides
// whether a request is the local user's, names this machine, or comes from
// a page of another web site. The pages ask FTS (LocalUser, Loopback,
// CrossSite, IdCode) and FTS answers from here, so the script side and the
// C++ side can never disagree.
//
// The local user's request:
//   - comes from a loopback address (127.0.0.0/8 or ::1, also IPv4-mapped);
//   - names this machine in its Host header: exactly an IP literal of
//     127.0.0.0/8, "[::1]", "localhost" or this machine's host name, each
//     with an optional ":port" that must be the port the request came in on.
//     Anything else ("127.evil.example", "127.0.0.1.nip.io", "[::1]evil") is
//     another site whose name was pointed at 127.0.0.1 (DNS rebinding). A
//     request without a Host header (plain HTTP/1.0 clients) passes: a
//     browser always sends one;
//   - carries in IDCODE a key of the session table (this start's session
//     code or the fixed code), read by the one query parser below;
//   - comes from a process of the same user as lun (the peer socket's owner
//     in the kernel's socket tables): on a machine with several accounts any
//     of them can reach 127.0.0.1, and the fixed code is no secret.
//
// A cross-site request carries "Sec-Fetch-Site" other than "same-origin" or
// "none" (a typed address or bookmark), or, from a browser that does not
// send that header, an "Origin" that is not this server. Such a request may
// change nothing, whoever sends it.
//
// Thread safety: pure functions, except the default peer lookup which reads
// the kernel's socket tables.
#ifndef LUN_PAGES_ACCESS_CONTROL_H_
#define LUN_PAGES_ACCESS_CONTROL_H_

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "web/http_request.h"

namespace lun {

class Dispatch;
struct PageRequest;

// 127.0.0.0/8, ::1, and ::ffff:127.x.y.z.
bool IsLoopbackAddress(std::string_view address);

// Whether Host header value `host` (blanks around it ignored) names this
// machine as described above; `machine_name` is this machine's host name
// (empty: only the loopback names count).
bool HostNamesThisMachine(std::string_view host, uint16_t served_port,
                          std::string_view machine_name);

// The value of query-string parameter `name`: pairs split at "&", names and
// values percent-decoded ("+" is a blank), the first pair whose decoded name
// is `name` wins ("ID%43ODE=x" is IDCODE); nullopt when there is none.
std::optional<std::string> QueryParameter(std::string_view query_string, std::string_view name);

// Whether the headers mark a request sent by a page of another site (see
// the top of this file).
bool IsCrossSiteRequest(const HeaderList& headers, uint16_t served_port,
                        std::string_view machine_name);

// The owner of the peer of a connection; nullopt when unknown.
using PeerUidLookup = std::function<std::optional<uid_t>(const ConnectionInfo&)>;

// PeerUidLookup over the kernel's socket tables (platform/socket_owner.h).
std::optional<uid_t> KernelPeerUid(const ConnectionInfo& connection);

// What is known of one request's sender.
struct RequestAccess {
  bool loopback = false;      // from a loopback address
  bool this_host = false;     // the Host header names this machine
  bool session_code = false;  // IDCODE is a key of the session table
  bool own_user = false;      // the peer process runs as our user
  bool cross_site = false;    // sent by a page of another site
  std::string id_code;        // the request's IDCODE ("" when none)

  bool local_user() const { return loopback && this_host && session_code && own_user; }
};

// Assesses `request`. `session_table` is asked through its Exists member
// (nothing is added to it); `peer_uid` (empty: KernelPeerUid) is asked only
// for a loopback request with a session code, compared with `own_uid`.
RequestAccess AssessRequest(const PageRequest& request, Dispatch* session_table,
                            const PeerUidLookup& peer_uid, uid_t own_uid);

// Whether a request that carries no session code is the local user's own
// visit: loopback, naming this machine, from a process of `own_uid`, and not
// sent by a page of another site (a typed address or a bookmark is not).
bool IsOwnUsersVisit(const ConnectionInfo& connection, const HttpRequest& request,
                     const PeerUidLookup& peer_uid, uid_t own_uid);

// This machine's host name ("" when it cannot be read).
std::string MachineName();

}  // namespace lun

#endif  // LUN_PAGES_ACCESS_CONTROL_H_
