// Making the page object "FTS" for each page run of the web server: the
// factory that ScriptPageRunner calls, and the local-user test it applies.
//
// Thread safety: the factory may be called from several client threads at
// once; each call makes an object of its own.
#ifndef LUN_PAGES_FTS_FACTORY_H_
#define LUN_PAGES_FTS_FACTORY_H_

#include "pages/fts_environment.h"
#include "pages/script_page_runner.h"

namespace lun {

class Dispatch;
struct PageRequest;

// Whether `request` is the local user's: it comes from a loopback address
// (127.0.0.0/8 or ::1, also IPv4-mapped), its Host header is missing or
// names this machine by a loopback name ("localhost", "127.x.y.z", "[::1]",
// any port; a page of another site re-pointed at 127.0.0.1 names its own
// host), and its IDCODE query parameter is a key of `session_table` (asked
// through its Exists member, so nothing is added to it). The pages'
// security include takes the same decision for what pages show; FTS takes
// it for what it does on the desktop.
bool IsLocalUserRequest(const PageRequest& request, Dispatch* session_table);

// One FtsObject per page run over `env` (which must outlive every page run):
// active while the run's Response writes, MapPath of its Server, its
// responder, and IsLocalUserRequest of its request.
FtsFactory MakeFtsFactory(const FtsEnvironment& env);

}  // namespace lun

#endif  // LUN_PAGES_FTS_FACTORY_H_
