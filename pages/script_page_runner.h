// ScriptPageRunner: the web server's PageRunner for ".shl" and ".asp" pages.
//
// For each request it loads the page file (plain or packed), creates a
// PageHost, fills Request from the parsed request (server variables, query
// string, form, cookies), gives Response the default headers the server
// handed in (Content-Type, Cache-Control, Last-Modified), runs the page and
// fills the PageOutput:
//   - body: what the page wrote, or the host's error text when the page
//     failed (the answer is still "200 OK", typed "text/plain;
//     charset=utf-8", and output written before the error is not sent);
//   - headers: the Response headers by name (the server adds
//     Content-Length);
//   - cookies: the "Set-Cookie" texts of the cookies the page wrote;
//   - redirect: the URL of Response.Redirect ("302 Object Moved").
// A page file that cannot be read answers kCannotTranslate ("404 Not
// Found"); a host that cannot be created kCannotCreateHost.
//
// Thread safety: Run may be called from several client threads at once; each
// run has its own interpreter and objects. The FTS factory is called on the
// client thread of each request and must be safe to call concurrently.
#ifndef LUN_PAGES_SCRIPT_PAGE_RUNNER_H_
#define LUN_PAGES_SCRIPT_PAGE_RUNNER_H_

#include <functional>
#include <memory>

#include "automation/dispatch.h"
#include "pages/page_host.h"
#include "pages/script/script_engine.h"
#include "web/page_runner.h"

namespace lun {

// What the application object of one page run may use. `request` and
// `responder` are valid during the page run only; an object that a page
// keeps beyond it (in the process-wide session table) must not use them
// afterwards, which is what the page's `response->writing()` and the end of
// the run tell.
struct PageContext {
  const PageRequest& request;  // the request (connection, headers, query)
  PageResponder& responder;    // downloads and images as the answer
  PageObjects objects;         // the page's Server (MapPath) and Response
};

// Makes the "FTS" object of one page run; may be empty or return null (the
// page then has no "FTS").
using FtsFactory = std::function<std::shared_ptr<Dispatch>(const PageContext&)>;

// The limits a page runs under: a page stops with a script error after 150
// seconds of running (longer than the 120-second watchdog of a search, so a
// page whose search ran to its end still writes its answer). The interpreter's
// default call-depth, stack, string and array limits apply.
ScriptLimits DefaultPageLimits();

class ScriptPageRunner : public PageRunner {
 public:
  explicit ScriptPageRunner(FtsFactory make_fts = {},
                            const ScriptLimits& limits = DefaultPageLimits());

  PageRunStatus Run(const PageRequest& request, PageResponder& responder,
                    PageOutput* output) override;

 private:
  const FtsFactory make_fts_;
  const ScriptLimits limits_;
};

}  // namespace lun

#endif  // LUN_PAGES_SCRIPT_PAGE_RUNNER_H_
