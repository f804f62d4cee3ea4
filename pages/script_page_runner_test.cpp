// Pages served by the real web server over a loopback socket.
#include "pages/script_page_runner.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <string>

#include "platform/paths.h"
#include "platform/scratch_dir.h"
#include "web/test_zip.h"
#include "web/web_server.h"

namespace lun {
namespace {

// Sends `request` to 127.0.0.1:`port` and reads the answer until the server
// closes the connection; "" when the connection fails.
std::string Exchange(uint16_t port, const std::string& request) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return {};
  timeval timeout{20, 0};  // a hung server fails the test instead of hanging it
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  std::string answer;
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      send(fd, request.data(), request.size(), MSG_NOSIGNAL) ==
          static_cast<ssize_t>(request.size())) {
    char buffer[65536];
    for (ssize_t n; (n = recv(fd, buffer, sizeof buffer, 0)) > 0;) {
      answer.append(buffer, static_cast<size_t>(n));
    }
  }
  close(fd);
  return answer;
}

class ScriptPageRunnerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(MakeDirectories(dir_.File("res")));
    ASSERT_TRUE(WriteTestZip(
        dir_.File("res/LUN.WR"),
        {{"index.shl", "<!--#include file=\"head.inc\"-->home of <%= QueryString(\"IDCODE\") %>"},
         {"head.inc", "<title>LUN</title>\r\n"},
         {"Search.shl",
          "<% Response.Cookies(\"last\") = Form(\"SearchText\") %>"
          "<%= Request.ServerVariables(\"REQUEST_METHOD\") %> "
          "<%= Server.HTMLEncode(Item(\"SearchText\")) %> from "
          "<%= ServerVariables(\"REMOTE_ADDR\") %>"},
         {"go.shl", "<% Response.Redirect \"index.shl\" %>"},
         {"bad.shl", "<% Response.Write \"part\" & \"ial\" : Undefined 1 %>"}}));
    server_ = std::make_unique<WebServer>(&runner_, dir_.path());
    ASSERT_TRUE(server_->Start(dir_.File("res"), "index.shl", 0, 30000));
  }

  std::string Get(const std::string& target) {
    return Exchange(server_->port(), "GET " + target + " HTTP/1.0\r\n\r\n");
  }

  ScratchDir dir_;
  ScriptPageRunner runner_;
  std::unique_ptr<WebServer> server_;
};

std::string Body(const std::string& answer) {
  const size_t end = answer.find("\r\n\r\n");
  return end == std::string::npos ? std::string() : answer.substr(end + 4);
}

TEST_F(ScriptPageRunnerTest, ServesPagesWithIncludesAndQueries) {
  const std::string answer = Get("/LUN/?IDCODE=20316842");
  EXPECT_EQ(answer.rfind("HTTP/1.0 200 OK\r\n", 0), 0u) << answer;
  EXPECT_NE(answer.find("\r\nContent-Type: text/html\r\n"), std::string::npos);
  EXPECT_EQ(Body(answer), "<title>LUN</title>\r\nhome of 20316842");
}

TEST_F(ScriptPageRunnerTest, PostedFormsSetCookies) {
  const std::string form = "SearchText=%3Cb%3E+x";
  const std::string answer =
      Exchange(server_->port(), "POST /LUN/Search.shl HTTP/1.0\r\nContent-Length: " +
                                    std::to_string(form.size()) + "\r\n\r\n" + form);
  EXPECT_EQ(Body(answer), "POST &lt;b&gt; x from 127.0.0.1");
  EXPECT_NE(answer.find("\r\nSet-Cookie: last=%3Cb%3E+x\r\n\r\n"), std::string::npos) << answer;
}

TEST_F(ScriptPageRunnerTest, RedirectsAndErrors) {
  EXPECT_EQ(Get("/LUN/go.shl"),
            "HTTP/1.0 302 Object Moved\r\nLocation: index.shl\r\nContent-Length: 0\r\n\r\n");
  const std::string failed = Get("/LUN/bad.shl");
  EXPECT_EQ(failed.rfind("HTTP/1.0 200 OK\r\n", 0), 0u);
  EXPECT_EQ(Body(failed).rfind("Script error detected at line 1.\nSource line: ", 0), 0u)
      << failed;
  EXPECT_EQ(failed.find("partial"), std::string::npos);
}

}  // namespace
}  // namespace lun
