// The access rules of the pages (res/LUN/security.inc), run through the real
// page runner and FTS object with requests whose source address, Host
// header, session code, peer's user, cookie, form and origin are set
// directly, so every rule is checked without sockets, a second network
// address or a second account (the Node tests security_test.mjs and
// browser_test.mjs check the same over real connections and in Chromium).
#include <gtest/gtest.h>

#include <fstream>
#include <unistd.h>

#include <map>
#include <string>
#include <vector>

#include "automation/dictionary.h"
#include "config/password_hash.h"
#include "engine/storage/data_table.h"
#include "engine/storage/search_project.h"
#include "pages/fts_factory.h"
#include "pages/fts_test_fixture.h"
#include "platform/scratch_dir.h"
#include "pages/script_page_runner.h"
#include "web/request_variables.h"

namespace lun {
namespace {

constexpr char kCode[] = "5e1f0c2a-3b4d-4e5f-8a9b-0c1d2e3f4a5b";
constexpr char kFixedCode[] = "20316842";
constexpr char kSearchSection[] = "检索设置";

constexpr uid_t kOurUid = 1000;
// Few hash rounds: the tests check the rules, not the cost.
constexpr int kQuickHash = 100;

struct Visit {
  std::string peer = "127.0.0.1";
  std::string page = "home.shl";
  std::string query;
  std::string host = "127.0.0.1:8484";
  std::string cookie;
  std::string form;  // url-encoded; a POST when set
  uid_t peer_uid = kOurUid;
  std::string origin;      // the Origin header, when set
  std::string fetch_site;  // the Sec-Fetch-Site header, when set
};

class PageAccessTest : public FtsFixture {
 protected:
  void SetUp() override {
    FtsFixture::SetUp();
    // A file that exists: its row offers opening and downloading.
    std::ofstream(files_.File("secret.txt")) << "secretword in a document";
    IndexFile(files_.File("secret.txt"), {}, u"secretword in a document");
    auto table = std::make_shared<Dictionary>();
    ExcepInfo excep;
    ASSERT_EQ(table->SetCompareMode(1, &excep), S_OK);
    for (const char* code : {kCode, kFixedCode}) {
      ASSERT_EQ(table->Add(Variant::Bstr(ToWide(code)), Variant::Bstr(u"LUN_USER"), &excep), S_OK);
    }
    env().session_table = table;
    env().own_uid = kOurUid;
    env().peer_uid = [this](const ConnectionInfo&) { return std::optional<uid_t>(peer_uid_); };
    env().logins = std::make_shared<LoginGate>([this] { return now_; });
    settings().SetValue(kSearchSection, "本地用户ID", kCode);
  }

