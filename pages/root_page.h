// The server's root "/": the one address of the search that stays the same
// from start to start, so it can be bookmarked (every page address carries
// the session code, which changes at each start).
//
// The local user's own visit (IsOwnUsersVisit in access_control.h: loopback,
// this machine's Host, a process of our user, not sent by another site) is
// redirected to the home page with this start's session code. Anyone else,
// including a page of another site and a name pointed at 127.0.0.1 (DNS
// rebinding), gets a short page that says how to open the search and never
// the code.
//
// Thread safety: AnswerRoot only reads its context.
#ifndef LUN_PAGES_ROOT_PAGE_H_
#define LUN_PAGES_ROOT_PAGE_H_

#include <sys/types.h>

#include <string>
#include <string_view>

#include "pages/access_control.h"
#include "web/http_request.h"
#include "web/http_response.h"

namespace lun {

struct RootPageContext {
  std::string session_code;  // this start's IDCODE
  PeerUidLookup peer_uid;    // empty: the kernel's socket tables
  uid_t own_uid = 0;         // the user lun runs as
};

// Fills `output` (which arrives with the default page headers) with the
// answer to "/" for `request` on `connection`.
void AnswerRoot(const RootPageContext& context, const ConnectionInfo& connection,
                const HttpRequest& request, PageOutput* output);

// The server-relative address of the home page ("/LUN/home.shl?IDCODE=..."),
// or with a non-empty `query` of the results for it ("/LUN/Search.shl?...").
std::string SearchPagePath(std::string_view session_code, std::string_view query);

}  // namespace lun

#endif  // LUN_PAGES_ROOT_PAGE_H_
