// The access rules of the pages (res/LUN/security.inc), run through the real
// page runner and FTS object with requests whose source address, Host
// header, session code, cookie and form are set directly, so every rule is
// checked without sockets or a second network address (the Node test
// security_test.mjs checks the same over real connections).
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "automation/dictionary.h"
#include "pages/fts_test_fixture.h"
#include "pages/script_page_runner.h"
#include "web/request_variables.h"

namespace lun {
namespace {

constexpr char kCode[] = "5e1f0c2a-3b4d-4e5f-8a9b-0c1d2e3f4a5b";
constexpr char kFixedCode[] = "20316842";
constexpr char kSearchSection[] = "检索设置";

struct Visit {
  std::string peer = "127.0.0.1";
  std::string page = "home.shl";
  std::string query;
  std::string host = "127.0.0.1:8484";
  std::string cookie;
  std::string form;  // url-encoded; a POST when set
};

class PageAccessTest : public FtsFixture {
 protected:
  void SetUp() override {
    FtsFixture::SetUp();
    AddDocuments({{"secret.txt", "txt", u"secretword in a document"}});
    auto table = std::make_shared<Dictionary>();
    ExcepInfo excep;
    ASSERT_EQ(table->SetCompareMode(1, &excep), S_OK);
    for (const char* code : {kCode, kFixedCode}) {
      ASSERT_EQ(table->Add(Variant::Bstr(ToWide(code)), Variant::Bstr(u"LUN_USER"), &excep), S_OK);
    }
    env().session_table = table;
    settings().SetValue(kSearchSection, "本地用户ID", kCode);
  }

  PageOutput Run(const Visit& visit) {
    ScriptPageRunner runner([this](const PageContext& context) -> std::shared_ptr<Dispatch> {
      FtsPage page;
      page.responder = &context.responder;
      return Fts(std::move(page));
    });
    PageRequest request;
    request.method = visit.form.empty() ? "GET" : "POST";
    request.page_directory = std::string(LUN_PAGES_DIR) + "/";
    request.page_path = request.page_directory + visit.page;
    request.web_root = request.page_directory;
    request.query_string = visit.query;
    request.connection.peer_address = visit.peer;
    request.connection.local_address = "127.0.0.1";
    request.server_variables.Set("REQUEST_METHOD", request.method);
    request.server_variables.Set("REMOTE_ADDR", visit.peer);
    request.server_variables.Set("REMOTE_HOST", " " + visit.host);
    request.server_variables.Set("QUERY_STRING", visit.query);
    request.server_variables.Set("SCRIPT_NAME", "/LUN/" + visit.page);
    request.query = ParseQueryString(visit.query);
    request.form = ParseForm(visit.form);
    request.has_cookie_header = !visit.cookie.empty();
    if (request.has_cookie_header) request.cookies = ParseCookies(visit.cookie);
    RecordingResponder responder;
    PageOutput output;
    EXPECT_EQ(runner.Run(request, responder, &output), PageRunStatus::kRan);
    EXPECT_EQ(output.body.find("Script error"), std::string::npos) << output.body;
    return output;
  }