  PageOutput Run(const Visit& visit) {
    peer_uid_ = visit.peer_uid;
    ScriptPageRunner runner([this](const PageContext& context) -> std::shared_ptr<Dispatch> {
      FtsPage page = DescribeRequest(context.request, env());
      page.responder = &context.responder;
      return Fts(std::move(page));
    });
    HttpRequest http;
    if (!visit.host.empty()) http.headers.Set("Host", " " + visit.host);
    if (!visit.origin.empty()) http.headers.Set("Origin", " " + visit.origin);
    if (!visit.fetch_site.empty()) http.headers.Set("Sec-Fetch-Site", " " + visit.fetch_site);
    PageRequest request;
    request.method = visit.form.empty() ? "GET" : "POST";
    request.page_directory = std::string(LUN_PAGES_DIR) + "/";
    request.page_path = request.page_directory + visit.page;
    request.web_root = request.page_directory;
    request.query_string = visit.query;
    request.request = &http;
    request.connection.peer_address = visit.peer;
    request.connection.peer_port = 40000;
    request.connection.local_address = "127.0.0.1";
    request.connection.local_port = 8484;
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

  // The rows of the activity log with action `action`.
  std::vector<std::string> LogLines(const std::string& action) {
    std::vector<std::string> lines;
    const PageOutput out = Run({.page = "log.shl", .query = kLocalQueryText()});
    for (size_t pos = 0;
         (pos = out.body.find("<td class=\"nowrap\">" + action, pos)) != std::string::npos; ++pos) {
      lines.push_back(out.body.substr(pos, 80));
    }
    return lines;
  }
  static std::string kLocalQueryText() { return std::string("IDCODE=") + kCode; }

  // Turns remote login on with a password and returns the cookie a visitor
  // from `peer` gets by logging in.
  std::string LogIn(const std::string& peer) {
    settings().SetValue(kSearchSection, "远程登陆", "允许");
    if (!VerifyPassword("pw-123", settings().GetValue(kSearchSection, "登陆口令"))) {
      settings().SetValue(kSearchSection, "登陆口令", HashPassword("pw-123", kQuickHash));
    }
    const PageOutput wrong = Run({.peer = peer, .page = "login.shl", .form = "password=nope"});
    EXPECT_NE(wrong.body.find("密码不正确"), std::string::npos);
    EXPECT_TRUE(wrong.cookies.empty());
    const PageOutput out = Run({.peer = peer, .page = "login.shl", .form = "password=pw-123"});
    EXPECT_EQ(out.cookies.size(), 1u);
    if (out.cookies.empty()) return {};
    EXPECT_NE(out.cookies[0].find("; httponly"), std::string::npos) << out.cookies[0];
    EXPECT_NE(out.cookies[0].find("; samesite=Strict"), std::string::npos) << out.cookies[0];
    return out.cookies[0].substr(0, out.cookies[0].find(';'));
  }

  uid_t peer_uid_ = kOurUid;
  int64_t now_ = 1'700'000'000;
  ScratchDir files_;
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
      {{.query = std::string("ID%43ODE=") + kCode}, true, "an encoded parameter name"},
      {{.query = kLocalQuery, .host = "evil.example:8484"},
       false,
       "a foreign host name (DNS rebinding)"},
      {{.query = std::string("IDCODE=") + kFixedCode, .host = "127.evil.example:8484"},
       false,
       "a name that starts like loopback"},
      {{.query = std::string("IDCODE=") + kFixedCode, .host = "127.0.0.1.nip.io:8484"},
       false,
       "a name that embeds loopback"},
      {{.query = std::string("IDCODE=") + kFixedCode, .host = "[::1]evil"},
       false,
       "a bracketed loopback with a tail"},
      {{.query = kLocalQuery, .host = "127.0.0.1:9999"}, false, "another port"},
      {{.query = kLocalQuery, .peer_uid = 1001}, false, "another account with the session code"},
      {{.query = std::string("IDCODE=") + kFixedCode, .peer_uid = 1001},
       false,
       "another account with the fixed code"},
      {{.peer = "10.1.2.3", .query = kLocalQuery}, false, "another computer with the code"},
      {{.peer = "10.1.2.3", .query = std::string("IDCODE=") + kFixedCode},
       false,
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

  // The log holds the local user's searches: not for visitors.
  const PageOutput log = Run({.peer = "10.1.2.3", .page = "log.shl", .cookie = cookie});
  EXPECT_NE(log.body.find("只限本机用户"), std::string::npos);
  EXPECT_EQ(log.body.find("id=\"log\""), std::string::npos);
  EXPECT_EQ(search.body.find("log.shl"), std::string::npos) << "no link to it either";
}

TEST_F(PageAccessTest, LoginCookiesCannotBeForgedMovedOrKeptForever) {
  const std::string cookie = LogIn("10.1.2.3");
  ASSERT_FALSE(cookie.empty());
  auto admitted = [this](const std::string& peer, const std::string& presented) {
    return Run({.peer = peer, .page = "home.shl", .cookie = presented}).redirect.empty();
  };
  EXPECT_TRUE(admitted("10.1.2.3", cookie));
  // Another address: neither the cookie itself nor one rewritten for it.
  EXPECT_FALSE(admitted("10.1.2.4", cookie));
  const std::string value = cookie.substr(cookie.find('=') + 1);
  const std::string id = value.substr(0, value.find('.'));
  const std::string rest = value.substr(value.find('.'));
  for (const std::string& forged :
       {std::string("LUNAUTH=") + value.substr(0, value.size() - 1) +
            (value.back() == '0' ? "1" : "0"),  // mac changed
        "LUNAUTH=" + id + "." + std::to_string(now_ + 999999) + rest.substr(rest.rfind('.')),
        "LUNAUTH=" + std::string(id.size(), 'a') + rest,  // another session id
        std::string("LUNAUTH=0123456789ABCDEF"), std::string("LUNAUTH=..")}) {
    SCOPED_TRACE(forged);
    EXPECT_FALSE(admitted("10.1.2.3", forged));
  }
  // A new password ends every login.
  settings().SetValue(kSearchSection, "登陆口令", HashPassword("changed", kQuickHash));
  EXPECT_FALSE(admitted("10.1.2.3", cookie));
  // A login expires.
  settings().SetValue(kSearchSection, "登陆口令", "");
  const std::string fresh = LogIn("10.1.2.3");
  now_ += LoginGate::kLoginSeconds - 1;
  EXPECT_TRUE(admitted("10.1.2.3", fresh));
  now_ += 2;
  EXPECT_FALSE(admitted("10.1.2.3", fresh));
  // A fresh gate (a restart) knows none of them.
  env().logins = std::make_shared<LoginGate>([this] { return now_; });
  now_ -= 2;
  EXPECT_FALSE(admitted("10.1.2.3", fresh));
}

TEST_F(PageAccessTest, WrongPasswordsMakeTheAddressWait) {
  settings().SetValue(kSearchSection, "远程登陆", "允许");
  settings().SetValue(kSearchSection, "登陆口令", HashPassword("pw-123", kQuickHash));
  auto attempt = [this](const std::string& peer, const std::string& password) {
    return Run({.peer = peer, .page = "login.shl", .form = "password=" + password});
  };
  for (int i = 0; i < LoginGate::kFreeFailures - 1; ++i) {
    EXPECT_NE(attempt("10.1.2.3", "guess").body.find("密码不正确"), std::string::npos);
  }
  EXPECT_NE(attempt("10.1.2.3", "guess").body.find("请在 1 秒后再试"), std::string::npos);
  // Now even the right password is not looked at until the wait is over.
  PageOutput out = attempt("10.1.2.3", "pw-123");
  EXPECT_TRUE(out.cookies.empty());
  EXPECT_NE(out.body.find("密码错误次数过多"), std::string::npos);
  // Each further failure doubles the wait, up to 15 minutes.
  int64_t expected = 1;
  for (int i = 0; i < 12; ++i) {
    now_ += expected;
    expected = std::min<int64_t>(expected * 2, LoginGate::kMaxWaitSeconds);
    out = attempt("10.1.2.3", "guess");
    EXPECT_NE(out.body.find("请在 " + std::to_string(expected) + " 秒后再试"), std::string::npos)
        << i;
  }
  EXPECT_EQ(expected, LoginGate::kMaxWaitSeconds);
  // Another address is not held up by this one.
  EXPECT_EQ(attempt("10.1.2.4", "pw-123").cookies.size(), 1u);
  // Once the wait is over the right password works, and the count is gone.
  now_ += expected;
  EXPECT_EQ(attempt("10.1.2.3", "pw-123").cookies.size(), 1u);
  EXPECT_NE(attempt("10.1.2.3", "guess").body.find("密码不正确"), std::string::npos);
  // Every failure is in the activity log.
  EXPECT_EQ(LogLines("登录").size(), static_cast<size_t>(LoginGate::kFreeFailures + 12 + 1 + 2));
}

TEST_F(PageAccessTest, CrossSiteRequestsChangeNothing) {
  const std::string fields = std::string("token=") + kCode + "&perpage=7&snippet=150&port=8484";
  for (const Visit& visit :
       {Visit{.origin = "http://evil.example"}, Visit{.fetch_site = "cross-site"},
        Visit{.origin = "http://127.0.0.1:8484", .fetch_site = "same-site"},
        Visit{.origin = "null"}}) {
    Visit post = visit;
    post.page = "Setting.shl";
    post.query = kLocalQuery;
    post.form = fields;
    const PageOutput out = Run(post);
    EXPECT_NE(out.body.find("请求无效"), std::string::npos) << post.origin << post.fetch_site;
    EXPECT_EQ(settings().GetValue(kSearchSection, "每页记录数"), "");
  }
  EXPECT_NE(Run({.page = "Setting.shl",
                 .query = kLocalQuery,
                 .form = fields,
                 .origin = "http://127.0.0.1:8484",
                 .fetch_site = "same-origin"})
                .body.find("id=\"saved\""),
            std::string::npos);
  EXPECT_EQ(settings().GetValue(kSearchSection, "每页记录数"), "7");
  // Nor can a page of another site log its visitor in.
  settings().SetValue(kSearchSection, "远程登陆", "允许");
  settings().SetValue(kSearchSection, "登陆口令", HashPassword("pw-123", kQuickHash));
  EXPECT_TRUE(Run({.peer = "10.1.2.3",
                   .page = "login.shl",
                   .form = "password=pw-123",
                   .origin = "http://evil.example"})
                  .cookies.empty());
}

TEST_F(PageAccessTest, ThePasswordIsStoredAsASaltedHash) {
  const PageOutput saved = Run(
      {.page = "Setting.shl",
       .query = kLocalQuery,
       .form = std::string("token=") + kCode +
               "&perpage=7&snippet=150&port=8484&password=s3cret&password2=s3cret&remotelogin=1"});
  EXPECT_NE(saved.body.find("id=\"saved\""), std::string::npos) << saved.body;
  const std::string stored = settings().GetValue(kSearchSection, "登陆口令");
  EXPECT_TRUE(IsPasswordHash(stored)) << stored;
  EXPECT_EQ(stored.find("s3cret"), std::string::npos);
  EXPECT_EQ(
      Run({.peer = "10.1.2.3", .page = "login.shl", .form = "password=s3cret"}).cookies.size(), 1u);
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
