// Pages served by the real web server over a loopback socket.
#include "pages/script_page_runner.h"

#include <gtest/gtest.h>

#include <string>

#include "pages/page_test_fixture.h"
#include "platform/paths.h"
#include "platform/scratch_dir.h"
#include "web/test_zip.h"
#include "web/web_server.h"

namespace lun {
namespace {

using page_test::Body;
using page_test::Exchange;

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
  EXPECT_NE(answer.find("\r\nSet-Cookie: last=%3Cb%3E+x; httponly; samesite=Strict\r\n\r\n"),
            std::string::npos)
      << answer;
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