  // Turns remote login on with a password and returns the cookie a visitor
  // from `peer` gets by logging in.
  std::string LogIn(const std::string& peer) {
    settings().SetValue(kSearchSection, "远程登陆", "允许");
    settings().SetValue(kSearchSection, "登陆口令", "pw-123");
    const PageOutput wrong = Run({.peer = peer, .page = "login.shl", .form = "password=nope"});
    EXPECT_NE(wrong.body.find("密码不正确"), std::string::npos);
    EXPECT_TRUE(wrong.cookies.empty());
    const PageOutput out = Run({.peer = peer, .page = "login.shl", .form = "password=pw-123"});
    EXPECT_EQ(out.cookies.size(), 1u);
    if (out.cookies.empty()) return {};
    return out.cookies[0].substr(0, out.cookies[0].find(';'));
  }
};

constexpr char kSearchBox[] = "name=\"SearchText\"";
const std::string kLocalQuery = std::string("IDCODE=") + kCode;

TEST_F(PageAccessTest, TheLocalUserIsTheSessionCodeFromLoopbackNamingThisMachine) {
  const struct {
    Visit visit;
    bool admitted;
    const char* why;
  } cases[] = {
      {{.query = kLocalQuery}, true, "this start's code"},
      {{.query = std::string("IDCODE=") + kFixedCode}, true, "the fixed code from loopback"},
      {{.peer = "127.0.0.2", .query = kLocalQuery}, true, "all of 127/8 is this machine"},
      {{.query = kLocalQuery, .host = "localhost:8484"}, true, "localhost"},
      {{.query = kLocalQuery, .host = ""}, true, "no Host header (HTTP/1.0)"},
      {{.query = ""}, false, "no code"},
      {{.query = "IDCODE=not-a-code"}, false, "an unknown code"},
      {{.query = kLocalQuery, .host = "evil.example:8484"}, false, "a foreign host name (DNS rebinding)"},
      {{.peer = "10.1.2.3", .query = kLocalQuery}, false, "another computer with the code"},
      {{.peer = "10.1.2.3", .query = std::string("IDCODE=") + kFixedCode}, false,
       "another computer with the fixed code"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.why);
    const PageOutput out = Run(c.visit);
    EXPECT_EQ(out.body.find(kSearchBox) != std::string::npos, c.admitted);
  }
}

TEST_F(PageAccessTest, RemoteVisitorsGetNothingWhileRemoteLoginIsOff) {
  for (const char* value : {"", "禁止"}) {
    settings().SetValue(kSearchSection, "远程登陆", value);
    for (const char* page : {"home.shl", "login.shl", "Search.shl", "jiqiao.shl"}) {
      SCOPED_TRACE(page);
      const PageOutput out = Run({.peer = "10.1.2.3", .page = page, .query = kLocalQuery});
      if (std::string(page) == "jiqiao.shl") continue;  // the help page is for everyone
      EXPECT_EQ(out.body, "");
      EXPECT_EQ(out.redirect, "");
    }
  }
}

TEST_F(PageAccessTest, RemoteVisitorsLogInAndMaySearchButNotChangeSettings) {
  settings().SetValue(kSearchSection, "远程登陆", "允许");
  EXPECT_EQ(Run({.peer = "10.1.2.3", .query = std::string("IDCODE=") + kFixedCode}).redirect, "login.shl");
  const std::string cookie = LogIn("10.1.2.3");
  ASSERT_FALSE(cookie.empty());
  const PageOutput search =
      Run({.peer = "10.1.2.3", .page = "Search.shl", .query = "SearchText=secretword", .cookie = cookie});
  EXPECT_NE(search.body.find("secret.txt"), std::string::npos);
  EXPECT_EQ(search.body.find("Mode=open"), std::string::npos) << "no desktop links for visitors";
  EXPECT_EQ(search.body.find("Mode=down"), std::string::npos) << "no downloads without 远程下载";
  const PageOutput setting = Run({.peer = "10.1.2.3", .page = "Setting.shl", .cookie = cookie});
  EXPECT_NE(setting.body.find("只限本机用户"), std::string::npos);
  EXPECT_EQ(setting.body.find("name=\"token\""), std::string::npos);

  settings().SetValue(kSearchSection, "远程下载", "允许");
  EXPECT_NE(Run({.peer = "10.1.2.3", .page = "Search.shl", .query = "SearchText=secretword", .cookie = cookie})
                .body.find("Mode=down"),
            std::string::npos);

  // The cookie is bound to the address and the password.
  EXPECT_EQ(Run({.peer = "10.9.9.9", .page = "home.shl", .cookie = cookie}).redirect, "login.shl");
  settings().SetValue(kSearchSection, "登陆口令", "changed");
  EXPECT_EQ(Run({.peer = "10.1.2.3", .page = "home.shl", .cookie = cookie}).redirect, "login.shl");
  EXPECT_EQ(Run({.peer = "10.1.2.3", .page = "home.shl", .cookie = "LUNAUTH=0123456789ABCDEF"}).redirect,
            "login.shl");
}

TEST_F(PageAccessTest, RemoteLoginNeedsAPassword) {
  settings().SetValue(kSearchSection, "远程登陆", "允许");
  const PageOutput out = Run({.peer = "10.1.2.3", .page = "login.shl", .form = "password="});
  EXPECT_TRUE(out.cookies.empty());
  EXPECT_NE(out.body.find("还没有设置登录密码"), std::string::npos);
}

TEST_F(PageAccessTest, StateChangingRequestsNeedTheFormToken) {
  const std::string fields = "perpage=7&snippet=150&port=8484&quickcontent=TRUE";
  for (const std::string token : {"", "token=20316842&", "token=wrong&"}) {
    SCOPED_TRACE(token);
    const PageOutput out = Run({.page = "Setting.shl", .query = kLocalQuery, .form = token + fields});
    EXPECT_NE(out.body.find("请求无效"), std::string::npos);
    EXPECT_EQ(settings().GetValue(kSearchSection, "每页记录数"), "");
  }
  EXPECT_NE(Run({.page = "Open.shl", .query = kLocalQuery + "&RecordNO=0&Mode=open"}).body.find("请求无效"),
            std::string::npos);
  const PageOutput saved =
      Run({.page = "Setting.shl", .query = kLocalQuery, .form = std::string("token=") + kCode + "&" + fields});
  EXPECT_NE(saved.body.find("id=\"saved\""), std::string::npos);
  EXPECT_EQ(settings().GetValue(kSearchSection, "每页记录数"), "7");
}

TEST_F(PageAccessTest, MarkupInQueriesAndNamesIsShownAsText) {
  AddDocuments({{"<b onclick=x>inject.txt", "txt", u"injectword"}});
  const PageOutput name = Run({.page = "Search.shl", .query = kLocalQuery + "&SearchText=injectword"});
  EXPECT_EQ(name.body.find("<b onclick"), std::string::npos);
  EXPECT_NE(name.body.find("&lt;b onclick=x&gt;inject.txt"), std::string::npos);
  const PageOutput query =
      Run({.page = "Search.shl", .query = kLocalQuery + "&SearchText=%3Cscript%3Ealert(1)%3C%2Fscript%3E"});
  EXPECT_EQ(query.body.find("<script>alert"), std::string::npos);
  EXPECT_NE(query.body.find("&lt;script&gt;alert(1)"), std::string::npos);
  const PageOutput snapshot =
      Run({.page = "ShowFile.shl", .query = kLocalQuery + "&RecordNO=1&SearchText=*%3Cimg%20src%3Dx%3E"});
  EXPECT_EQ(snapshot.body.find("<img src=x>"), std::string::npos);
}

}  // namespace
}  // namespace lun
