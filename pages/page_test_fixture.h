// A page directory inside a web root, and a way to run a page in it through
// ScriptPageRunner with a request built from its parts, as the web server
// builds it. Test code only.
#ifndef LUN_PAGES_PAGE_TEST_FIXTURE_H_
#define LUN_PAGES_PAGE_TEST_FIXTURE_H_

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <ctime>
#include <string>
#include <vector>

#include "pages/script_page_runner.h"
#include "platform/file_system.h"
#include "platform/scratch_dir.h"
#include "web/http_request.h"
#include "web/http_response.h"
#include "web/loopback_client.h"
#include "web/request_variables.h"

// The names live in their own namespace: other test files of this target
// have fixtures of their own.
namespace lun::page_test {

// Records what a page asked to send in place of its output.
class RecordingResponder : public PageResponder {
 public:
  bool SendFile(const std::string& path, int fd) override {
    files.push_back(path);
    close(fd);
    return true;
  }
  void SendMemory(std::string_view extension, std::string_view bytes) override {
    memory = std::string(extension) + ":" + std::string(bytes);
  }
  std::vector<std::string> files;
  std::string memory;
};

// The parts of a request that pages read.
struct RequestParts {
  std::string query;   // raw query string
  std::string form;    // POST body; not empty makes the request a POST
  std::string cookie;  // "Cookie" header value; empty: no header
};

// The request text a browser sends for `target` ("/LUN/x.shl"): a POST when
// the parts carry a form, else a GET.
inline std::string RequestText(const std::string& target, const RequestParts& parts) {
  const bool post = !parts.form.empty();
  std::string text = std::string(post ? "POST " : "GET ") + target +
                     (parts.query.empty() ? "" : "?" + parts.query) + " HTTP/1.0\r\n";
  if (!parts.cookie.empty()) text += "Cookie: " + parts.cookie + "\r\n";
  if (post) text += "Content-Length: " + std::to_string(parts.form.size()) + "\r\n";
  return text + "\r\n" + parts.form;
}

// Sends `request` to 127.0.0.1:`port` and reads the answer until the server
// closes the connection; "" when the connection fails. A hung server fails
// the test instead of hanging it.
inline std::string Exchange(uint16_t port, const std::string& request) {
  return ExchangeOverLoopback(port, request, 20);
}

// The head of an HTTP answer (up to and without the empty line) and its body.
inline std::string Head(const std::string& answer) {
  return answer.substr(0, answer.find("\r\n\r\n"));
}
inline std::string Body(const std::string& answer) {
  const size_t end = answer.find("\r\n\r\n");
  return end == std::string::npos ? std::string() : answer.substr(end + 4);
}

struct PageRun {
  PageRunStatus status = PageRunStatus::kRan;
  PageOutput output;
  // The whole HTTP answer as the server would send it.
  std::string Answer() const { return PageResponseText(output, false); }
};

class PageFixture : public ::testing::Test {
 protected:
  PageFixture() : web_root_(dir_.File("root") + "/"), page_dir_(web_root_ + "LUN/") {
    MakeDirectories(page_dir_);
  }

  // Writes a file of the page directory.
  void WritePageFile(const std::string& name, const std::string& data) {
    ASSERT_EQ(ReplaceFileAtomically(DefaultFileSystem(), page_dir_ + name, data), 0);
  }

  // Runs `page` as "/LUN/test.shl".
  PageRun RunPage(const std::string& page, const RequestParts& parts = {},
                  const ScriptLimits& limits = DefaultPageLimits(), FtsFactory make_fts = {}) {
    WritePageFile("test.shl", page);
    return RunFile("test.shl", parts, limits, std::move(make_fts));
  }

  PageRun RunFile(const std::string& name, const RequestParts& parts = {},
                  const ScriptLimits& limits = DefaultPageLimits(), FtsFactory make_fts = {}) {
    const bool post = !parts.form.empty();
    const HttpRequest http = ParseRequest(RequestText("/LUN/" + name, parts));
    PageRequest request;
    request.method = post ? "POST" : "GET";
    request.page_path = page_dir_ + name;
    request.page_directory = page_dir_;
    request.web_root = web_root_;
    request.query_string = http.query_string;
    request.request = &http;
    request.connection = {"127.0.0.1", 8484, "127.0.0.1", 50000};
    request.server_variables =
        FillServerVariables(http, request.method, http.query_string, request.page_path,
                            request.connection, ServerIdentity{"user", "host"});
    request.query = ParseQueryString(http.query_string);
    request.form = ParseForm(http.form_data);
    if (const std::string* cookie = http.headers.Find("Cookie")) {
      request.has_cookie_header = true;
      request.cookies = ParseCookies(*cookie);
    }
    PageRun run;
    run.output.headers["Content-Type"] = "text/html";
    run.output.headers["Cache-Control"] = "no-store";
    run.output.headers["Last-Modified"] = HttpDate(std::time(nullptr));
    ScriptPageRunner runner(std::move(make_fts), limits);
    run.status = runner.Run(request, responder_, &run.output);
    return run;
  }

  ScratchDir dir_;
  const std::string web_root_;
  const std::string page_dir_;
  RecordingResponder responder_;
};

}  // namespace lun::page_test

#endif  // LUN_PAGES_PAGE_TEST_FIXTURE_H_
