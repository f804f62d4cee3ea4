#include "pages/access_control.h"

#include <arpa/inet.h>
#include <limits.h>
#include <unistd.h>

#include <charconv>

#include "automation/dispatch.h"
#include "platform/socket_owner.h"
#include "platform/text.h"
#include "web/page_runner.h"

namespace lun {
namespace {

std::string LowerAscii(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
  return lower;
}

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

bool IsLoopbackIpv4(std::string_view text) {
  uint32_t address = 0;
  return ParseIpv4(text, &address) && (address >> 24) == 127;
}

bool IsLoopbackIpv6(std::string_view text) {
  const std::string copy(text);
  in6_addr address{};
  return inet_pton(AF_INET6, copy.c_str(), &address) == 1 && IN6_IS_ADDR_LOOPBACK(&address);
}

// ":port" after the host name: empty, or decimal digits equal to the port.
bool PortMatches(std::string_view rest, uint16_t served_port) {
  if (rest.empty()) return true;
  if (rest.front() != ':') return false;
  rest.remove_prefix(1);
  if (rest.empty() || rest.size() > 5) return false;
  unsigned port = 0;
  const auto [end, error] = std::from_chars(rest.data(), rest.data() + rest.size(), port);
  return error == std::errc() && end == rest.data() + rest.size() && port == served_port;
}

bool IsSessionCode(Dispatch* table, const std::string& code) {
  DispId exists = 0;
  if (!table || code.empty() || table->GetIdOfName(u"Exists", &exists) != S_OK) return false;
  const Variant args[] = {Variant::Bstr(ToWide(code))};
  Variant found;
  return table->Invoke(exists, DISPATCH_METHOD, args, &found, nullptr) == S_OK && found.AsBool();
}

}  // namespace

bool IsLoopbackAddress(std::string_view address) {
  if (LowerAscii(address.substr(0, 7)) == "::ffff:") {
    address.remove_prefix(7);
    return IsLoopbackIpv4(address);
  }
  return IsLoopbackIpv4(address) || IsLoopbackIpv6(address);
}

bool HostNamesThisMachine(std::string_view host, uint16_t served_port,
                          std::string_view machine_name) {
  host = TrimBlanks(host);
  if (host.starts_with('[')) {
    const size_t close = host.find(']');
    return close != std::string_view::npos && IsLoopbackIpv6(host.substr(1, close - 1)) &&
           PortMatches(host.substr(close + 1), served_port);
  }
  const size_t colon = host.find(':');
  const std::string_view name = host.substr(0, colon);
  if (!PortMatches(colon == std::string_view::npos ? "" : host.substr(colon), served_port)) {
    return false;
  }
  const std::string lower = LowerAscii(name);
  return lower == "localhost" || IsLoopbackIpv4(name) ||
         (!machine_name.empty() && lower == LowerAscii(machine_name));
}

std::optional<std::string> QueryParameter(std::string_view query_string, std::string_view name) {
  size_t pos = 0;
  while (pos <= query_string.size()) {
    size_t end = query_string.find('&', pos);
    if (end == std::string_view::npos) end = query_string.size();
    const std::string_view pair = query_string.substr(pos, end - pos);
    pos = end + 1;
    const size_t eq = pair.find('=');
    if (eq == std::string_view::npos || eq == 0) continue;
    if (PercentDecode(pair.substr(0, eq)) == name) return PercentDecode(pair.substr(eq + 1));
  }
  return std::nullopt;
}

bool IsCrossSiteRequest(const HeaderList& headers, uint16_t served_port,
                        std::string_view machine_name) {
  // A browser that sends Sec-Fetch-Site says exactly where the request
  // comes from; its Origin may be "null" on our own forms (the pages send
  // no referrer), so Origin decides only for browsers without it.
  if (const std::string* site = headers.Find("Sec-Fetch-Site")) {
    const std::string value = LowerAscii(TrimBlanks(*site));
    return value != "same-origin" && value != "none";
  }
  if (const std::string* origin = headers.Find("Origin")) {
    constexpr std::string_view kScheme = "http://";
    const std::string_view value = TrimBlanks(*origin);
    // "null" (sandboxed frames, file: pages) and any other scheme are
    // someone else.
    if (!value.starts_with(kScheme) ||
        !HostNamesThisMachine(value.substr(kScheme.size()), served_port, machine_name)) {
      return true;
    }
  }
  return false;
}

std::optional<uid_t> KernelPeerUid(const ConnectionInfo& connection) {
  Endpoint ours{0, connection.local_port};
  Endpoint theirs{0, connection.peer_port};
  if (!ParseIpv4(connection.local_address, &ours.address) ||
      !ParseIpv4(connection.peer_address, &theirs.address)) {
    return std::nullopt;
  }
  return PeerUid(ours, theirs);
}

std::string MachineName() {
  char name[HOST_NAME_MAX + 1] = {};
  if (gethostname(name, sizeof name - 1) != 0) return {};
  return name;
}

namespace {

// What the connection and the headers tell of a sender; the peer's owner is
// asked only when `ask_owner` and the request is from loopback.
void AssessSender(const ConnectionInfo& connection, const HttpRequest* request,
                  const PeerUidLookup& peer_uid, uid_t own_uid, bool ask_owner,
                  RequestAccess* access) {
  const std::string machine = MachineName();
  access->loopback = IsLoopbackAddress(connection.peer_address);
  const std::string* host = request ? request->headers.Find("Host") : nullptr;
  access->this_host = !host || HostNamesThisMachine(*host, connection.local_port, machine);
  if (access->loopback && ask_owner) {
    const std::optional<uid_t> uid = peer_uid ? peer_uid(connection) : KernelPeerUid(connection);
    access->own_user = uid && *uid == own_uid;
  }
  access->cross_site =
      request && IsCrossSiteRequest(request->headers, connection.local_port, machine);
}

}  // namespace

RequestAccess AssessRequest(const PageRequest& request, Dispatch* session_table,
                            const PeerUidLookup& peer_uid, uid_t own_uid) {
  RequestAccess access;
  access.id_code = QueryParameter(request.query_string, "IDCODE").value_or("");
  access.session_code = IsSessionCode(session_table, access.id_code);
  AssessSender(request.connection, request.request, peer_uid, own_uid, access.session_code,
               &access);
  return access;
}

bool IsOwnUsersVisit(const ConnectionInfo& connection, const HttpRequest& request,
                     const PeerUidLookup& peer_uid, uid_t own_uid) {
  RequestAccess access;
  AssessSender(connection, &request, peer_uid, own_uid, true, &access);
  return access.loopback && access.this_host && access.own_user && !access.cross_site;
}

}  // namespace lun
