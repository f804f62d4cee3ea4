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

struct PageRequest;

// The FtsPage of one page run over `env`: who sent the request
// (AssessRequest of access_control.h with the environment's session table
// and peer lookup), its address and its login cookie. The pages' security
// include asks FTS for these, so pages and FTS take one decision.
FtsPage DescribeRequest(const PageRequest& request, const FtsEnvironment& env);

// One FtsObject per page run over `env` (which must outlive every page run):
// DescribeRequest of its request, active while the run's Response writes,
// MapPath of its Server and its responder.
FtsFactory MakeFtsFactory(const FtsEnvironment& env);

}  // namespace lun

#endif  // LUN_PAGES_FTS_FACTORY_H_
