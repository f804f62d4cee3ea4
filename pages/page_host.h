// PageHost: runs one page of the web UI in the script interpreter.
//
// It creates the interpreter and the page objects, publishes them as the
// named items "Response", "Request" (with global members, so that
// QueryString("q") means Request.QueryString("q")), "Server" and "FTS",
// runs the translated page, and keeps what the page produced: its output,
// its redirect, its headers and cookies (through response()), or the error
// text of a failed run.
//
// Order of use, one page run per host:
//   Create, SetPageDirectory, SetWebRoot, fill request() and the default
//   headers of response(), Run, then GetOutput or GetErrorText,
//   GetRedirect, response()->headers() and cookies, and ReleaseEngine.
//
// Error texts:
//   - a script error: "Script error detected at line N." (N counts from 0
//     in the translated script, not in the page file), then
//     "\nSource line: " + the line and "\nDescription: " + the description
//     when the interpreter gives them;
//   - a page that cannot be translated (an include that cannot be read,
//     includes nested deeper than kMaxIncludeDepth, a "<%" without "%>"):
//     a one-line "Page translation failed: ..." text naming the reason.
//
// Thread safety: none. A host is created, run and released on one thread;
// hosts of different requests run on different threads independently.
#ifndef LUN_PAGES_PAGE_HOST_H_
#define LUN_PAGES_PAGE_HOST_H_

#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "automation/dispatch.h"
#include "pages/request_object.h"
#include "pages/response_object.h"
#include "pages/script/script_engine.h"
#include "pages/server_object.h"

namespace lun {

// The objects of one page run that its application object may use: the
// Server (MapPath) and the Response (whether the page is still writing).
struct PageObjects {
  std::shared_ptr<ServerObject> server;
  std::shared_ptr<ResponseObject> response;
};

// Makes the application object "FTS" of one page run. Returning null leaves
// the page without an "FTS" name.
using FtsMaker = std::function<std::shared_ptr<Dispatch>(const PageObjects&)>;

class PageHost {
 public:
  explicit PageHost(const ScriptLimits& limits = {});
  ~PageHost();
  PageHost(const PageHost&) = delete;
  PageHost& operator=(const PageHost&) = delete;

  // Creates the interpreter and the Request, Response, Server and FTS
  // objects and adds the named items. False when called twice or when an
  // item cannot be added (the error text then says which).
  bool Create(const FtsMaker& make_fts = {});

  // The directory of the page (the base of its includes and of relative
  // MapPath names) and the web root; both absolute, ending in "/".
  void SetPageDirectory(std::string directory);
  void SetWebRoot(std::string web_root);

  // Valid between Create and ReleaseEngine; null otherwise.
  RequestObject* request() const { return request_.get(); }
  ResponseObject* response() const { return response_.get(); }
  ServerObject* server() const { return server_.get(); }

  // Expands the includes of `page_text`, translates it and runs it once.
  // True when the page ran to its end without an unhandled error; false with
  // the error text set otherwise (and when called before Create or twice).
  bool Run(std::string_view page_text);

  const std::string& GetErrorText() const { return error_text_; }
  // What the page wrote (empty before Run and after ReleaseEngine).
  const std::string& GetOutput() const;
  // Whether the page called Response.Redirect, and the URL.
  bool GetRedirect(std::string* url) const;

  // Releases the interpreter and the objects (Request first). Safe to call
  // more than once; the destructor calls it.
  void ReleaseEngine();

 private:
  const ScriptLimits limits_;
  std::unique_ptr<ScriptEngine> engine_;
  std::shared_ptr<RequestObject> request_;
  std::shared_ptr<ResponseObject> response_;
  std::shared_ptr<ServerObject> server_;
  std::shared_ptr<Dispatch> fts_;
  std::string page_directory_;
  std::string error_text_;
  bool ran_ = false;
};

}  // namespace lun

#endif  // LUN_PAGES_PAGE_HOST_H_
