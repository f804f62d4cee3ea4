// The seam between the web server and the script pages.
//
// For a request whose file ends in ".shl" or ".asp" the server fills a
// PageRequest and hands it to the PageRunner it was given; the runner
// translates and runs the page on the calling client thread and fills a
// PageOutput (http_response.h). The server then writes the response head
// (see PageResponseText) unless the page answered with a file or memory bytes
// through the PageResponder.
//
// Implementations must be safe to call from several client threads at once,
// each with its own request.
#ifndef LUN_WEB_PAGE_RUNNER_H_
#define LUN_WEB_PAGE_RUNNER_H_

#include <string>
#include <string_view>
#include <vector>

#include "web/http_request.h"
#include "web/http_response.h"
#include "web/request_variables.h"

namespace lun {

// Everything a page may read about its request. Valid only during Run.
struct PageRequest {
  std::string method;          // "GET", "POST" or "HEAD"
  std::string page_path;       // the page file, inside the web root
  std::string page_directory;  // page_path up to and including its last "/"
  std::string web_root;        // ends in "/"
  std::string query_string;    // raw, with any path segments after the page appended
  const HttpRequest* request = nullptr;  // request line, headers, form data
  ConnectionInfo connection;
  NameValueList server_variables;  // FillServerVariables
  NameValueList query;             // ParseQueryString(query_string)
  NameValueList form;              // ParseForm(request->form_data)
  bool has_cookie_header = false;
  std::vector<RequestCookie> cookies;  // ParseCookies of the "Cookie" header
};

// Lets a running page answer with something other than its own output
// (downloads, icons). After either call succeeds the page's output is not
// sent.
class PageResponder {
 public:
  virtual ~PageResponder() = default;
  // Prepares the file `fd`, opened and checked by the caller and taken over
  // by this call, as the response, honouring the request's "Range"; `path`
  // gives its name and type. The bytes are read from `fd`, never from a new
  // open of `path`. False when the file cannot be served; the error
  // response is then already prepared.
  virtual bool SendFile(const std::string& path, int fd) = 0;
  // Answers with `bytes`, typed by `extension` (e.g. ".BMP").
  virtual void SendMemory(std::string_view extension, std::string_view bytes) = 0;
};

enum class PageRunStatus {
  kRan,               // output filled: the page's output, or the script's error text
  kCannotTranslate,   // the page file cannot be loaded: "404 Not Found"
  kCannotCreateHost,  // no script host: "400 Bad Request"
};

class PageRunner {
 public:
  virtual ~PageRunner() = default;
  // Runs one page. `output` arrives with the default headers set
  // (Content-Type text/html, Cache-Control no-store, Last-Modified now).
  virtual PageRunStatus Run(const PageRequest& request, PageResponder& responder,
                            PageOutput* output) = 0;
};

}  // namespace lun

#endif  // LUN_WEB_PAGE_RUNNER_H_
